// Ground erosion: a scripted rider's laps over one line of a dirt field, printing how the ruts
// and heaps grow lap by lap, that the loaded heights stay untouched and that a restore brings
// the ground back; and the per-step cost of erosion with 40 bikes riding at once.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/constants.h"
#include "core/tick.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/erosion.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "tools/bench/bench.h"
#include "tools/bench/cpu_clock.h"
#include "track/terrain.h"

namespace {

constexpr int LAPS = 20;
constexpr int COST_BIKES = 40;

// Loose dirt as the generated tracks have it: the tile defaults with the default depth limit.
void make_dirt(Terrain* terrain) {
  ErodeParams& e = terrain->tiles[0].erode;
  e = erode_params_defaults();
  e.limit_count = 2;
  e.limit_depth[0] = 0, e.limit_first[0] = 1, e.limit_second[0] = 1;
  e.limit_depth[1] = 1, e.limit_first[1] = 0, e.limit_second[1] = 0;
}

// The ground against its loaded heights.
struct GroundChange {
  float deepest, highest;
  long changed;
};
GroundChange ground_change(const Terrain* t) {
  GroundChange g = {0, 0, 0};
  const size_t n = size_t(t->grid_size) * size_t(t->grid_size);
  for (size_t k = 0; k < n; k++) {
    const float d = t->heights[k] - t->base_heights[k];
    g.deepest = std::min(g.deepest, d);
    g.highest = std::max(g.highest, d);
    g.changed += d != 0;
  }
  return g;
}

// One session step's worth of bike work, with erosion timed on its own.
double step_bikes(std::vector<Bike*>& bikes, Terrain* terrain, float strength) {
  for (Bike* bike : bikes) bike_ground_contacts(bike, terrain);
  physics_world_step();
  const double start = bench_cpu_seconds();
  for (Bike* bike : bikes) bike_erode(bike, terrain);
  erode_queue_process(terrain, nullptr, strength);
  const double spent = bench_cpu_seconds() - start;
  for (Bike* bike : bikes) bike_post_step(bike);
  sim_tick++;
  return spent;
}

// The wheels' last strokes go out as if they had left the ground half a second ago.
void flush_strokes(Bike* bike, const Terrain* terrain) {
  bike->front.depth = bike->rear.depth = 0;
  sim_tick += STROKE_CLOSE_TICKS + 1;
  bike_erode(bike, terrain);
}

float frame_speed(const Bike* bike) {
  const dReal* v = dBodyGetLinearVel(bike->bodies[BODY_FRAME]);
  return float(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
}

// A lap: from a standing start on the line, full throttle for 2.5 s, then both brakes until
// the bike stops; the rider is then put back at the start.
int laps(float rate) {
  static Terrain terrain;
  if (!terrain_allocate(&terrain, 7, 1, 0, 0)) return 1;
  make_dirt(&terrain);
  const float strength = std::floor(rate * 1024) / 1024;
  const size_t n = size_t(terrain.grid_size) * size_t(terrain.grid_size);
  const std::vector<float> loaded(terrain.base_heights, terrain.base_heights + n);
  Bike* bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  std::vector<Bike*> bikes = {bike};
  constexpr float START_Z = 240, LINE_X = 128;
  printf("scripted laps on a flat dirt field, erosion rate %.3f: ride 2.5 s flat out from z=%.0f towards -z, brake to a stop\n",
         strength, START_Z);
  printf("lap  stop_z  line_mean_ft  deepest_ft  highest_ft  changed_samples\n");
  float stop_z = START_Z;
  for (int lap = 1; lap <= LAPS; lap++) {
    bike_reset(bike);
    const float start[3] = {LINE_X, 0.05f, START_Z};
    bike_translate(bike, start);
    bike->setup.options |= OPTION_AUTO_SHIFT;
    bike->controls.clutch = 1;
    for (int i = 0; i < 8 * TICKS_PER_SECOND; i++) {
      const bool braking = i >= int(2.5 * TICKS_PER_SECOND);
      if (braking && frame_speed(bike) < 1) break;
      bike->controls.throttle = braking ? 0 : 1;
      bike->controls.front_brake = bike->controls.rear_brake = braking ? 1 : 0;
      step_bikes(bikes, &terrain, strength);
    }
    flush_strokes(bike, &terrain);
    while (erode_queue.count > 0) erode_queue_process(&terrain, nullptr, strength);
    stop_z = float(dBodyGetPosition(bike->bodies[BODY_FRAME])[2]);
    double line = 0;
    int count = 0;
    for (float z = stop_z + 5; z <= START_Z - 5; z += 1, count++) line += terrain_height_at(&terrain, LINE_X, z);
    const GroundChange g = ground_change(&terrain);
    printf("%3d  %6.1f  %12.4f  %10.4f  %10.4f  %15ld\n", lap, stop_z, count ? line / count : 0.0, g.deepest,
           g.highest, g.changed);
  }
  // Across the line halfway along: the rut with its shoulders.
  const float mid_z = (stop_z + START_Z) / 2;
  printf("across the line at z=%.0f (x-8 .. x+8 ft):", mid_z);
  for (float dx = -8; dx <= 8; dx += 1) printf(" %.3f", terrain_height_at(&terrain, LINE_X + dx, mid_z));
  printf("\nalong the line (every 8 ft from the stop to behind the start):");
  for (float z = stop_z - 8; z <= START_Z + 6; z += 8) printf(" %.3f", terrain_height_at(&terrain, LINE_X, z));
  printf("\n");
  const bool base_kept = std::equal(loaded.begin(), loaded.end(), terrain.base_heights);
  erode_ground_restore(&terrain);
  const GroundChange after = ground_change(&terrain);
  printf("base_heights unchanged: %s; after restore: %ld samples differ from base_heights\n", base_kept ? "yes" : "NO",
         after.changed);
  bike_destroy(bike);
  terrain_free(&terrain);
  return base_kept && after.changed == 0 ? 0 : 1;
}

// 40 bikes in five rows of eight, flat out for three seconds: erosion's share of each step.
int cost(float rate) {
  static Terrain terrain;
  if (!terrain_allocate(&terrain, 9, 1, 0, 0)) return 1;
  make_dirt(&terrain);
  const float strength = std::floor(rate * 1024) / 1024;
  std::vector<Bike*> bikes;
  for (int i = 0; i < COST_BIKES; i++) {
    Bike* bike = bike_create("450sxf(2018)", i, "1", nullptr, nullptr, nullptr, nullptr);
    const float at[3] = {200 + 12 * float(i % 8), 0.05f, 900 - 40 * float(i / 8)};
    bike_translate(bike, at);
    bike->setup.options |= OPTION_AUTO_SHIFT;
    bike->controls.clutch = 1;
    bike->controls.throttle = 1;
    bikes.push_back(bike);
  }
  sim_tick = 0;
  double erosion = 0, worst = 0;
  int32_t deepest_queue = 0;
  const int steps = 3 * TICKS_PER_SECOND;
  const double start = bench_cpu_seconds();
  for (int s = 0; s < steps; s++) {
    const double spent = step_bikes(bikes, &terrain, strength);
    erosion += spent;
    worst = std::max(worst, spent);
    deepest_queue = std::max(deepest_queue, erode_queue.count);
  }
  const double whole = bench_cpu_seconds() - start;
  const GroundChange g = ground_change(&terrain);
  printf("bikes=%d rate=%.3f steps=%d erosion_us_per_step=%.1f worst_us=%.1f whole_step_us=%.1f erosion_share=%.1f%% "
         "largest_queue=%d changed_samples=%ld\n",
         COST_BIKES, strength, steps, erosion / steps * 1e6, worst * 1e6, whole / steps * 1e6, 100 * erosion / whole,
         deepest_queue, g.changed);
  for (Bike* bike : bikes) bike_destroy(bike);
  erode_ground_restore(&terrain);
  terrain_free(&terrain);
  return 0;
}

}  // namespace

int bench_erode(int argc, char** argv) {
  const float rate = argc >= 1 ? float(std::clamp(atof(argv[0]), 0.0, 100.0)) : 10.0f;
  vfs_file_list();  // the generated shapes come from the data set when it is there
  physics_world_create();
  int failed = laps(rate);
  failed |= cost(rate);
  shape_cache_clear();
  physics_world_destroy();
  return failed;
}
