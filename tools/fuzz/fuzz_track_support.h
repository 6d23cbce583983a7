// Shared by the track file fuzzers: the input becomes an open file of the file system, read
// from memory, as the game reads a track's files.
#pragma once

#include <cstdint>
#include <cstdio>

#include "files/vfs_file.h"

// Null for empty input (a memory stream needs at least one byte), as for a missing file.
inline VfsFile* fuzz_open(const uint8_t* data, size_t size) {
  if (size == 0) return nullptr;
  FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  return stream ? vfs_open_stream(stream, 0, VFS_LENGTH_MAX, 0, 0) : nullptr;
}
