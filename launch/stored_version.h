// The newest downloaded version, as the game records it in its settings file.
#pragma once

#include <cstddef>
#include <string>

#include "host_services.h"

// What the launcher reads of a settings file before giving up on it. The
// parser's time and memory grow with what a file holds, not only with its
// size, so besides the size there is a limit on each kind of content that
// costs it more than its bytes; a file past any of them is not read. Each
// limit lets an accepted file of its worst shape read in well under a second
// under Wine (see BENCHMARKS.md), and none comes near what the game writes:
// one element per key, no attributes, a few hundred keys.

// Larger files are not read. 16 MiB of plain text, or of settings as the
// game writes them, read in a quarter of a second at most under Wine; the
// other limits decide for files dense with markup.
const std::size_t kMaxSettingsBytes = 16u << 20;

// Tags, attributes, comments, CDATA sections, processing instructions and
// declarations in all. The parser builds a node for each (and one for each
// text between them) before the launcher looks at its one key, and a node
// costs it up to a microsecond under Wine and some 120 bytes, whatever its
// size: 16 MiB of `<k>v</k>` is 1.9 million elements, several seconds and
// 450 MiB. The game's own keys are a few dozen bytes each, so a 4 MiB
// settings file of them stays well below this.
const std::size_t kMaxSettingsMarkup = 256u << 10;

// Attributes on one element, end tags included: the parser reads an end
// tag's attributes as a start tag's. It checks each new attribute against all
// the earlier ones of its element, so n attributes cost it n * n / 2 name
// comparisons: 100,000 on one element take half a minute.
const std::size_t kMaxAttributesPerElement = 64;

// Bytes of attribute names the parser may compare, in all, while it checks
// each attribute against the earlier ones of its element: for the k-th
// attribute, k - 1 times the bytes between the previous attribute's value and
// its own (its name, the '=' and any white space), which a comparison never
// reads past. Names that share a long prefix cost their length at each
// comparison: 64 attributes of 256 KiB names took over a second under Wine.
const std::size_t kMaxAttributeNameComparisonBytes = 64u << 20;

// Bytes the parser searches, in all, for the ';' closing each character
// reference ("&#...") in a text or attribute value it may decode: it looks
// from the "&#" up to the next ';' or the end of that text or value, so a long
// one of "&#" without ';' costs it the square of its length. A reference the
// game writes is a few bytes.
const std::size_t kMaxReferenceSearchBytes = 64u << 20;

// The longest stored version that can name a download folder. The folder is
// "win32_app_" and the version, and no Windows path component is longer than
// 255 UTF-16 units. The game's versions are digits and dots, a byte and a
// unit each, so a version of more than 255 - 10 bytes names no folder the game
// can make. Refusing it keeps the comparison, the trace and the paths after
// the parse to a few hundred bytes, where 16 MiB of text cost them seconds.
const std::size_t kMaxStoredVersionBytes = 255 - 10;

// What the settings file records, or why it records nothing usable.
struct StoredRecord {
  VersionString version;  // empty when there is none
  std::string why_none;   // for the trace: why there is none; empty otherwise
};

// The text of the first "win32_app_new_version" element directly under the
// root of "UserDefault.xml" in the current working directory, exactly as the
// XML parser decodes it. Empty when the file, the element or its text is
// missing, the file is past one of the limits above, it cannot be parsed, or
// the text is longer than kMaxStoredVersionBytes.
StoredRecord ReadStoredVersion();
