// Split-file, memory and resource big streams and the read-ahead buffer.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/bigstreams.h"
#include "framework/classes.h"
#include "framework/forwardplatform.h"
#include "framework/sysutils.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

constexpr int64_t kPart = 16;  // small parts make every boundary cheap to reach

std::string Bytes(size_t n, unsigned mul = 7, unsigned add = 1) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * mul + add);
  return s;
}

std::string ReadAll(TKoBigStream& s) {
  std::string out(static_cast<size_t>(s.GetSize()), '\0');
  s.SetPosition(0);
  EXPECT_EQ(s.Read(&out[0], static_cast<int64_t>(out.size())), static_cast<int64_t>(out.size()));
  return out;
}

std::string MemoryText(TCustomMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

void Put(TMemoryStream& m, const std::string& bytes) {
  m.Clear();
  m.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

TEST(BigFileStream, PartFileNames) {
  EXPECT_EQ(TKoBigFileStream::PartFileName("C:\\g\\game.dat", 0), "C:\\g\\game.dat");
  EXPECT_EQ(TKoBigFileStream::PartFileName("C:\\g\\game.dat", 1), "C:\\g\\game.001");
  EXPECT_EQ(TKoBigFileStream::PartFileName("C:\\g\\game.dat", 12), "C:\\g\\game.012");
  EXPECT_EQ(TKoBigFileStream::PartFileName("C:\\g\\game.dat", 1000), "C:\\g\\game.1000");
  EXPECT_EQ(TKoBigFileStream::PartFileName("C:\\a.b\\data", 2), "C:\\a.b\\data.002");
  // 0x95 0x5C is one double-byte character, not a folder delimiter.
  EXPECT_EQ(TKoBigFileStream::PartFileName("C:\\\x95\x5C.dat", 3), "C:\\\x95\x5C.003");
}

TEST(BigFileStream, MissingFileOpensWithoutParts) {
  TTempDrive drive;
  TKoBigFileStream s(drive.PathOf("none.dat"), 0x20, kPart);
  EXPECT_EQ(s.PartCount(), 0);
  EXPECT_EQ(s.GetSize(), 0);
  s.SetPosition(100);
  EXPECT_EQ(s.GetPosition(), 0);
  char b[4];
  EXPECT_EQ(s.Read(b, 4), 0);
  TMemoryStream m;
  EXPECT_EQ(s.CopyToStream(m, 4), 0);
  EXPECT_EQ(m.Size(), 0);
}

TEST(BigFileStream, CreatingDeletesConsecutivePartsOnly) {
  TTempDrive drive;
  for (const char* name : {"game.dat", "game.001", "game.002", "game.004"}) drive.WriteFile(name, "old");
  {
    TKoBigFileStream s(drive.PathOf("game.dat"), fmCreate, kPart);
    EXPECT_EQ(s.PartCount(), 0);
    EXPECT_FALSE(drive.Exists("game.dat"));
    EXPECT_FALSE(drive.Exists("game.002"));
    EXPECT_TRUE(drive.Exists("game.004"));
  }
  EXPECT_FALSE(drive.Exists("game.dat"));  // nothing written, nothing created
  drive.WriteFile("w.dat", "old");
  drive.WriteFile("w.001", "old");
  TKoBigFileStream w(drive.PathOf("w.dat"), fmOpenWrite | fmShareDenyWrite, kPart);
  EXPECT_FALSE(drive.Exists("w.dat"));
  EXPECT_FALSE(drive.Exists("w.001"));
}

TEST(BigFileStream, WritesAndReadsAcrossPartBoundaries) {
  TTempDrive drive;
  const std::string name = drive.PathOf("game.dat");
  const std::string data = Bytes(kPart + 10);
  {
    TKoBigFileStream s(name, fmCreate, kPart);
    EXPECT_EQ(s.Write(data.data(), static_cast<int64_t>(data.size())), kPart + 10);
    EXPECT_EQ(s.PartCount(), 2);
    EXPECT_EQ(s.GetSize(), kPart + 10);
    EXPECT_EQ(s.GetPosition(), kPart + 10);
  }
  EXPECT_EQ(drive.ReadFile("game.dat"), data.substr(0, kPart));
  EXPECT_EQ(drive.ReadFile("game.001"), data.substr(kPart));

  // One write spanning three parts, overwriting inside the first.
  const std::string more = Bytes(40, 3, 9);
  {
    TKoBigFileStream s(name, fmOpenReadWrite | fmShareDenyWrite, kPart);
    ASSERT_EQ(s.PartCount(), 2);
    s.SetPosition(10);
    EXPECT_EQ(s.Write(more.data(), 40), 40);
    EXPECT_EQ(s.PartCount(), 4);
    EXPECT_EQ(s.GetSize(), 50);
  }
  const std::string expected = data.substr(0, 10) + more;
  EXPECT_EQ(drive.ReadFile("game.001"), expected.substr(16, 16));
  EXPECT_EQ(drive.ReadFile("game.003"), expected.substr(48));

  TKoBigFileStream r(name, fmOpenRead | fmShareDenyWrite, kPart);
  EXPECT_EQ(r.GetSize(), 50);
  EXPECT_EQ(ReadAll(r), expected);
  char buf[20];
  r.SetPosition(kPart - 10);
  EXPECT_EQ(r.Read(buf, 20), 20);
  EXPECT_EQ(std::string(buf, 20), expected.substr(kPart - 10, 20));
  EXPECT_EQ(r.GetPosition(), kPart + 10);
  r.SetPosition(45);
  EXPECT_EQ(r.Read(buf, 20), 5);  // stops at the end of the last part
  EXPECT_EQ(r.GetPosition(), 50);
  r.SetPosition(1000);
  EXPECT_EQ(r.GetPosition(), 50);
  r.SetPosition(-5);
  EXPECT_EQ(r.GetPosition(), 0);
}

TEST(BigFileStream, ReadingKeepsTheFirstConsecutivePartsAndNeverGrows) {
  TTempDrive drive;
  drive.WriteFile("game.dat", Bytes(kPart));
  drive.WriteFile("game.001", "abc");
  drive.WriteFile("game.003", "zzz");
  TKoBigFileStream s(drive.PathOf("game.dat"), 0x20, kPart);
  EXPECT_EQ(s.PartCount(), 2);
  EXPECT_EQ(s.GetSize(), kPart + 3);
  s.SetPosition(s.GetSize());
  EXPECT_THROW(s.Write("x", 1), EWriteError);
  EXPECT_FALSE(drive.Exists("game.002"));
  EXPECT_EQ(s.GetSize(), kPart + 3);
}

TEST(BigFileStream, AShortPartInTheMiddleEndsReadsInsteadOfLooping) {
  TTempDrive drive;
  drive.WriteFile("game.dat", "0123456789");  // 10 of 16 bytes
  drive.WriteFile("game.001", "abcdef");
  TKoBigFileStream s(drive.PathOf("game.dat"), 0x20, kPart);
  EXPECT_EQ(s.GetSize(), 16);
  char buf[16];
  s.SetPosition(4);
  EXPECT_EQ(s.Read(buf, 16), 6);
  EXPECT_EQ(std::string(buf, 6), "456789");
  s.SetPosition(12);  // inside the missing bytes of part 0
  EXPECT_EQ(s.Read(buf, 4), 0);
}

TEST(BigFileStream, FailedPartsAreErrorsNotWrittenBytes) {
  TTempDrive drive;
  // A folder in the place of the third part file.
  Platform().CreateDirectory(drive.PathOf("game.002"));
  TKoBigFileStream s(drive.PathOf("game.dat"), fmCreate, kPart);
  const std::string data = Bytes(40);
  EXPECT_THROW(s.Write(data.data(), 40), EFCreateError);
  EXPECT_EQ(s.PartCount(), 2);
  EXPECT_EQ(s.GetSize(), 32);
  EXPECT_EQ(s.GetPosition(), 32);

  // A folder in place of a part that creating must delete.
  Platform().CreateDirectory(drive.PathOf("dir.dat"));
  EXPECT_THROW(TKoBigFileStream(drive.PathOf("dir.dat"), fmCreate, kPart), EFCreateError);

  // A part that exists but is held exclusively by someone else.
  drive.WriteFile("held.dat", "abc");
  const THandle h = Platform().FileOpen(drive.PathOf("held.dat"), fmOpenReadWrite | fmShareExclusive);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_THROW(TKoBigFileStream(drive.PathOf("held.dat"), 0x20, kPart), EFOpenError);
  Platform().FileClose(h);
  TKoBigFileStream ok(drive.PathOf("held.dat"), 0x20, kPart);
  EXPECT_EQ(ok.GetSize(), 3);
}

TEST(BigFileStream, CopiesBetweenPlainAndBigStreams) {
  TTempDrive drive;
  const std::string data = Bytes(50, 5, 2);
  TMemoryStream plain;
  Put(plain, data);
  plain.SetPosition(30);

  TKoBigFileStream f(drive.PathOf("c.dat"), fmCreate, kPart);
  EXPECT_EQ(f.CopyFromStream(plain, 0), 50);  // 0: the whole source from its start
  EXPECT_EQ(f.PartCount(), 4);
  EXPECT_EQ(ReadAll(f), data);

  // From a file stream on another plain stream (not a memory stream) into parts.
  drive.WriteFile("plain.bin", data);
  {
    TFileStream fs(drive.PathOf("plain.bin"), fmOpenRead | fmShareDenyWrite);
    TKoBigFileStream g(drive.PathOf("g.dat"), fmCreate, kPart);
    fs.SetPosition(5);
    EXPECT_EQ(g.CopyFromStream(fs, 20), 20);
    EXPECT_EQ(ReadAll(g), data.substr(5, 20));
    EXPECT_THROW(g.CopyFromStream(fs, 100), EReadError);  // the source ends early
  }

  // Out of the file stream: count 0 copies nothing; a count past the end stops there.
  TMemoryStream out;
  f.SetPosition(10);
  EXPECT_EQ(f.CopyToStream(out, 0), 0);
  EXPECT_EQ(out.Size(), 0);
  EXPECT_EQ(f.CopyToStream(out, 30), 30);
  EXPECT_EQ(MemoryText(out), data.substr(10, 30));
  EXPECT_EQ(f.CopyToStream(out, 30), 10);
  EXPECT_EQ(MemoryText(out), data.substr(10));
  EXPECT_EQ(out.Position(), 40);
  // Into a plain file stream at its position.
  {
    TFileStream dest(drive.PathOf("out.bin"), fmCreate);
    dest.WriteBuffer("head", 4);
    f.SetPosition(14);
    EXPECT_EQ(f.CopyToStream(dest, 20), 20);
  }
  EXPECT_EQ(drive.ReadFile("out.bin"), "head" + data.substr(14, 20));
}

TEST(BigFileStream, CopyFromBigStreamsOfEveryKind) {
  TTempDrive drive;
  const std::string data = Bytes(70, 11, 4);
  TKoBigFileStream src(drive.PathOf("src.dat"), fmCreate, kPart);
  src.WriteBuffer(data.data(), 70);

  // File to file with a different part size: 0 takes the whole source from its start.
  TKoBigFileStream dst(drive.PathOf("dst.dat"), fmCreate, 25);
  EXPECT_EQ(dst.CopyFromBig(src, 0), 70);
  EXPECT_EQ(dst.PartCount(), 3);
  EXPECT_EQ(ReadAll(dst), data);
  // A part of the source from its position, appended.
  src.SetPosition(13);
  dst.SetPosition(dst.GetSize());
  EXPECT_EQ(dst.CopyFromBig(src, 20), 20);
  EXPECT_EQ(src.GetPosition(), 33);
  EXPECT_EQ(ReadAll(dst), data + data.substr(13, 20));
  src.SetPosition(60);
  EXPECT_THROW(dst.CopyFromBig(src, 20), EReadError);

  // Memory to file and file to memory.
  TKoBigMemoryStream mem;
  mem.WriteBuffer(data.data(), 70);
  mem.SetPosition(7);
  TKoBigFileStream fromMem(drive.PathOf("m.dat"), fmCreate, kPart);
  EXPECT_EQ(fromMem.CopyFromBig(mem, 30), 30);
  EXPECT_EQ(mem.GetPosition(), 37);
  EXPECT_EQ(ReadAll(fromMem), data.substr(7, 30));

  TKoBigMemoryStream back;
  src.SetPosition(3);
  EXPECT_EQ(back.CopyFromBig(src, 50), 50);
  EXPECT_EQ(MemoryText(back.Stream()), data.substr(3, 50));
  EXPECT_THROW(back.CopyFromBig(src, 50), EReadError);
  EXPECT_EQ(back.GetSize(), 50);  // nothing half-grown after the failed copy
  EXPECT_EQ(back.CopyFromBig(mem, 0), 70);
  EXPECT_EQ(MemoryText(back.Stream()), data.substr(3, 50) + data);
}

// File-to-file copies go through the system's copy where it takes them and through the buffer for the
// rest: a copy the system refuses, or stops part-way, gives the same parts.
TEST(BigFileStream, CopiesInsideTheSystemWithTheBufferAsFallback) {
  struct TCopyPlatform : TForwardPlatform {
    int64_t Limit = -1;  // bytes per call; -1 forwards unchanged, 0 refuses
    int Calls = 0;
    int64_t Copied = 0;
    int64_t FileCopyRange(THandle from, int64_t fromAt, THandle to, int64_t toAt, int64_t count) override {
      ++Calls;
      if (Limit == 0 || (Limit > 0 && Calls % 3 == 0)) return -1;
      const int64_t n =
          Inner().FileCopyRange(from, fromAt, to, toAt, Limit > 0 ? std::min(count, Limit) : count);
      if (n > 0) Copied += n;
      return n;
    }
  };
#ifdef _WIN32
  constexpr bool kSystemCopies = false;  // Win32 has no copy between open files
#else
  constexpr bool kSystemCopies = true;
#endif
  TTempDrive drive;
  const std::string data = Bytes(70, 13, 5);
  drive.WriteFile("plain.bin", data);
  {
    TKoBigFileStream src(drive.PathOf("src.dat"), fmCreate, kPart);
    src.WriteBuffer(data.data(), 70);
  }
  for (int64_t limit : {int64_t{-1}, int64_t{0}, int64_t{5}}) {
    SCOPED_TRACE(limit);
    TCopyPlatform os;
    os.Limit = limit;
    TKoBigFileStream src(drive.PathOf("src.dat"), fmOpenRead | fmShareDenyWrite, kPart);
    TKoBigFileStream dst(drive.PathOf("dst.dat"), fmCreate, 25);
    src.SetPosition(9);
    EXPECT_EQ(dst.CopyFromBig(src, 58), 58);
    EXPECT_EQ(src.GetPosition(), 67);
    TFileStream plain(drive.PathOf("plain.bin"), fmOpenRead | fmShareDenyWrite);
    plain.Seek(3, TSeekOrigin::soBeginning);
    EXPECT_EQ(dst.CopyFromStream(plain, 40), 40);
    EXPECT_EQ(plain.Position(), 43);
    EXPECT_EQ(dst.GetPosition(), 98);
    EXPECT_EQ(dst.PartCount(), 4);
    EXPECT_EQ(ReadAll(dst), data.substr(9, 58) + data.substr(3, 40));
    EXPECT_EQ(os.Copied > 0, kSystemCopies && limit != 0);
    src.SetPosition(60);
    EXPECT_THROW(dst.CopyFromBig(src, 20), EReadError);

    // Out to a plain file: what the system copies, the rest left to the caller.
    src.SetPosition(10);
    int64_t copied = 0;
    {
      TFileStream out(drive.PathOf("out.bin"), fmCreate);
      copied = src.CopyToFileInSystem(out.Handle(), 0, 70);
    }
    EXPECT_EQ(src.GetPosition(), 10 + copied);
    EXPECT_EQ(drive.ReadFile("out.bin"), data.substr(10, static_cast<size_t>(copied)));
    // The whole rest, nothing, or one call's worth.
    EXPECT_EQ(copied, !kSystemCopies || limit == 0 ? 0 : limit < 0 ? 60 : 5);
  }
}

TEST(BigMemoryStream, ReadWriteAndCountZeroRules) {
  TTempDrive drive;
  drive.WriteFile("load.bin", "loaded bytes");
  TKoBigMemoryStream m;
  m.LoadFromFile(drive.PathOf("load.bin"));
  EXPECT_EQ(m.GetSize(), 12);
  m.SetPosition(7);
  char buf[10];
  EXPECT_EQ(m.Read(buf, 10), 5);
  EXPECT_EQ(std::string(buf, 5), "bytes");
  m.SetPosition(0);
  EXPECT_EQ(m.Write("LOAD", 4), 4);
  EXPECT_EQ(MemoryText(m.Stream()), "LOADed bytes");

  TMemoryStream out;
  m.SetPosition(9);
  EXPECT_EQ(m.CopyToStream(out, 0), 12);  // 0: everything from the start
  EXPECT_EQ(MemoryText(out), "LOADed bytes");
  m.SetPosition(9);
  EXPECT_THROW(m.CopyToStream(out, 4), EReadError);
  // A position before the start reads nothing rather than memory in front of the data.
  m.SetPosition(-5);
  EXPECT_EQ(m.Read(buf, 4), 0);
  EXPECT_THROW(m.CopyToStream(out, 4), EReadError);
  TKoBigMemoryStream other;
  other.WriteBuffer("abc", 3);
  EXPECT_THROW(m.CopyFromBig(other, 0), EWriteError);

  TMemoryStream src;
  Put(src, "plain");
  TKoBigMemoryStream n;
  EXPECT_EQ(n.CopyFromStream(src, 0), 5);
  src.SetPosition(1);
  EXPECT_EQ(n.CopyFromStream(src, 3), 3);
  EXPECT_EQ(MemoryText(n.Stream()), "plainlai");
}

#ifndef _WIN32
// A platform whose executable carries one resource.
class ResourcePlatform : public TPosixPlatform {
 public:
  using TPosixPlatform::TPosixPlatform;
  std::string Bytes;
  std::optional<TResourceData> FindResource(const std::string& /*module*/, const std::string& name,
                                            const std::string& type) override {
    if (name != "DUMMY" || type != "BINTYPE") return std::nullopt;
    TResourceData d;
    d.Data = reinterpret_cast<const uint8_t*>(Bytes.data());
    d.Size = Bytes.size();
    return d;
  }
};

TEST(BigResourceStream, ReadOnlyViewOfAResource) {
  TTempDrive drive;
  ResourcePlatform platform(drive.PosixConfig());
  platform.Bytes = "vf resource bytes";
  TPlatform* previous = SetPlatform(&platform);
  {
    TKoBigResourceStream r("", "DUMMY", "BINTYPE");
    EXPECT_EQ(r.ResName, "DUMMY");
    EXPECT_EQ(r.GetSize(), 17);
    char buf[2];
    EXPECT_EQ(r.Read(buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "vf");
    TMemoryStream out;
    EXPECT_EQ(r.CopyToStream(out, 0), 17);
    EXPECT_EQ(MemoryText(out), platform.Bytes);
    r.SetPosition(3);
    TKoBigMemoryStream big;
    EXPECT_EQ(big.CopyFromBig(r, 8), 8);
    EXPECT_EQ(MemoryText(big.Stream()), "resource");

    EXPECT_THROW(r.Write("x", 1), EStreamError);
    EXPECT_THROW(r.CopyFromStream(out, 0), EStreamError);
    EXPECT_THROW(r.CopyFromBig(big, 0), EStreamError);
    EXPECT_EQ(MemoryText(r.Stream()), platform.Bytes);
  }
  EXPECT_THROW(TKoBigResourceStream("", "OTHER", "BINTYPE"), EResNotFound);
  SetPlatform(previous);
}
#endif

TEST(BigResourceStream, MissingResourceIsNotFound) {
  TTempDrive drive;
  EXPECT_THROW(TKoBigResourceStream("", "NO_SUCH_RESOURCE", "BINTYPE"), EResNotFound);
}

TEST(BuffBigStream, SmallReadsThroughTheBufferAndHandBack) {
  const std::string data = Bytes(300000, 13, 3);
  TKoBigMemoryStream src;
  src.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  src.SetPosition(1000);
  {
    TKoBuffBigStream b(src);
    char ten[10];
    EXPECT_EQ(b.Read(ten, 10), 10);
    EXPECT_EQ(std::string(ten, 10), data.substr(1000, 10));
    EXPECT_EQ(src.GetPosition(), 1000 + 102400);  // one fill of the buffer
  }
  EXPECT_EQ(src.GetPosition(), 1010);

  // Reads of 7 bytes over all fills, and the end of the source.
  src.SetPosition(0);
  std::string got;
  {
    TKoBuffBigStream b(src);
    char piece[7];
    int32_t n;
    while ((n = b.Read(piece, 7)) == 7) got.append(piece, 7);
    got.append(piece, static_cast<size_t>(n));
    EXPECT_EQ(b.Read(piece, 7), 0);
    EXPECT_THROW(b.ReadBuffer(piece, 1), EReadError);
  }
  EXPECT_EQ(got, data);
  EXPECT_EQ(src.GetPosition(), 300000);
}

TEST(BuffBigStream, OverASplitFile) {
  TTempDrive drive;
  const std::string data = Bytes(100, 3, 1);
  TKoBigFileStream f(drive.PathOf("b.dat"), fmCreate, kPart);
  f.WriteBuffer(data.data(), 100);
  f.SetPosition(5);
  {
    TKoBuffBigStream b(f);
    b.BufferSize = 32;
    char buf[50];
    b.ReadBuffer(buf, 50);
    EXPECT_EQ(std::string(buf, 50), data.substr(5, 50));
  }
  EXPECT_EQ(f.GetPosition(), 55);
}

// The real part size, with sparse files so nothing large is written.
TEST(BigFileStream, RealGigabyteBoundaryOnSparseFiles) {
  TTempDrive drive;
  const std::string name = drive.PathOf("game.dat");
  {
    const THandle h = Platform().FileCreate(name);
    ASSERT_NE(h, kInvalidHandle);
    ASSERT_TRUE(Platform().FileSetSize(h, kBigPartSize - 5));
    Platform().FileClose(h);
  }
  {
    TKoBigFileStream s(name, 0x22);
    EXPECT_EQ(s.PartSize(), kBigPartSize);
    s.SetPosition(s.GetSize());
    EXPECT_EQ(s.Write("0123456789ABCDE", 15), 15);
    EXPECT_EQ(s.GetSize(), kBigPartSize + 10);
  }
  EXPECT_EQ(drive.ReadFile("game.001"), "56789ABCDE");
  TKoBigFileStream r(name, 0x20);
  EXPECT_EQ(r.PartCount(), 2);
  r.SetPosition(kBigPartSize - 10);
  char buf[20];
  EXPECT_EQ(r.Read(buf, 20), 20);
  EXPECT_EQ(std::string(buf, 20), std::string(5, '\0') + "0123456789ABCDE");
}

}  // namespace
}  // namespace vr
