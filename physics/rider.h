// The rider on the bike: the soft springs that hold the rider body on the seat, the low-speed
// aids (backing up, dab when stopped, dab support, realign after a fall), crash detection and
// the crash sequence with its recovery, and the two crash limbs.
#pragma once

#include "physics/bike.h"

constexpr int CRASH_BASE_STEPS = 512;  // 4 s down after every crash
constexpr int CRASH_DELAY_COUNT = 16;
constexpr int CRASH_DELAY_MAX = 460800;  // steps, one hour

// Extra steps down by crash count (entry min(count, 15)); all 0 until a server sets them.
extern int crash_delay_table[CRASH_DELAY_COUNT];
// Sets the table, each value clamped to 0..CRASH_DELAY_MAX.
void crash_delays_set(const int values[CRASH_DELAY_COUNT]);

// What the rider code needs from the race and the robots, installed by the session; either
// may be null (no race with laps, no racing lines).
struct RiderHooks {
  // True when a race with laps runs and this rider has passed a gate and is level with or
  // ahead of the race leader's gate count: a fall then counts as a fall while leading.
  bool (*leading_in_race)(const Bike* bike);
  // The point (world, ft) a fallen bike is turned towards when it is set upright: a point of
  // its racing line ahead, or the next gate. False when there is none.
  bool (*realign_target)(const Bike* bike, float out[3]);
};
extern RiderHooks rider_hooks;

// Sets the fore/aft and vertical rider springs (soft contacts between rider and frame) and the
// fore/aft damping of the rider joint for the next step.
void rider_springs_update(Bike* bike);

// Backing up and dab when stopped. They may override sit/dab and the brakes for this step
// only; the post-step puts the rider's values back.
void low_speed_aids_update(Bike* bike);
// The foot out at low speed: the dab amount, the righting force and the realign of a fallen
// bike towards its course.
void dab_support_update(Bike* bike);

// Crash tests of a rider on the bike: the rider body moving too fast against the frame or
// too hard an acceleration, with a lower tolerance right after a long jump.
void crash_check(Bike* bike);
// The rider flies off: the rider joint lets go, the limbs take over and the crash timer runs.
void crash_start(Bike* bike);
// While crashed: the rider tied to the handlebars as it tumbles, the timer running once the
// rider lies still, the pull back to the seat, and the rider joined again at the end.
void crash_update(Bike* bike);
// The two crash limbs: on the feet while riding, free-falling points within reach of the hips
// while crashed. Also lowers the dab amount.
void crash_limbs_update(Bike* bike);

// Where the rider's feet go (world, ft) and how much each stands on the ground (0..1): the
// foot pegs, a foot put down by the dab, or the crash limbs while crashed.
struct FootTargets {
  float point[2][3];  // left, right
  float weight[2];
};
FootTargets rider_foot_targets(const Bike* bike);

// Pushes a body towards a target velocity in the horizontal plane with at most force_limit
// (lbf); nothing within 0.25 ft/s of the target.
void horizontal_velocity_servo(dBodyID body, const double target[3], double force_limit);
