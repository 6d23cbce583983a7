// Arbitrary bytes as a track's "cameras" file, placed on a small field.
#include "files/vfs.h"
#include "tools/fuzz/fuzz_track_support.h"
#include "track/cameras.h"
#include "track/terrain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Terrain* terrain = [] {
    Terrain* t = new Terrain{};
    terrain_allocate(t, 1, 2, 0, 1);
    return t;
  }();
  VfsFile* file = fuzz_open(data, size);
  cameras_read_file(terrain, file);
  if (file) vfs_close(file);
  return 0;
}
