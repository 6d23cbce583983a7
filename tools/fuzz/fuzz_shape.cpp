// Shape files: the input is written as a ".shp" file and loaded through the file system.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/vfs.h"
#include "physics/shape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string dir = [] {
    char pattern[] = "/tmp/sk-fuzz-shape-XXXXXX";
    std::string made = mkdtemp(pattern) ? pattern : "/tmp";
    const char* dirs[] = {made.c_str()};
    vfs_set_search_dirs(dirs, 1);
    return made;
  }();
  std::string path = dir + "/input.shp";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  shape_free(shape_load("@input.shp"));
  shape_cache_clear();
  return 0;
}
