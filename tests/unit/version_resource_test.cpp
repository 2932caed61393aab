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

std::string Utf16(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) bytes += {static_cast<char>(unit), static_cast<char>(unit >> 8)};
  return bytes;
}

// A version block: its header, `key`, `value` (UTF-16 text when `text`)
// and `children`, each part from a multiple of 4 bytes.
std::string VersionBlock(const std::u16string& key, const std::string& value, bool text,
                         const std::string& children = "") {
  std::string block = std::string(6, '\0') + Utf16(key + u'\0');
  block.resize((block.size() + 3) & ~3u, '\0');
  block += value;
  block.resize((block.size() + 3) & ~3u, '\0');
  block += children;
  Set16(block, 0, static_cast<std::uint32_t>(block.size()));
  Set16(block, 2, static_cast<std::uint32_t>(text ? value.size() / 2 : value.size()));
  Set16(block, 4, text);
  return block;
}

std::string Pair(std::uint32_t language) {
  std::string pair(4, '\0');
  Set16(pair, 0, language >> 16);
  Set16(pair, 2, language);
  return pair;
}

// A version resource of 1.0.0.0 with a string table for each of `tables`
// (its key, and the InternalName it gives), the Translation value
// `translation`, and `first` ahead of its other children.
std::string BuiltResource(const std::vector<std::pair<std::u16string, std::u16string>>& tables,
                          const std::string& translation, const std::string& first = "") {
  std::string record(52, '\0');
  Set32(record, 0, 0xFEEF04BD);
  Set32(record, 8, 0x00010000);
  std::string strings;
  for (const auto& [key, name] : tables) {
    strings += VersionBlock(key, "", false,
                            VersionBlock(u"InternalName", Utf16(name + u'\0'), true));
  }
  return VersionBlock(u"VS_VERSION_INFO", record, false,
                      first + VersionBlock(u"StringFileInfo", "", false, strings) +
                          VersionBlock(u"VarFileInfo", "", false,
                                       VersionBlock(u"Translation", translation, false)));
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
      Set32(file, file.find(".rsrc") + 8, 0x20000);   // VirtualSize
      Set32(file, file.find(".rsrc") + 16, 0x20000);  // SizeOfRawData
      file.resize(0x20200);
      Set32(file, entry + 4, size);
    };
  };
  // Sets a 16-bit field of the block with `key`, `at` bytes from its start.
  const auto block = [](const char16_t* key, std::size_t at, std::uint32_t value) -> Damage {
    return [=](std::string& bytes) { Set16(bytes, BlockAt(bytes, key) + at, value); };
  };
  // The fake games' first section header, and the offsets of its fields.
  const auto section = [](std::size_t field, std::uint32_t value) -> Damage {
    return [=](std::string& file) { Set32(file, 376 + field, value); };
  };
  // The one section, then `count` - 1 more, empty, after it (or, `before`,
  // ahead of it); the table pushes the section's data further on.
  const auto sections = [](std::size_t count, bool before = false) -> Damage {
    return [=](std::string& file) {
      std::string more;
      for (std::size_t i = 1; i < count; ++i) {
        std::string header(40, '\0');
        Set32(header, 8, 0x1000);
        Set32(header, 12, (before ? 0 : 0x4e000) + static_cast<std::uint32_t>(i) * 0x1000);
        more += header;
      }
      std::string table = before ? more + file.substr(376, 40) : file.substr(376, 40) + more;
      const std::size_t data = (376 + table.size() + 0x1FF) / 0x200 * 0x200;
      table.resize(data - 376, '\0');
      file = file.substr(0, 376) + table + file.substr(0x200);
      Set16(file, 134, static_cast<std::uint32_t>(count));
      Set32(file, 152 + 60, static_cast<std::uint32_t>(data));  // SizeOfHeaders
      Set32(file, 376 + 40 * (before ? count - 1 : 0) + 20, static_cast<std::uint32_t>(data));
    };
  };
  // The optional header `size` bytes long, the section table right after it.
  const auto optional_header = [](std::uint32_t size) -> Damage {
    return [=](std::string& file) {
      Set16(file, 148, size);
      file.replace(152 + size, 40, file.substr(376, 40));
    };
  };
  // Sets the 16-bit id (or the 32-bit target) of the directory entry at `at`.
  const auto id = [](std::size_t at, std::uint32_t value) -> Damage {
    return [=](std::string& file) { Set16(file, at, value); };
  };
  const auto target = [](std::size_t at, std::uint32_t value) -> Damage {
    return [=](std::string& file) { Set32(file, at + 4, value); };
  };
  // The section and file alignment, as one.
  const auto alignment = [](std::uint32_t value) -> Damage {
    return [=](std::string& file) { Set32(file, 152 + 32, value); Set32(file, 152 + 36, value); };
  };
  const auto both = [](Damage first, Damage second) -> Damage {
    return [=](std::string& file) { first(file); second(file); };
  };
  const Damage none = [](std::string&) {};
  using Tables = std::vector<std::pair<std::u16string, std::u16string>>;
  const auto built = [](Tables tables, std::string translation, std::string first = "") -> Damage {
    return [=](std::string& bytes) { bytes = BuiltResource(tables, translation, first); };
  };
  const auto one_table = [&](std::u16string key, std::uint32_t language,
                             std::u16string name = u"Pelterin") {
    return built({{key, name}}, Pair(language));
  };
  const char* game = "fake-game-pe32";
  // The same laid out flat, its sections aligned to 0x10: .rsrc at 0x210.
  const char* flat = "fake-game-flat";
  const char* launcher = "launcher-block";
  // Version resources in two languages: Chinese (Taiwan), 9.9.9.9, its
  // entry at 576; US English, 1.0.3.0, at 584.
  const char* languages = "fake-game-among-languages";
  // Version resources named EARLY (1.0.0.0), 0 (9.9.9.9), 1 (1.0.3.0) and
  // 2 (9.9.9.9), their entries at 552, 560, 568 and 576.
  const char* names = "fake-game-among-names";
  const char whole[] = "1.0.0.0 InternalName=Pelterin OriginalFilename=Pelterin.exe";
  const char record_only[] = "1.0.0.0";
  struct Case {
    const char* damage;
    const char* seed;
    Damage damage_it;
    const char* read;
    std::uint16_t user_language = 0x409;
  };
  const Case cases[] = {
      {"none", game, none, "1.0.3.0"},
      {"PE32+", "fake-game-pe32plus", none, "1.0.3.0"},
      {"data past the end of the file", game, [](std::string& file) { file.pop_back(); }, ""},
      {"size above 65,535, in the image", game, larger(0x10000), "1.0.3.0"},
      {"size of 65,535", game, larger(0xFFFF), "1.0.3.0"},
      {"size running out of the image", game, data_entry(4, 0xB000), ""},
      {"data where nothing is mapped", game, data_entry(0, 0x9000), ""},
      {"data in the headers, mapped below every section", game, data_entry(0, 0x258),
       "1.0.3.0"},
      {"data past the section's file data, mapped as zeros", game, data_entry(4, 448),
       "1.0.3.0"},
      {"section data not at a multiple of 512, rounded down", game, section(20, 0x2F0),
       "1.0.3.0"},
      {"section moved below the data, over the headers' page", game, section(12, 0x800), ""},
      {"data in the headers' page past their file data: zeros", game, data_entry(0, 0x600),
       "0.0.0.0"},
      {"size running one byte out of the image", game, data_entry(4, 0xFA9), ""},
      {"size reaching the image's end", game, data_entry(4, 0xFA8), "1.0.3.0"},
      {"section and file alignment 0", flat, alignment(0), ""},
      {"section alignment not a power of two", game,
       [](std::string& file) { Set32(file, 152 + 32, 0x1800); }, ""},
      {"section alignment 0x200, the section's address not its data's offset", game,
       [](std::string& file) { Set32(file, 152 + 32, 0x200); }, ""},
      {"flat, alignment 0x10, .rsrc 16 bytes past a multiple of 512", flat, none, "1.0.3.0"},
      {"flat, alignment 0x200", flat, alignment(0x200), "1.0.3.0"},
      {"flat, alignment 0x800, the section's data ending in the version data", flat,
       both(alignment(0x800), both(section(8, 0x68), section(16, 0x68))), "1.0.3.0"},
      {"flat, the resources between the headers and a section after them", flat,
       [](std::string& file) {
         Set32(file, 152 + 60, 0x200);  // SizeOfHeaders
         for (std::size_t field : {8, 16}) Set32(file, 376 + field, 8);
         for (std::size_t field : {12, 20}) Set32(file, 376 + field, 0x400);
       },
       "1.0.3.0"},
      {"flat, SizeOfImage ending in the version data", flat,
       [](std::string& file) { Set32(file, 152 + 56, 0x400); }, ""},
      {"flat, file alignment other than the sections'", flat,
       [](std::string& file) { Set32(file, 152 + 36, 0x20); }, ""},
      {"flat, the section's data at another offset than its address", flat, section(20, 0x400),
       ""},
      {"flat, the section longer than its data", flat, section(16, 0x200), ""},
      {"200 sections", game, sections(200), "1.0.3.0"},
      {"50 sections, the resources last", game, sections(50, true), "1.0.3.0"},
      {"two sections overlapping", game,
       both(sections(2), [](std::string& file) { Set32(file, 416 + 12, 0x4e100); }), ""},
      {"a section over the headers' page, which it cuts short", game,
       both(both(section(12, 0x800), data_entry(0, 0x858)),
            [](std::string& file) { Set32(file, 264, 0x800); }),
       "1.0.3.0"},
      {"optional header ending with the resource entry", game, optional_header(120),
       "1.0.3.0"},
      {"optional header a byte short of the resource entry", game, optional_header(119), ""},
      {"unknown optional header magic", game, [](std::string& file) { Set16(file, 152, 0x10C); },
       ""},
      {"two data directories only", game, [](std::string& file) { Set32(file, 244, 2); }, ""},
      {"size above 65,535, running a byte out of the image", game,
       [](std::string& file) {
         Set32(file, 376 + 8, 0x11000);
         Set32(file, 376 + 16, 0x11000);
         file.resize(0x11200);
         Set32(file, 0x248 + 4, 0x4e000 + 0x11000 - 0x4e058 + 1);
       },
       ""},
      {"size 0", game, data_entry(4, 0), ""},
      {"size 40", game, data_entry(4, 40), ""},
      {"size 55, the file version cut short", game, data_entry(4, 55), ""},
      {"size 56, up to the file version", game, data_entry(4, 56), "1.0.3.0"},
      {"not a PE file", game, [](std::string& file) { file[0] = 'Z'; }, ""},
      {"a user whose language it has", languages, none, "9.9.9.9", 0x404},
      {"a user whose language it lacks", languages, none, "1.0.3.0", 0x407},
      {"a user of another country", languages, none, "1.0.3.0", 0xC04},
      {"a user of another country, primary language there", languages, id(576, 0x004),
       "9.9.9.9", 0xC04},
      {"a neutral language first", languages, id(576, 0), "9.9.9.9"},
      {"neither language, the first", languages, id(584, 0x40C), "9.9.9.9", 0x407},
      {"the language's entry a directory", languages, target(584, 0x80000000 | 0x70),
       "9.9.9.9"},
      {"the first entry a directory, the next one data", languages,
       both(target(576, 0x80000000 | 0x70), id(584, 0x40C)), "1.0.3.0", 0x407},
      {"every language a directory", languages,
       both(target(576, 0x80000000 | 0x70), target(584, 0x80000000 | 0x70)), ""},
      {"name 1 among others", names, none, "1.0.3.0"},
      {"names other than 1 only", names, both(id(568, 5), id(576, 6)), ""},
      {"names out of order, missed", names, both(id(568, 2), id(576, 1)), ""},
      {"type entry not a directory", names, target(528, 0x18), ""},
      {"none", launcher, none, whole},
      {"root value length 0: the record still read, children taken from it", launcher,
       block(u"VS_VERSION_INFO", 2, 0), record_only},
      {"another root key", launcher, block(u"VS_VERSION_INFO", 6, u'X'), whole},
      {"wLength 0", launcher, block(u"VS_VERSION_INFO", 0, 0), record_only},
      {"wLength 44, the mark before the version", launcher, block(u"VS_VERSION_INFO", 0, 44),
       record_only},
      {"wLength 48, the mark over the version", launcher, block(u"VS_VERSION_INFO", 0, 48), ""},
      {"wLength 52, the mark over the version", launcher, block(u"VS_VERSION_INFO", 0, 52), ""},
      {"wLength 56, the mark after the version", launcher, block(u"VS_VERSION_INFO", 0, 56),
       record_only},
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
      {"key differing in its first letter", launcher, block(u"StringFileInfo", 6, u'X'),
       record_only},
      {"VarFileInfo without a Translation", launcher, block(u"Translation", 6, u'X'),
       record_only},
      {"key with a capital where the name has none", launcher,
       block(u"Translation", 10, u'A'), whole},
      {"table key with every hex letter and 9", launcher, one_table(u"a9f0cdeb", 0xa9f0cdeb),
       "1.0.0.0 InternalName=Pelterin"},
      {"table key with capital hex letters", launcher, one_table(u"A9F0CDEB", 0xa9f0cdeb),
       "1.0.0.0 InternalName=Pelterin"},
      {"table key of nine digits", launcher, one_table(u"a9f0cdeb0", 0xa9f0cdeb), record_only},
      {"table key not in hex", launcher, one_table(u"0000000g", 0x10), record_only},
      {"names of two, three and four bytes in UTF-8", launcher,
       one_table(u"080404b0", 0x080404b0, u"\u0080\u0800\U00010000rin"),
       "1.0.0.0 InternalName=\xc2\x80\xe0\xa0\x80\xf0\x90\x80\x80rin"},
      {"lone surrogates, each kept", launcher,
       one_table(u"080404b0", 0x080404b0, {0xDC00, 0xDC00, 0xD800, 0xE000}),
       "1.0.0.0 InternalName=\xed\xb0\x80\xed\xb0\x80\xed\xa0\x80\xee\x80\x80"},
      {"a surrogate pair ending the block, unterminated", launcher,
       both(one_table(u"080404b0", 0x080404b0, u"\U0001F600"), block(u"InternalName", 0, 36)),
       "1.0.0.0 InternalName=\xf0\x9f\x98\x80"},
      {"a string's value of length 0", launcher, block(u"InternalName", 2, 0),
       "1.0.0.0 OriginalFilename=Pelterin.exe"},
      {"Translation's length naming one of its two pairs", launcher,
       both(built({{u"080404b0", u"Pelterin"}, {u"040904b0", u"Other"}},
                  Pair(0x080404b0) + Pair(0x040904b0)),
            block(u"Translation", 2, 4)),
       "1.0.0.0 InternalName=Pelterin"},
      {"a child too short to be read, walked past", launcher,
       built({{u"080404b0", u"Pelterin"}}, Pair(0x080404b0), std::string("\x06\0\0\0\0\0\0\0", 8)),
       "1.0.0.0 InternalName=Pelterin"},
      {"an empty StringFileInfo first, as the system finds it", launcher,
       built({{u"080404b0", u"Pelterin"}}, Pair(0x080404b0),
             VersionBlock(u"StringFileInfo", "", false)),
       record_only},
      {"root key holding a unit with a zero low byte", launcher,
       block(u"VS_VERSION_INFO", 10, 0x0100), whole},
      {"the 16-bit layout: the version, no names", launcher,
       [](std::string& bytes) {
         bytes = std::string("\x48\0\x34\0VS_VERSION_INFO\0", 20) + bytes.substr(40, 52);
       },
       record_only},
      {"the 16-bit layout, its key beginning with a space", launcher,
       [](std::string& bytes) {
         bytes = std::string("\x48\0\x34\0 S_VERSION_INFO\0", 20) + bytes.substr(40, 52);
         Set32(bytes, 20 + 16, 0x00090009);  // a product version unlike the file's
       },
       record_only},
  };
  for (const Case& c : cases) {
    std::ifstream in(std::string(VERSION_RESOURCE_SEEDS) + "/" + c.seed, std::ios::binary);
    std::string seed((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(seed.empty()) << c.seed;
    c.damage_it(seed);
    std::vector<unsigned char> bytes(seed.begin(), seed.end());
    const VersionResource resource = std::string(c.seed) == launcher
                                         ? ParseVersionResource(bytes.data(), bytes.size())
                                         : ReadVersionResource({ReadBuffer, &bytes}, c.user_language);
    std::string read = resource.version;
    for (const std::string& name : resource.names) read += " " + name;
    EXPECT_EQ(read, c.read) << c.seed << ": " << c.damage;
  }
}

}  // namespace
