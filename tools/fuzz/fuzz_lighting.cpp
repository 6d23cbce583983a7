// Arbitrary bytes as a track's "lighting" file.
#include "files/vfs.h"
#include "tools/fuzz/fuzz_track_support.h"
#include "track/lighting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VfsFile* file = fuzz_open(data, size);
  lighting_read_file(file);
  if (file) vfs_close(file);
  return 0;
}
