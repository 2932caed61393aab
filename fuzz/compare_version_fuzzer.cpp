// CompareVersion on arbitrary texts, and on texts made by FormatFileVersion.
//
// Input: two texts, each ended by a backslash and one more byte (a doubled
// backslash stands for one), then up to 16 bytes read from the end for two
// numeric file versions (ms, ls); whatever is missing counts as 0.
//
// Whatever the texts hold, the comparison must be a usable ordering answer:
// one of -1, 0 and 1, zero for a text against itself, and the opposite answer
// when the two sides swap, so "a is newer than b" never also means "b is
// newer than a". Versions read from executables must order exactly as their
// numbers do.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "version.h"
#include "fuzz_check.h"

namespace {

int NumericOrder(std::uint32_t ms_a, std::uint32_t ls_a, std::uint32_t ms_b, std::uint32_t ls_b) {
  const std::uint64_t a = (std::uint64_t{ms_a} << 32) | ls_a;
  const std::uint64_t b = (std::uint64_t{ms_b} << 32) | ls_b;
  return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const VersionString text_a = input.ConsumeRandomLengthString();
  const VersionString text_b = input.ConsumeRandomLengthString();
  const std::uint32_t ms_a = input.ConsumeIntegral<std::uint32_t>();
  const std::uint32_t ls_a = input.ConsumeIntegral<std::uint32_t>();
  const std::uint32_t ms_b = input.ConsumeIntegral<std::uint32_t>();
  const std::uint32_t ls_b = input.ConsumeIntegral<std::uint32_t>();

  const VersionString file_a = FormatFileVersion(ms_a, ls_a);
  const VersionString file_b = FormatFileVersion(ms_b, ls_b);

  // Every pair, free texts and formatted ones mixed, both ways round.
  const VersionString* const texts[] = {&text_a, &text_b, &file_a, &file_b};
  for (const VersionString* x : texts) {
    CHECK(CompareVersion(*x, *x) == 0);
    for (const VersionString* y : texts) {
      const int forward = CompareVersion(*x, *y);
      CHECK(forward == -1 || forward == 0 || forward == 1);
      CHECK(CompareVersion(*y, *x) == -forward);
    }
  }

  CHECK(CompareVersion(file_a, file_b) == NumericOrder(ms_a, ls_a, ms_b, ls_b));
  return 0;
}
