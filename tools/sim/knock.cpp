// Knocking a rider sideways and noting when it passes its next gates and ends its lap.
#include "tools/sim/knock.h"

#include <ode/ode.h>

#include <cmath>

#include "core/game.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "physics/bike.h"
#include "race/race.h"
#include "race/timing.h"
#include "track/terrain.h"

void knock_sideways(Bike* bike, double feet) {
  const dBodyID frame = bike->bodies[BODY_FRAME];
  const dReal* r = dBodyGetRotation(frame);
  // Heading: the frame's forward (-z) axis, flattened; its right is (-fz, 0, fx).
  double fx = -r[2], fz = -r[10];
  const double len = std::sqrt(fx * fx + fz * fz);
  if (len < 1e-6) fx = 0, fz = -1;
  else fx /= len, fz /= len;
  const dReal* p = dBodyGetPosition(frame);
  const float dx = float(-fz * feet), dz = float(fx * feet);
  const float x = float(p[0]), z = float(p[2]);
  float dy = 0;
  if (track_terrain.grid_size > 0)
    dy = terrain_height_at(&track_terrain, x + dx, z + dz) - terrain_height_at(&track_terrain, x, z);
  const float offset[3] = {dx, dy, dz};
  bike_translate(bike, offset);
}

bool knock_watch_step(KnockWatch& w) {
  Bike* bike = game.slot_bike[w.slot];
  if (!bike) return true;
  const RiderTiming& timing = race_entrants[w.slot].timing;
  if (!w.knocked) {
    if (sim_tick < w.knock_tick) return false;
    w.knocked = true;
    w.gates_at_knock = gates_passed(timing);
    w.laps_at_knock = laps_completed(timing);
    w.crashes_at_knock = bike->crash_count;
    if (w.feet != 0) knock_sideways(bike, w.feet);
    return false;
  }
  if (w.two_gates_tick < 0 && gates_passed(timing) >= w.gates_at_knock + 2) w.two_gates_tick = sim_tick;
  if (w.lap_tick < 0 && laps_completed(timing) > w.laps_at_knock) w.lap_tick = sim_tick;
  return w.lap_tick >= 0;
}
