// The auto pilot's per-robot state, by slot, and where a robot stands along its own path.
#pragma once

#include <cstdint>
#include <vector>

#include "core/constants.h"
#include "robots/lines.h"

struct Bike;

struct AutoPilot {
  int32_t personality;  // index into the personality table; 0 = not a robot
  std::vector<LinePoint> path;  // the robot's own path; empty = none
  int32_t path_target;          // index of the point the robot heads for
  int32_t path_segment;         // gate-sequence index of the next segment to append
  int32_t ap_mode;              // 0 normal, 1..3 recovery
  int32_t last_progress_tick;   // sim_tick when path_target last advanced
  float start_timer;            // s; 0 = not yet drawn
  float throttle_memory;
  int32_t lean_limit_tick;  // sim_tick the lean target was last cut by the ground
};

// The state of the robot in each slot (a bike's tag is its slot).
extern AutoPilot autopilots[SLOT_COUNT];

// The auto-pilot state of a bike, null when its tag is no slot.
AutoPilot* autopilot_of(const Bike* bike);
// Clears a slot's state: no personality, empty path, lean_limit_tick -1000000.
void autopilot_reset(AutoPilot& pilot);
// True when the bike is driven by the auto pilot (its personality is not 0).
bool bike_is_robot(const Bike* bike);
// The robot's fractional position along its path (see autopilot_state.cpp).
float autopilot_path_position(const Bike* bike);

// Rows of the personality table: 0 "empty" (no auto pilot), then wren, rook, finch, tester.
constexpr int PERSONALITY_COUNT = 5;
// Sets the personality by its exact name; an unknown name is logged and rides as wren.
void autopilot_set_personality(Bike* bike, const char* name);
const char* autopilot_personality_name(int personality);
// The auto pilot of one robot for this step, after the world step and before the bike's
// post-step: extends its path, runs the start and writes its controls.
void autopilot_step(Bike* bike);
// Robots share one view of where every bike is and where it heads, taken at the first robot
// of a step; a session that frees its bikes drops it.
void autopilot_field_forget();
// Rides any bike along the path its owner keeps in `pilot` with the robots' riding aids (target
// advance and the normal or recovery controller, both brakes without a path); the lap teacher
// drives this way. Without may_drag the recovery never drags the bike: only the controls move it.
void autopilot_drive(Bike* bike, AutoPilot& pilot, bool may_drag);

// The lean target theta (rad) held within psi (the grip's lean) either side of the lean the
// ground's slope allows at the bike's roll: with (nx, ny) the ground normal's x and y in the
// frame's axes, theta clamped to roll - phi -+ psi, phi = atan2(nx, ny).
double autopilot_ground_clamp(double theta, double roll, double nx, double ny, double psi);

// The ground a bike is about to cover, which a robot keeps its distance from: a rectangle in
// x-z, FOOTPRINT_HALF_WIDTH either side of the bike's frame and from FOOTPRINT_REACH behind it
// to FOOTPRINT_REACH + v ahead along its direction of travel (v its speed in ft/s). Corners in
// the order left far ahead, left behind, right behind, right far ahead.
struct Footprint {
  double x[4], z[4];
};
constexpr double FOOTPRINT_HALF_WIDTH = 2;  // ft
constexpr double FOOTPRINT_REACH = 4;       // ft
// (back_x, back_z): the horizontal part of the unit vector against the bike's velocity.
Footprint autopilot_footprint(double x, double z, double back_x, double back_z, double speed);
// True when the two rectangles overlap; rectangles that only touch along an edge do not.
bool autopilot_footprints_meet(const Footprint& a, const Footprint& b);
