// Packing bike poses: round trips within quantisation, clamping, the controls byte, and
// interpolation through quaternion sign flips and the axle-angle wrap.
#include "replay/packed_state.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

constexpr double PI = 3.14159265358979323846;
const PackRanges RANGES = {1024.0, -20.0, 100.0, 0.5, 0.9};

BikePose make_pose() {
  BikePose p{};
  p.frame_pos[0] = 300.25;
  p.frame_pos[1] = 12.5;
  p.frame_pos[2] = 710.0;
  double half = 0.3;  // 0.6 rad about the axis (0.6, 0.8, 0)
  p.frame_quat[0] = std::cos(half);
  p.frame_quat[1] = 0.6 * std::sin(half);
  p.frame_quat[2] = 0.8 * std::sin(half);
  p.frame_quat[3] = 0.0;
  p.steer_angle = -0.3;
  p.swing_angle = -0.2;
  p.fork_pos = -0.45;
  p.rider_pos[0] = p.frame_pos[0] + 1.5;
  p.rider_pos[1] = p.frame_pos[1] + 2.5;
  p.rider_pos[2] = p.frame_pos[2] - 0.75;
  p.rider_quat[0] = 1.0;
  p.front_axle = 2.0;
  p.rear_axle = -1.0;
  p.gear = 3;
  p.dab = true;
  p.throttle = 0.6;
  p.engine_speed = 900.0;
  return p;
}

PackedBikeState pack(const BikePose& p) {
  PackedBikeState s;
  packed_state_pack(p, RANGES, &s);
  return s;
}

BikePose unpack(const PackedBikeState& s) {
  BikePose p;
  packed_state_unpack(s, RANGES, &p);
  return p;
}

TEST(PackedState, RoundTripWithinQuantisation) {
  BikePose in = make_pose();
  BikePose out = unpack(pack(in));
  // Half a quantisation step of each field.
  double pos_step = RANGES.track_size / 16777215.0 / 2;
  EXPECT_NEAR(out.frame_pos[0], in.frame_pos[0], pos_step);
  EXPECT_NEAR(out.frame_pos[1], in.frame_pos[1], RANGES.ground_range / 16777215.0 / 2);
  EXPECT_NEAR(out.frame_pos[2], in.frame_pos[2], pos_step);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(out.frame_quat[i], in.frame_quat[i], 1.0 / 65535);
    EXPECT_NEAR(out.rider_quat[i], in.rider_quat[i], 1.0 / 65535);
  }
  EXPECT_NEAR(out.steer_angle, in.steer_angle, PI / 2 / 255 / 2);
  // The swing arm byte has bit 0 set and the fork byte bit 0 clear: up to a whole step off.
  EXPECT_NEAR(out.swing_angle, in.swing_angle, RANGES.swing_limit / 255 * 1.5);
  EXPECT_NEAR(out.fork_pos, in.fork_pos, RANGES.fork_travel / 255 * 1.5);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(out.rider_pos[i], in.rider_pos[i], 32.0 / 65535 / 2 + pos_step);
  EXPECT_NEAR(out.front_axle, in.front_axle, PI / 255);
  EXPECT_NEAR(out.rear_axle, in.rear_axle, PI / 255);
  EXPECT_EQ(out.gear, 3);
  EXPECT_TRUE(out.dab);
  EXPECT_NEAR(out.throttle, 9.0 / 15, 1e-12);  // 0.6 * 15 = 9
  EXPECT_EQ(out.crash_timer, 0);
  EXPECT_NEAR(out.engine_speed, in.engine_speed, 32768.0 / 65535 * 2 * PI / 60);
  EXPECT_FALSE(out.setup_marker);
  // The setup marker comes back as it went in, and the fork stays within its step.
  in.setup_marker = true;
  out = unpack(pack(in));
  EXPECT_TRUE(out.setup_marker);
  EXPECT_NEAR(out.fork_pos, in.fork_pos, RANGES.fork_travel / 255 * 1.5);
}

TEST(PackedState, FieldsClampAtTheirLimits) {
  struct Case {
    const char* what;
    void (*set)(BikePose*);
    int byte;
    int expected;
  };
  const Case cases[] = {
      {"x below 0", [](BikePose* p) { p->frame_pos[0] = -5; }, 0, 0},
      {"x past the track", [](BikePose* p) { p->frame_pos[0] = 5000; }, 2, 0xff},
      {"y below the ground", [](BikePose* p) { p->frame_pos[1] = -500; }, 5, 0},
      {"y above the range", [](BikePose* p) { p->frame_pos[1] = 500; }, 5, 0xff},
      {"z NaN", [](BikePose* p) { p->frame_pos[2] = NAN; }, 8, 0},
      {"steer past right lock", [](BikePose* p) { p->steer_angle = 2; }, 17, 255},
      {"steer past left lock", [](BikePose* p) { p->steer_angle = -2; }, 17, 0},
      {"swing arm past the limit, bit 0 set", [](BikePose* p) { p->swing_angle = -3; }, 18, 1},
      {"swing arm above 0", [](BikePose* p) { p->swing_angle = 1; }, 18, 255},
      {"fork past its travel", [](BikePose* p) { p->fork_pos = -5; }, 19, 0},
      {"fork extended, marker clear", [](BikePose* p) { p->fork_pos = 1; }, 19, 254},
      {"fork extended, marker set", [](BikePose* p) { p->fork_pos = 1, p->setup_marker = true; }, 19, 255},
      {"fork bottomed, marker set", [](BikePose* p) { p->fork_pos = -5, p->setup_marker = true; }, 19, 1},
      {"rider far right", [](BikePose* p) { p->rider_pos[0] = p->frame_pos[0] + 40; }, 21, 0xff},
      {"rider far below", [](BikePose* p) { p->rider_pos[1] = p->frame_pos[1] - 40; }, 23, 0},
      {"engine over range", [](BikePose* p) { p->engine_speed = 1e6; }, 38, 0xff},
      {"engine backwards", [](BikePose* p) { p->engine_speed = -50; }, 38, 0},
      {"axle at pi wraps to -pi", [](BikePose* p) { p->front_axle = PI; }, 34, 0},
      {"axle past a turn wraps", [](BikePose* p) { p->rear_axle = 2 * PI + 0.5; }, 35, int(std::floor((0.5 + PI) / (2 * PI) * 255 + 0.5))},
  };
  for (const Case& c : cases) {
    BikePose p = make_pose();
    c.set(&p);
    EXPECT_EQ(pack(p).bytes[c.byte], c.expected) << c.what;
  }
}

TEST(PackedState, ControlsByte) {
  struct Case {
    int gear;
    bool dab;
    double throttle;
    int crash_timer;
    int expected;
  };
  const Case cases[] = {
      {0, false, 0.0, 0, 0x00},
      {6, false, 1.0, 0, 0xf6},
      {9, false, 2.0, 0, 0xf6},      // out of range gear and throttle clamp
      {-1, true, -1.0, 0, 0x08},
      {2, false, 0.5, 1, 0x07},      // just down: level 0
      {2, true, 0.5, 128, 0xff},     // level (15*128-15)/127 = 15
      {2, false, 0.5, 100000, 0xf7}, // level saturates at 15
      {2, false, 0.5, 60, 0x67},     // (900-15)/127 = 6
  };
  for (const Case& c : cases) {
    BikePose p = make_pose();
    p.gear = c.gear;
    p.dab = c.dab;
    p.throttle = c.throttle;
    p.crash_timer = c.crash_timer;
    PackedBikeState s = pack(p);
    EXPECT_EQ(s.bytes[36], c.expected) << c.gear << " " << c.crash_timer;
    // A downed rider's timer unpacks to one that packs back to the same byte.
    EXPECT_EQ(pack(unpack(s)).bytes[36], s.bytes[36]);
  }
}

// A state whose frame turns by angle about y and whose axles stand at the given fractions
// of a turn (0 = -pi).
PackedBikeState turned(double angle, double axle_fraction, bool flip_sign) {
  BikePose p = make_pose();
  double sign = flip_sign ? -1.0 : 1.0;
  p.frame_quat[0] = sign * std::cos(angle / 2);
  p.frame_quat[1] = 0;
  p.frame_quat[2] = sign * std::sin(angle / 2);
  p.frame_quat[3] = 0;
  p.front_axle = axle_fraction * 2 * PI - PI;
  p.rear_axle = p.front_axle;
  return pack(p);
}

double yaw_of(const PackedBikeState& s) {
  BikePose p = unpack(s);
  double w = p.frame_quat[0], y = p.frame_quat[2];
  if (w < 0) {
    w = -w;
    y = -y;
  }
  return 2 * std::atan2(y, w);
}

double axle_fraction_of(const PackedBikeState& s) { return s.bytes[34] / 255.0; }

TEST(PackedState, InterpolatesQuaternionsAcrossASignFlip) {
  // The same small turn from 0.2 to 0.4 rad, with the second quaternion stored negated.
  struct Case {
    double w;
    bool flip;
    double yaw;
  };
  const Case cases[] = {{0.5, false, 0.3}, {0.5, true, 0.3}, {0.0, true, 0.2}, {1.0, true, 0.4}, {2.0, true, 0.6}};
  for (const Case& c : cases) {
    PackedBikeState out;
    packed_state_interpolate(turned(0.2, 0.5, false), turned(0.4, 0.5, c.flip), c.w, &out);
    EXPECT_NEAR(yaw_of(out), c.yaw, 0.01) << c.w << " " << c.flip;
  }
}

TEST(PackedState, InterpolatesAxlesThroughTheWrap) {
  struct Case {
    double first, second, w, expected;
  };
  const Case cases[] = {
      {0.2, 0.4, 0.5, 0.3},
      {0.95, 0.05, 0.5, 0.0},    // forward through a whole turn, not back over 0.5
      {0.95, 0.05, 0.25, 0.975},
      {0.05, 0.95, 0.5, 0.0},    // a small step back across the wrap
      {0.9, 0.1, 4.0, 0.7},      // extrapolated past a whole turn keeps turning
      {0.1, 0.0, 3.0, 0.8},      // extrapolated backwards below 0
  };
  for (const Case& c : cases) {
    PackedBikeState out;
    packed_state_interpolate(turned(0, c.first, false), turned(0, c.second, false), c.w, &out);
    double got = axle_fraction_of(out);
    double error = std::fabs(got - c.expected);
    EXPECT_LT(std::min(error, 1.0 - error), 0.01) << c.first << " -> " << c.second << " w " << c.w << " got " << got;
  }
}

TEST(PackedState, InterpolationClampsAndKeepsTheControlsOfTheFirst) {
  BikePose a = make_pose(), b = make_pose();
  a.frame_pos[0] = 1000.0;
  b.frame_pos[0] = 1020.0;  // past the track's end
  a.gear = 2;
  b.gear = 5;
  PackedBikeState out;
  packed_state_interpolate(pack(a), pack(b), 3.0, &out);
  EXPECT_NEAR(unpack(out).frame_pos[0], RANGES.track_size, 1e-3);
  EXPECT_EQ(unpack(out).gear, 2);
  EXPECT_EQ(out.bytes[18] & 1, 1);
}

TEST(PackedState, MotionBetweenTwoPoses) {
  BikePose a = make_pose(), b = make_pose();
  a.frame_quat[0] = 1;
  a.frame_quat[1] = a.frame_quat[2] = a.frame_quat[3] = 0;
  // b: turned 0.1 rad about y, stored with the opposite sign; 2 ft further in x.
  b.frame_quat[0] = -std::cos(0.05);
  b.frame_quat[1] = 0;
  b.frame_quat[2] = -std::sin(0.05);
  b.frame_quat[3] = 0;
  b.frame_pos[0] = a.frame_pos[0] + 2;
  a.front_axle = PI - 0.1;
  b.front_axle = -PI + 0.1;  // 0.2 rad forward through the wrap
  BikeMotion m;
  bike_pose_motion(a, b, 4, &m);  // 4 ticks = 1/32 s
  EXPECT_NEAR(m.frame_velocity[0], 64.0, 1e-9);
  EXPECT_NEAR(m.frame_spin[1], 3.2, 1e-9);
  EXPECT_NEAR(m.frame_spin[0], 0.0, 1e-9);
  EXPECT_NEAR(m.front_axle_rate, 6.4, 1e-9);
}

}  // namespace
