// Values shared by every part of the simulation: the fixed step, slot count and units.
#pragma once

#include <cstdint>

// The fixed simulation step in seconds; one step is a tick.
constexpr double SIM_STEP = 1.0 / 128.0;
constexpr int TICKS_PER_SECOND = 128;

// Bike slots in a session.
constexpr int SLOT_COUNT = 160;

enum SlotKind : int {
  SLOT_LOCAL = 0,   // driven by this computer's controls
  SLOT_REPLAY = 1,  // posed from the state history (demo or server)
  SLOT_ROBOT = 2,   // auto pilot
};

// Units are feet, slugs, seconds, pounds-force and radians; +y up, a bike faces -z.
constexpr double MPH_PER_FT_S = 0.6818182;
constexpr double RPM_PER_RAD_S = 9.549296;
constexpr double GRAVITY_FT_S2 = 32.0;  // the world's gravity, ft/s²
