// Shape files: the input is written as a ".shp" file and loaded through the file system.
#include <cstddef>
#include <cstdint>

#include "physics/shape.h"
#include "tools/fuzz/fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz_write_input("input.shp", data, size)) return 0;
  shape_free(shape_load("@input.shp"));
  shape_cache_clear();
  return 0;
}
