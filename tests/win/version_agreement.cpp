// Holds the launcher's version resource reader against the system's own
// version functions, file by file: every file in the folders and every
// file named on the command line is read both ways, and the two must give
// the same version and the same names. With no arguments, the system folder;
// with --wow64, the one where a 64-bit system keeps its 32-bit programs.
//
//   version_agreement [FOLDER | FILE]... | --wow64
//
// Only PE images, as every game is, are compared. The system reads a 16-bit
// (NE) program's version too, though 64-bit Windows cannot start one: the
// launcher must read none from a file that is no PE image, and such files
// are counted apart.
//
// Prints each disagreement, then "agreement on PLACES: N files; P PE images
// compared, M with a version, D disagree; K not PE images left out, J of them
// with a version". Exits 1 on any disagreement, or when no PE image with a
// version was compared, which would prove nothing. --wow64 where there is no
// such folder, or no file in it, is skipped (exit 77). A file whose reading
// by the system faults ends the run there, named.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "utf_conversion.h"
#include "version.h"
#include "version_resource.h"

namespace fs = std::filesystem;

namespace {

struct Reading {
  std::string version;
  std::vector<std::string> names;
  bool operator==(const Reading& other) const {
    return version == other.version && names == other.names;
  }
};

std::string Describe(const Reading& reading) {
  std::string text = reading.version.empty() ? "(none)" : reading.version;
  for (const std::string& name : reading.names) text += " " + name;
  return text;
}

// The Ex functions, by name: the 32-bit MinGW-w64 import library lacks them.
using GetSizeFunction = DWORD(WINAPI*)(DWORD, LPCWSTR, LPDWORD);
using GetInfoFunction = BOOL(WINAPI*)(DWORD, LPCWSTR, DWORD, DWORD, LPVOID);
const HMODULE g_version = LoadLibraryW(L"version.dll");
const auto g_get_size = reinterpret_cast<GetSizeFunction>(
    reinterpret_cast<void*>(GetProcAddress(g_version, "GetFileVersionInfoSizeExW")));
const auto g_get_info = reinterpret_cast<GetInfoFunction>(
    reinterpret_cast<void*>(GetProcAddress(g_version, "GetFileVersionInfoExW")));

// The file's version resource as the system reads it with `flags`.
Reading ReadBySystem(const std::wstring& path, DWORD flags) {
  Reading reading;
  DWORD ignored = 0;
  const DWORD size = g_get_size(flags, path.c_str(), &ignored);
  if (size == 0) return reading;
  std::vector<unsigned char> block(size);
  if (!g_get_info(flags, path.c_str(), 0, size, block.data())) {
    return reading;
  }
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && value) {
    const auto* record = static_cast<const VS_FIXEDFILEINFO*>(value);
    reading.version = FormatFileVersion(record->dwFileVersionMS, record->dwFileVersionLS);
  }
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
    return reading;
  }
  // Each language's table once, in the order the list gives them.
  std::vector<DWORD> languages;
  const auto* pairs = static_cast<const WORD*>(value);
  for (UINT at = 0; at + 4 <= length; at += 4) {
    const WORD language = pairs[at / 2];
    const WORD code_page = pairs[at / 2 + 1];
    const DWORD table_id = static_cast<DWORD>(language) << 16 | code_page;
    if (std::find(languages.begin(), languages.end(), table_id) != languages.end()) continue;
    languages.push_back(table_id);
    wchar_t table[32];
    swprintf(table, 32, L"\\StringFileInfo\\%04x%04x\\", language, code_page);
    for (const char* key : {"InternalName", "OriginalFilename"}) {
      const std::wstring query = table + UTF8ToWide(key);
      void* text = nullptr;
      UINT units = 0;
      if (VerQueryValueW(block.data(), query.c_str(), &text, &units) && units > 0 && text) {
        const std::string name = WideToUTF8(static_cast<const wchar_t*>(text));
        if (!name.empty()) reading.names.push_back(key + ("=" + name));
      }
    }
  }
  return reading;
}

std::size_t ReadFileBytes(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
  OVERLAPPED position = {};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (size > MAXDWORD || !ReadFile(static_cast<HANDLE>(context), buffer,
                                   static_cast<DWORD>(size), &read, &position)) {
    return 0;
  }
  return read;
}

// Whether the file is a PE image: "MZ", and "PE\0\0" where e_lfanew points.
// A 16-bit program has "NE" or "LE" there, a DOS program nothing.
bool IsPeImage(const FileByteReader& file) {
  unsigned char dos[64];
  char signature[4];
  if (file.read(file.context, 0, dos, sizeof dos) != sizeof dos || dos[0] != 'M' ||
      dos[1] != 'Z') {
    return false;
  }
  const std::uint32_t headers = dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16 |
                                static_cast<std::uint32_t>(dos[0x3F]) << 24;
  return file.read(file.context, headers, signature, 4) == 4 &&
         std::memcmp(signature, "PE\0\0", 4) == 0;
}

// The launcher's reading; `pe_image` is false only for a file read and found
// to be no PE image.
Reading ReadByLauncher(const std::wstring& path, bool& pe_image) {
  pe_image = true;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  pe_image = IsPeImage({ReadFileBytes, file});
  const VersionResource resource =
      ReadVersionResource({ReadFileBytes, file}, GetUserDefaultUILanguage());
  CloseHandle(file);
  return {resource.version, resource.names};
}

const wchar_t* g_reading = nullptr;

LONG WINAPI NameTheFaultingFile(EXCEPTION_POINTERS*) {
  if (g_reading) {
    std::printf("the system's version functions fault on %s\n", WideToUTF8(g_reading).c_str());
  }
  std::fflush(stdout);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

const int kSkipped = 77;  // the tests' SKIP_RETURN_CODE

int wmain(int argc, wchar_t** argv) {
  std::vector<fs::path> files;
  std::vector<fs::path> places(argv + 1, argv + argc);
  const bool wow64 = places.size() == 1 && places[0] == L"--wow64";
  // System files may keep their strings in a MUI satellite, which a game
  // has none of: for them only the file itself is asked. A game's version
  // is read as GetFileVersionInfo reads it.
  const DWORD flags = places.empty() || wow64 ? FILE_VER_GET_NEUTRAL : FILE_VER_GET_LOCALISED;
  if (places.empty() || wow64) {
    // The WOW64 folder is listed as it is, by a 32-bit process too: only
    // System32 is redirected. A 32-bit system has none.
    wchar_t system[MAX_PATH] = {};
    const auto get = wow64 ? GetSystemWow64DirectoryW : GetSystemDirectoryW;
    places.clear();
    if (get(system, MAX_PATH)) places.push_back(system);
  }
  std::string where;
  for (const fs::path& place : places) {
    std::error_code error;
    where += (where.empty() ? "" : " ") + WideToUTF8(fs::absolute(place, error).wstring());
    if (fs::is_regular_file(place, error)) files.push_back(place);
    for (const auto& entry : fs::directory_iterator(place, error)) {
      if (entry.is_regular_file(error)) files.push_back(entry.path());
    }
  }
  if (wow64 && files.empty()) {
    std::printf("agreement on the WOW64 system folder: skipped, %s\n",
                where.empty() ? "this system has none" : (where + " holds no file").c_str());
    return kSkipped;
  }
  std::sort(files.begin(), files.end());
  SetUnhandledExceptionFilter(NameTheFaultingFile);
  int versions = 0;
  int disagreements = 0;
  int left_out = 0;
  int left_out_versions = 0;
  for (const fs::path& file : files) {
    g_reading = file.c_str();
    const Reading system = ReadBySystem(file.wstring(), flags);
    g_reading = nullptr;
    bool pe_image;
    const Reading launcher = ReadByLauncher(file.wstring(), pe_image);
    if (!pe_image) {
      ++left_out;
      if (!system.version.empty()) ++left_out_versions;
    } else if (!system.version.empty()) {
      ++versions;
    }
    if (launcher == (pe_image ? system : Reading{})) continue;
    ++disagreements;
    std::printf("%s\n  system:   %s\n  launcher: %s\n", WideToUTF8(file.wstring()).c_str(),
                pe_image ? Describe(system).c_str() : "(none: no PE image)",
                Describe(launcher).c_str());
  }
  std::printf(
      "agreement on %s: %zu files; %zu PE images compared, %d with a version, %d disagree; "
      "%d not PE images left out, %d of them with a version\n",
      where.c_str(), files.size(), files.size() - left_out, versions, disagreements, left_out,
      left_out_versions);
  if (versions == 0) std::printf("no PE image with a version compared: that proves nothing\n");
  return disagreements == 0 && versions > 0 ? 0 : 1;
}
