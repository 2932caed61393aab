#include "stored_version.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

// Written by the game; the launcher only reads it.
static const char kSettingsFile[] = "UserDefault.xml";
static const char kNewVersionKey[] = "win32_app_new_version";

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Up to `limit` bytes of the open file, read to its end. The buffer grows
// with what is actually read rather than with a size asked of the file
// system, which the game may change while it is read. False on a read error.
bool ReadUpTo(std::FILE* file, std::size_t limit, std::string* bytes) {
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes->size()) {
      if (filled == limit) break;
      bytes->resize(std::min(limit, std::max<std::size_t>(64u << 10, 2 * filled)));
    }
    const std::size_t read = std::fread(&(*bytes)[filled], 1, bytes->size() - filled, file);
    if (read == 0) break;
    filled += read;
  }
  bytes->resize(filled);
  return !std::ferror(file);
}

// Where the text from `from` on first holds `end`, just past it; the end of
// the text when it never does (the parser then fails on it).
std::size_t PastNext(std::string_view text, std::size_t from, std::string_view end) {
  const std::size_t at = text.find(end, std::min(from, text.size()));
  return at == std::string_view::npos ? text.size() : at + end.size();
}

// Why the parser would spend far more than the file's size on `text`, in one
// pass over it: the markup it makes nodes of, the attributes on one element,
// and the bytes it searches for the ends of character references. Comments,
// CDATA, processing instructions and quoted attribute values are skipped as
// the parser skips them, so that a '<' or '&' inside them counts for nothing.
// Empty when the file is within every limit.
std::string WhyTooCostlyToParse(std::string_view text) {
  std::size_t markup = 0;
  // The character references of the text since the last markup or ';': how
  // many, and the sum of their offsets, so that their searches, which all
  // end at the next ';' or markup, add up in one step.
  std::uint64_t references = 0;
  std::uint64_t reference_offsets = 0;
  std::uint64_t reference_search = 0;
  const auto end_references = [&](std::size_t at) {
    reference_search += references * at - reference_offsets;
    references = reference_offsets = 0;
  };

  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '&' && i + 1 < text.size() && text[i + 1] == '#') {
      ++references;
      reference_offsets += i;
      i += 2;
      continue;
    }
    if (c == ';') end_references(i);
    if (c != '<') {
      ++i;
      continue;
    }
    end_references(i);
    if (reference_search > kMaxReferenceSearchBytes) break;
    const std::string_view rest = text.substr(i);
    if (rest.compare(0, 4, "<!--") == 0) {
      i = PastNext(text, i + 4, "-->");
    } else if (rest.compare(0, 9, "<![CDATA[") == 0) {
      i = PastNext(text, i + 9, "]]>");
    } else if (rest.compare(0, 2, "<?") == 0) {
      i = PastNext(text, i + 2, "?>");
    } else if (rest.compare(0, 2, "<!") == 0 || rest.compare(0, 2, "</") == 0) {
      i = PastNext(text, i + 2, ">");
      if (rest[1] == '/') continue;  // an end tag adds no node
    } else {
      // A start tag: every attribute value is quoted, so each quoted run is
      // one attribute, and a '>' inside one does not end the tag.
      std::size_t attributes = 0;
      for (++i; i < text.size() && text[i] != '>'; ++i) {
        if (text[i] != '"' && text[i] != '\'') continue;
        if (++attributes > kMaxAttributesPerElement) {
          return "UserDefault.xml has an element with more than " +
                 std::to_string(kMaxAttributesPerElement) + " attributes, so it is not read";
        }
        const std::size_t close = text.find(text[i], i + 1);
        i = close == std::string_view::npos ? text.size() : close;
      }
      markup += attributes;
      ++i;
    }
    if (++markup > kMaxSettingsMarkup) {
      return "UserDefault.xml holds more than " + std::to_string(kMaxSettingsMarkup) +
             " tags, attributes and other markup, so it is not read";
    }
  }
  end_references(text.size());
  if (reference_search > kMaxReferenceSearchBytes) {
    return "UserDefault.xml has character references (&#) whose ends are more than " +
           std::to_string(kMaxReferenceSearchBytes >> 20) +
           " MiB to search for, so it is not read";
  }
  return {};
}

}  // namespace

StoredRecord ReadStoredVersion() {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(kSettingsFile, "rb"));
  if (!file) {
    return {{}, errno == ENOENT ? "no UserDefault.xml in the working directory"
                                : "UserDefault.xml in the working directory cannot be opened"};
  }
  // One byte more than the limit tells a file that is larger.
  std::string bytes;
  if (!ReadUpTo(file.get(), kMaxSettingsBytes + 1, &bytes)) {
    return {{}, "UserDefault.xml in the working directory cannot be read"};
  }
  if (bytes.size() > kMaxSettingsBytes) {
    return {{}, "UserDefault.xml is larger than " + std::to_string(kMaxSettingsBytes >> 20) +
                    " MiB, so it is not read"};
  }
  // The parser stops at the first NUL, so what follows one costs it nothing.
  const std::string_view text(bytes.data(), std::strlen(bytes.c_str()));
  std::string too_costly = WhyTooCostlyToParse(text);
  if (!too_costly.empty()) return {{}, std::move(too_costly)};

  tinyxml2::XMLDocument document;
  document.Parse(text.data(), text.size());
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
