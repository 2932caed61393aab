// The one rule for writing a launcher path as Windows writes paths. Both the
// decision (in what it shows and traces) and the host (in what it hands to
// Windows) use it, so that the two never disagree on a path's form.
#pragma once

#include <algorithm>
#include <string>

// `path` with backslashes for its separators.
inline std::string InWindowsForm(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}
