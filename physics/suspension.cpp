// Fork and shock motors, the steering torque path and the front wheel damper.
#include "physics/suspension.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float AIR_FORCE = 82.4616928f;  // lbf: 14.7 psi on two 48 mm fork tubes
constexpr float AIR_EXPONENT = 1.4f;
constexpr float PUSH_SPEED = 100;  // motor target speed while pushing
constexpr float TOP_OUT_RAMP = 32;  // full force after the first 1/32 of travel

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

}  // namespace

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

float steer_heading_angle(const Bike* bike) {
  float a[3];
  steering_axis(bike->info, a);
  const float f[3] = {0, -a[2], a[1]};
  const dReal* w = dBodyGetLinearVel(bike->bodies[BODY_FRONT_WHEEL]);
  dVector3 v;
  dBodyVectorFromWorld(bike->bodies[BODY_STEERING], w[0], w[1], w[2], v);
  double s = v[0];
  double t = v[0] * f[0] + v[1] * f[1] + v[2] * f[2];
  if (s * s + t * t > 1) return float(-std::atan2(s, -t));
  return 0;
}

void apply_steering_torque(Bike* bike, float torque) {
  float a[3];
  steering_axis(bike->info, a);
  dVector3 axis;
  dBodyVectorToWorld(bike->bodies[BODY_FRAME], a[0], a[1], a[2], axis);
  dBodyAddTorque(bike->bodies[BODY_FRONT_WHEEL], torque * axis[0], torque * axis[1], torque * axis[2]);
  dBodyAddTorque(bike->bodies[BODY_FRAME], -torque * axis[0], -torque * axis[1], -torque * axis[2]);
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
