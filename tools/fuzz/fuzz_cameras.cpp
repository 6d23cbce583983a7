// Arbitrary bytes as a track's "cameras" file, placed on a small field.
#include "tools/fuzz/fuzz_track_support.h"
#include "track/cameras.h"
#include "track/terrain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Terrain* terrain = [] {
    Terrain* t = new Terrain{};
    terrain_allocate(t, 1, 2, 0, 1);
    return t;
  }();
  if (const char* path = fuzz_scratch_file(data, size)) cameras_read(terrain, path);
  return 0;
}
