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
  Block block;
  block.end = end;
  block.key = begin + kBlockHeaderSize;
  std::size_t at = block.key;
  for (;; at += 2) {
    if (at + 2 > end) return std::nullopt;
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

// Where the system takes the root's value, the fixed record, from: the key
// (UTF-16 from offset 6, or ANSI from offset 4) up to its terminator, then
// the next multiple of 4. Neither wLength, nor wValueLength, nor the key's
// text counts. Nothing without a terminator in the data.
std::optional<std::size_t> RecordOffset(const unsigned char* data, std::size_t size, bool wide) {
  const std::size_t unit = wide ? 2 : 1;
  for (std::size_t at = wide ? kBlockHeaderSize : 4; size - at >= unit; at += unit) {
    if (data[at] == 0 && (!wide || data[at + 1] == 0)) return AlignTo4(at + unit);
  }
  return std::nullopt;
}

// --- The PE file, as the loader maps it -----------------------------------

const std::uint16_t kDosSignature = 0x5A4D;       // "MZ"
const std::uint32_t kPeSignature = 0x00004550;    // "PE\0\0"
const std::uint16_t kPe32Magic = 0x10B;
const std::uint16_t kPe32PlusMagic = 0x20B;
const std::size_t kNewHeaderOffsetAt = 0x3C;      // e_lfanew in the DOS header
const std::size_t kFileHeaderSize = 24;           // the signature and IMAGE_FILE_HEADER
const std::size_t kResourceDirectoryIndex = 2;
const std::size_t kSectionHeaderSize = 40;
// The loader reads a section's data from its file offset rounded down to
// this, whatever the file's own alignment says.
const std::uint64_t kLoaderFileAlignment = 0x200;
// Sections aligned below a page cannot each be mapped on pages of their own.
const std::uint64_t kPageSize = 0x1000;
const std::size_t kDirectoryHeaderSize = 16;
const std::size_t kDirectoryEntrySize = 8;
const std::uint32_t kSubdirectoryFlag = 0x80000000;
const std::uint16_t kVersionResourceType = 16;  // RT_VERSION
const std::uint16_t kVersionResourceName = 1;   // VS_VERSION_INFO
const std::uint16_t kUsEnglish = 0x409;

// `value` rounded up to `alignment`, a power of two.
std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

// A part of the image: `size` bytes from `address` on, of which the first
// `raw_size` come from the file at `raw_offset` and the rest are zero.
struct Region {
  std::uint64_t address;
  std::uint64_t size;
  std::uint64_t raw_offset;
  std::uint64_t raw_size;
};

struct PeImage {
  const FileByteReader& file;
  std::vector<Region> regions;  // the headers, then each section, in address order
  std::uint64_t resources = 0;  // the resource directory's RVA
};

bool ReadExactly(const FileByteReader& file, std::uint64_t offset, std::size_t size,
                 std::vector<unsigned char>& bytes) {
  bytes.assign(size, 0);
  return size == 0 || file.read(file.context, offset, bytes.data(), size) == size;
}

// The region that holds `rva`, if any.
const Region* RegionAt(const PeImage& image, std::uint64_t rva) {
  const auto after = std::upper_bound(
      image.regions.begin(), image.regions.end(), rva,
      [](std::uint64_t address, const Region& region) { return address < region.address; });
  if (after == image.regions.begin()) return nullptr;
  const Region& region = *(after - 1);
  return rva - region.address < region.size ? &region : nullptr;
}

// Whether all `size` bytes at `rva` are in the image, across regions.
bool IsMapped(const PeImage& image, std::uint64_t rva, std::uint64_t size) {
  while (size > 0) {
    const Region* region = RegionAt(image, rva);
    if (!region) return false;
    const std::uint64_t here = std::min(size, region->address + region->size - rva);
    rva += here;
    size -= here;
  }
  return true;
}

// Reads the `size` bytes at `rva` as the mapped image holds them: from the
// file where a region has data there, zeros after it. False when any of
// them is outside the image or the file.
bool ReadAtAddress(const PeImage& image, std::uint64_t rva, std::size_t size,
                   std::vector<unsigned char>& bytes) {
  bytes.assign(size, 0);
  if (!IsMapped(image, rva, size)) return false;
  for (std::size_t done = 0; done < size;) {
    const Region& region = *RegionAt(image, rva + done);
    const std::uint64_t offset = rva + done - region.address;
    const std::size_t here =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - done, region.size - offset));
    if (offset < region.raw_size) {
      const std::size_t raw =
          static_cast<std::size_t>(std::min<std::uint64_t>(here, region.raw_size - offset));
      if (image.file.read(image.file.context, region.raw_offset + offset, &bytes[done], raw) !=
          raw) {
        return false;
      }
    }
    done += here;
  }
  return true;
}

// The headers and the section table, mapped as the loader maps them; false
// when the file is not a PE image with a resource directory, or its
// sections overlap or run out of address order, which the loader refuses.
//
// An image whose sections are aligned below a page is mapped flat: its
// first SizeOfImage bytes as the file holds them, every byte at the address
// equal to its offset. The loader takes that layout only when it is the
// file's own: the file aligned as the sections are, and each section's data
// at the offset equal to its address and at least as long as the section,
// as nothing after it is zeroed.
bool ReadHeaders(PeImage& image) {
  std::vector<unsigned char> bytes;
  if (!ReadExactly(image.file, 0, kNewHeaderOffsetAt + 4, bytes) ||
      Read16(&bytes[0]) != kDosSignature) {
    return false;
  }
  const std::uint64_t headers = Read32(&bytes[kNewHeaderOffsetAt]);
  if (!ReadExactly(image.file, headers, kFileHeaderSize, bytes) ||
      Read32(&bytes[0]) != kPeSignature) {
    return false;
  }
  const std::size_t section_count = Read16(&bytes[6]);
  const std::size_t optional_size = Read16(&bytes[20]);

  if (!ReadExactly(image.file, headers + kFileHeaderSize, optional_size, bytes) ||
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
  image.resources = Read32(&bytes[resource_entry]);
  // The loader maps sections at a power of two, and refuses anything else.
  const std::uint64_t section_alignment = Read32(&bytes[32]);
  if (section_alignment == 0 || (section_alignment & (section_alignment - 1)) != 0) return false;
  const bool flat = section_alignment < kPageSize;
  if (flat && Read32(&bytes[36]) != section_alignment) return false;
  const std::uint64_t image_size = Read32(&bytes[56]);
  const std::uint64_t headers_size = Read32(&bytes[60]);
  image.regions.push_back({0, AlignUp(headers_size, section_alignment), 0, headers_size});

  if (!ReadExactly(image.file, headers + kFileHeaderSize + optional_size,
                   section_count * kSectionHeaderSize, bytes)) {
    return false;
  }
  for (std::size_t i = 0; i < section_count; ++i) {
    const unsigned char* header = &bytes[i * kSectionHeaderSize];
    const std::uint64_t virtual_size = Read32(header + 8);
    const std::uint64_t raw_size = Read32(header + 16);
    const std::uint64_t raw_offset = Read32(header + 20);
    Region section{Read32(header + 12),
                   AlignUp(virtual_size ? virtual_size : raw_size, section_alignment),
                   raw_offset & ~(kLoaderFileAlignment - 1), 0};
    if (flat && (raw_offset != section.address || virtual_size > raw_size)) return false;
    section.raw_size = std::min(raw_size, section.size);
    // The sections are mapped over the end of the headers' pages, but never
    // over each other.
    Region& last = image.regions.back();
    if (image.regions.size() == 1 && section.address < last.size) {
      last.size = section.address;
      last.raw_size = std::min(last.raw_size, last.size);
    }
    if (section.address < last.address + last.size) return false;
    image.regions.push_back(section);
  }
  if (flat) image.regions = {{0, image_size, 0, image_size}};
  return true;
}

// The entries of the resource directory at `offset` from the start of the
// resources: each its id (or name) and its OffsetToData; the named ones
// come first, `named` of them.
struct Directory {
  std::vector<unsigned char> entries;
  std::size_t named = 0;
  std::size_t count() const { return entries.size() / kDirectoryEntrySize; }
  std::uint16_t id(std::size_t i) const { return Read16(&entries[i * kDirectoryEntrySize]); }
  std::uint32_t target(std::size_t i) const {
    return Read32(&entries[i * kDirectoryEntrySize + 4]);
  }
};

std::optional<Directory> ReadDirectory(const PeImage& image, std::uint32_t offset) {
  std::vector<unsigned char> header;
  const std::uint64_t at = image.resources + offset;
  if (!ReadAtAddress(image, at, kDirectoryHeaderSize, header)) return std::nullopt;
  Directory directory;
  directory.named = Read16(&header[12]);
  const std::size_t count = directory.named + Read16(&header[14]);
  if (!ReadAtAddress(image, at + kDirectoryHeaderSize, count * kDirectoryEntrySize,
                     directory.entries)) {
    return std::nullopt;
  }
  return directory;
}

bool IsSubdirectory(std::uint32_t target) { return (target & kSubdirectoryFlag) != 0; }

// The entry with the id `id`, found as the system finds it: by a binary
// search of the entries with ids, which are meant to be in ascending order.
// An entry of that id but of the other kind (a directory where data is
// wanted, or the other way round) means none.
std::optional<std::uint32_t> FindEntry(const Directory& directory, std::uint16_t id,
                                       bool subdirectory) {
  std::size_t low = directory.named;
  std::size_t high = directory.count();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    const std::uint16_t here = directory.id(middle);
    if (here == id) {
      const std::uint32_t target = directory.target(middle);
      if (IsSubdirectory(target) != subdirectory) return std::nullopt;
      return target & ~kSubdirectoryFlag;
    }
    if (here > id) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return std::nullopt;
}

// The language entry FindResource picks when asked for no language in
// particular: neutral, the user's interface language, its primary language,
// US English, and failing all of them the first entry that is data.
std::optional<std::uint32_t> FindLanguage(const Directory& directory,
                                          std::uint16_t user_language) {
  const std::uint16_t tried[] = {0, user_language,
                                 static_cast<std::uint16_t>(user_language & 0x3FF), kUsEnglish};
  for (std::uint16_t language : tried) {
    if (std::optional<std::uint32_t> entry = FindEntry(directory, language, false)) return entry;
  }
  for (std::size_t i = 0; i < directory.count(); ++i) {
    if (!IsSubdirectory(directory.target(i))) return directory.target(i);
  }
  return std::nullopt;
}

// The RVA and size of the data of the version resource (type 16, name 1),
// in the language FindResource picks. Each level is read once, so that no
// offset in the file can send the walk round in a circle.
std::optional<std::pair<std::uint32_t, std::uint32_t>> VersionData(const PeImage& image,
                                                                   std::uint16_t user_language) {
  const std::optional<Directory> types = ReadDirectory(image, 0);
  const std::optional<std::uint32_t> type =
      types ? FindEntry(*types, kVersionResourceType, true) : std::nullopt;
  const std::optional<Directory> names = type ? ReadDirectory(image, *type) : std::nullopt;
  const std::optional<std::uint32_t> name =
      names ? FindEntry(*names, kVersionResourceName, true) : std::nullopt;
  const std::optional<Directory> languages = name ? ReadDirectory(image, *name) : std::nullopt;
  const std::optional<std::uint32_t> language =
      languages ? FindLanguage(*languages, user_language) : std::nullopt;
  std::vector<unsigned char> data_entry;
  if (!language || !ReadAtAddress(image, image.resources + *language, 8, data_entry)) {
    return std::nullopt;
  }
  return std::pair{Read32(&data_entry[0]), Read32(&data_entry[4])};
}

}  // namespace

VersionResource ParseVersionResource(const unsigned char* data, std::size_t size) {
  VersionResource resource;
  if (size < kBlockHeaderSize) return resource;
  // The 16-bit layout has an ANSI key where the 32-bit one has its wType,
  // 0 or 1: a printable first character tells them apart.
  const bool wide = data[4] < 0x20;
  const std::optional<std::size_t> record = RecordOffset(data, size, wide);
  // The system writes its 4-byte "FE2X" mark after wLength bytes of its
  // copy; a version that would read it is none.
  const std::size_t mark = Read16(data);
  if (record && *record <= size && size - *record >= kFileVersionOffset + 8 &&
      (mark + 4 <= *record + kFileVersionOffset || mark >= *record + kFileVersionOffset + 8)) {
    const unsigned char* version = data + *record + kFileVersionOffset;
    resource.version = FormatFileVersion(Read32(version), Read32(version + 4));
  }
  // Names only from the 32-bit layout: only 16-bit Windows programs carry
  // the other, and their strings would need converting.
  const std::optional<Block> root =
      wide ? ReadBlock(data, 0, std::min<std::size_t>(Read16(data), size)) : std::nullopt;
  if (root) resource.names = ProgramNames(data, *root);
  return resource;
}

VersionResource ReadVersionResource(const FileByteReader& file, std::uint16_t user_language) {
  // Nothing when the file is no PE image, has no such resource, or its data
  // does not lie whole in the image, as the system copies all of it.
  PeImage image{file, {}};
  if (!ReadHeaders(image)) return {};
  const auto data = VersionData(image, user_language);
  std::vector<unsigned char> bytes;
  if (!data || !IsMapped(image, data->first, data->second) ||
      !ReadAtAddress(image, data->first,
                     std::min<std::size_t>(data->second, kMaxVersionResourceSize), bytes)) {
    return {};
  }
  return ParseVersionResource(bytes.data(), bytes.size());
}
