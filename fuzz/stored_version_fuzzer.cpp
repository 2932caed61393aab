// ReadStoredVersion on arbitrary settings files: the input is written as
// "UserDefault.xml" and read back by the real lookup and the real tinyxml2.
//
// The game writes that file, but players edit it, disks truncate it and other
// tools rewrite it, so any bytes at all must leave the launcher standing. What
// comes back can only be the decoded text of the key, so only a file naming
// the key yields anything, and the tags around the text take up room too.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stored_version.h"
#include "fuzz_check.h"

namespace {

const char kKey[] = "win32_app_new_version";

// The lookup reads from the working directory, so each run steps into a
// private scratch directory and back out again. Staying there for good would
// break libFuzzer's relative corpus and artifact paths, which it opens after
// initialisation.
std::string scratch_directory;
std::string settings_path;
int scratch_fd = -1;
int original_fd = -1;

void RemoveScratch() {
  std::remove(settings_path.c_str());
  rmdir(scratch_directory.c_str());
}

void Fail(const char* what) {
  std::perror(what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelterin-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) Fail("mkdtemp");
  scratch_directory = pattern;
  settings_path = scratch_directory + "/UserDefault.xml";
  scratch_fd = open(scratch_directory.c_str(), O_RDONLY | O_DIRECTORY);
  original_fd = open(".", O_RDONLY | O_DIRECTORY);
  if (scratch_fd < 0 || original_fd < 0) Fail("open");
  std::atexit(RemoveScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(settings_path.c_str(), "wb");
  if (!file) Fail("fopen");
  if (size && std::fwrite(data, 1, size, file) != size) Fail("fwrite");
  if (std::fclose(file) != 0) Fail("fclose");

  if (fchdir(scratch_fd) != 0) Fail("fchdir");
  const StoredRecord stored = ReadStoredVersion();
  const VersionString& version = stored.version;
  if (fchdir(original_fd) != 0) Fail("fchdir");

  // Every lookup says why it found nothing, and only then.
  CHECK(version.empty() != stored.why_none.empty());
  if (!version.empty()) {
    // Decoding (entities, character references, line-end folding) only ever
    // shrinks the text, and it sits inside the key inside the root element,
    // whose shortest tags are "<r><win32_app_new_version>" and
    // "</win32_app_new_version></r>".
    const std::size_t shortest_tags = 2 * (sizeof kKey - 1) + 12;
    CHECK(version.size() + shortest_tags <= size);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CHECK(bytes.find(kKey) != std::string::npos);
  }
  return 0;
}
