// Knocking a rider off its line in a running session and watching it find its way back: the
// headless runner's knock runs and the auto pilot's recovery test share it.
#pragma once

#include <cstdint>

struct Bike;

// Moves every body of the bike `feet` sideways (positive to the rider's right, across its
// heading), keeping its orientation and velocities, and lifts or lowers it by the ground's
// height difference so it stands as high over the ground as before.
void knock_sideways(Bike* bike, double feet);

// One knock and what followed it.
struct KnockWatch {
  int slot = 0;
  int32_t knock_tick = 0;  // sim_tick at which the rider is knocked
  double feet = 30;        // sideways, positive to the right; 0 only watches

  bool knocked = false;
  int32_t gates_at_knock = 0;   // gates passed when knocked
  int32_t laps_at_knock = 0;    // laps completed when knocked
  int32_t crashes_at_knock = 0;
  int32_t two_gates_tick = -1;  // sim_tick the second gate after the knock was passed, -1 not yet
  int32_t lap_tick = -1;        // sim_tick the lap the rider was on was completed, -1 not yet
};

// Call after every session step: knocks at knock_tick and then notes the gates and the lap end.
// True once the lap in progress at the knock is completed.
bool knock_watch_step(KnockWatch& watch);
