// Setup values of a bike right after it is built, and the slider transforms.
#include "physics/setup.h"

#include <algorithm>
#include <cmath>

#include "physics/drivetrain.h"

namespace {

constexpr float PI_F = 3.14159265f;

float between(float lo, float hi, float p) { return lo + p * (hi - lo); }

}  // namespace

float setup_damping_factor(float key) { return std::clamp(std::exp2(key * 0.04f - 2), 0.25f, 4.0f); }
float setup_damping_offset(float key) { return std::clamp(key * 0.02f - 1, -1.0f, 1.0f); }
float setup_fraction(float key) { return std::clamp(key * 0.01f, 0.0f, 1.0f); }

void setup_rider_mass(Bike* bike, float d) {
  d = std::clamp(d, 0.33f, 0.5f);
  bike_set_rider_masses(bike, d);
  bike->setup.rider_mass_distribution = d;
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
