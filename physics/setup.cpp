// Setup values of a bike: creation values, clamping setters, applying the player's setup, and
// the slider displays.
#include "physics/setup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "core/settings.h"
#include "physics/drivetrain.h"
#include "platform/vant.h"

bool setup_out_of_range = false;
double setup_last_refusal = -20;
bool setup_arcade_disabled = false;

namespace {

constexpr float PI_F = 3.14159265f;
constexpr float DEGREE = PI_F / 180;
constexpr float FT_S_PER_MPH = 1.4666667f;
constexpr float MOVING_SPEED = 0.125f;       // ft/s: a faster bike keeps its setup
constexpr double REFUSAL_QUIET_TIME = 10;    // s between refusals that stay silent
// A setter's value this share of its range outside the range raises setup_out_of_range.
constexpr float RANGE_TOLERANCE = 0.125f;

float between(float lo, float hi, float p) { return lo + p * (hi - lo); }

// The range of an applied value and how it is made: the value itself (no base), the value
// times a row coefficient (base only), or a point of a row span (base to span_end).
struct AppliedRange {
  float AppliedSetup::*field;
  float lo, hi;
  float BikeInfo::*base;
  float BikeInfo::*span_end;
};

// Indexed by SetupValue.
const AppliedRange RANGES[SETUP_VALUE_COUNT] = {
    {&AppliedSetup::leveling, 0, 100, nullptr, nullptr},
    {&AppliedSetup::roll_damping, 0, 100, nullptr, nullptr},
    {&AppliedSetup::roll_limit_angle, 0, PI_F, nullptr, nullptr},
    {&AppliedSetup::roll_limit_factor, 0, 64, nullptr, nullptr},
    {&AppliedSetup::steering_damping, 0, 100, nullptr, nullptr},
    {&AppliedSetup::steering_strength, 0, 100, nullptr, nullptr},
    {&AppliedSetup::max_steering_force, 0, 1000, nullptr, nullptr},
    {&AppliedSetup::direct_steering, 0, 1, nullptr, nullptr},
    {&AppliedSetup::slow_damping_speed, 0, 100, nullptr, nullptr},
    {&AppliedSetup::slow_damping_factor, 1, 10, nullptr, nullptr},
    {&AppliedSetup::land_damping_falloff, 0, 0.5f, nullptr, nullptr},
    {&AppliedSetup::land_damping_factor, 1, 3, nullptr, nullptr},
    {&AppliedSetup::full_lock_speed, 1, 100, nullptr, nullptr},
    {&AppliedSetup::restricted_lock_speed, 1, 100, nullptr, nullptr},
    {&AppliedSetup::restricted_lock_angle, 0, PI_F / 4, nullptr, nullptr},
    {&AppliedSetup::auto_clutch_rpm, 0, 5000, nullptr, nullptr},
    {&AppliedSetup::front_brake_torque, 0, 500, nullptr, nullptr},
    {&AppliedSetup::rear_brake_torque, 0, 500, nullptr, nullptr},
    {&AppliedSetup::max_dab_speed, 7, 100, nullptr, nullptr},
    {&AppliedSetup::fork_hs_comp_k, 0.25f, 4, &BikeInfo::fork_hs_comp, nullptr},
    {&AppliedSetup::fork_ls_comp_adj, -1, 1, &BikeInfo::fork_ls_comp, nullptr},
    {&AppliedSetup::fork_hs_reb_k, 0.25f, 4, &BikeInfo::fork_hs_reb, nullptr},
    {&AppliedSetup::fork_ls_reb_adj, -1, 1, &BikeInfo::fork_ls_reb, nullptr},
    {&AppliedSetup::fork_spring_k, 0, 1, &BikeInfo::fork_spring_min, &BikeInfo::fork_spring_max},
    {&AppliedSetup::fork_preload, 0, 1, &BikeInfo::fork_preload_min, &BikeInfo::fork_preload_max},
    {&AppliedSetup::fork_air_gap, 0, 1, &BikeInfo::fork_oil_min, &BikeInfo::fork_oil_max},
    {&AppliedSetup::shock_hs_comp_k, 0.25f, 4, &BikeInfo::shock_hs_comp, nullptr},
    {&AppliedSetup::shock_ls_comp_adj, -1, 1, &BikeInfo::shock_ls_comp, nullptr},
    {&AppliedSetup::shock_hs_reb_k, 0.25f, 4, &BikeInfo::shock_hs_reb, nullptr},
    {&AppliedSetup::shock_ls_reb_adj, -1, 1, &BikeInfo::shock_ls_reb, nullptr},
    {&AppliedSetup::shock_spring_k, 0, 1, &BikeInfo::shock_spring_min, &BikeInfo::shock_spring_max},
    {&AppliedSetup::shock_preload, 0, 1, &BikeInfo::shock_preload_min, &BikeInfo::shock_preload_max},
    {&AppliedSetup::rider_vspring, 0, 1, nullptr, nullptr},
    {&AppliedSetup::rider_vdamping, 0, 1, nullptr, nullptr},
    {&AppliedSetup::rider_fspring, 0, 1, nullptr, nullptr},
    {&AppliedSetup::rider_fdamping, 0, 1, nullptr, nullptr},
};

// Clamps v to lo..hi (NaN to lo) and raises the out-of-range flag when v lies beyond the
// tolerance around the range.
float clamp_flagged(float v, float lo, float hi) {
  float tolerance = RANGE_TOLERANCE * (hi - lo);
  if (!(v >= lo - tolerance && v <= hi + tolerance)) setup_out_of_range = true;
  if (!(v >= lo)) return lo;
  return v > hi ? hi : v;
}

double clock_seconds() {
  int32_t seconds, microseconds;
  vant_time_now(&seconds, &microseconds);
  return seconds + microseconds * 1e-6;
}

// How a stored setup number becomes the value its setter takes. High-speed damping keys
// (0..100) give a factor (50 gives 1, 100 gives 4), low-speed keys an offset (50 gives 0),
// spring, preload and oil keys a fraction.
enum Transform { AS_IS, DEGREES, MPH, PERCENT, HS_FACTOR, LS_OFFSET, FRACTION };

float transformed(double v, Transform how) {
  float f = static_cast<float>(v);
  switch (how) {
    case AS_IS: return f;
    case DEGREES: return f * DEGREE;
    case MPH: return f * FT_S_PER_MPH;
    case PERCENT: return f * 0.01f;
    // The curves are left unclamped here so the setter sees (and flags) the raw value.
    case HS_FACTOR: return std::exp2(f * 0.04f - 2);
    case LS_OFFSET: return f * 0.02f - 1;
    case FRACTION: return f * 0.01f;
  }
  return f;
}

bool yes(const ChoiceOption& option) { return option.index == 1; }

}  // namespace

void setup_set(Bike* bike, SetupValue which, float value) {
  if (which < 0 || which >= SETUP_VALUE_COUNT) return;
  const AppliedRange& r = RANGES[which];
  float v = clamp_flagged(value, r.lo, r.hi);
  if (r.span_end) v = between(bike->info.*r.base, bike->info.*r.span_end, v);
  else if (r.base) v *= bike->info.*r.base;
  bike->setup.*r.field = v;
}

void setup_set_option(Bike* bike, unsigned option, bool on) {
  if (option == OPTION_ARCADE && setup_arcade_disabled) on = false;
  if (on) bike->setup.options |= option;
  else bike->setup.options &= ~option;
}

void setup_set_sprockets(Bike* bike, float front_adjustment, float rear_adjustment) {
  final_drive_set(bike, clamp_flagged(front_adjustment, -2, 2), clamp_flagged(rear_adjustment, -2, 2));
}

void setup_rider_mass(Bike* bike, float d) {
  d = clamp_flagged(d, 0.33f, 0.5f);
  bike_set_rider_masses(bike, d);
  bike->setup.rider_mass_distribution = d;
}

bool setup_apply(Bike* bike) {
  double now = clock_seconds();
  if (bike_frame_speed(bike) > MOVING_SPEED) {
    if (now - REFUSAL_QUIET_TIME < setup_last_refusal)
      console_print("Settings not applied.  Mechanic can't keep up error.");
    setup_last_refusal = now;
    return false;
  }
  const BikeSetup& u = settings.setup;
  static const struct {
    NumberOption BikeSetup::*key;
    SetupValue which;
    Transform how;
  } NUMBERS[] = {
      {&BikeSetup::leveling, SETUP_LEVELING, AS_IS},
      {&BikeSetup::roll_damping, SETUP_ROLL_DAMPING, AS_IS},
      {&BikeSetup::roll_limit_angle, SETUP_ROLL_LIMIT_ANGLE, DEGREES},
      {&BikeSetup::roll_limit_factor, SETUP_ROLL_LIMIT_FACTOR, AS_IS},
      {&BikeSetup::steering_damping, SETUP_STEERING_DAMPING, AS_IS},
      {&BikeSetup::steering_strength, SETUP_STEERING_STRENGTH, AS_IS},
      {&BikeSetup::max_steering_force, SETUP_MAX_STEERING_FORCE, AS_IS},
      {&BikeSetup::direct_steering, SETUP_DIRECT_STEERING, AS_IS},
      {&BikeSetup::slow_damping_speed, SETUP_SLOW_DAMPING_SPEED, AS_IS},
      {&BikeSetup::slow_damping_factor, SETUP_SLOW_DAMPING_FACTOR, AS_IS},
      {&BikeSetup::land_damping_falloff, SETUP_LAND_DAMPING_FALLOFF, AS_IS},
      {&BikeSetup::land_damping_factor, SETUP_LAND_DAMPING_FACTOR, AS_IS},
      {&BikeSetup::full_lock_speed, SETUP_FULL_LOCK_SPEED, AS_IS},
      {&BikeSetup::restricted_lock_speed, SETUP_RESTRICTED_LOCK_SPEED, AS_IS},
      {&BikeSetup::restricted_lock, SETUP_RESTRICTED_LOCK_ANGLE, DEGREES},
      {&BikeSetup::auto_clutch_rpms, SETUP_AUTO_CLUTCH_RPM, AS_IS},
      {&BikeSetup::brake_torque, SETUP_FRONT_BRAKE_TORQUE, AS_IS},
      {&BikeSetup::rear_brake_torque, SETUP_REAR_BRAKE_TORQUE, AS_IS},
      {&BikeSetup::max_dab_speed, SETUP_MAX_DAB_SPEED, MPH},
      {&BikeSetup::fork_compression, SETUP_FORK_HS_COMP, HS_FACTOR},
      {&BikeSetup::fork_slow_compression, SETUP_FORK_LS_COMP, LS_OFFSET},
      {&BikeSetup::fork_rebound, SETUP_FORK_HS_REB, HS_FACTOR},
      {&BikeSetup::fork_slow_rebound, SETUP_FORK_LS_REB, LS_OFFSET},
      {&BikeSetup::fork_spring_rate, SETUP_FORK_SPRING, FRACTION},
      {&BikeSetup::fork_preload, SETUP_FORK_PRELOAD, FRACTION},
      {&BikeSetup::fork_oil_level, SETUP_FORK_OIL, FRACTION},
      {&BikeSetup::shock_compression, SETUP_SHOCK_HS_COMP, HS_FACTOR},
      {&BikeSetup::shock_slow_compression, SETUP_SHOCK_LS_COMP, LS_OFFSET},
      {&BikeSetup::shock_rebound, SETUP_SHOCK_HS_REB, HS_FACTOR},
      {&BikeSetup::shock_slow_rebound, SETUP_SHOCK_LS_REB, LS_OFFSET},
      {&BikeSetup::shock_spring_rate, SETUP_SHOCK_SPRING, FRACTION},
      {&BikeSetup::shock_preload, SETUP_SHOCK_PRELOAD, FRACTION},
      {&BikeSetup::rider_yspring, SETUP_RIDER_VSPRING, PERCENT},
      {&BikeSetup::rider_ydamping, SETUP_RIDER_VDAMPING, PERCENT},
      {&BikeSetup::rider_zspring, SETUP_RIDER_FSPRING, PERCENT},
      {&BikeSetup::rider_zdamping, SETUP_RIDER_FDAMPING, PERCENT},
  };
  for (const auto& n : NUMBERS) setup_set(bike, n.which, transformed((u.*n.key).value, n.how));

  // "Stop Wheelies": No, Yes (throttle cut and stoppie release), Front Only (stoppie release).
  int wheelies = u.stop_wheelies.index;
  setup_set_option(bike, OPTION_ARCADE, yes(u.arcade));
  setup_set_option(bike, OPTION_FRONT_ANTILOCK, yes(u.front_brake));
  setup_set_option(bike, OPTION_REAR_ANTILOCK, yes(u.rear_brake));
  setup_set_option(bike, OPTION_STOP_WHEELIES, wheelies == 1);
  setup_set_option(bike, OPTION_STOP_STOPPIES, wheelies == 1 || wheelies == 2);
  setup_set_option(bike, OPTION_AUTO_SHIFT, yes(u.auto_shift));
  setup_set_option(bike, OPTION_DAB_WHEN_STOPPED, yes(u.auto_dab));
  setup_set_option(bike, OPTION_REALIGN_AFTER_FALL, yes(u.auto_align));

  setup_set_sprockets(bike, static_cast<float>(u.front_sprocket_adjustment.value),
                      static_cast<float>(u.rear_sprocket_adjustment.value));
  setup_rider_mass(bike, static_cast<float>(u.rider_mass_distribution.value));
  return true;
}

void setup_defaults(Bike* bike) {
  const BikeInfo& info = bike->info;
  AppliedSetup& s = bike->setup;
  final_drive_set(bike, 0, 0);
  s.fork_hs_comp_k = info.fork_hs_comp;
  s.fork_ls_comp_adj = 0;
  s.fork_hs_reb_k = info.fork_hs_reb;
  s.fork_ls_reb_adj = 0;
  s.fork_spring_k = between(info.fork_spring_min, info.fork_spring_max, 0.5f);
  s.fork_preload = between(info.fork_preload_min, info.fork_preload_max, 0.5f);
  s.fork_air_gap = info.fork_oil_min;
  s.shock_hs_comp_k = 2 * info.shock_hs_comp;
  s.shock_ls_comp_adj = 0;
  s.shock_hs_reb_k = 2 * info.shock_hs_reb;
  s.shock_ls_reb_adj = info.shock_ls_reb;
  s.shock_spring_k = between(info.shock_spring_min, info.shock_spring_max, 0.5f);
  s.shock_preload = between(info.shock_preload_min, info.shock_preload_max, 0.5f);
  s.rider_vspring = 0.5f;
  s.rider_vdamping = 0.75f;
  s.rider_fspring = 0.5f;
  s.rider_fdamping = 0.75f;
  s.roll_damping = 60;
  s.leveling = 20;
  s.roll_limit_factor = 10;
  s.roll_limit_angle = PI_F / 4;
  s.steering_damping = 45;
  s.steering_strength = 75;
  s.max_steering_force = 400;
  s.direct_steering = 1;
  s.slow_damping_speed = 0;
  s.slow_damping_factor = 1;
  s.land_damping_falloff = 0.25f;
  s.land_damping_factor = 2;
  s.auto_clutch_rpm = 5000;
  s.front_brake_torque = 250;
  s.rear_brake_torque = 250;
  s.max_dab_speed = 30;
  s.full_lock_speed = 10;
  s.restricted_lock_speed = 50;
  s.restricted_lock_angle = 0.0872665f;
  s.options = OPTION_STOP_STOPPIES | OPTION_FRONT_ANTILOCK | OPTION_REALIGN_AFTER_FALL;
}

// --- Slider displays ------------------------------------------------------------------------

namespace {

constexpr double KGF_MM_PER_LBF_FT = 0.00148816;
constexpr double MM_PER_FT = 304.8;

double span_point(float lo, float hi, double p) { return lo + std::clamp(p, 0.0, 1.0) * (hi - lo); }

}  // namespace

double fork_spring_display(const BikeInfo& info, double p) {
  // The row's rate is for both legs together.
  return span_point(info.fork_spring_min, info.fork_spring_max, p) * KGF_MM_PER_LBF_FT / 2;
}
double fork_preload_display(const BikeInfo& info, double p) {
  return span_point(info.fork_preload_min, info.fork_preload_max, p) * MM_PER_FT;
}
double fork_oil_display(const BikeInfo& info, double p) {
  return span_point(info.fork_oil_min, info.fork_oil_max, p) * MM_PER_FT;
}
double shock_spring_display(const BikeInfo& info, double p) {
  return span_point(info.shock_spring_min, info.shock_spring_max, p) * KGF_MM_PER_LBF_FT;
}
double shock_preload_display(const BikeInfo& info, double p) {
  return span_point(info.shock_preload_min, info.shock_preload_max, p) * MM_PER_FT;
}
double front_teeth(const BikeInfo& info, double adjustment) { return info.front_sprocket + adjustment; }
double rear_teeth(const BikeInfo& info, double adjustment) { return info.rear_sprocket + adjustment; }

bool setup_display_text(const char* key, const BikeInfo& info, double value, char* out, int size) {
  static const struct {
    const char* key;
    double (*display)(const BikeInfo&, double);
    bool fraction;  // the display takes value / 100
    const char* format;
  } DISPLAYS[] = {
      {"fork_spring_rate_adjustment", fork_spring_display, true, "%.3f kg/mm"},
      {"fork_preload_adjustment", fork_preload_display, true, "%.2f mm"},
      {"fork_oil_level_adjustment", fork_oil_display, true, "%.2f mm"},
      {"shock_spring_rate_adjustment", shock_spring_display, true, "%.2f kg/mm"},
      {"shock_preload_adjustment", shock_preload_display, true, "%.2f mm"},
      {"front_sprocket_adjustment", front_teeth, false, "%.2f teeth"},
      {"rear_sprocket_adjustment", rear_teeth, false, "%.2f teeth"},
  };
  if (size > 0) out[0] = 0;
  for (const auto& d : DISPLAYS) {
    if (strcmp(d.key, key) != 0) continue;
    if (size > 0) snprintf(out, size, d.format, d.display(info, d.fraction ? value / 100 : value));
    return true;
  }
  return false;
}
