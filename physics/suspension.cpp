// Fork and shock motors, the steering torque path and the front wheel damper.
#include "physics/suspension.h"

#include <algorithm>
#include <cmath>

#include "core/constants.h"
#include "physics/steering.h"
#include "physics/world.h"
#include "track/terrain.h"

namespace {

constexpr float AIR_FORCE = 82.4616928f;  // lbf: 14.7 psi on two 48 mm fork tubes
constexpr float AIR_EXPONENT = 1.4f;
constexpr float PUSH_SPEED = 100;  // motor target speed while pushing
constexpr float TOP_OUT_RAMP = 32;  // full force after the first 1/32 of travel
constexpr float QUARTER_TURN = 0.785398163f;  // full steering lock, rad
constexpr float STEERING_GAIN = 1.5f;
constexpr float SELF_CENTRING = 50;  // lbf·ft/rad with the front wheel unloaded
constexpr float MIN_GRIP = 0.125f;
constexpr float LEAN_RATE_OUT = 3.926991f;   // rad/s, 1.25 pi
constexpr float LEAN_RATE_BACK = 9.817477f;  // rad/s, 3.125 pi: back towards upright
constexpr float BUMP_STEPS = 128;  // invulnerability steps with no stability at all
constexpr float BUMP_TORQUE = 200;

float clampf(float v, float lo, float hi) { return std::min(std::max(v, lo), hi); }

// A motor that pushes with exactly `force` when positive and only resists motion when negative.
void set_slider_motor(dJointID joint, float force) {
  dJointSetSliderParam(joint, dParamVel, force >= 0 ? PUSH_SPEED : 0);
  dJointSetSliderParam(joint, dParamFMax, std::fabs(force));
}

void set_hinge_motor(dJointID joint, float torque) {
  dJointSetHingeParam(joint, dParamVel, torque >= 0 ? PUSH_SPEED : 0);
  dJointSetHingeParam(joint, dParamFMax, std::fabs(torque));
}

// The steering axis (top minus bottom) in frame coordinates, unit length.
void steering_axis(const BikeInfo& info, float a[3]) {
  float d[3];
  for (int i = 0; i < 3; i++) d[i] = info.steering_pos[i] - info.fork_lower_pos[i];
  float n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  for (int i = 0; i < 3; i++) a[i] = d[i] / n;
}

float front_grip(const dReal* centre) {
  if (!steering_terrain) return 1;
  const GroundTile& tile = steering_terrain->tiles[terrain_tile_at(steering_terrain, float(centre[0]), float(centre[2]))];
  return std::max(tile.friction[0].coefficient, MIN_GRIP);
}

float front_height(const Bike* bike, const dReal* centre) {
  float ground = steering_terrain ? terrain_height_at(steering_terrain, float(centre[0]), float(centre[2])) : 0;
  return float(centre[1]) - ground - (bike->info.front_wheel.ring_radius + bike->info.front_wheel.tread_radius);
}

// How close the rider is to falling over at low speed: the steering against its lean limit.
float lean_limit(float vw, float roll, float heading, float steer_angle, float lock) {
  float u = clampf((vw - 5) / (15 - 5), 0, 1);
  float lo = 0.25f * u * lock;
  float hi = (0.625f * u + 0.125f) * lock;
  float a, b;
  if (roll >= 0) {
    a = clampf((-heading - lo) / (hi - lo), 0, 1);
    b = clampf((steer_angle - 0.2617994f) * 3.8197186f, 0, 1);
  } else {
    a = clampf((heading - lo) / (hi - lo), 0, 1);
    b = clampf((steer_angle + 0.2617994f) * -3.8197186f, 0, 1);
  }
  return std::max(a, b);
}

}  // namespace

const Terrain* steering_terrain = nullptr;

float damping_force(float v, float hs_comp, float ls_comp_adj, float hs_reb, float ls_reb_adj) {
  if (v >= 0) {
    float d = -v * hs_reb;
    return clampf(d - ls_reb_adj, 8 * d, d / 8);
  }
  float c = -v * hs_comp;
  return clampf(c + ls_comp_adj, c / 8, 8 * c);
}

float fork_force(const Bike* bike, float x, float v) {
  const AppliedSetup& s = bike->setup;
  float travel = bike->info.fork_travel;
  float damping = damping_force(v, s.fork_hs_comp_k, s.fork_ls_comp_adj, s.fork_hs_reb_k, s.fork_ls_reb_adj);
  float c = clampf(-x, 0, travel);
  float column = travel + s.fork_air_gap;
  float air = AIR_FORCE * (std::pow(column / (column - c), AIR_EXPONENT) - 1);
  float ramp = clampf(-TOP_OUT_RAMP * x / travel, 0, 1);
  return (air + (s.fork_preload - x) * s.fork_spring_k + damping) * ramp;
}

Linkage shock_linkage(const BikeInfo& info, float u) {
  float start = 0, w = info.link_break, p0 = 0, p1 = info.link_mid, s0 = info.link_slope0, s1 = info.link_slope_mid;
  if (u > info.link_break) {
    start = info.link_break;
    w = 1 - info.link_break;
    p0 = info.link_mid;
    p1 = info.link_end;
    s0 = info.link_slope_mid;
    s1 = info.link_slope1;
  }
  float t = (u - start) / w;
  float m0 = s0 * w, m1 = s1 * w;
  float c2 = 3 * (p1 - p0) - 2 * m0 - m1;
  float c3 = 2 * (p0 - p1) + m0 + m1;
  return {p0 + m0 * t + c2 * t * t + c3 * t * t * t, (m0 + 2 * c2 * t + 3 * c3 * t * t) / w};
}

float shock_torque(const Bike* bike, float theta, float omega) {
  const AppliedSetup& s = bike->setup;
  float max_angle = bike->info.swingarm_max_angle;
  Linkage link = shock_linkage(bike->info, clampf(-theta / max_angle, 0, 1));
  float damping = damping_force(omega * link.ratio, s.shock_hs_comp_k, s.shock_ls_comp_adj, s.shock_hs_reb_k,
                                s.shock_ls_reb_adj);
  float torque = ((link.compression + s.shock_preload) * s.shock_spring_k + damping) * link.ratio;
  return torque * clampf(-TOP_OUT_RAMP * theta / max_angle, 0, 1);
}

void suspension_update(Bike* bike) {
  dJointID fork = bike->joints[JOINT_FORK];
  set_slider_motor(fork, fork_force(bike, float(dJointGetSliderPosition(fork)), float(dJointGetSliderPositionRate(fork))));
  dJointID arm = bike->joints[JOINT_SWINGARM];
  set_hinge_motor(arm, shock_torque(bike, float(dJointGetHingeAngle(arm)), float(dJointGetHingeAngleRate(arm))));
}

namespace {

// The two steering helpers below with the steering axis already worked out (steering_axis).
float heading_angle(const Bike* bike, const float a[3]) {
  const float f[3] = {0, -a[2], a[1]};
  const dReal* w = dBodyGetLinearVel(bike->bodies[BODY_FRONT_WHEEL]);
  dVector3 v;
  dBodyVectorFromWorld(bike->bodies[BODY_STEERING], w[0], w[1], w[2], v);
  double s = v[0];
  double t = v[0] * f[0] + v[1] * f[1] + v[2] * f[2];
  if (s * s + t * t > 1) return float(-std::atan2(s, -t));
  return 0;
}

void steering_torque(Bike* bike, const float a[3], float torque) {
  dVector3 axis;
  dBodyVectorToWorld(bike->bodies[BODY_FRAME], a[0], a[1], a[2], axis);
  dBodyAddTorque(bike->bodies[BODY_FRONT_WHEEL], torque * axis[0], torque * axis[1], torque * axis[2]);
  dBodyAddTorque(bike->bodies[BODY_FRAME], -torque * axis[0], -torque * axis[1], -torque * axis[2]);
}

}  // namespace

float steer_heading_angle(const Bike* bike) {
  float a[3];
  steering_axis(bike->info, a);
  return heading_angle(bike, a);
}

void apply_steering_torque(Bike* bike, float torque) {
  float a[3];
  steering_axis(bike->info, a);
  steering_torque(bike, a, torque);
}

void steering_damper(Bike* bike) {
  dBodyID wheel = bike->bodies[BODY_FRONT_WHEEL];
  const dReal* w = dBodyGetAngularVel(wheel);
  dVector3 x;
  dBodyVectorToWorld(wheel, 1, 0, 0, x);
  double spin = x[0] * w[0] + x[1] * w[1] + x[2] * w[2];
  float k = bike->setup.steering_damping;
  double t[3];
  for (int i = 0; i < 3; i++) t[i] = (x[i] * spin - w[i]) * k;
  dBodyAddTorque(wheel, t[0], t[1], t[2]);
  dBodyAddTorque(bike->bodies[BODY_FRAME], -t[0], -t[1], -t[2]);
}

void steering_update(Bike* bike) {
  bike->lean_limit = 0;
  if (bike_crashed(bike)) return;
  AppliedSetup& s = bike->setup;
  const float steer = bike->controls.steer;
  float fmax = s.max_steering_force;
  float lo_limit = -fmax, hi_limit = fmax;
  float rider_direct = s.steering_strength * steer;
  float rider = rider_direct * s.direct_steering;

  const WheelInfo& wheel = bike->info.front_wheel;
  const double front_spin = dJointGetHingeAngleRate(bike->joints[JOINT_FRONT_AXLE]);  // rad/s
  float vw = (wheel.ring_radius + wheel.tread_radius) * float(front_spin);
  float roll = roll_angle(bike);
  float delta = float(dJointGetHingeAngle(bike->joints[JOINT_STEERING]));
  float axis[3];
  steering_axis(bike->info, axis);
  float beta = heading_angle(bike, axis);

  // Lock by speed, interpolated in 1/speed: full below the full-lock speed, restricted above
  // the restricted-lock speed, and wider on slippery ground.
  float hi = std::max(s.full_lock_speed + 1, s.restricted_lock_speed);
  float e = clampf((1 / std::max(1.0f, vw) - 1 / hi) / (1 / s.full_lock_speed - 1 / hi), 0, 1);
  const dReal* centre = dBodyGetPosition(bike->bodies[BODY_FRONT_WHEEL]);
  float restricted = std::min(s.restricted_lock_angle / front_grip(centre), QUARTER_TURN);
  float lock = restricted + (QUARTER_TURN - restricted) * e;
  float height = front_height(bike, centre);
  if (vw > 1 && height < 0.5f) {
    // A wheel lifting off may turn further, up to full lock at 0.25 ft.
    float lock2 = lock + (QUARTER_TURN - lock) * clampf(2 * height, 0, 1);
    float beyond = 1.125f * lock2 + 0.015f;
    if (beta > lock2) {
      float g = clampf((beta - beyond) / (lock2 - beyond), 0, 1);
      lo_limit = -fmax * (1.25f * g - 0.25f);
    } else if (beta < -lock2) {
      float g = clampf((-beta - beyond) / (lock2 - beyond), 0, 1);
      hi_limit = fmax * (1.25f * g - 0.25f);
    }
  }

  float stability;
  bool front_rolling = bike->front.depth > 0 && std::fabs(front_spin) >= QUARTER_TURN;
  if (!front_rolling) {
    bike->land_damping = s.land_damping_factor;
    stability = -SELF_CENTRING * delta;
  } else {
    const float rate = roll_rate(bike);
    float damp = rate * s.roll_damping * bike->land_damping;
    if (bike->land_damping > 1 && s.land_damping_falloff != 0) {
      bike->land_damping = std::max(1.0f, bike->land_damping - (s.land_damping_factor - 1) * float(SIM_STEP) /
                                                                   s.land_damping_falloff);
    }
    float level = roll * s.leveling;
    float vf = bike_frame_speed(bike);
    if (vf < s.slow_damping_speed) {
      float k = s.slow_damping_factor + (1 - s.slow_damping_factor) * clampf(vf / s.slow_damping_speed, 0, 1);
      damp *= k;
      level *= k;
    }
    bool leaning_further = (rate < 0 && roll < 0) || (rate >= 0 && roll >= 0);
    if (leaning_further && std::fabs(roll) > s.roll_limit_angle) {
      damp *= (std::fabs(roll) - s.roll_limit_angle) * s.roll_limit_factor + 1;
    }
    stability = damp + level;
    if (s.direct_steering < 1) {
      // Lean steering: the steer input asks for a lean, reached at a bounded roll rate.
      float q = (-steer * s.roll_limit_angle - roll) * 2.5f;
      bool back = (roll >= 0 && q < 0) || (roll < 0 && q >= 0);
      float cap = back ? LEAN_RATE_BACK : LEAN_RATE_OUT;
      q = clampf(q, -cap, cap);
      float lean = s.steering_strength * clampf(4 * (rate - q + clampf(q - rate, -0.125f, 0.125f)), -1, 1);
      rider = rider_direct * s.direct_steering + lean * (1 - s.direct_steering);
    }
  }

  if (bike->invulnerability > 0) {
    float cap = BUMP_TORQUE * clampf((BUMP_STEPS - bike->invulnerability) / BUMP_STEPS, 0, 1);
    stability = clampf(stability, -cap, cap);
  }
  steering_torque(bike, axis, clampf((stability + rider) * STEERING_GAIN, lo_limit, hi_limit));
  bike->lean_limit = lean_limit(vw, roll, beta, delta, lock);
}

namespace {

constexpr float ARCADE_LEAN_TORQUE = 1000;     // lbf·ft of the lean motor
constexpr float ARCADE_LOOK_AHEAD = 1;         // s of ballistic flight predicted
constexpr float ARCADE_TAIL = 20;              // ft behind the frame where the tail drag acts
constexpr float ARCADE_TAIL_DRAG = 0.25f;      // lbf per ft/s

// Steering torque factor (-2/3..2/3) that turns the steering towards a target angle: a
// proportional term with a dead band, less the steering rate, with a second small dead band.
float arcade_steer_towards(float target, float angle, float rate) {
  const float band = 1.0f / 32, fine = 0.00041667f;
  float e = clampf(target - angle, -0.25f, 0.25f);
  e = e > band ? (e - band) * 8 : (e < -band ? (e + band) * 8 : 0);
  float r = e - rate;
  r = r > fine ? r - fine : (r < -fine ? r + fine : 0);
  return clampf(r * 0.5f, -0.6666667f, 0.6666667f);
}

}  // namespace

void arcade_steering_update(Bike* bike) {
  if (bike_crashed(bike)) return;
  const AppliedSetup& s = bike->setup;
  const float steer = bike->controls.steer;
  dBodyID frame = bike->bodies[BODY_FRAME];
  dJointID steering = bike->joints[JOINT_STEERING];
  const float delta = float(dJointGetHingeAngle(steering));

  if (bike->front.depth <= 0) {
    // Still in the air a second from now: only centre the steering.
    const dReal* p = dBodyGetPosition(frame);
    const dReal* v = dBodyGetLinearVel(frame);
    float t = ARCADE_LOOK_AHEAD;
    float x = float(p[0] + v[0] * t), y = float(p[1] + v[1] * t - 16 * t * t), z = float(p[2] + v[2] * t);
    float ground = steering_terrain ? terrain_height_at(steering_terrain, x, z) : 0;
    if (y - ground >= bike->info.frame_pos[1]) {
      apply_steering_torque(bike, (-SELF_CENTRING * delta + s.steering_strength * steer * s.direct_steering) *
                                      STEERING_GAIN);
      return;
    }
  }

  // The lean follows the steer input at a bounded rate, held by a motor about the frame's
  // own z axis (a positive rate leans it left).
  const float roll = roll_angle(bike);
  const float k = clampf((s.roll_damping - 40) * 0.025f, 0, 1);
  const float target = -steer * QUARTER_TURN;
  float rate = (1.5f - 0.5f * k) * std::min(std::fabs(roll - target), 0.0625f) * 16;
  if (roll > target) rate = -rate;
  dVector3 axis;
  dBodyVectorToWorld(frame, 0, 0, 1, axis);
  dJointID motor = dJointCreateAMotor(physics_world, contact_group);
  dJointAttach(motor, frame, nullptr);
  dJointSetAMotorNumAxes(motor, 1);
  dJointSetAMotorAxis(motor, 0, 0, axis[0], axis[1], axis[2]);
  dJointSetAMotorParam(motor, dParamVel, rate);
  dJointSetAMotorParam(motor, dParamFMax, ARCADE_LEAN_TORQUE);

  // The front wheel follows the direction of travel, turned in by the steer input.
  float heading = steer_heading_angle(bike);
  apply_steering_torque(bike, s.steering_strength * arcade_steer_towards(heading - 0.5f * steer, delta,
                                                                          float(dJointGetHingeAngleRate(steering))));

  // Drag on a point far behind the bike turns it into its direction of travel.
  dVector3 tail;
  dBodyGetRelPointVel(frame, 0, 0, ARCADE_TAIL, tail);
  dBodyAddForceAtRelPos(frame, -ARCADE_TAIL_DRAG * tail[0], -ARCADE_TAIL_DRAG * tail[1], -ARCADE_TAIL_DRAG * tail[2], 0,
                        0, ARCADE_TAIL);
}
