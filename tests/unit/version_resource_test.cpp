// The version resource reader on PE files and blocks built byte by byte,
// whole and damaged. Each is read from a buffer of exactly its size, so that
// the sanitizer build sees any read past it.
#include "version_resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
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

std::string Utf16(const std::u16string& text) {
  std::string bytes(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) Set16(bytes, 2 * i, text[i]);
  return bytes;
}

void PadTo4(std::string& bytes) { bytes.resize((bytes.size() + 3) / 4 * 4, '\0'); }

// A block: wLength, wValueLength (in UTF-16 units for text), wType, the key,
// the value and the children, each aligned to 4 bytes.
std::string Block(const std::u16string& key, const std::string& value, bool text,
                  const std::vector<std::string>& children = {}) {
  std::string bytes(6, '\0');
  bytes += Utf16(key + u'\0');
  PadTo4(bytes);
  bytes += value;
  for (const std::string& child : children) {
    PadTo4(bytes);
    bytes += child;
  }
  Set16(bytes, 0, static_cast<std::uint32_t>(bytes.size()));
  Set16(bytes, 2, static_cast<std::uint32_t>(text ? value.size() / 2 : value.size()));
  Set16(bytes, 4, text);
  return bytes;
}

std::string String(const std::u16string& key, const std::u16string& value) {
  return Block(key, Utf16(value + u'\0'), true);
}

std::string Resource(const std::string& table_key = "040904b0",
                     const std::string& internal_name = String(u"InternalName", u"Slots"),
                     std::vector<std::uint16_t> translation = {0x409, 1200}) {
  std::string fixed(52, '\0');
  Set32(fixed, 0, 0xFEEF04BD);
  Set32(fixed, 8, 0x00010000);   // 1.0
  Set32(fixed, 12, 0x00030000);  // 3.0
  std::string pairs(translation.size() * 2, '\0');
  for (std::size_t i = 0; i < translation.size(); ++i) Set16(pairs, 2 * i, translation[i]);
  const std::u16string table(table_key.begin(), table_key.end());
  return Block(u"VS_VERSION_INFO", fixed, false,
               {Block(u"StringFileInfo", "", true,
                      {Block(table, "", true,
                             {String(u"OriginalFilename", u"Slots.exe"), internal_name})}),
                Block(u"VarFileInfo", "", true, {Block(u"Translation", pairs, false)})});
}

const std::size_t kDataEntry = 0x248;  // in the file: the version data's RVA, then its size

// A PE file (PE32+ if `wide`) whose one section holds the resource directory
// and, after it, `data` as the version resource of type 16, id 1.
std::string PeFile(const std::string& data, bool wide = false) {
  const std::size_t optional_size = wide ? 240 : 224;
  std::string file(0x258, '\0');
  file[0] = 'M';
  file[1] = 'Z';
  Set32(file, 0x3C, 0x40);
  file.replace(0x40, 4, std::string("PE\0\0", 4));
  Set16(file, 0x46, 1);  // sections
  Set16(file, 0x54, static_cast<std::uint32_t>(optional_size));
  Set16(file, 0x58, wide ? 0x20B : 0x10B);
  Set32(file, 0x58 + (wide ? 108 : 92), 16);    // data directories
  Set32(file, 0x58 + (wide ? 128 : 112), 0x1000);  // the resource directory
  const std::size_t section = 0x58 + optional_size;
  Set32(file, section + 12, 0x1000);
  Set32(file, section + 16, static_cast<std::uint32_t>(0x58 + data.size()));
  Set32(file, section + 20, 0x200);
  // Type 16, then id 1, then one language, each a directory of one entry.
  const std::uint32_t entries[][2] = {{16, 0x80000018}, {1, 0x80000030}, {0x409, 0x48}};
  for (std::size_t level = 0; level < 3; ++level) {
    Set16(file, 0x200 + 0x18 * level + 14, 1);
    Set32(file, 0x200 + 0x18 * level + 16, entries[level][0]);
    Set32(file, 0x200 + 0x18 * level + 20, entries[level][1]);
  }
  Set32(file, kDataEntry, 0x1058);
  Set32(file, kDataEntry + 4, static_cast<std::uint32_t>(data.size()));
  return file + data;
}

std::size_t ReadBuffer(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
  const auto& file = *static_cast<const std::vector<unsigned char>*>(context);
  if (offset >= file.size()) return 0;
  const std::size_t count = std::min<std::size_t>(size, file.size() - offset);
  std::memcpy(buffer, file.data() + offset, count);
  return count;
}

std::string Described(const VersionResource& resource) {
  std::string text = resource.version;
  for (const std::u16string& name : resource.names) text += " " + std::string(name.begin(), name.end());
  return text;
}

const char kWhole[] = "1.0.3.0 InternalName=Slots OriginalFilename=Slots.exe";

TEST(VersionResourceTest, EveryDamageIsReadAsNoVersionOrFewerNames) {
  using Damage = std::function<void(std::string&)>;
  const auto entry = [](std::size_t field, std::uint32_t value) -> Damage {
    return [=](std::string& file) { Set32(file, kDataEntry + field, value); };
  };
  // Sets a 16-bit field of the block with `key`, `at` bytes from its start.
  const auto block = [](const char16_t* key, std::size_t at, std::uint32_t value) -> Damage {
    return [=](std::string& file) { Set16(file, file.find(Utf16(key)) - 6 + at, value); };
  };
  const auto data = [](const std::string& bytes, bool wide = false) -> Damage {
    return [=](std::string& file) { file = PeFile(bytes, wide); };
  };
  const std::string whole = Resource();
  const std::string first_16_bit_block("\x48\0\x34\0VS_VERSION_INFO\0", 20);
  struct Case {
    const char* damage;
    Damage damage_file;
    const char* read;
  };
  const Case cases[] = {
      {"none", [](std::string&) {}, kWhole},
      {"PE32+ headers", data(whole, true), kWhole},
      {"data past the end of the file", [](std::string& file) { file.pop_back(); }, ""},
      {"size above 65,535", data(whole + std::string(0x10000 - whole.size(), '\0')), ""},
      {"size of 65,535", data(whole + std::string(0xFFFF - whole.size(), '\0')), kWhole},
      {"data where no section is", entry(0, 0x9000), ""},
      {"size 0", entry(4, 0), ""},
      {"size 40", entry(4, 40), ""},
      {"size 51", entry(4, 51), ""},
      {"size of the fixed record only", entry(4, 92), "1.0.3.0"},
      {"root value shorter than the record", block(u"VS_VERSION_INFO", 2, 51),
       " InternalName=Slots OriginalFilename=Slots.exe"},
      {"a child overrunning the block", block(u"StringFileInfo", 0, 0xFFF0), "1.0.3.0"},
      {"a child of length zero", block(u"StringFileInfo", 0, 0), "1.0.3.0"},
      {"Translation longer than the block", block(u"Translation", 2, 0xFFFF), kWhole},
      {"Translation naming no table", block(u"Translation", 32, 0x407), "1.0.3.0"},
      {"the same language twice",
       data(Resource("040904b0", String(u"InternalName", u"Slots"), {0x409, 1200, 0x409, 1200})),
       kWhole},
      {"table key in capitals", data(Resource("040904B0")), kWhole},
      {"string without a terminator",
       data(Resource("040904b0", Block(u"InternalName", Utf16(u"Slot"), true))),
       "1.0.3.0 InternalName=Slot OriginalFilename=Slots.exe"},
      {"key without a terminator", data(Block(u"VS_VERSION_INFO", "", false).substr(0, 36)), ""},
      {"the 16-bit layout", data(first_16_bit_block + std::string(52, '\1')), ""},
      {"not a PE file", [](std::string& file) { file[0x40] = 'N'; }, ""},
      {"no resource directory", [](std::string& file) { Set32(file, 0x58 + 92, 2); }, ""},
  };
  for (const Case& c : cases) {
    std::string file = PeFile(whole);
    c.damage_file(file);
    std::vector<unsigned char> bytes(file.begin(), file.end());
    EXPECT_EQ(Described(ReadVersionResource({ReadBuffer, &bytes})), c.read) << c.damage;
  }
}

}  // namespace
