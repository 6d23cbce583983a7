// Packing of bike poses into 39 bytes and the arithmetic on packed states.
#include "replay/packed_state.h"

#include <algorithm>
#include <cmath>

#include "core/constants.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double U24_MAX = 16777215.0;
constexpr double U16_MAX = 65535.0;
constexpr double U8_MAX = 255.0;
constexpr double RIDER_OFFSET_RANGE = 16.0;  // ft either way from the frame
constexpr double RPM_MAX = 32768.0;

// Byte offsets of the fields.
constexpr int AT_POSITION = 0;
constexpr int AT_FRAME_QUAT = 9;
constexpr int AT_STEER = 17;
constexpr int AT_SWING = 18;
constexpr int AT_FORK = 19;
constexpr int AT_RIDER_OFFSET = 20;
constexpr int AT_RIDER_QUAT = 26;
constexpr int AT_FRONT_AXLE = 34;
constexpr int AT_REAR_AXLE = 35;
constexpr int AT_CONTROLS = 36;
constexpr int AT_RPM = 37;

constexpr int GEAR_DOWN = 7;

double clamp01(double v) {
  // NaN packs as 0 rather than as whatever the cast makes of it.
  if (!(v > 0.0)) return 0.0;
  return v < 1.0 ? v : 1.0;
}

uint32_t quantise(double v, double max) { return static_cast<uint32_t>(std::floor(clamp01(v) * max + 0.5)); }

void put_u24(uint8_t* at, double v) {
  uint32_t i = quantise(v, U24_MAX);
  at[0] = uint8_t(i);
  at[1] = uint8_t(i >> 8);
  at[2] = uint8_t(i >> 16);
}
double get_u24(const uint8_t* at) { return double(at[0] | at[1] << 8 | at[2] << 16) / U24_MAX; }

void put_u16(uint8_t* at, double v) {
  uint32_t i = quantise(v, U16_MAX);
  at[0] = uint8_t(i);
  at[1] = uint8_t(i >> 8);
}
double get_u16(const uint8_t* at) { return double(at[0] | at[1] << 8) / U16_MAX; }

void put_u8(uint8_t* at, double v) { *at = uint8_t(quantise(v, U8_MAX)); }
double get_u8(const uint8_t* at) { return *at / U8_MAX; }

void put_quat(uint8_t* at, const double* q) {
  for (int i = 0; i < 4; ++i) put_u16(at + 2 * i, (q[i] + 1.0) * 0.5);
}
void get_quat(const uint8_t* at, double* q) {
  for (int i = 0; i < 4; ++i) q[i] = get_u16(at + 2 * i) * 2.0 - 1.0;
}

// An axle angle as a fraction of a turn, 0..1 for -pi..pi; angles outside wrap round.
double axle_fraction(double angle) {
  double u = (angle + PI) / (2.0 * PI);
  return u - std::floor(u);
}

// Brings two axle fractions onto one unwrapped scale so that the shorter way round forward
// (or a small step back) is taken between them.
void axle_unwrap(double* first, double* second) {
  if (*second < *first - 0.125) {
    *first -= 1.0;
  } else if (*second > *first + 1.0 - 0.125) {
    *second -= 1.0;
  }
}

double lerp(double a, double b, double w) { return a + (b - a) * w; }

void lerp_u24(const uint8_t* a, const uint8_t* b, double w, uint8_t* out) { put_u24(out, lerp(get_u24(a), get_u24(b), w)); }
void lerp_u16(const uint8_t* a, const uint8_t* b, double w, uint8_t* out) { put_u16(out, lerp(get_u16(a), get_u16(b), w)); }
void lerp_u8(const uint8_t* a, const uint8_t* b, double w, uint8_t* out) { put_u8(out, lerp(get_u8(a), get_u8(b), w)); }

void lerp_quat(const uint8_t* a, const uint8_t* b, double w, uint8_t* out) {
  double qa[4], qb[4], q[4];
  get_quat(a, qa);
  get_quat(b, qb);
  double dot = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
  double sign = dot < 0.0 ? -1.0 : 1.0;
  double norm = 0.0;
  for (int i = 0; i < 4; ++i) {
    q[i] = lerp(qa[i], sign * qb[i], w);
    norm += q[i] * q[i];
  }
  norm = std::sqrt(norm);
  if (norm < 1e-9) {
    // Opposite or empty inputs give no direction; keep the first.
    for (int i = 0; i < 8; ++i) out[i] = a[i];
    return;
  }
  for (double& c : q) c /= norm;
  put_quat(out, q);
}

void lerp_axle(uint8_t a, uint8_t b, double w, uint8_t* out) {
  double first = a / U8_MAX, second = b / U8_MAX;
  axle_unwrap(&first, &second);
  double u = lerp(first, second, w);
  // Extrapolation may run more than a turn past either end: wrap into one turn so a spinning
  // wheel keeps turning instead of sticking at the end of the range.
  u -= std::floor(u);
  put_u8(out, u);
}

// World angular velocity that turns orientation qa into qb over dt seconds.
void spin_between(const double* qa, const double* qb, double dt, double* out) {
  // r = qb * conjugate(qa)
  double aw = qa[0], ax = -qa[1], ay = -qa[2], az = -qa[3];
  double r[4] = {
      qb[0] * aw - qb[1] * ax - qb[2] * ay - qb[3] * az,
      qb[0] * ax + qb[1] * aw + qb[2] * az - qb[3] * ay,
      qb[0] * ay - qb[1] * az + qb[2] * aw + qb[3] * ax,
      qb[0] * az + qb[1] * ay - qb[2] * ax + qb[3] * aw,
  };
  if (r[0] < 0.0) {
    for (double& c : r) c = -c;
  }
  double s = std::sqrt(r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
  double angle = 2.0 * std::atan2(s, r[0]);
  for (int i = 0; i < 3; ++i) out[i] = s > 1e-12 ? r[i + 1] / s * angle / dt : 0.0;
}

double axle_rate(double a, double b, double dt) {
  double first = axle_fraction(a), second = axle_fraction(b);
  axle_unwrap(&first, &second);
  return (second - first) * 2.0 * PI / dt;
}

}  // namespace

void packed_state_pack(const BikePose& pose, const PackRanges& ranges, PackedBikeState* out) {
  uint8_t* s = out->bytes;
  put_u24(s + AT_POSITION, pose.frame_pos[0] / ranges.track_size);
  put_u24(s + AT_POSITION + 3, (pose.frame_pos[1] - ranges.ground_min) / ranges.ground_range);
  put_u24(s + AT_POSITION + 6, pose.frame_pos[2] / ranges.track_size);
  put_quat(s + AT_FRAME_QUAT, pose.frame_quat);
  put_u8(s + AT_STEER, (pose.steer_angle + PI / 4.0) * 2.0 / PI);
  put_u8(s + AT_SWING, (pose.swing_angle + ranges.swing_limit) / ranges.swing_limit);
  s[AT_SWING] |= 1;
  put_u8(s + AT_FORK, (pose.fork_pos + ranges.fork_travel) / ranges.fork_travel);
  s[AT_FORK] = uint8_t((s[AT_FORK] & ~1) | (pose.setup_marker ? 1 : 0));
  for (int i = 0; i < 3; ++i) {
    double d = pose.rider_pos[i] - pose.frame_pos[i];
    put_u16(s + AT_RIDER_OFFSET + 2 * i, (d + RIDER_OFFSET_RANGE) / (2.0 * RIDER_OFFSET_RANGE));
  }
  put_quat(s + AT_RIDER_QUAT, pose.rider_quat);
  put_u8(s + AT_FRONT_AXLE, axle_fraction(pose.front_axle));
  put_u8(s + AT_REAR_AXLE, axle_fraction(pose.rear_axle));

  uint8_t controls = pose.dab ? 8 : 0;
  if (pose.crash_timer > 0) {
    int level = std::min(15, (15 * pose.crash_timer - 15) / 127);
    controls |= GEAR_DOWN | uint8_t(level << 4);
  } else {
    controls |= uint8_t(std::clamp(pose.gear, 0, 6));
    // Truncated, with room for the rounding of a throttle that unpacked from a level.
    controls |= uint8_t(int(clamp01(pose.throttle) * 15.0 + 1e-6) << 4);
  }
  s[AT_CONTROLS] = controls;
  put_u16(s + AT_RPM, pose.engine_speed * 60.0 / (2.0 * PI) / RPM_MAX);
}

void packed_state_unpack(const PackedBikeState& state, const PackRanges& ranges, BikePose* out) {
  const uint8_t* s = state.bytes;
  out->frame_pos[0] = get_u24(s + AT_POSITION) * ranges.track_size;
  out->frame_pos[1] = get_u24(s + AT_POSITION + 3) * ranges.ground_range + ranges.ground_min;
  out->frame_pos[2] = get_u24(s + AT_POSITION + 6) * ranges.track_size;
  get_quat(s + AT_FRAME_QUAT, out->frame_quat);
  out->steer_angle = get_u8(s + AT_STEER) * PI / 2.0 - PI / 4.0;
  out->swing_angle = get_u8(s + AT_SWING) * ranges.swing_limit - ranges.swing_limit;
  // The marker shares the fork's lowest bit: at most 1/255 of the travel.
  out->fork_pos = get_u8(s + AT_FORK) * ranges.fork_travel - ranges.fork_travel;
  out->setup_marker = (s[AT_FORK] & 1) != 0;
  for (int i = 0; i < 3; ++i) {
    double d = get_u16(s + AT_RIDER_OFFSET + 2 * i) * 2.0 * RIDER_OFFSET_RANGE - RIDER_OFFSET_RANGE;
    out->rider_pos[i] = out->frame_pos[i] + d;
  }
  get_quat(s + AT_RIDER_QUAT, out->rider_quat);
  out->front_axle = get_u8(s + AT_FRONT_AXLE) * 2.0 * PI - PI;
  out->rear_axle = get_u8(s + AT_REAR_AXLE) * 2.0 * PI - PI;

  uint8_t controls = s[AT_CONTROLS];
  out->dab = (controls & 8) != 0;
  out->gear = controls & 7;
  int level = controls >> 4;
  if (out->gear == GEAR_DOWN) {
    // The smallest timer that packs to this level.
    out->crash_timer = std::max(1, (127 * level + 14) / 15 + 1);
    out->throttle = 0.0;
  } else {
    out->crash_timer = 0;
    out->throttle = level / 15.0;
  }
  out->engine_speed = get_u16(s + AT_RPM) * RPM_MAX * 2.0 * PI / 60.0;
}

void packed_state_interpolate(const PackedBikeState& a, const PackedBikeState& b, double w,
                              PackedBikeState* out) {
  const uint8_t* x = a.bytes;
  const uint8_t* y = b.bytes;
  uint8_t* o = out->bytes;
  for (int i = 0; i < 3; ++i) lerp_u24(x + AT_POSITION + 3 * i, y + AT_POSITION + 3 * i, w, o + AT_POSITION + 3 * i);
  lerp_quat(x + AT_FRAME_QUAT, y + AT_FRAME_QUAT, w, o + AT_FRAME_QUAT);
  for (int at = AT_STEER; at <= AT_FORK; ++at) lerp_u8(x + at, y + at, w, o + at);
  o[AT_SWING] |= 1;
  o[AT_FORK] = uint8_t((o[AT_FORK] & ~1) | (x[AT_FORK] & 1));
  for (int i = 0; i < 3; ++i) lerp_u16(x + AT_RIDER_OFFSET + 2 * i, y + AT_RIDER_OFFSET + 2 * i, w, o + AT_RIDER_OFFSET + 2 * i);
  lerp_quat(x + AT_RIDER_QUAT, y + AT_RIDER_QUAT, w, o + AT_RIDER_QUAT);
  lerp_axle(x[AT_FRONT_AXLE], y[AT_FRONT_AXLE], w, o + AT_FRONT_AXLE);
  lerp_axle(x[AT_REAR_AXLE], y[AT_REAR_AXLE], w, o + AT_REAR_AXLE);
  o[AT_CONTROLS] = x[AT_CONTROLS];
  lerp_u16(x + AT_RPM, y + AT_RPM, w, o + AT_RPM);
}

void bike_pose_motion(const BikePose& a, const BikePose& b, int ticks, BikeMotion* out) {
  double dt = std::max(ticks, 1) * SIM_STEP;
  for (int i = 0; i < 3; ++i) {
    out->frame_velocity[i] = (b.frame_pos[i] - a.frame_pos[i]) / dt;
    out->rider_velocity[i] = (b.rider_pos[i] - a.rider_pos[i]) / dt;
  }
  spin_between(a.frame_quat, b.frame_quat, dt, out->frame_spin);
  spin_between(a.rider_quat, b.rider_quat, dt, out->rider_spin);
  out->steer_rate = (b.steer_angle - a.steer_angle) / dt;
  out->swing_rate = (b.swing_angle - a.swing_angle) / dt;
  out->fork_rate = (b.fork_pos - a.fork_pos) / dt;
  out->front_axle_rate = axle_rate(a.front_axle, b.front_axle, dt);
  out->rear_axle_rate = axle_rate(a.rear_axle, b.rear_axle, dt);
}
