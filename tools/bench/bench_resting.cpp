// N bikes resting on flat ground: the cost per bike-step of the ground contacts, the world
// step and the post-step, next to the same bodies and joints stepped by bare dWorldStep with
// no contact tests and no post-step (the physics library's floor).
#include <cstdio>
#include <vector>

#include "core/tick.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "tools/bench/bench.h"
#include "tools/bench/cpu_clock.h"
#include "track/terrain.h"

namespace {

constexpr int SETTLE_STEPS = 256;
constexpr int MEASURE_STEPS = 384;
constexpr float BIKE_SPACING = 12;  // ft between neighbouring bikes
constexpr int BIKES_PER_ROW = 16;

void full_step(std::vector<Bike*>& bikes, const Terrain* terrain) {
  for (Bike* bike : bikes) bike_ground_contacts(bike, terrain);
  physics_world_step();
  for (Bike* bike : bikes) bike_post_step(bike);
  sim_tick++;
}

}  // namespace

int bench_resting(int, char**) {
  vfs_file_list();  // the generated shapes come from the data set when it is there
  physics_world_create();
  static Terrain terrain;
  if (!terrain_allocate(&terrain, 7, 2, 0, 0)) {
    fprintf(stderr, "skorvan-bench: cannot make the ground\n");
    return 1;
  }
  for (int count : {1, 10, 40, 160}) {
    std::vector<Bike*> bikes;
    for (int i = 0; i < count; i++) {
      Bike* bike = bike_create("450sxf(2018)", i, "1", nullptr, nullptr, nullptr, nullptr);
      const float offset[3] = {20 + BIKE_SPACING * float(i % BIKES_PER_ROW), 0.1f,
                               20 + BIKE_SPACING * float(i / BIKES_PER_ROW)};
      bike_translate(bike, offset);
      bikes.push_back(bike);
    }
    sim_tick = 0;
    for (int s = 0; s < SETTLE_STEPS; s++) full_step(bikes, &terrain);

    double start = bench_cpu_seconds();
    for (int s = 0; s < MEASURE_STEPS; s++) full_step(bikes, &terrain);
    double ours = (bench_cpu_seconds() - start) / (double(MEASURE_STEPS) * count) * 1e6;

    start = bench_cpu_seconds();
    for (int s = 0; s < MEASURE_STEPS; s++) physics_world_step();
    double floor = (bench_cpu_seconds() - start) / (double(MEASURE_STEPS) * count) * 1e6;

    printf("bikes=%d us_per_bike_step=%.2f floor_us_per_bike_step=%.2f ratio=%.2f\n", count, ours, floor,
           ours / floor);
    fflush(stdout);
    for (Bike* bike : bikes) bike_destroy(bike);
  }
  terrain_free(&terrain);
  shape_cache_clear();
  physics_world_destroy();
  return 0;
}
