// The resource reader on arbitrary bytes, taken as a whole PE file (for a
// user of the language its last two bytes name; the seeds hold images of
// both layouts the loader maps, page-aligned and flat) and as a version
// block. Whatever the bytes, nothing may be read outside them (the
// sanitizers watch), no more is asked of the file than the largest headers,
// section table, three directory levels and data can take, and what comes
// out has the form the launcher relies on.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "version_resource.h"

namespace {

struct Buffer {
  const std::uint8_t* data;
  std::size_t size;
  std::uint64_t asked;
};

// The file header and 65,535 bytes of optional header; 65,535 section
// headers; three directories of 131,070 entries; a data entry and the data.
const std::uint64_t kMostAsked =
    0x40 + 24 + 0xFFFF + 0xFFFF * 40 + 3 * (16 + 131070 * 8) + 8 + kMaxVersionResourceSize;

std::size_t ReadBuffer(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
  auto& file = *static_cast<Buffer*>(context);
  file.asked += size;
  if (offset >= file.size) return 0;
  const std::size_t count = std::min<std::size_t>(size, file.size - offset);
  std::memcpy(buffer, file.data + offset, count);
  return count;
}

// No version or four numbers; each name one of the two keys with a value,
// all of them together no longer than the data that holds them.
void CheckForm(const VersionResource& resource, std::size_t data_size) {
  CHECK(resource.version.empty() ||
        resource.version.find_first_not_of("0123456789.") == std::string::npos);
  // In UTF-8 a name takes at most three bytes for each UTF-16 unit of its
  // value, and one for each of its key's.
  std::size_t bytes = 0;
  for (const std::string& name : resource.names) {
    CHECK(name.rfind("InternalName=", 0) == 0 || name.rfind("OriginalFilename=", 0) == 0);
    CHECK(name.find('\0') == std::string::npos);
    bytes += name.size();
  }
  CHECK(bytes * 2 <= data_size * 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy, so that a read past the block is one past its allocation.
  const std::vector<unsigned char> block(data, data + size);
  CheckForm(ParseVersionResource(block.data(), block.size()), size);

  Buffer file{data, size, 0};
  const std::uint16_t user_language =
      size >= 2 ? static_cast<std::uint16_t>(data[size - 2] | data[size - 1] << 8) : 0x409;
  CheckForm(ReadVersionResource({ReadBuffer, &file}, user_language), kMaxVersionResourceSize);
  CHECK(file.asked <= kMostAsked);
  return 0;
}
