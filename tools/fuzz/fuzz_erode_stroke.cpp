// Erosion stroke bytes as the server and demo files deliver them: decoded, queued and dug into
// a small field, which must keep every point on it and leave its loaded heights alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "physics/erosion.h"
#include "track/terrain.h"

namespace {

Terrain* field() {
  static Terrain terrain{};
  if (!terrain.heights) {
    if (!terrain_allocate(&terrain, 4, 1.5f, 0, 0)) abort();
    terrain.tiles[0].erode = erode_params_defaults();
  }
  return &terrain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Terrain* t = field();
  erode_stroke_decode(data, size, t->extent,
                      [](const StrokePoint& p, void* user) {
                        const float extent = *static_cast<const float*>(user);
                        if (!(p.x >= 0 && p.x < extent && p.z >= 0 && p.z < extent) || p.samples < 1 || p.samples > 15) {
                          abort();
                        }
                      },
                      &t->extent);
  erode_stroke_apply(data, size, t->extent);
  while (erode_queue.count > 0) erode_queue_process(t, nullptr, 100);
  const size_t samples = size_t(t->grid_size) * size_t(t->grid_size);
  for (size_t k = 0; k < samples; k++) {
    if (t->base_heights[k] != 0) abort();
  }
  erode_ground_restore(t);
  return 0;
}
