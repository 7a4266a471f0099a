// Resources read from a PE file that the test builds itself, and damaged variants of it.
#include <gtest/gtest.h>

#include <map>

#include "platform/codepage.h"
#include "platform/peresource.h"
#include "platform/platform.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

void Put16(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A minimal 32-bit PE image with one ".rsrc" section. Keys are names or "#<id>"; one language each.
std::string BuildPe(const std::map<std::string, std::map<std::string, std::string>>& resources) {
  const uint32_t kRva = 0x1000, kRaw = 0x200;
  // Resource section: directories first, then data entries, then name strings, then data.
  std::string rs;
  size_t typeCount = resources.size(), nameCount = 0;
  for (const auto& t : resources) nameCount += t.second.size();
  const size_t dirsSize = 16 + 8 * typeCount + typeCount * 16 + nameCount * 8 + nameCount * (16 + 8);
  size_t dataEntryAt = dirsSize;
  size_t stringsAt = dataEntryAt + 16 * nameCount;
  std::string strings;
  std::string blob;
  std::vector<std::string> datas;
  auto keyField = [&](const std::string& key) -> uint32_t {
    if (key[0] == '#') return static_cast<uint32_t>(std::stoul(key.substr(1)));
    const std::u16string u = Cp932ToUtf16(key);
    const uint32_t at = static_cast<uint32_t>(stringsAt + strings.size());
    std::string s;
    Put16(s, 0, static_cast<uint32_t>(u.size()));
    for (size_t i = 0; i < u.size(); ++i) Put16(s, 2 + 2 * i, u[i]);
    strings += s;
    return 0x80000000u | at;
  };
  // Named entries must come before numeric ones, as in real files.
  auto ordered = [](const auto& m) {
    std::vector<std::string> keys;
    for (const auto& e : m)
      if (e.first[0] != '#') keys.push_back(e.first);
    for (const auto& e : m)
      if (e.first[0] == '#') keys.push_back(e.first);
    return keys;
  };
  auto countNamed = [](const std::vector<std::string>& keys) {
    uint32_t n = 0;
    for (const auto& k : keys) n += k[0] != '#';
    return n;
  };
  rs.assign(dirsSize, '\0');
  const auto types = ordered(resources);
  Put16(rs, 12, countNamed(types));
  Put16(rs, 14, static_cast<uint32_t>(types.size()) - countNamed(types));
  size_t nextDir = 16 + 8 * types.size();
  size_t entryIndex = 0;
  for (size_t ti = 0; ti < types.size(); ++ti) {
    const auto& names = resources.at(types[ti]);
    const size_t dir = nextDir;
    Put32(rs, 16 + 8 * ti, keyField(types[ti]));
    Put32(rs, 16 + 8 * ti + 4, 0x80000000u | static_cast<uint32_t>(dir));
    const auto nameKeys = ordered(names);
    Put16(rs, dir + 12, countNamed(nameKeys));
    Put16(rs, dir + 14, static_cast<uint32_t>(nameKeys.size()) - countNamed(nameKeys));
    nextDir = dir + 16 + 8 * nameKeys.size();
    for (size_t ni = 0; ni < nameKeys.size(); ++ni) {
      const size_t langDir = nextDir;
      nextDir += 16 + 8;
      Put32(rs, dir + 16 + 8 * ni, keyField(nameKeys[ni]));
      Put32(rs, dir + 16 + 8 * ni + 4, 0x80000000u | static_cast<uint32_t>(langDir));
      Put16(rs, langDir + 14, 1);
      Put32(rs, langDir + 16, 0x411);
      const size_t entry = dataEntryAt + 16 * entryIndex++;
      Put32(rs, langDir + 20, static_cast<uint32_t>(entry));
      datas.push_back(names.at(nameKeys[ni]));
    }
  }
  rs.resize(stringsAt);
  rs += strings;
  for (size_t i = 0; i < datas.size(); ++i) {
    while (rs.size() % 4) rs += '\0';
    Put32(rs, dataEntryAt + 16 * i, kRva + static_cast<uint32_t>(rs.size()));
    Put32(rs, dataEntryAt + 16 * i + 4, static_cast<uint32_t>(datas[i].size()));
    rs += datas[i];
  }
  const uint32_t rawSize = static_cast<uint32_t>((rs.size() + 0x1FF) & ~size_t(0x1FF));
  rs.resize(rawSize);

  std::string pe(kRaw, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  Put32(pe, 0x3C, 0x40);
  Put32(pe, 0x40, 0x00004550);
  const size_t coff = 0x44, opt = 0x58;
  Put16(pe, coff, 0x14C);
  Put16(pe, coff + 2, 1);
  Put16(pe, coff + 16, 0xE0);
  Put16(pe, coff + 18, 0x0102);
  Put16(pe, opt, 0x10B);
  Put32(pe, opt + 28, 0x400000);  // image base
  Put32(pe, opt + 32, 0x1000);    // section alignment
  Put32(pe, opt + 36, 0x200);     // file alignment
  Put16(pe, opt + 40, 4);
  Put16(pe, opt + 48, 4);
  Put32(pe, opt + 56, kRva + ((rawSize + 0xFFF) & ~0xFFFu));  // size of image
  Put32(pe, opt + 60, kRaw);                                  // size of headers
  Put16(pe, opt + 68, 2);                                     // GUI subsystem
  Put32(pe, opt + 92, 16);
  Put32(pe, opt + 96 + 16, kRva);
  Put32(pe, opt + 96 + 20, static_cast<uint32_t>(rs.size()));
  const size_t sec = opt + 0xE0;
  std::memcpy(&pe[sec], ".rsrc", 5);
  Put32(pe, sec + 8, rawSize);
  Put32(pe, sec + 12, kRva);
  Put32(pe, sec + 16, rawSize);
  Put32(pe, sec + 20, kRaw);
  Put32(pe, sec + 36, 0x40000040u);  // initialised data, readable
  return pe + rs;
}

std::optional<std::vector<uint8_t>> FromMemory(const std::string& file, const std::string& name,
                                               const std::string& type) {
  const TReadAt read = [&file](uint64_t offset, void* buffer, size_t count) {
    if (offset > file.size() || count > file.size() - offset) return false;
    std::memcpy(buffer, file.data() + offset, count);
    return true;
  };
  return FindPeResource(read, file.size(), name, type);
}

std::string AsText(const std::optional<std::vector<uint8_t>>& d) {
  return d ? std::string(d->begin(), d->end()) : std::string("<none>");
}

const std::map<std::string, std::map<std::string, std::string>> kResources = {
    {"BINTYPE", {{"DUMMY", std::string("rv\0archive", 10)}, {"#7", "seven"}}},
    {"#10", {{"表データ", "japanese name"}}},
};

TEST(PeResources, FoundByNameIdAndCase) {
  const std::string pe = BuildPe(kResources);
  EXPECT_EQ(AsText(FromMemory(pe, "DUMMY", "BINTYPE")), std::string("rv\0archive", 10));
  EXPECT_EQ(AsText(FromMemory(pe, "dummy", "BinType")), std::string("rv\0archive", 10));
  EXPECT_EQ(AsText(FromMemory(pe, "#7", "BINTYPE")), "seven");
  EXPECT_EQ(AsText(FromMemory(pe, "表データ", "#10")), "japanese name");
  EXPECT_FALSE(FromMemory(pe, "DUMMY", "RCDATA"));
  EXPECT_FALSE(FromMemory(pe, "DUMM", "BINTYPE"));
  EXPECT_FALSE(FromMemory(pe, "#8", "BINTYPE"));
  EXPECT_FALSE(FromMemory(pe, "#x", "BINTYPE"));
  EXPECT_FALSE(FromMemory(pe, "", "BINTYPE"));
  EXPECT_FALSE(
      FromMemory("\x7F"
                 "ELF and so on",
                 "DUMMY", "BINTYPE"));
}

TEST(PeResources, DamagedFilesAreRefusedSafely) {
  const std::string pe = BuildPe(kResources);
  // Every truncation either still finds the resource or reports none.
  for (size_t cut = 0; cut < pe.size(); cut += 7) {
    const auto d = FromMemory(pe.substr(0, cut), "DUMMY", "BINTYPE");
    if (d) {
      EXPECT_EQ(AsText(d), std::string("rv\0archive", 10));
    }
  }
  // Every byte of the headers and the directories set to hostile values.
  for (size_t at = 0; at < pe.size(); ++at) {
    for (unsigned char v : {0x00, 0x7F, 0xFF}) {
      std::string bad = pe;
      bad[at] = static_cast<char>(v);
      const auto d = FromMemory(bad, "DUMMY", "BINTYPE");
      if (d) {
        EXPECT_LE(d->size(), bad.size());
      }
    }
  }
  // A data entry whose size runs past the file, and a directory that claims 65535 entries.
  std::string big = pe;
  const auto found = FromMemory(pe, "DUMMY", "BINTYPE");
  ASSERT_TRUE(found);
  std::string sizeBytes;
  Put32(sizeBytes, 0, 10);
  // The data entry: an RVA inside the section followed by the size 10.
  size_t entry = big.find(sizeBytes, 0x204);
  while (entry != std::string::npos && static_cast<unsigned char>(big[entry - 3]) != 0x10)
    entry = big.find(sizeBytes, entry + 1);
  ASSERT_NE(entry, std::string::npos);
  Put32(big, entry, 0x7FFFFFF0u);
  EXPECT_FALSE(FromMemory(big, "DUMMY", "BINTYPE"));
  std::string many = pe;
  Put16(many, 0x200 + 14, 0xFFFF);
  EXPECT_FALSE(FromMemory(many, "DUMMY", "BINTYPE"));
}

TEST(PeResources, ThroughThePlatformFromAFile) {
  TTempDrive drive;
  drive.WriteFile("pack\\setup.exe", BuildPe(kResources));
  auto res = Platform().FindResource(drive.PathOf("pack\\setup.exe"), "DUMMY", "BINTYPE");
  ASSERT_TRUE(res.has_value());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(res->Data), res->Size), std::string("rv\0archive", 10));
  EXPECT_FALSE(Platform().FindResource(drive.PathOf("pack\\setup.exe"), "NONE", "BINTYPE").has_value());
  EXPECT_FALSE(Platform().FindResource(drive.PathOf("pack\\missing.exe"), "DUMMY", "BINTYPE").has_value());
#ifndef _WIN32
  // The test program itself is no PE file.
  EXPECT_FALSE(Platform().FindResource("", "DUMMY", "BINTYPE").has_value());
  // A configured module path stands for the running executable.
  TPosixConfig config = drive.PosixConfig();
  config.ModulePath = drive.Posix()->HostPath(drive.PathOf("pack\\setup.exe"));
  TPosixPlatform withModule(config);
  EXPECT_TRUE(withModule.FindResource("", "DUMMY", "BINTYPE").has_value());
  EXPECT_EQ(withModule.ModuleFileName(), drive.PathOf("pack\\setup.exe"));
#endif
}

}  // namespace
}  // namespace vr
