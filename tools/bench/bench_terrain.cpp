// Times the ground sampling the contact code calls per wheel per step, and a full recompute
// of the shading, on a loaded track (the default track unless another is named).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "files/vfs.h"
#include "tools/bench/bench.h"
#include "tools/bench/cpu_clock.h"
#include "track/lighting.h"
#include "track/terrain.h"

namespace {

constexpr int SAMPLE_POINTS = 1 << 16;
constexpr int SAMPLE_ROUNDS = 200;
constexpr int REFRESH_RUNS = 5;

// Nanoseconds per call of one sampling function over the same scattered points.
template <typename Sample>
double time_sampling(const std::vector<float>& xs, const std::vector<float>& zs, Sample sample, double* sink) {
  double start = bench_cpu_seconds();
  double sum = 0;
  for (int round = 0; round < SAMPLE_ROUNDS; round++)
    for (int k = 0; k < SAMPLE_POINTS; k++) sum += sample(xs[k], zs[k]);
  double seconds = bench_cpu_seconds() - start;
  *sink += sum;
  return seconds * 1e9 / (double(SAMPLE_ROUNDS) * SAMPLE_POINTS);
}

void mark_all(TerrainBits& bits) {
  for (size_t k = 0; k < bits.count; k++) terrain_bit_set(bits, k);
}

}  // namespace

int bench_terrain(int argc, char** argv) {
  std::string track = argc >= 1 ? argv[0] : "rabbithill";
  vfs_file_list();
  lighting_read(("@" + track + "/lighting").c_str());
  static Terrain terrain;
  double load_start = bench_cpu_seconds();
  if (!terrain_load(&terrain, track.c_str(), 1)) {
    fprintf(stderr, "skorvan-bench: cannot load the terrain of '%s'\n", track.c_str());
    return 1;
  }
  double load_time = bench_cpu_seconds() - load_start;
  int size = terrain.grid_size;
  printf("terrain: '%s', %d x %d samples, spacing %g ft, loaded in %.1f ms CPU\n", track.c_str(), size, size,
         terrain.spacing, load_time * 1e3);

  // Points scattered over the field and a little beyond its edges.
  std::vector<float> xs(SAMPLE_POINTS), zs(SAMPLE_POINTS);
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return float(seed >> 8) / float(1 << 24);
  };
  for (int k = 0; k < SAMPLE_POINTS; k++) {
    xs[k] = (next() * 1.02f - 0.01f) * terrain.extent;
    zs[k] = (next() * 1.02f - 0.01f) * terrain.extent;
  }
  // A wheel's path: a circle around the field's middle at 60 ft/s, one point per step.
  std::vector<float> path_x(SAMPLE_POINTS), path_z(SAMPLE_POINTS);
  float radius = terrain.extent * 0.35f, speed = 60.0f / 128;
  for (int k = 0; k < SAMPLE_POINTS; k++) {
    float angle = k * speed / radius;
    path_x[k] = terrain.extent * 0.5f + radius * std::cos(angle);
    path_z[k] = terrain.extent * 0.5f + radius * std::sin(angle);
  }
  double sink = 0;
  const Terrain* t = &terrain;
  auto height = [t](float x, float z) { return terrain_height_at(t, x, z); };
  auto normal = [t](float x, float z) { return terrain_normal_at(t, x, z).x; };
  auto tile = [t](float x, float z) { return float(terrain_tile_at(t, x, z)); };
  const struct {
    const char* name;
    const std::vector<float>& x;
    const std::vector<float>& z;
  } sets[] = {{"scattered points", xs, zs}, {"along a wheel's path", path_x, path_z}};
  for (const auto& set : sets) {
    double height_ns = time_sampling(set.x, set.z, height, &sink);
    double normal_ns = time_sampling(set.x, set.z, normal, &sink);
    double tile_ns = time_sampling(set.x, set.z, tile, &sink);
    printf("terrain: %s: terrain_height_at %.1f ns, terrain_normal_at %.1f ns, terrain_tile_at %.1f ns per call\n",
           set.name, height_ns, normal_ns, tile_ns);
  }

  // How far the shading stored with the track is from what the program computes for a point:
  // edited ground is shaded by the program and should blend in.
  size_t samples = size_t(size) * size, differing = 0;
  int largest = 0;
  for (int row = 0; row < size; row++) {
    for (int col = 0; col < size; col++) {
      uint8_t computed[3];
      terrain_point_shading(&terrain, col, row, computed);
      const uint8_t* stored = terrain.shading + 3 * (size_t(row) * size + col);
      int diff = 0;
      for (int c = 0; c < 3; c++) diff = std::max(diff, std::abs(int(stored[c]) - int(computed[c])));
      differing += diff > 1;
      largest = std::max(largest, diff);
    }
  }
  printf("terrain: stored shading differs from the computed by more than 1 at %zu of %zu samples (largest %d)\n",
         differing, samples, largest);

  // Whole-field shading: once with every triangle normal stale as after loading, once with
  // the normals cached and only the shading stale.
  std::vector<double> cold, warm;
  for (int run = 0; run < REFRESH_RUNS; run++) {
    mark_all(terrain.shading_dirty);
    mark_all(terrain.triangle_dirty);
    double start = bench_cpu_seconds();
    terrain_refresh_lighting(&terrain);
    cold.push_back(bench_cpu_seconds() - start);
    mark_all(terrain.shading_dirty);
    start = bench_cpu_seconds();
    terrain_refresh_lighting(&terrain);
    warm.push_back(bench_cpu_seconds() - start);
  }
  std::sort(cold.begin(), cold.end());
  std::sort(warm.begin(), warm.end());
  printf("terrain: full terrain_refresh_lighting %.1f ms with stale triangle normals, %.1f ms with cached "
         "ones (median of %d, CPU time)\n",
         cold[REFRESH_RUNS / 2] * 1e3, warm[REFRESH_RUNS / 2] * 1e3, REFRESH_RUNS);
  printf("terrain: checksum %g\n", sink);
  terrain_free(&terrain);
  return 0;
}
