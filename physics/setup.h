// Setup values of a bike: the values it has right after it is built, the setters that clamp
// every applied value, applying the player's whole setup, and the physical units shown beside
// the setup sliders.
#pragma once

#include "physics/bike.h"

// Raised by a setter given a value more than 1/8 of its range outside that range (a setup no
// menu can make); the bike state marker reads it. Never cleared here.
extern bool setup_out_of_range;
// Clock time (s) of the last refused setup_apply; -20 at start.
extern double setup_last_refusal;
// Set while the server has disabled arcade physics: the arcade option stays off.
extern bool setup_arcade_disabled;

// The applied values with a range. Units as in AppliedSetup: angles in rad, dab speed in ft/s.
// The fork and shock values take the curve value of their key: a high-speed damping factor
// (0.25..4 times the row's coefficient), a low-speed offset (-1..1 times the row's
// coefficient) or a fraction (0..1 of the row's span).
enum SetupValue : int {
  SETUP_LEVELING,
  SETUP_ROLL_DAMPING,
  SETUP_ROLL_LIMIT_ANGLE,
  SETUP_ROLL_LIMIT_FACTOR,
  SETUP_STEERING_DAMPING,
  SETUP_STEERING_STRENGTH,
  SETUP_MAX_STEERING_FORCE,
  SETUP_DIRECT_STEERING,
  SETUP_SLOW_DAMPING_SPEED,
  SETUP_SLOW_DAMPING_FACTOR,
  SETUP_LAND_DAMPING_FALLOFF,
  SETUP_LAND_DAMPING_FACTOR,
  SETUP_FULL_LOCK_SPEED,
  SETUP_RESTRICTED_LOCK_SPEED,
  SETUP_RESTRICTED_LOCK_ANGLE,
  SETUP_AUTO_CLUTCH_RPM,
  SETUP_FRONT_BRAKE_TORQUE,
  SETUP_REAR_BRAKE_TORQUE,
  SETUP_MAX_DAB_SPEED,
  SETUP_FORK_HS_COMP,
  SETUP_FORK_LS_COMP,
  SETUP_FORK_HS_REB,
  SETUP_FORK_LS_REB,
  SETUP_FORK_SPRING,
  SETUP_FORK_PRELOAD,
  SETUP_FORK_OIL,
  SETUP_SHOCK_HS_COMP,
  SETUP_SHOCK_LS_COMP,
  SETUP_SHOCK_HS_REB,
  SETUP_SHOCK_LS_REB,
  SETUP_SHOCK_SPRING,
  SETUP_SHOCK_PRELOAD,
  SETUP_RIDER_VSPRING,
  SETUP_RIDER_VDAMPING,
  SETUP_RIDER_FSPRING,
  SETUP_RIDER_FDAMPING,
  SETUP_VALUE_COUNT
};

// Sets one applied value, clamped to its range; raises setup_out_of_range when far outside.
void setup_set(Bike* bike, SetupValue which, float value);
// Turns one BikeOption on or off. Arcade physics stays off while setup_arcade_disabled.
void setup_set_option(Bike* bike, unsigned option, bool on);
// Sprocket tooth adjustments, each -2..2, on the row's stock sprockets.
void setup_set_sprockets(Bike* bike, float front_adjustment, float rear_adjustment);
// Puts the share d (0.33..0.5) of the rider's mass on the rider body.
void setup_rider_mass(Bike* bike, float d);

// Applies the player's whole setup (the settings' bike setup) to a bike at rest. A bike
// moving faster than 0.125 ft/s keeps its values; a second refusal within 10 s tells the player.
// Returns whether the setup was applied.
bool setup_apply(Bike* bike);

// The applied values of a newly built bike, before any setup is applied.
void setup_defaults(Bike* bike);

// Physical values shown beside the setup sliders, for a model row and a slider fraction p
// (value / 100, clamped to 0..1), or a sprocket adjustment.
double fork_spring_display(const BikeInfo& info, double p);    // kg/mm per fork leg
double fork_preload_display(const BikeInfo& info, double p);   // mm
double fork_oil_display(const BikeInfo& info, double p);       // mm of air gap
double shock_spring_display(const BikeInfo& info, double p);   // kg/mm
double shock_preload_display(const BikeInfo& info, double p);  // mm
double front_teeth(const BikeInfo& info, double adjustment);
double rear_teeth(const BikeInfo& info, double adjustment);
// The text beside the slider of a setup key ("fork_spring_rate_adjustment" ...) at its value;
// false, with an empty text, for keys shown without one.
bool setup_display_text(const char* key, const BikeInfo& info, double value, char* out, int size);
