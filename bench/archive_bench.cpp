// Archive benchmarks: checking a data file, extracting compressed entries, loading a large directory
// and merging archives, each against the bare work it cannot avoid (reading + CRC-32, inflating).
//
// Sizes come from the environment so a quick run is possible:
//   VR_BENCH_DIR          folder for the generated files (default: the system temp folder)
//   VR_BENCH_MB           data file checked by VerifyData (default 2048)
//   VR_BENCH_EXTRACT_MB   content of the compressed archive (default 256)
//   VR_BENCH_ENTRIES      entries of the largest directory loaded (default 1000000)
//   VR_BENCH_MERGE        entries of each archive merged (default 100000)
// `vr_bench --make-stored FILE MB ENTRY_MB` only writes an archive of stored entries (for bench.sh);
// `--make-patterned FILE N` one of N patterned double-byte names in one folder, `--make-deep FILE
// LEVELS COUNT` one of COUNT entries below LEVELS folder levels each; `--make-mixed DIR MB` a game
// folder of MB MiB of mixed files (see MakeMixed); `--make-installed DIR N JSON` an installed game of N
// recorded files (see MakeInstalled).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "framework/classes.h"

namespace fs = std::filesystem;

namespace {

int64_t EnvInt(const char* name, int64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoll(v) : fallback;
}

fs::path WorkDir() {
  static fs::path dir = [] {
    const char* base = std::getenv("VR_BENCH_DIR");
    fs::path p = fs::path(base && *base ? base : fs::temp_directory_path().string()) /
                 ("vr-bench-" + std::to_string(getpid()));
    fs::create_directories(p);
    return p;
  }();
  return dir;
}

// ---- writing archives without the library (directory version 102, all entries given) -------------

struct Entry {
  std::string Name;
  int64_t Size = 0;
  uint8_t Kind = 1;
  int32_t Time = 0;
  uint32_t Crc = 0;
};

void Put32(std::string& s, uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); }

int64_t DirectorySize(const std::vector<Entry>& entries) {
  int64_t n = static_cast<int64_t>(entries.size());
  int64_t size = 10 + (n + 1) * 8 + n * (1 + 4 + 4 + 1);
  for (const auto& e : entries) size += 4 + static_cast<int64_t>(e.Name.size());
  return size;
}

// The directory for entries whose stored bytes follow each other from dataStart on.
std::string Directory(const std::vector<Entry>& entries, int64_t dataStart) {
  std::string d = "vf";
  Put32(d, 102);
  Put32(d, static_cast<uint32_t>(entries.size()));
  uint32_t state = 0;
  for (const auto& e : entries) {
    Put32(d, static_cast<uint32_t>(e.Name.size()));
    for (char c : e.Name) {
      state = state * 5 + vr::DirectoryKey;
      d += static_cast<char>(static_cast<uint8_t>(c) ^ (state & 0xFF));
    }
  }
  state = 0;
  int64_t offset = dataStart;
  for (size_t i = 0; i <= entries.size(); ++i) {
    state = state * 5 + vr::DirectoryKey;
    uint64_t key = state | ((state & 0x80000000u) ? 0xFFFFFFFF00000000ull : 0);
    uint64_t v = static_cast<uint64_t>(offset) ^ key;
    d.append(reinterpret_cast<const char*>(&v), 8);
    if (i < entries.size()) offset += entries[i].Size;
  }
  for (const auto& e : entries) d += static_cast<char>(e.Kind);
  for (const auto& e : entries) Put32(d, static_cast<uint32_t>(e.Time));
  for (const auto& e : entries) Put32(d, e.Crc);
  d.append(entries.size(), '\0');
  return d;
}

struct File {
  std::FILE* f;
  explicit File(const fs::path& p, const char* mode) : f(std::fopen(p.c_str(), mode)) {
    if (!f) throw std::runtime_error("cannot open " + p.string());
  }
  ~File() { std::fclose(f); }
  void Write(const void* data, size_t n) {
    if (std::fwrite(data, 1, n, f) != n) throw std::runtime_error("write failed");
  }
};

// Pseudo-random bytes (not compressible), fast.
void Fill(uint8_t* p, size_t n, uint64_t& s) {
  for (size_t i = 0; i + 8 <= n; i += 8) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    std::memcpy(p + i, &s, 8);
  }
}

// Part files of a data file as the reader expects them: game.dat holds the first GiB, game.001 the next.
std::vector<fs::path> PartFiles(const fs::path& path) {
  std::vector<fs::path> parts{path};
  for (int i = 1;; ++i) {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".%03d", i);
    fs::path p = path;
    p.replace_extension(ext);
    if (!fs::exists(p)) break;
    parts.push_back(p);
  }
  return parts;
}

// Writes one logical stream into 1 GiB part files.
class PartWriter {
 public:
  explicit PartWriter(const fs::path& path) : path_(path) {}
  ~PartWriter() {
    if (file_) std::fclose(file_);
  }
  void Write(const uint8_t* data, size_t n) {
    while (n > 0) {
      int64_t part = position_ >> 30;
      if (!file_ || part != part_) Open(part);
      size_t room = static_cast<size_t>((part + 1) * (int64_t(1) << 30) - position_);
      size_t chunk = std::min(room, n);
      if (std::fwrite(data, 1, chunk, file_) != chunk) throw std::runtime_error("write failed");
      data += chunk;
      n -= chunk;
      position_ += static_cast<int64_t>(chunk);
    }
  }

 private:
  void Open(int64_t part) {
    if (file_) std::fclose(file_);
    fs::path p = path_;
    if (part > 0) {
      char ext[16];
      std::snprintf(ext, sizeof ext, ".%03d", static_cast<int>(part));
      p.replace_extension(ext);
    }
    file_ = std::fopen(p.c_str(), "wb");
    if (!file_) throw std::runtime_error("cannot create " + p.string());
    part_ = part;
  }
  fs::path path_;
  std::FILE* file_ = nullptr;
  int64_t part_ = -1;
  int64_t position_ = 0;
};

// An archive of stored entries of entryMb MiB each, totalMb MiB of data, split into part files.
void MakeStored(const fs::path& path, int64_t totalMb, int64_t entryMb) {
  const int64_t mib = 1 << 20;
  std::vector<Entry> entries;
  for (int64_t done = 0, i = 0; done < totalMb; done += entryMb, ++i) {
    Entry e;
    e.Name = "data\\part" + std::to_string(i) + ".bin";
    e.Size = std::min(entryMb, totalMb - done) * mib;
    entries.push_back(e);
  }
  std::vector<uint8_t> buf(static_cast<size_t>(mib));
  // The same pseudo-random bytes twice: once for the checksums the directory needs, once to write.
  const uint64_t kSeed = 88172645463325252ull;
  uint64_t seed = kSeed;
  for (auto& e : entries) {
    uLong crc = crc32(0, nullptr, 0);
    for (int64_t left = e.Size; left > 0; left -= mib) {
      Fill(buf.data(), buf.size(), seed);
      crc = crc32(crc, buf.data(), static_cast<uInt>(buf.size()));
    }
    e.Crc = static_cast<uint32_t>(crc);
  }
  PartWriter out(path);
  std::string dir = Directory(entries, DirectorySize(entries));
  out.Write(reinterpret_cast<const uint8_t*>(dir.data()), dir.size());
  seed = kSeed;
  for (auto& e : entries) {
    for (int64_t left = e.Size; left > 0; left -= mib) {
      Fill(buf.data(), buf.size(), seed);
      out.Write(buf.data(), buf.size());
    }
  }
}

// Text-like content that compresses about 3:1.
std::string TextContent(size_t size, uint64_t& seed) {
  static const char* words[] = {"the ",  "scene ", "opens ", "rain ",    "falls ",   "quietly ",
                                "over ", "city ",  "she ",   "said ",    "nothing ", "and ",
                                "then ", "left ",  "\n",     "\"why?\" "};
  std::string s;
  s.reserve(size + 16);
  while (s.size() < size) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    s += words[seed % 16];
    if (seed % 7 == 0) s += std::to_string(seed % 1000);
  }
  s.resize(size);
  return s;
}

struct Compressed {
  fs::path Path;
  std::vector<Entry> Entries;
  std::vector<int64_t> Offsets;
};

const Compressed& CompressedArchive() {
  static Compressed c = [] {
    Compressed a;
    a.Path = WorkDir() / "compressed.dat";
    int64_t total = EnvInt("VR_BENCH_EXTRACT_MB", 256);
    std::vector<std::string> stored;
    uint64_t seed = 12345;
    for (int64_t i = 0; i < total; ++i) {
      std::string content = TextContent(1 << 20, seed);
      uLongf len = compressBound(static_cast<uLong>(content.size()));
      std::string z(len, '\0');
      compress2(reinterpret_cast<Bytef*>(z.data()), &len, reinterpret_cast<const Bytef*>(content.data()),
                static_cast<uLong>(content.size()), Z_DEFAULT_COMPRESSION);
      z.resize(len);
      Entry e;
      e.Name = "script\\s" + std::to_string(i) + ".txt";
      e.Size = static_cast<int64_t>(z.size());
      e.Kind = 0;
      e.Crc =
          static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(z.data()), static_cast<uInt>(len)));
      a.Entries.push_back(e);
      stored.push_back(std::move(z));
    }
    int64_t dirSize = DirectorySize(a.Entries);
    File out(a.Path, "wb");
    std::string dir = Directory(a.Entries, dirSize);
    out.Write(dir.data(), dir.size());
    int64_t offset = dirSize;
    for (const auto& s : stored) {
      a.Offsets.push_back(offset);
      out.Write(s.data(), s.size());
      offset += static_cast<int64_t>(s.size());
    }
    return a;
  }();
  return c;
}

// A directory file (".ext") of n entries and a data file of one byte per entry.
fs::path MakeBigDirectory(int64_t n, const std::string& tag, int32_t time, int64_t firstName) {
  fs::path data = WorkDir() / (tag + ".dat");
  std::vector<Entry> entries(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) {
    entries[static_cast<size_t>(i)].Name =
        "folder" + std::to_string((firstName + i) % 100) + "\\file" + std::to_string(firstName + i) + ".dat";
    entries[static_cast<size_t>(i)].Size = 1;
    entries[static_cast<size_t>(i)].Time = time;
  }
  std::string dir = Directory(entries, 0);
  {
    File ext(WorkDir() / (tag + ".ext"), "wb");
    ext.Write(dir.data(), dir.size());
    File d(data, "wb");
    std::string bytes(static_cast<size_t>(n), 'x');
    d.Write(bytes.data(), bytes.size());
  }
  return data;
}

// An archive (directory at its start) of one-byte stored entries with the given names.
void MakeNamed(const fs::path& path, const std::vector<std::string>& names) {
  std::vector<Entry> entries(names.size());
  const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("x"), 1));
  for (size_t i = 0; i < names.size(); ++i) {
    entries[i].Name = names[i];
    entries[i].Size = 1;
    entries[i].Time = 100;
    entries[i].Crc = crc;
  }
  File out(path, "wb");
  const std::string dir = Directory(entries, DirectorySize(entries));
  out.Write(dir.data(), dir.size());
  const std::string bytes(names.size(), 'x');
  out.Write(bytes.data(), bytes.size());
}

// Text that deflates about as well as a game's scripts do (about 3:1): lines of words from a vocabulary
// of 4,096 made-up words, common words more often than rare ones, with script commands between them.
void FillText(std::string& out, size_t n, uint64_t& s) {
  auto next = [&s] {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  };
  static const std::vector<std::string> words = [] {
    static const char* const kSyllables[] = {"ka", "ki",  "ku",  "ke", "ko", "sa", "shi", "su", "se", "so",
                                             "ta", "chi", "tsu", "te", "to", "na", "ni",  "nu", "ne", "no",
                                             "ha", "hi",  "fu",  "he", "ho", "ma", "mi",  "mu", "me", "mo",
                                             "ya", "yu",  "yo",  "ra", "ri", "ru", "re",  "ro", "wa", "n"};
    std::vector<std::string> v;
    uint64_t w = 0x2545F4914F6CDD1Dull;
    for (int i = 0; i < 4096; ++i) {
      std::string word;
      const int len = 1 + static_cast<int>(i % 4);
      for (int k = 0; k < len; ++k) {
        w ^= w << 13;
        w ^= w >> 7;
        w ^= w << 17;
        word += kSyllables[w % 40];
      }
      v.push_back(word);
    }
    return v;
  }();
  out.clear();
  while (out.size() < n) {
    const uint64_t r = next();
    const uint64_t line = 4 + r % 12;
    if (r % 5 == 0) out += "@wait time=" + std::to_string(next() % 2000) + "\r\n";
    for (uint64_t k = 0; k < line; ++k) {
      const uint64_t q = next();
      out += words[(q % 64) * ((q >> 8) % 64)];
      out += k + 1 < line ? ' ' : '.';
    }
    out += "[r]\r\n";
  }
  out.resize(n);
}

// A game folder of about `mb` MiB: script text and incompressible data files of 4 to 64 KiB (packed
// compressed, or tried and stored), sound files of 256 KiB to 2 MiB (stored by extension), and files
// over 5 MiB (stored by size), spread over folders of at most 200 files. About 12,000 files for 2 GiB.
void MakeMixed(const fs::path& dir, int64_t mb) {
  const int64_t total = mb << 20;
  uint64_t s = 0x9E3779B97F4A7C15ull;
  auto next = [&s] {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  };
  std::string text;
  std::vector<uint8_t> bytes;
  int64_t done = 0;
  for (int64_t i = 0; done < total; ++i) {
    const fs::path folder = dir / ("d" + std::to_string(i / 200));
    if (i % 200 == 0) fs::create_directories(folder);
    const uint64_t kind = next() % 100;
    std::string name;
    size_t size;
    if (kind < 55) {
      name = "s" + std::to_string(i) + ".txt";
      size = 4096 + next() % 61440;
    } else if (kind < 90) {
      name = "b" + std::to_string(i) + ".bin";
      size = 4096 + next() % 61440;
    } else if (kind < 99) {
      name = "v" + std::to_string(i) + ".ogg";
      size = (256 << 10) + next() % (1792 << 10);
    } else {
      name = "m" + std::to_string(i) + ".big";
      size = (5 << 20) + next() % (20 << 20);
    }
    size = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), total - done));
    File out(folder / name, "wb");
    if (kind < 55) {
      FillText(text, size, s);
      out.Write(text.data(), size);
    } else {
      bytes.resize(size + 8);
      Fill(bytes.data(), bytes.size(), s);
      out.Write(bytes.data(), size);
    }
    done += static_cast<int64_t>(size);
  }
}

// n short patterned double-byte names in one folder: "背景\絵NNNNNNN.png" (code page 932).
void MakePatterned(const fs::path& path, int64_t n) {
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(n));
  char buf[64];
  for (int64_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "\x94\x77\x8c\x69\\\x8a\x47%07lld.png", static_cast<long long>(i));
    names.push_back(buf);
  }
  MakeNamed(path, names);
}

// `count` entries, each below its own chain of `levels` folders ("dK\d\d\...\f.txt").
void MakeDeep(const fs::path& path, int64_t levels, int64_t count) {
  std::vector<std::string> names;
  for (int64_t k = 0; k < count; ++k) {
    std::string name = "d" + std::to_string(k);
    for (int64_t l = 1; l < levels; ++l) name += "\\d";
    names.push_back(name + "\\f.txt");
  }
  MakeNamed(path, names);
}

// An installed game's folder `dir` for an uninstall: N recorded names in four folders, of which one in
// 32 is missing on disk and one in 32 is recorded in upper case while the disk has it in lower case,
// plus "install.dat". `json` gets the settings (for vrtool settings build) that record them all; the
// caller builds install.dat from it.
void MakeInstalled(const fs::path& dir, int64_t n, const fs::path& json) {
  File out(json, "wb");
  std::fputs(
      "{ \"Title\": \"bench\", \"DiskCount\": 1, \"BaseSizes\": [0], \"DataSizes\": [0],\n"
      "  \"SoundSizes\": [0], \"MovieSizes\": [0], \"Uninstaller\": true,\n"
      "  \"InstalledFiles\": [\"install.dat\"",
      out.f);
  for (int d = 0; d < 4; ++d) fs::create_directories(dir / ("d" + std::to_string(d)));
  char name[64];
  for (int64_t i = 0; i < n; ++i) {
    std::snprintf(name, sizeof name, "d%d/file%07lld.ogg", static_cast<int>(i % 4),
                  static_cast<long long>(i));
    std::string recorded = name;
    recorded.replace(2, 1, "\\\\");  // a JSON string's backslash
    if (i % 32 == 1)
      for (char& c : recorded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::fprintf(out.f, ",\n    \"%s\"", recorded.c_str());
    if (i % 32 != 0) File(dir / name, "wb");
  }
  std::fputs("] }\n", out.f);
}

// ---- benchmarks ---------------------------------------------------------------------------------

const fs::path& BigStored() {
  static fs::path p = [] {
    fs::path path = WorkDir() / "big.dat";
    MakeStored(path, EnvInt("VR_BENCH_MB", 2048), 64);
    return path;
  }();
  return p;
}

int64_t TotalSize(const fs::path& path) {
  int64_t total = 0;
  for (const auto& p : PartFiles(path)) total += static_cast<int64_t>(fs::file_size(p));
  return total;
}

void BM_VerifyData(benchmark::State& state) {
  const fs::path& path = BigStored();
  for (auto _ : state) {
    vr::TVrFileCollection archive;
    archive.Open(path.string());
    if (!archive.VerifyData()) state.SkipWithError("VerifyData failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TotalSize(path));
}

// The same bytes read in 1 MiB pieces through zlib's crc32, part file after part file.
void BM_ReadCrc32(benchmark::State& state) {
  const fs::path& path = BigStored();
  std::vector<fs::path> parts = PartFiles(path);
  std::vector<uint8_t> buf(1 << 20);
  for (auto _ : state) {
    for (const auto& p : parts) {
      File in(p, "rb");
      std::setvbuf(in.f, nullptr, _IONBF, 0);
      uLong crc = crc32(0, nullptr, 0);
      size_t n;
      while ((n = std::fread(buf.data(), 1, buf.size(), in.f)) > 0) {
        crc = crc32(crc, buf.data(), static_cast<uInt>(n));
      }
      benchmark::DoNotOptimize(crc);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TotalSize(path));
}

void BM_ExtractAll(benchmark::State& state) {
  const Compressed& a = CompressedArchive();
  for (auto _ : state) {
    vr::TVrFileCollection archive;
    archive.Open(a.Path.string());
    vr::TMemoryStream out;
    for (int i = 0; i + 1 < archive.Count(); ++i) {
      archive.ExtractItem(out, i);
      benchmark::DoNotOptimize(out.Memory());
    }
  }
}

void BM_BareInflate(benchmark::State& state) {
  const Compressed& a = CompressedArchive();
  std::vector<uint8_t> in, out(1 << 20);
  for (auto _ : state) {
    File f(a.Path, "rb");
    for (size_t i = 0; i < a.Entries.size(); ++i) {
      in.resize(static_cast<size_t>(a.Entries[i].Size));
      std::fseek(f.f, static_cast<long>(a.Offsets[i]), SEEK_SET);
      if (std::fread(in.data(), 1, in.size(), f.f) != in.size()) state.SkipWithError("short read");
      uLongf len = static_cast<uLongf>(out.size());
      if (uncompress(out.data(), &len, in.data(), static_cast<uLong>(in.size())) != Z_OK) {
        state.SkipWithError("inflate failed");
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
}

void BM_LoadDirectory(benchmark::State& state) {
  fs::path data = MakeBigDirectory(state.range(0), "dir" + std::to_string(state.range(0)), 0, 0);
  for (auto _ : state) {
    vr::TVrFileCollection archive;
    archive.Open(data.string());
    if (archive.Count() != state.range(0) + 1) state.SkipWithError("wrong count");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetComplexityN(state.range(0));
}

void BM_Merge(benchmark::State& state) {
  int64_t n = EnvInt("VR_BENCH_MERGE", 100000);
  // The second archive replaces half of the first's names with newer entries and adds as many new ones.
  fs::path source = MakeBigDirectory(n, "merge-b", 100, n / 2);
  fs::path base = MakeBigDirectory(n, "merge-a", 50, 0);
  fs::path target = WorkDir() / "merge-t.dat";
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(base, target, fs::copy_options::overwrite_existing);
    fs::copy_file(WorkDir() / "merge-a.ext", WorkDir() / "merge-t.ext", fs::copy_options::overwrite_existing);
    state.ResumeTiming();
    vr::TVrFileCollection into, from;
    into.Open(target.string());
    from.Open(source.string());
    if (!into.MergeFrom(from) || into.Count() != 2 * n) state.SkipWithError("merge result");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

// Records each run's time for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
      std::string name = r.run_name.function_name;
      if (!r.run_name.args.empty()) name += "/" + r.run_name.args;
      seconds[name] = r.real_accumulated_time / static_cast<double>(r.iterations);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
};

}  // namespace

BENCHMARK(BM_VerifyData)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ReadCrc32)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ExtractAll)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_BareInflate)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_LoadDirectory)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2)
    ->Arg(EnvInt("VR_BENCH_ENTRIES", 1000000) / 4)
    ->Arg(EnvInt("VR_BENCH_ENTRIES", 1000000) / 2)
    ->Arg(EnvInt("VR_BENCH_ENTRIES", 1000000))
    ->Complexity(benchmark::oN);
BENCHMARK(BM_Merge)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--make-stored") {
    MakeStored(argv[2], std::atoll(argv[3]), std::atoll(argv[4]));
    return 0;
  }
  if (argc == 4 && std::string(argv[1]) == "--make-mixed") {
    MakeMixed(argv[2], std::atoll(argv[3]));
    return 0;
  }
  if (argc == 4 && std::string(argv[1]) == "--make-patterned") {
    MakePatterned(argv[2], std::atoll(argv[3]));
    return 0;
  }
  if (argc == 5 && std::string(argv[1]) == "--make-installed") {
    MakeInstalled(argv[2], std::atoll(argv[3]), argv[4]);
    return 0;
  }
  if (argc == 5 && std::string(argv[1]) == "--make-deep") {
    MakeDeep(argv[2], std::atoll(argv[3]), std::atoll(argv[4]));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& s = reporter.seconds;
  auto ratio = [&](const char* a, const char* b, const char* what, double target) {
    if (!s.count(a) || !s.count(b) || s[b] <= 0) return;
    std::printf("RATIO %-48s %6.3f  (target <= %.1f)\n", what, s[a] / s[b], target);
  };
  std::printf("\n");
  ratio("BM_VerifyData", "BM_ReadCrc32", "VerifyData / read + crc32", 1.0);
  ratio("BM_ExtractAll", "BM_BareInflate", "extract every entry / bare inflate", 1.1);
  for (const auto& [name, secs] : s) {
    if (name.rfind("BM_LoadDirectory/", 0) == 0) {
      std::printf("TIME  %-48s %8.3f s\n", ("load directory of " + name.substr(17) + " entries").c_str(),
                  secs);
    } else if (name == "BM_Merge") {
      std::printf("TIME  %-48s %8.3f s\n", "merge two archives of VR_BENCH_MERGE entries", secs);
    }
  }
  std::error_code ec;
  fs::remove_all(WorkDir(), ec);
  return 0;
}
