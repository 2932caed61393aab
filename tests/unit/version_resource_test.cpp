// The version resource reader on real version resources, whole and
// damaged: fake games (PE32 and PE32+) cut down to their headers and
// resources, and the launcher's own block, as the fuzzer's seeds keep them.
// Each is read from a buffer of exactly its size, so that the sanitizer
// build sees any read past it.
#include "version_resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

void Set16(std::string& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<char>(value);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void Set32(std::string& bytes, std::size_t at, std::uint32_t value) {
  Set16(bytes, at, value);
  Set16(bytes, at + 2, value >> 16);
}

// Where the block whose key is `key` starts.
std::size_t BlockAt(const std::string& bytes, const std::u16string& key) {
  std::string utf16;
  for (char16_t unit : key) utf16 += {static_cast<char>(unit), static_cast<char>(unit >> 8)};
  return bytes.find(utf16) - 6;
}

std::size_t ReadBuffer(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
  const auto& file = *static_cast<const std::vector<unsigned char>*>(context);
  if (offset >= file.size()) return 0;
  const std::size_t count = std::min<std::size_t>(size, file.size() - offset);
  std::memcpy(buffer, file.data() + offset, count);
  return count;
}

TEST(VersionResourceTest, EveryDamageIsReadAsNoVersionOrFewerNames) {
  using Damage = std::function<void(std::string&)>;
  // The fake games' data entry: the RVA, then the size, of their only resource.
  const std::size_t entry = 0x248;
  const auto data_entry = [=](std::size_t field, std::uint32_t value) -> Damage {
    return [=](std::string& file) { Set32(file, entry + field, value); };
  };
  const auto larger = [=](std::uint32_t size) -> Damage {
    return [=](std::string& file) {
      Set32(file, file.find(".rsrc") + 16, 0x20000);  // SizeOfRawData
      file.resize(0x20200);
      Set32(file, entry + 4, size);
    };
  };
  // Sets a 16-bit field of the block with `key`, `at` bytes from its start.
  const auto block = [](const char16_t* key, std::size_t at, std::uint32_t value) -> Damage {
    return [=](std::string& bytes) { Set16(bytes, BlockAt(bytes, key) + at, value); };
  };
  const char* game = "fake-game-pe32";
  const char* launcher = "launcher-block";
  const char whole[] = "1.0.0.0 InternalName=Pelterin OriginalFilename=Pelterin.exe";
  struct Case {
    const char* damage;
    const char* seed;
    Damage damage_it;
    const char* read;
  };
  const Case cases[] = {
      {"none", game, [](std::string&) {}, "1.0.3.0"},
      {"PE32+", "fake-game-pe32plus", [](std::string&) {}, "1.0.3.0"},
      {"data past the end of the file", game, [](std::string& file) { file.pop_back(); }, ""},
      {"size above 65,535", game, larger(0x10000), ""},
      {"size of 65,535", game, larger(0xFFFF), "1.0.3.0"},
      {"data where no section is", game, data_entry(0, 0x9000), ""},
      {"size 0", game, data_entry(4, 0), ""},
      {"size 40", game, data_entry(4, 40), ""},
      {"size 51", game, data_entry(4, 51), ""},
      {"size of the fixed record only", game, data_entry(4, 92), "1.0.3.0"},
      {"not a PE file", game, [](std::string& file) { file[0] = 'Z'; }, ""},
      {"none", launcher, [](std::string&) {}, whole},
      {"root value shorter than the record", launcher, block(u"VS_VERSION_INFO", 2, 51),
       " InternalName=Pelterin OriginalFilename=Pelterin.exe"},
      {"a child overrunning the block", launcher, block(u"StringFileInfo", 0, 0xFFF0), "1.0.0.0"},
      {"a child of length zero", launcher, block(u"StringFileInfo", 0, 0), "1.0.0.0"},
      {"Translation longer than the block", launcher, block(u"Translation", 2, 0xFFFF), whole},
      {"Translation naming no table", launcher, block(u"Translation", 32, 0x407), "1.0.0.0"},
      {"table key in capitals", launcher, block(u"080404b0", 18, u'B'), whole},
      {"a name beyond ASCII, in UTF-8", launcher, block(u"InternalName", 32, u'\u00e9'),
       "1.0.0.0 InternalName=\u00e9elterin OriginalFilename=Pelterin.exe"},
      {"a surrogate pair, as one character", launcher,
       [](std::string& bytes) {
         Set16(bytes, BlockAt(bytes, u"InternalName") + 32, 0xD83D);
         Set16(bytes, BlockAt(bytes, u"InternalName") + 34, 0xDE00);
       },
       "1.0.0.0 InternalName=\U0001F600lterin OriginalFilename=Pelterin.exe"},
      {"half a surrogate pair, kept", launcher, block(u"InternalName", 32, 0xD800),
       "1.0.0.0 InternalName=\xed\xa0\x80" "elterin OriginalFilename=Pelterin.exe"},
      {"string without a terminator", launcher, block(u"InternalName", 0, 46),
       "1.0.0.0 InternalName=Pelteri"},  // and the walk ends after it
      {"key without a terminator", launcher, [](std::string& bytes) { bytes.resize(36); }, ""},
      {"the 16-bit layout", launcher,
       [](std::string& bytes) {
         bytes = std::string("\x48\0\x34\0VS_VERSION_INFO\0", 20) + bytes.substr(40, 52);
       },
       ""},
  };
  for (const Case& c : cases) {
    std::ifstream in(std::string(VERSION_RESOURCE_SEEDS) + "/" + c.seed, std::ios::binary);
    std::string seed((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(seed.empty()) << c.seed;
    c.damage_it(seed);
    std::vector<unsigned char> bytes(seed.begin(), seed.end());
    const VersionResource resource = c.seed == launcher
                                         ? ParseVersionResource(bytes.data(), bytes.size())
                                         : ReadVersionResource({ReadBuffer, &bytes});
    std::string read = resource.version;
    for (const std::string& name : resource.names) read += " " + name;
    EXPECT_EQ(read, c.read) << c.seed << ": " << c.damage;
  }
}

}  // namespace
