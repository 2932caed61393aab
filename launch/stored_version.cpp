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

// The bytes the parser searches for the ';' that closes each character
// reference ("&#") of a text or attribute value, from the "&#" to the next ';'
// or the end of that text: summed at each end, for all the references it ends
// at once.
class ReferenceSearch {
 public:
  void Reference(std::size_t at) {
    ++open_;
    open_offsets_ += at;
  }
  void End(std::size_t at) {
    bytes_ += open_ * at - open_offsets_;
    open_ = open_offsets_ = 0;
  }
  std::uint64_t bytes() const { return bytes_; }

 private:
  std::uint64_t open_ = 0;
  std::uint64_t open_offsets_ = 0;
  std::uint64_t bytes_ = 0;
};

// Where the text from `from` on reaches `end` (or its own end), having fed
// its references to `search` and ended them there.
std::size_t PastReferences(std::string_view text, std::size_t from, char end,
                           ReferenceSearch* search) {
  std::size_t i = from;
  while (i < text.size() && text[i] != end) {
    if (text.compare(i, 2, "&#") == 0) {
      search->Reference(i);
      i += 2;
      continue;
    }
    if (text[i] == ';') search->End(i);
    ++i;
  }
  search->End(i);
  return i;
}

std::string NotRead(const std::string& why) {
  return "UserDefault.xml " + why + ", so it is not read";
}

// Why the parser would spend far more than the file's size on `text`, in one
// pass over it: the markup it makes nodes of, the attributes on one element
// and the name bytes it compares to tell them apart, and the bytes it
// searches for the ends of character references. Comments, CDATA, processing
// instructions and quoted attribute values are skipped as the parser skips
// them, so that a '<' inside them counts for nothing. Empty when the file is
// within every limit.
std::string WhyTooCostlyToParse(std::string_view text) {
  std::size_t markup = 0;
  std::uint64_t name_comparison = 0;
  ReferenceSearch references;
  std::size_t i = 0;
  for (;;) {
    i = PastReferences(text, i, '<', &references);
    if (references.bytes() > kMaxReferenceSearchBytes) {
      return NotRead("has character references (&#) whose ends are more than " +
                     std::to_string(kMaxReferenceSearchBytes >> 20) + " MiB to search for");
    }
    if (i >= text.size()) return {};  // past it after a value without its closing quote
    const std::string_view rest = text.substr(i);
    std::size_t nodes = 1;
    if (rest.compare(0, 4, "<!--") == 0) {
      i = PastNext(text, i + 4, "-->");
    } else if (rest.compare(0, 9, "<![CDATA[") == 0) {
      i = PastNext(text, i + 9, "]]>");
    } else if (rest.compare(0, 2, "<?") == 0) {
      i = PastNext(text, i + 2, "?>");
    } else if (rest.compare(0, 2, "<!") == 0) {
      i = PastNext(text, i + 2, ">");
    } else {
      // A start or end tag (an end tag makes no node of its own, but its
      // attributes count as a start tag's). Every attribute value is quoted,
      // so each quoted run is one attribute, and a '>' inside it does not end
      // the tag. Its name lies between the previous value and its own.
      nodes = rest.compare(0, 2, "</") == 0 ? 0 : 1;
      std::size_t attributes = 0;
      std::size_t after_value = i;
      for (++i; i < text.size() && text[i] != '>'; ++i) {
        const char quote = text[i];
        if (quote != '"' && quote != '\'') continue;
        if (++attributes > kMaxAttributesPerElement) {
          return NotRead("has an element with more than " +
                         std::to_string(kMaxAttributesPerElement) + " attributes");
        }
        name_comparison += (attributes - 1) * std::uint64_t{i - after_value};
        i = PastReferences(text, i + 1, quote, &references);
        after_value = i;
      }
      if (name_comparison > kMaxAttributeNameComparisonBytes) {
        return NotRead("has attributes whose names take more than " +
                       std::to_string(kMaxAttributeNameComparisonBytes >> 20) +
                       " MiB of comparisons to tell apart");
      }
      nodes += attributes;
      ++i;
    }
    markup += nodes;
    if (markup > kMaxSettingsMarkup) {
      return NotRead("holds more than " + std::to_string(kMaxSettingsMarkup) +
                     " tags, attributes and other markup");
    }
  }
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
    return {{}, NotRead("is larger than " + std::to_string(kMaxSettingsBytes >> 20) + " MiB")};
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
  if (std::strlen(node->Value()) > kMaxStoredVersionBytes) {
    return {{}, "win32_app_new_version holds more than " +
                    std::to_string(kMaxStoredVersionBytes) +
                    " bytes, more than a download folder's name can hold"};
  }
  return {node->Value(), {}};
}
