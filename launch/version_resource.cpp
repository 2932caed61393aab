#include "version_resource.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "version.h"

namespace {

// All numbers in a PE file and in a version resource are little-endian,
// and neither is necessarily aligned where it is read from.
std::uint16_t Read16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t Read32(const unsigned char* bytes) {
  return Read16(bytes) | static_cast<std::uint32_t>(Read16(bytes + 2)) << 16;
}

std::size_t AlignTo4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// --- The VS_VERSIONINFO block ---------------------------------------------

// wLength, wValueLength and wType, then the key.
const std::size_t kBlockHeaderSize = 6;
const std::size_t kFixedFileInfoSize = 52;
// dwFileVersionMS and dwFileVersionLS, after dwSignature and dwStrucVersion.
const std::size_t kFileVersionOffset = 8;

// One block of a version resource, as offsets into the resource, each within
// [begin, end).
struct Block {
  std::size_t end;
  std::size_t key;
  std::size_t key_units;  // without the terminator
  std::size_t value;
  std::size_t value_size;  // in bytes, as much of it as the block holds
  std::size_t children;
};

// The block at `begin`, which ends at `end`. A key without its terminator
// inside the block makes the block unusable.
std::optional<Block> ReadBlock(const unsigned char* data, std::size_t begin, std::size_t end) {
  if (end - begin < kBlockHeaderSize) return std::nullopt;
  Block block;
  block.end = end;
  block.key = begin + kBlockHeaderSize;
  std::size_t at = block.key;
  for (;; at += 2) {
    if (end - at < 2) return std::nullopt;
    if (Read16(data + at) == 0) break;
  }
  block.key_units = (at - block.key) / 2;
  // A text value's length counts UTF-16 units, a binary one's bytes.
  const bool text = Read16(data + begin + 4) == 1;
  const std::size_t value_length = Read16(data + begin + 2) * (text ? 2u : 1u);
  block.value = std::min(AlignTo4(at + 2), end);
  block.value_size = std::min(value_length, end - block.value);
  block.children = std::min(AlignTo4(block.value + value_length), end);
  return block;
}

// The children of `parent`, in order. A child with a length of zero, too
// short for its header, or reaching past its parent, ends the walk: nothing
// after it can be told apart from damage.
std::vector<Block> Children(const unsigned char* data, const Block& parent) {
  std::vector<Block> children;
  std::size_t at = parent.children;
  while (parent.end - at >= kBlockHeaderSize) {
    const std::size_t length = Read16(data + at);
    if (length < kBlockHeaderSize || length > parent.end - at) break;
    if (std::optional<Block> child = ReadBlock(data, at, at + length)) children.push_back(*child);
    at = std::min(AlignTo4(at + length), parent.end);
  }
  return children;
}

// Keys compare as the version functions compare them: ASCII letters in
// either case.
bool SameKey(const unsigned char* data, const Block& block, const char* name) {
  std::size_t i = 0;
  for (; name[i]; ++i) {
    if (i == block.key_units) return false;
    char16_t unit = Read16(data + block.key + 2 * i);
    if (unit >= u'A' && unit <= u'Z') unit = unit - u'A' + u'a';
    char letter = name[i];
    if (letter >= 'A' && letter <= 'Z') letter = letter - 'A' + 'a';
    if (unit != static_cast<unsigned char>(letter)) return false;
  }
  return i == block.key_units;
}

const Block* FindChild(const unsigned char* data, const std::vector<Block>& children,
                       const char* key) {
  for (const Block& child : children) {
    if (SameKey(data, child, key)) return &child;
  }
  return nullptr;
}

// A string table's key, eight hex digits of language << 16 | code page, as
// a number; nothing for any other key, which no language can name.
std::optional<std::uint32_t> TableLanguage(const unsigned char* data, const Block& table) {
  if (table.key_units != 8) return std::nullopt;
  std::uint32_t id = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const char16_t unit = Read16(data + table.key + 2 * i);
    const char16_t lower = unit | 0x20;
    int digit;
    if (unit >= u'0' && unit <= u'9') {
      digit = unit - u'0';
    } else if (lower >= u'a' && lower <= u'f') {
      digit = lower - u'a' + 10;
    } else {
      return std::nullopt;
    }
    id = id << 4 | static_cast<std::uint32_t>(digit);
  }
  return id;
}

// `code` appended to `text` in UTF-8.
void AppendUtf8(std::string& text, std::uint32_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
    return;
  }
  // The lead byte tells how many bytes of six bits each follow it.
  static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  const int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  text += static_cast<char>(kLead[tail] | code >> 6 * tail);
  for (int i = tail - 1; i >= 0; --i) text += static_cast<char>(0x80 | (code >> 6 * i & 0x3F));
}

// A string's value in UTF-8, up to its terminator; one without a terminator
// ends with its block. A value of length zero is no value, whatever follows
// the key. A surrogate without its other half is kept as it is (as three
// bytes), so that two different values never read alike.
std::string TextValue(const unsigned char* data, const Block& string) {
  std::string value;
  if (string.value_size == 0) return value;
  for (std::size_t at = string.value; string.end - at >= 2; at += 2) {
    std::uint32_t code = Read16(data + at);
    if (code == 0) break;
    const std::uint32_t next = string.end - at >= 4 ? Read16(data + at + 2) : 0;
    if (code >= 0xD800 && code < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
      at += 2;
    }
    AppendUtf8(value, code);
  }
  return value;
}

// InternalName and OriginalFilename, with their keys, from the string table
// of each language the Translation value lists. A language listed twice
// adds nothing the first did not: the names are only looked for.
std::vector<std::string> ProgramNames(const unsigned char* data, const Block& root) {
  std::vector<std::string> names;
  const std::vector<Block> sections = Children(data, root);
  const Block* string_file_info = FindChild(data, sections, "StringFileInfo");
  const Block* var_file_info = FindChild(data, sections, "VarFileInfo");
  if (!string_file_info || !var_file_info) return names;
  const std::vector<Block> vars = Children(data, *var_file_info);
  const Block* translation = FindChild(data, vars, "Translation");
  if (!translation) return names;

  struct Table {
    std::uint32_t language;
    const Block* block;
  };
  std::vector<Table> tables;
  const std::vector<Block> table_blocks = Children(data, *string_file_info);
  for (const Block& table : table_blocks) {
    if (std::optional<std::uint32_t> language = TableLanguage(data, table)) {
      tables.push_back({*language, &table});
    }
  }
  const std::size_t pairs_end = translation->value + translation->value_size / 4 * 4;
  for (std::size_t at = translation->value; at < pairs_end; at += 4) {
    const std::uint32_t language = static_cast<std::uint32_t>(Read16(data + at)) << 16 |
                                   Read16(data + at + 2);
    // The first table of the language, as a lookup of its key finds it;
    // taken once, so that the names are never longer than the resource.
    const auto table = std::find_if(tables.begin(), tables.end(),
                                    [&](const Table& t) { return t.language == language; });
    if (table == tables.end() || !table->block) continue;
    const std::vector<Block> strings = Children(data, *table->block);
    for (const char* key : {"InternalName", "OriginalFilename"}) {
      const Block* string = FindChild(data, strings, key);
      const std::string value = string ? TextValue(data, *string) : std::string();
      if (!value.empty()) names.push_back(key + ("=" + value));
    }
    table->block = nullptr;
  }
  return names;
}

// --- The PE file ----------------------------------------------------------

const std::uint16_t kDosSignature = 0x5A4D;       // "MZ"
const std::uint32_t kPeSignature = 0x00004550;    // "PE\0\0"
const std::uint16_t kPe32Magic = 0x10B;
const std::uint16_t kPe32PlusMagic = 0x20B;
const std::size_t kNewHeaderOffsetAt = 0x3C;      // e_lfanew in the DOS header
const std::size_t kFileHeaderSize = 24;           // the signature and IMAGE_FILE_HEADER
const std::size_t kResourceDirectoryIndex = 2;
const std::size_t kSectionHeaderSize = 40;
// The Windows loader refuses a file with more sections.
const std::size_t kMaxSections = 96;
const std::size_t kDirectoryHeaderSize = 16;
const std::size_t kDirectoryEntrySize = 8;
const std::uint32_t kSubdirectoryFlag = 0x80000000;
const std::uint16_t kVersionResourceType = 16;  // RT_VERSION

struct Section {
  std::uint64_t address;
  std::uint64_t raw_size;
  std::uint64_t raw_offset;
};

struct PeFile {
  const FileByteReader& file;
  std::vector<Section> sections;
  std::uint64_t resources = 0;  // the resource directory's RVA
};

bool ReadExactly(const FileByteReader& file, std::uint64_t offset, std::size_t size,
                 std::vector<unsigned char>& bytes) {
  bytes.assign(size, 0);
  return size == 0 || file.read(file.context, offset, bytes.data(), size) == size;
}

// Reads the `size` bytes at `rva`, which one section must hold whole.
bool ReadAtAddress(const PeFile& pe, std::uint64_t rva, std::size_t size,
                   std::vector<unsigned char>& bytes) {
  for (const Section& section : pe.sections) {
    if (rva >= section.address && rva - section.address <= section.raw_size &&
        size <= section.raw_size - (rva - section.address)) {
      return ReadExactly(pe.file, section.raw_offset + (rva - section.address), size, bytes);
    }
  }
  return false;
}

// The headers and the section table; false when the file is not a PE file
// with a resource directory.
bool ReadHeaders(PeFile& pe) {
  std::vector<unsigned char> bytes;
  if (!ReadExactly(pe.file, 0, kNewHeaderOffsetAt + 4, bytes) ||
      Read16(&bytes[0]) != kDosSignature) {
    return false;
  }
  const std::uint64_t headers = Read32(&bytes[kNewHeaderOffsetAt]);
  if (!ReadExactly(pe.file, headers, kFileHeaderSize, bytes) || Read32(&bytes[0]) != kPeSignature) {
    return false;
  }
  const std::size_t section_count = Read16(&bytes[6]);
  const std::size_t optional_size = Read16(&bytes[20]);
  if (section_count > kMaxSections) return false;

  if (!ReadExactly(pe.file, headers + kFileHeaderSize, optional_size, bytes) ||
      optional_size < 2) {
    return false;
  }
  // The data directories follow NumberOfRvaAndSizes, where each layout has it.
  const std::uint16_t magic = Read16(&bytes[0]);
  const std::size_t directories =
      magic == kPe32Magic ? 96 : magic == kPe32PlusMagic ? 112 : 0;
  const std::size_t resource_entry = directories + 8 * kResourceDirectoryIndex;
  if (directories == 0 || optional_size < resource_entry + 8 ||
      Read32(&bytes[directories - 4]) <= kResourceDirectoryIndex) {
    return false;
  }
  pe.resources = Read32(&bytes[resource_entry]);

  if (!ReadExactly(pe.file, headers + kFileHeaderSize + optional_size,
                   section_count * kSectionHeaderSize, bytes)) {
    return false;
  }
  for (std::size_t i = 0; i < section_count; ++i) {
    const unsigned char* header = &bytes[i * kSectionHeaderSize];
    pe.sections.push_back({Read32(header + 12), Read32(header + 16), Read32(header + 20)});
  }
  return true;
}

// The OffsetToData of an entry of the resource directory at `offset` (from
// the start of the resources): the entry with the id `id`, or the first
// entry when there is no id.
std::optional<std::uint32_t> DirectoryEntry(const PeFile& pe, std::uint64_t offset,
                                            std::optional<std::uint16_t> id) {
  std::vector<unsigned char> bytes;
  const std::uint64_t directory = pe.resources + offset;
  if (!ReadAtAddress(pe, directory, kDirectoryHeaderSize, bytes)) return std::nullopt;
  const std::size_t named = Read16(&bytes[12]);
  const std::size_t numbered = Read16(&bytes[14]);
  // Entries with ids follow the named ones.
  const std::size_t first = id ? named : 0;
  const std::size_t count = id ? numbered : std::min<std::size_t>(named + numbered, 1);
  const std::uint64_t entries = directory + kDirectoryHeaderSize + first * kDirectoryEntrySize;
  if (count == 0 || !ReadAtAddress(pe, entries, count * kDirectoryEntrySize, bytes)) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* entry = &bytes[i * kDirectoryEntrySize];
    if (!id || Read32(entry) == *id) return Read32(entry + 4);
  }
  return std::nullopt;
}

// The RVA and size of the version resource's data.
std::optional<std::pair<std::uint32_t, std::uint32_t>> VersionData(const PeFile& pe) {
  // Type, name, language: each level read once, so that no offset in the
  // file can send the walk round in a circle.
  const std::optional<std::uint32_t> type = DirectoryEntry(pe, 0, kVersionResourceType);
  if (!type || !(*type & kSubdirectoryFlag)) return std::nullopt;
  const std::optional<std::uint32_t> name = DirectoryEntry(pe, *type & ~kSubdirectoryFlag, {});
  if (!name || !(*name & kSubdirectoryFlag)) return std::nullopt;
  const std::optional<std::uint32_t> language =
      DirectoryEntry(pe, *name & ~kSubdirectoryFlag, {});
  if (!language || (*language & kSubdirectoryFlag)) return std::nullopt;
  std::vector<unsigned char> entry;
  if (!ReadAtAddress(pe, pe.resources + *language, 8, entry)) return std::nullopt;
  return std::pair{Read32(&entry[0]), Read32(&entry[4])};
}

}  // namespace

VersionResource ParseVersionResource(const unsigned char* data, std::size_t size) {
  // The block in the 16-bit layout has no wType and an ANSI key, so that
  // its key does not read as "VS_VERSION_INFO" here. Only 16-bit Windows
  // programs carry that layout, and the version functions convert it into
  // room the block does not have: it counts as no resource.
  const std::optional<Block> root =
      size >= kBlockHeaderSize
          ? ReadBlock(data, 0, std::min<std::size_t>(Read16(data), size))
          : std::nullopt;
  if (!root || !SameKey(data, *root, "VS_VERSION_INFO")) return {};
  VersionResource resource;
  // A root value too short for the fixed record, or data that ends before
  // it does, leaves no version: nothing is read beyond the resource.
  if (root->value_size >= kFixedFileInfoSize) {
    const unsigned char* version = data + root->value + kFileVersionOffset;
    resource.version = FormatFileVersion(Read32(version), Read32(version + 4));
  }
  resource.names = ProgramNames(data, *root);
  return resource;
}

VersionResource ReadVersionResource(const FileByteReader& file) {
  PeFile pe{file, {}};
  if (!ReadHeaders(pe)) return {};
  const auto data = VersionData(pe);
  std::vector<unsigned char> bytes;
  if (!data || data->second > kMaxVersionResourceSize ||
      !ReadAtAddress(pe, data->first, data->second, bytes)) {
    return {};
  }
  return ParseVersionResource(bytes.data(), bytes.size());
}
