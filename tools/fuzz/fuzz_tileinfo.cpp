// Arbitrary bytes as a track's "tileinfo" and as its "texturelist".
#include "files/vfs.h"
#include "tools/fuzz/fuzz_track_support.h"
#include "track/terrain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Terrain* terrain = [] {
    Terrain* t = new Terrain{};
    terrain_allocate(t, 0, 1, 0, 1);
    return t;
  }();
  if (VfsFile* file = fuzz_open(data, size)) {
    tileinfo_read(terrain, file);
    vfs_close(file);
  }
  if (VfsFile* file = fuzz_open(data, size)) {
    texturelist_read(terrain, file);
    vfs_close(file);
  }
  return 0;
}
