// The version resource reader on arbitrary bytes, taken both as a whole PE
// file and as a version block.
//
// Whatever the bytes, nothing may be read outside them (the sanitizers
// watch the reads), and what comes out must be of the form the launcher
// relies on: no version or four numbers, and names that are each one of
// the two keys with a value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "version_resource.h"

namespace {

struct Buffer {
  const std::uint8_t* data;
  std::size_t size;
  int reads;
};

std::size_t ReadBuffer(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
  auto& file = *static_cast<Buffer*>(context);
  ++file.reads;
  if (offset >= file.size) return 0;
  const std::size_t count = std::min<std::size_t>(size, file.size - offset);
  std::memcpy(buffer, file.data + offset, count);
  return count;
}

bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
  return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

void CheckForm(const VersionResource& resource, std::size_t data_size) {
  if (!resource.version.empty()) {
    std::size_t dots = 0;
    for (char c : resource.version) {
      CHECK((c >= '0' && c <= '9') || c == '.');
      dots += c == '.';
    }
    CHECK(dots == 3);
  }
  std::size_t units = 0;
  for (const std::u16string& name : resource.names) {
    CHECK(StartsWith(name, u"InternalName=") || StartsWith(name, u"OriginalFilename="));
    CHECK(name.find(u'\0') == std::u16string::npos);
    units += name.size();
  }
  // Each table gives its names once: together no longer than the data,
  // which holds each value and each key beside it.
  CHECK(units * 2 <= data_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Copied, so that a read past the end of the block is a read past the
  // end of its own allocation.
  const std::vector<unsigned char> block(data, data + size);
  CheckForm(ParseVersionResource(block.data(), block.size()), size);

  Buffer file{data, size, 0};
  CheckForm(ReadVersionResource({ReadBuffer, &file}), kMaxVersionResourceSize);
  // The headers, the section table, three directory levels, the data entry
  // and the data, each read once, whatever offsets the file gives.
  CHECK(file.reads <= 12);
  return 0;
}
