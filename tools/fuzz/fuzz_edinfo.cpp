// Arbitrary bytes as a track's "edinfo" read by the editor on a small field, then every
// gradient's profile, its values for the gradient brushes and a profile taken from the ground.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "editor/editor.h"
#include "editor/gradient.h"
#include "tools/fuzz/fuzz_input_file.h"
#include "track/terrain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Terrain terrain = [] {
    Terrain t{};
    terrain_allocate(&t, 2, 1.5f, 0, 0);
    // The file lies directly in the home directory: the track directory is "." there.
    snprintf(t.track_dir, sizeof t.track_dir, ".");
    return t;
  }();
  if (!fuzz_write_input("edinfo", data, size)) return 0;
  editor_set_window(64, 48);
  editor_init(&terrain);
  for (size_t i = 0; i < editor.gradients.size() && i < 8; i++) {
    editor.gradient = int(i);
    const Gradient& g = editor.gradients[i];
    for (int k = -1; k <= int(g.points.size()) && k < 64; k++) gradient_point_slope(g, k);
    gradient_profile(g, 0.75f);
    gradient_linear_value(3, 4);
    gradient_radial_value(-2, 5);
    gradient_from_terrain();
  }
  editor_free();
  return 0;
}
