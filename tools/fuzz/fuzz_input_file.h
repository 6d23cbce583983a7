// For fuzz targets whose parser reads through the file system: the input becomes a file in a
// private folder that is the only search directory, so "@name" opens it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "files/vfs.h"

// Writes the input as name (which may hold folders) in the folder made once per process;
// false when it cannot.
inline bool fuzz_write_input(const char* name, const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/sk-fuzz-XXXXXX";
    std::string made = mkdtemp(pattern) ? pattern : "/tmp";
    const char* dirs[] = {made.c_str()};
    vfs_set_search_dirs(dirs, 1);
    return made;
  }();
  std::filesystem::path path = std::filesystem::path(dir) / name;
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  fwrite(data, 1, size, out);
  fclose(out);
  return true;
}
