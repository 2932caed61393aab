#include "version.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

// Reads the component starting at `pos` up to the next "." or the end, and
// moves `pos` past that ".". Returns nothing once the text is used up.
std::optional<std::string> NextComponent(const std::string& text, std::size_t& pos) {
  if (pos >= text.size()) return std::nullopt;
  std::size_t dot = text.find('.', pos);
  if (dot == std::string::npos) dot = text.size();
  std::string component = text.substr(pos, dot - pos);
  pos = dot + 1;
  return component;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal conversion as strtol does it in the "C" locale (leading white space,
// optional sign, digits up to the first non-digit, the rest ignored), but into
// a 32-bit range whatever the width of long. Nothing when there is no digit or
// the value does not fit.
std::optional<std::int32_t> ParseComponent(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::int64_t limit = negative ? std::int64_t{INT32_MAX} + 1 : INT32_MAX;
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) return std::nullopt;
  }
  if (digits == 0) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -value : value);
}

std::optional<std::int32_t> ComponentValue(const std::optional<std::string>& component) {
  if (!component) return 0;  // the text ran out: "1.0.3" is "1.0.3.0"
  return ParseComponent(*component);
}

}  // namespace

VersionString FormatFileVersion(std::uint32_t ms, std::uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

int CompareVersion(const VersionString& a, const VersionString& b) {
  std::size_t pos_a = 0;
  std::size_t pos_b = 0;
  for (int pass = 0; pass < 4; ++pass) {
    std::optional<std::string> component_a = NextComponent(a, pos_a);
    std::optional<std::string> component_b = NextComponent(b, pos_b);
    std::optional<std::int32_t> value_a = ComponentValue(component_a);
    if (!value_a) return 0;
    std::optional<std::int32_t> value_b = ComponentValue(component_b);
    if (!value_b) return 0;
    if (*value_a < *value_b) return -1;
    if (*value_a > *value_b) return 1;
  }
  return 0;
}
