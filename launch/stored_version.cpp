#include "stored_version.h"

#include <tinyxml2.h>

#include <cerrno>
#include <cstdio>
#include <memory>

// Written by the game; the launcher only reads it.
static const char kSettingsFile[] = "UserDefault.xml";
static const char kNewVersionKey[] = "win32_app_new_version";

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Whether the open file holds more than `limit` bytes: there is a byte just
// past it. Asked of the very file that is then parsed, so that it cannot be
// swapped for a larger one in between, and without a file-size type that a
// file of several gigabytes could overflow.
bool IsLongerThan(std::FILE* file, long limit) {
  return std::fseek(file, limit, SEEK_SET) == 0 && std::fgetc(file) != EOF;
}

}  // namespace

StoredRecord ReadStoredVersion() {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(kSettingsFile, "rb"));
  if (!file) {
    return {{}, errno == ENOENT ? "no UserDefault.xml in the working directory"
                                : "UserDefault.xml in the working directory cannot be opened"};
  }
  if (IsLongerThan(file.get(), kMaxSettingsBytes)) {
    return {{}, "UserDefault.xml is larger than " + std::to_string(kMaxSettingsBytes >> 20) +
                    " MiB, so it is not read"};
  }
  tinyxml2::XMLDocument document;
  document.LoadFile(file.get());
  if (document.Error()) {
    return {{}, std::string("UserDefault.xml cannot be parsed (") + document.ErrorName() +
                    " at line " + std::to_string(document.ErrorLineNum()) + ")"};
  }

  const tinyxml2::XMLElement* root = document.FirstChildElement();
  const tinyxml2::XMLElement* key = root ? root->FirstChildElement(kNewVersionKey) : nullptr;
  if (!key) return {{}, "UserDefault.xml has no win32_app_new_version under its root"};

  // What GetText returns, except that comments ahead of the text are skipped
  // whichever tinyxml2 release this is built with.
  const tinyxml2::XMLNode* node = key->FirstChild();
  while (node && node->ToComment()) node = node->NextSibling();
  if (!node || !node->ToText() || !*node->Value()) {
    return {{}, "win32_app_new_version holds no text"};
  }
  return {node->Value(), {}};
}
