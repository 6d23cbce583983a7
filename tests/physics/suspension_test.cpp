// The damping rule, the fork's air and spring force, the shock linkage curve and the steering
// torque path.
#include "physics/suspension.h"

#include <cmath>

#include <gtest/gtest.h>

#include "core/tick.h"
#include "physics/world.h"
#include "tests/physics/one_bike_test.h"

namespace {

TEST(DampingForce, LowSpeedOffsetStaysWithinAnEighthAndEightTimesTheLinearTerm) {
  struct Case {
    float v, hs_comp, ls_comp, hs_reb, ls_reb, expected;
  } cases[] = {
      {0, 10, 5, 10, 5, 0},         // at rest nothing, whatever the offsets
      {-1, 10, 5, 0, 0, 15},        // compression: linear plus offset
      {-0.1f, 10, 50, 0, 0, 8},     // offset capped at 8 times
      {-1, 10, -9.5f, 0, 0, 1.25f}, // negative offset floored at 1/8
      {1, 0, 0, 10, 5, -15},        // rebound pulls back
      {0.1f, 0, 0, 10, 50, -8},
      {1, 0, 0, 10, -9.5f, -1.25f},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(damping_force(c.v, c.hs_comp, c.ls_comp, c.hs_reb, c.ls_reb), c.expected, 1e-5) << "v " << c.v;
  }
}

struct SuspensionTest : OneBikeTest {
};

TEST_F(SuspensionTest, ForkForceFromAirSpringAndTopOutRamp) {
  AppliedSetup& s = bike->setup;
  s.fork_spring_k = 0;
  s.fork_preload = 0;
  s.fork_air_gap = 5.0f / 12;
  // Travel 1 ft: half compressed, the air column alone.
  EXPECT_NEAR(fork_force(bike, -0.5f, 0), 82.4616928 * (std::pow(1.416667 / 0.916667, 1.4) - 1), 0.05);
  s.fork_spring_k = 100;
  s.fork_preload = 0.2f;
  // Fully extended the fork pushes nothing, even with preload; half-way into the ramp, half.
  EXPECT_EQ(fork_force(bike, 0, 0), 0);
  float full = fork_force(bike, -1.0f / 32, 0);
  float air = 82.4616928f * (std::pow((17.0f / 12) / (17.0f / 12 - 1.0f / 64), 1.4f) - 1);
  EXPECT_NEAR(fork_force(bike, -1.0f / 64, 0), (air + (0.2f + 1.0f / 64) * 100) / 2, 1e-3);
  EXPECT_GT(full, fork_force(bike, -1.0f / 64, 0));
  // Extending fast, rebound damping can pull the force below zero.
  EXPECT_LT(fork_force(bike, -0.5f, 20), 0);
}

TEST_F(SuspensionTest, ShockLinkagePassesThroughItsKnotsWithTheirSlopes) {
  const BikeInfo& info = bike->info;
  struct Case {
    float u, compression, ratio;
  } cases[] = {
      {0, 0, info.link_slope0},
      {info.link_break, info.link_mid, info.link_slope_mid},
      {1, info.link_end, info.link_slope1},
  };
  for (const Case& c : cases) {
    Linkage link = shock_linkage(info, c.u);
    EXPECT_NEAR(link.compression, c.compression, 1e-5) << c.u;
    EXPECT_NEAR(link.ratio, c.ratio, 1e-4) << c.u;
    // Just past the knot the curve goes on with the same value and slope.
    Linkage next = shock_linkage(info, std::fmin(c.u + 1e-3f, 1));
    if (c.u < 1) {
      EXPECT_NEAR(next.compression, c.compression + 1e-3f * c.ratio, 1e-5) << c.u;
    }
  }
  // Rising rate: the ratio grows with travel.
  EXPECT_LT(shock_linkage(info, 0.3f).ratio, shock_linkage(info, 0.9f).ratio);
}

TEST_F(SuspensionTest, SuspensionMotorsPushOrOnlyResist) {
  dJointID fork = bike->joints[JOINT_FORK];
  dJointID arm = bike->joints[JOINT_SWINGARM];
  suspension_update(bike);  // model pose: fully extended, no force
  EXPECT_EQ(dJointGetSliderParam(fork, dParamFMax), 0);
  EXPECT_EQ(dJointGetHingeParam(arm, dParamFMax), 0);
  EXPECT_GT(fork_force(bike, -0.3f, 0), 0);
  EXPECT_GT(shock_torque(bike, -0.2f, 0), 0);
  EXPECT_LT(shock_torque(bike, -0.2f, 30), 0);
}

TEST_F(SuspensionTest, SteeringTorqueTurnsTheFrontWheelAboutTheSteeringAxis) {
  apply_steering_torque(bike, 10);
  const dReal* wheel = dBodyGetTorque(bike->bodies[BODY_FRONT_WHEEL]);
  const dReal* frame = dBodyGetTorque(bike->bodies[BODY_FRAME]);
  const float* top = bike->info.steering_pos;
  const float* bottom = bike->info.fork_lower_pos;
  double axis[3] = {top[0] - bottom[0], top[1] - bottom[1], top[2] - bottom[2]};
  double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  for (int i = 0; i < 3; i++) {
    EXPECT_NEAR(wheel[i], 10 * axis[i] / n, 1e-6);
    EXPECT_NEAR(frame[i], -wheel[i], 1e-9);
  }
  // Positive torque about the upward axis turns the wheel to the left.
  EXPECT_GT(wheel[1], 0);
}

TEST_F(SuspensionTest, WheelDamperLeavesTheSpinAlone) {
  dBodyID wheel = bike->bodies[BODY_FRONT_WHEEL];
  dBodySetAngularVel(wheel, 20, 0, 0);
  steering_damper(bike);
  const dReal* t = dBodyGetTorque(wheel);
  EXPECT_NEAR(std::fabs(t[0]) + std::fabs(t[1]) + std::fabs(t[2]), 0, 1e-9);
  dBodySetAngularVel(wheel, 20, 1, 0);
  steering_damper(bike);
  EXPECT_NEAR(dBodyGetTorque(wheel)[1], -bike->setup.steering_damping, 1e-9);
}

}  // namespace
