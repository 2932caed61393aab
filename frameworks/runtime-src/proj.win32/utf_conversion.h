// Conversions between the launcher's 8-bit texts, which are UTF-8, and the
// UTF-16 that Windows takes.
#pragma once

#include <string>

std::wstring UTF8ToWide(const std::string& utf8);
std::string WideToUTF8(const std::wstring& wide);
