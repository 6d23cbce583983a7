// Arbitrary bytes as a track's "lighting" file.
#include "tools/fuzz/fuzz_track_support.h"
#include "track/lighting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (const char* path = fuzz_scratch_file(data, size)) lighting_read(path);
  return 0;
}
