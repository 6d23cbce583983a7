// A bike ridden with random controls over rolling ground with steps for many simulated
// minutes: it must never produce NaN, sink through the ground or run away, and every crash
// must end with the rider back on the bike.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/controls.h"
#include "physics/drivetrain.h"
#include "physics/rider.h"
#include "physics/steering.h"
#include "physics/suspension.h"
#include "physics/world.h"
#include "tests/physics/rig.h"
#include "tools/bench/bench.h"
#include "track/terrain.h"

namespace {

constexpr int FIELD_LEVEL = 9;          // 1025 samples a side
constexpr float FIELD_SPACING = 2;      // ft: a 2048 ft square
constexpr float EDGE_MARGIN = 150;      // ft: nearer the edge the bike is put back in the middle
constexpr int CONTROL_PERIOD = 64;      // steps between new random controls
constexpr double SINK_DEPTH = 1;        // ft below the ground that counts as falling through
constexpr double RUNAWAY_SPEED = 400;   // ft/s that counts as an exploding body

// Rolling hills with 1.5 ft steps on a 64 ft checkerboard.
float ground(float x, float z) {
  float h = 2.5f * std::sin(x / 41) * std::cos(z / 57);
  if (((int(x / 64) + int(z / 64)) & 3) == 0) h += 1.5f;
  return h;
}

void put_in_middle(Bike* bike, const Terrain* terrain) {
  bike_reset(bike);
  float c = terrain->extent / 2;
  const float offset[3] = {c, terrain_height_at(terrain, c, c) + 2, c};
  bike_translate(bike, offset);
}

}  // namespace

int bench_random_ride(int argc, char** argv) {
  double minutes = argc >= 1 ? std::atof(argv[0]) : 10;
  unsigned seed = argc >= 2 ? unsigned(std::atoi(argv[1])) : 1;
  physics_world_create();
  static Terrain terrain{};
  if (!terrain_allocate(&terrain, FIELD_LEVEL, FIELD_SPACING, -4, 4)) return 1;
  for (int row = 0; row < terrain.grid_size; row++) {
    for (int col = 0; col < terrain.grid_size; col++) {
      terrain_set_height(&terrain, col, row, ground(col * FIELD_SPACING, row * FIELD_SPACING));
    }
  }
  steering_terrain = &terrain;
  sim_tick = 0;
  race_start_tick = 0;

  Bike* bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  give_stand_in_shapes(bike);
  use_default_setup(bike);
  bike->setup.options |= OPTION_AUTO_SHIFT | OPTION_DAB_WHEN_STOPPED | OPTION_REALIGN_AFTER_FALL;
  put_in_middle(bike, &terrain);

  std::mt19937 random(seed);
  auto uniform = [&](float lo, float hi) { return lo + (hi - lo) * float(random() & 0xFFFFFF) / float(1 << 24); };
  RiderControls wanted{};
  int shift = 0;

  const long steps = long(minutes * 60 * TICKS_PER_SECOND);
  long nan_step = -1, sink_steps = 0, runaway_steps = 0, crashed_steps = 0, lying_steps = 0, airborne_steps = 0;
  long edge_resets = 0, crashes = 0, recoveries = 0, longest_crash = 0, crash_started = 0;
  double distance = 0, top_speed = 0, top_body_speed = 0;
  bool was_crashed = false;
  auto started = std::chrono::steady_clock::now();
  long i = 0;
  for (; i < steps; i++) {
    if (i % CONTROL_PERIOD == 0) {
      wanted.steer = uniform(-1, 1);
      wanted.throttle = uniform(0, 1) < 0.7f ? uniform(0, 1) : 0;
      wanted.clutch = uniform(0, 1) < 0.9f ? 1 : uniform(0, 1);
      wanted.front_brake = uniform(0, 1) < 0.2f ? uniform(0, 1) : 0;
      wanted.rear_brake = uniform(0, 1) < 0.2f ? uniform(0, 1) : 0;
      wanted.sit_dab = uniform(0, 1) < 0.15f ? 1 : 0;
      wanted.back_up = uniform(0, 1) < 0.05f ? 1 : 0;
      wanted.lean = uniform(-1, 1);
      shift = int(random() % 3) - 1;
    }
    controls_set_steer(bike, wanted.steer);
    controls_set_throttle(bike, wanted.throttle);
    controls_set_clutch(bike, wanted.clutch);
    controls_set_front_brake(bike, wanted.front_brake);
    controls_set_rear_brake(bike, wanted.rear_brake);
    controls_set_sit_dab(bike, wanted.sit_dab);
    controls_set_back_up(bike, wanted.back_up);
    controls_set_lean(bike, wanted.lean);
    gear_shift(bike, i % CONTROL_PERIOD < 4 ? shift : 0);

    const dReal* before = dBodyGetPosition(bike->bodies[BODY_FRAME]);
    double x0 = before[0], z0 = before[2];
    bike_ground_contacts(bike, &terrain);
    physics_world_step();
    bike_post_step(bike);
    sim_tick++;

    bool sink = false, runaway = false, finite = true;
    for (dBodyID body : bike->bodies) {
      const dReal* p = dBodyGetPosition(body);
      const dReal* v = dBodyGetLinearVel(body);
      if (!std::isfinite(p[0] + p[1] + p[2] + v[0] + v[1] + v[2])) finite = false;
      if (p[1] < terrain_height_at(&terrain, float(p[0]), float(p[2])) - SINK_DEPTH) sink = true;
      double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      if (speed > RUNAWAY_SPEED) runaway = true;
      if (speed > top_body_speed) top_body_speed = speed;
    }
    if (!finite) {
      nan_step = i;
      break;
    }
    sink_steps += sink;
    runaway_steps += runaway;
    const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
    distance += std::hypot(p[0] - x0, p[2] - z0);
    top_speed = std::fmax(top_speed, bike_forward_speed_mph(bike));
    if (bike->front.depth <= 0 && bike->rear.depth <= 0) airborne_steps++;

    bool crashed = bike_crashed(bike);
    if (crashed) {
      crashed_steps++;
      if (!was_crashed) {
        crashes++;
        crash_started = i;
      }
    } else if (was_crashed) {
      recoveries++;
      longest_crash = std::max(longest_crash, i - crash_started);
    }
    was_crashed = crashed;
    if (!crashed && dBodyGetRotation(bike->bodies[BODY_FRAME])[5] < 0.5) lying_steps++;

    float margin = EDGE_MARGIN, far = terrain.extent - EDGE_MARGIN;
    if (p[0] < margin || p[0] > far || p[2] < margin || p[2] > far) {
      put_in_middle(bike, &terrain);
      was_crashed = false;
      edge_resets++;
    }
  }
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  double seconds = double(i) * SIM_STEP;
  std::printf("random controls, 450sxf(2018), seed %u: %.1f simulated minutes (%ld steps) in %.1f s, %.0f steps/s\n",
              seed, seconds / 60, i, elapsed, double(i) / elapsed);
  std::printf("  NaN                      %s\n", nan_step < 0 ? "none" : "YES");
  if (nan_step >= 0) std::printf("  first NaN at step        %ld\n", nan_step);
  std::printf("  steps below the ground   %ld (a body over %.0f ft under)\n", sink_steps, SINK_DEPTH);
  std::printf("  steps of runaway speed   %ld (a body over %.0f ft/s); fastest body %.1f ft/s\n", runaway_steps,
              RUNAWAY_SPEED, top_body_speed);
  std::printf("  distance, top speed      %.0f ft, %.1f mph\n", distance, top_speed);
  std::printf("  airborne                 %.1f%% of the time\n", 100.0 * airborne_steps / double(i));
  std::printf("  crashes, recovered       %ld, %ld (longest %.1f s down; %.1f%% of the time crashed)\n", crashes,
              recoveries, longest_crash * SIM_STEP, 100.0 * crashed_steps / double(i));
  std::printf("  lying down, not crashed  %.1f%% of the time\n", 100.0 * lying_steps / double(i));
  std::printf("  put back in the middle   %ld times\n", edge_resets);
  bike_destroy(bike);
  steering_terrain = nullptr;
  terrain_free(&terrain);
  return nan_step < 0 && sink_steps == 0 && runaway_steps == 0 ? 0 : 1;
}
