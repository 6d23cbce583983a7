// Bikes ridden on a flat field at full throttle with automatic shifting: 0-30 and 0-60 mph
// times and the top speed reached in 20 s, per engine class; starts at part throttle; and
// braking from 40 mph.
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/drivetrain.h"
#include "physics/world.h"
#include "tools/bench/bench.h"
#include "track/terrain.h"

namespace {

constexpr int RUN_STEPS = 20 * TICKS_PER_SECOND;

void step(Bike* bike, const Terrain* terrain) {
  bike_ground_contacts(bike, terrain);
  physics_world_step();
  bike_post_step(bike);
  sim_tick++;
}

Bike* start_bike(const char* model) {
  Bike* bike = bike_create(model, 0, "1", nullptr, nullptr, nullptr, nullptr);
  const float offset[3] = {512, 0.05f, 4000};
  bike_translate(bike, offset);
  return bike;
}

bool finite(const Bike* bike) {
  for (dBodyID body : bike->bodies) {
    if (!std::isfinite(dBodyGetPosition(body)[1])) return false;
  }
  return true;
}

void acceleration(const char* model, const Terrain* terrain) {
  Bike* bike = start_bike(model);
  bike->setup.options |= OPTION_AUTO_SHIFT;
  bike->controls.throttle = 1;
  bike->controls.clutch = 1;
  double t30 = -1, t60 = -1, top = 0;
  int top_gear = 0;
  for (int i = 0; i < RUN_STEPS && finite(bike); i++) {
    step(bike, terrain);
    double mph = bike_forward_speed_mph(bike);
    double t = (i + 1) * SIM_STEP;
    if (t30 < 0 && mph >= 30) t30 = t;
    if (t60 < 0 && mph >= 60) t60 = t;
    if (mph > top) top = mph;
    if (bike->gear > top_gear) top_gear = bike->gear;
  }
  std::printf("%-14s %-5s %8.2f %8.2f %9.1f %5d %s\n", model, bike->info.engine_class, t30, t60, top, top_gear + 1,
              finite(bike) ? "" : "NaN");
  bike_destroy(bike);
}

void braking(const char* what, float front, float rear, unsigned antilock, const Terrain* terrain) {
  Bike* bike = start_bike("450sxf(2018)");
  bike->setup.options = (bike->setup.options & ~(OPTION_FRONT_ANTILOCK | OPTION_REAR_ANTILOCK)) | antilock |
                        OPTION_AUTO_SHIFT;
  bike->controls.throttle = 1;
  bike->controls.clutch = 1;
  int i = 0;
  while (i++ < RUN_STEPS && bike_forward_speed_mph(bike) < 40) step(bike, terrain);
  bike->controls.throttle = 0;
  bike->controls.clutch = 0;
  bike->controls.front_brake = front;
  bike->controls.rear_brake = rear;
  const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  double z0 = p[2];
  int steps = 0;
  float upright = 1;
  while (steps < RUN_STEPS && bike_forward_speed_mph(bike) > 0.5f) {
    step(bike, terrain);
    steps++;
    upright = std::fmin(upright, float(dBodyGetRotation(bike->bodies[BODY_FRAME])[5]));
  }
  std::printf("%-24s %8.1f ft %6.2f s  lowest up-axis y %.2f\n", what, z0 - dBodyGetPosition(bike->bodies[BODY_FRAME])[2],
              steps * SIM_STEP, upright);
  bike_destroy(bike);
}

// From rest at part throttle: time to 10 mph and the speed after 5 s.
void part_throttle(const char* model, float throttle, const Terrain* terrain) {
  Bike* bike = start_bike(model);
  bike->setup.options |= OPTION_AUTO_SHIFT;
  bike->controls.throttle = throttle;
  bike->controls.clutch = 1;
  double t10 = -1;
  float max_rpm = 0;
  for (int i = 0; i < 5 * TICKS_PER_SECOND && finite(bike); i++) {
    step(bike, terrain);
    if (t10 < 0 && bike_forward_speed_mph(bike) >= 10) t10 = (i + 1) * SIM_STEP;
    max_rpm = std::fmax(max_rpm, engine_rpm(bike));
  }
  std::printf("%-14s %8.2f %8.2f %8.1f %8.0f\n", model, throttle, t10, bike_forward_speed_mph(bike), max_rpm);
  bike_destroy(bike);
}

}  // namespace

int bench_ride(int, char**) {
  physics_world_create();
  static Terrain terrain{};
  // 4096 ft square, flat.
  if (!terrain_allocate(&terrain, 10, 4, 0, 0)) return 1;
  std::printf("full throttle from rest, automatic shifting (s; -1 = not reached in 20 s)\n");
  std::printf("%-14s %-5s %8s %8s %9s %5s\n", "model", "class", "0-30", "0-60", "top mph", "gear");
  for (const char* model : {"450sxf(2018)", "crf250(2018)", "250sx(2012)", "125sx", "rs50kx"}) {
    acceleration(model, &terrain);
  }
  std::printf("\nfrom rest at part throttle, automatic shifting (s; -1 = not reached in 5 s)\n");
  std::printf("%-14s %8s %8s %8s %8s\n", "model", "throttle", "0-10", "mph @5s", "top rpm");
  for (const char* model : {"450sxf(2018)", "crf250(2018)", "250sx(2012)", "125sx", "rs50kx"}) {
    for (float throttle : {0.2f, 0.4f, 0.6f, 0.8f}) part_throttle(model, throttle, &terrain);
  }
  std::printf("\nbraking from 40 mph, 450sxf(2018)\n");
  braking("front, antilock", 1, 0, OPTION_FRONT_ANTILOCK, &terrain);
  braking("rear", 0, 1, 0, &terrain);
  braking("rear, antilock", 0, 1, OPTION_REAR_ANTILOCK, &terrain);
  braking("both, front antilock", 1, 1, OPTION_FRONT_ANTILOCK, &terrain);
  braking("both, no antilock", 1, 1, 0, &terrain);
  terrain_free(&terrain);
  return 0;
}
