// Reading an executable's version resource as the system's own functions
// find it: from a PE file through bounded reads of the few parts that lead
// to it, or from a block already in memory. Every offset and length in the
// file is checked against what was actually read, so that no file, however
// damaged, is read past its data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host_services.h"

// Reads up to `size` bytes at `offset` of a file into `buffer`. Returns how
// many it read: fewer at the end of the file or on an error.
using ReadFileBytesFunction = std::size_t (*)(void* context, std::uint64_t offset, void* buffer,
                                              std::size_t size);

struct FileByteReader {
  ReadFileBytesFunction read;
  void* context;
};

// What a version resource tells about its program.
struct VersionResource {
  // FormatFileVersion of the fixed record's file version, read where the
  // system's own functions read it; empty when the data ends before it.
  VersionString version;
  // "InternalName=<value>" and "OriginalFilename=<value>", in UTF-8, from
  // the string table of each language the Translation value lists, in that
  // order, each table at most once. Empty values are left out.
  std::vector<std::string> names;
};

// The longest version resource there can be: its length is a 16-bit field.
const std::size_t kMaxVersionResourceSize = 0xFFFF;

// The version resource of a PE file (32- or 64-bit) as the system's version
// functions find it: in the file mapped as the loader maps it, resource
// type 16, name 1, in the language FindResource picks for a user whose
// interface language is `user_language` (a LANGID). Its data must lie
// whole in the image; at most kMaxVersionResourceSize bytes of it are read.
// Anything else gives an empty result.
VersionResource ReadVersionResource(const FileByteReader& file, std::uint16_t user_language);

// The version resource in the `size` bytes at `data`, a VS_VERSIONINFO block:
// the version in either layout, the names in the 32-bit one only. No length
// in the block takes a read past `size`.
VersionResource ParseVersionResource(const unsigned char* data, std::size_t size);
