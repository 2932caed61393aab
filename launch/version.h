// Version texts: formatting an executable's numeric file version and ordering
// two version texts.
#pragma once

#include <cstdint>

#include "host_services.h"

// "a.b.c.d" from the two 32-bit halves of a file version: the high and low
// 16 bits of `ms`, then of `ls`, in plain decimal.
VersionString FormatFileVersion(std::uint32_t ms, std::uint32_t ls);

// Compares the first four dot-separated components numerically. Returns -1
// when `a` is older than `b`, 0 when equal, +1 when newer. A component missing
// because the text ran out counts as 0. A component that must be compared but
// is not a number (or does not fit in 32 signed bits) makes the result 0, so a
// malformed text is never taken as newer.
int CompareVersion(const VersionString& a, const VersionString& b);
