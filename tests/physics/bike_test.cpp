// Bike assembly: masses, the model pose and joints, placing, reset, knock-back and the
// bookkeeping of the post-step.
#include "physics/bike.h"

#include <cmath>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/world.h"

namespace {

constexpr double PI = 3.14159265358979323846;

struct BikeTest : ::testing::Test {
  Bike* bike = nullptr;
  void SetUp() override {
    physics_world_create();
    sim_tick = 0;
    race_start_tick = 0;
    bike = bike_create("450sxf(2018)", 7, "123456789", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override { bike_destroy(bike); }

  double body_mass(int body) {
    dMass m;
    dBodyGetMass(bike->bodies[body], &m);
    return m.mass;
  }
  const dReal* pos(int body) { return dBodyGetPosition(bike->bodies[body]); }
};

TEST_F(BikeTest, MassesOfA450Row) {
  EXPECT_NEAR(bike->total_mass, 4.735 + 5.46875 + 2 * 0.703125 + 2 * 0.5025 + 0.40625 + 0.15625 + 0.46875 + 0.3125,
              1e-5);
  EXPECT_NEAR(body_mass(BODY_FRAME), 4.735 + 5.46875 * 2 / 3, 1e-6);
  EXPECT_NEAR(body_mass(BODY_RIDER), 5.46875 / 3, 1e-6);
  EXPECT_NEAR(body_mass(BODY_STEERING), 0.703125, 1e-6);
  EXPECT_NEAR(body_mass(BODY_FORK_LOWER), 0.703125, 1e-6);
  EXPECT_NEAR(body_mass(BODY_SWINGARM), 2 * 0.5025, 1e-6);
  EXPECT_NEAR(body_mass(BODY_FRONT_WHEEL), 0.40625 + 0.15625, 1e-6);
  EXPECT_NEAR(body_mass(BODY_REAR_WHEEL), 0.46875 + 0.3125, 1e-6);
  // A wheel spins about its axle as a ring: the axle inertia is the larger one and the two
  // in-plane ones are equal.
  dMass wheel;
  dBodyGetMass(bike->bodies[BODY_REAR_WHEEL], &wheel);
  EXPECT_GT(wheel.I[0], wheel.I[5]);
  EXPECT_NEAR(wheel.I[5], wheel.I[10], 1e-9);
  EXPECT_STREQ(bike->number, "1234567");
  EXPECT_EQ(bike->tag, 7);
}

TEST_F(BikeTest, JointsHoldTheModelPose) {
  EXPECT_NEAR(dJointGetSliderPosition(bike->joints[JOINT_FORK]), 0, 1e-9);
  EXPECT_NEAR(dJointGetHingeAngle(bike->joints[JOINT_SWINGARM]), 0, 1e-9);
  EXPECT_NEAR(dJointGetHingeAngle(bike->joints[JOINT_STEERING]), 0, 1e-9);
  EXPECT_EQ(dJointGetBody(bike->joints[JOINT_RIDER], 0), bike->bodies[BODY_RIDER]);
  EXPECT_EQ(dJointGetBody(bike->joints[JOINT_RIDER], 1), bike->bodies[BODY_FRAME]);
  // The fork slides along the steering axis and compresses downwards.
  dVector3 axis;
  dJointGetSliderAxis(bike->joints[JOINT_FORK], axis);
  EXPECT_NEAR(axis[2] / axis[1], 0.57 / 1.13, 1e-6);
  EXPECT_NEAR(dJointGetSliderParam(bike->joints[JOINT_FORK], dParamLoStop), -1, 1e-9);
  EXPECT_NEAR(dJointGetHingeParam(bike->joints[JOINT_SWINGARM], dParamLoStop), -0.530304, 1e-6);
}

TEST_F(BikeTest, RotateAQuarterTurnFacesMinusX) {
  bike_reset(bike);
  bike_rotate(bike, float(PI / 2));
  const dReal* r = dBodyGetRotation(bike->bodies[BODY_FRAME]);
  // Forward is the body's -z axis.
  EXPECT_NEAR(-r[2], -1, 1e-6);
  EXPECT_NEAR(-r[6], 0, 1e-6);
  EXPECT_NEAR(-r[10], 0, 1e-6);
  EXPECT_NEAR(pos(BODY_REAR_WHEEL)[0], 6, 1e-6);
  EXPECT_NEAR(pos(BODY_FRONT_WHEEL)[0], 1.11, 1e-6);
  EXPECT_NEAR(pos(BODY_FRONT_WHEEL)[2], 0, 1e-6);
  EXPECT_NEAR(dJointGetSliderPosition(bike->joints[JOINT_FORK]), 0, 1e-6);

  const float offset[3] = {10, 2, -30};
  bike_translate(bike, offset);
  EXPECT_NEAR(pos(BODY_REAR_WHEEL)[0], 16, 1e-6);
  EXPECT_NEAR(pos(BODY_REAR_WHEEL)[1], 3.04, 1e-6);
  EXPECT_NEAR(pos(BODY_RIDER)[0], 4.12 + 10, 1e-5);
  EXPECT_NEAR(pos(BODY_RIDER)[2], -30, 1e-5);
}

TEST_F(BikeTest, ResetRestoresPoseAndRejoinsTheRider) {
  for (int i = 0; i < 64; i++) physics_world_step();
  dJointAttach(bike->joints[JOINT_RIDER], nullptr, nullptr);
  dBodySetPosition(bike->bodies[BODY_RIDER], 40, 3, 2);
  bike->crash_timer = 100;
  bike->invulnerability = -50;
  bike->controls.throttle = 1;
  bike->front.depth = 0.2f;
  bike->knockback = 0.1f;
  bike_reset(bike);
  EXPECT_NEAR(pos(BODY_FRAME)[1], 1.98, 1e-6);
  EXPECT_NEAR(pos(BODY_RIDER)[0], 0, 1e-9);
  EXPECT_NEAR(pos(BODY_RIDER)[1], 4.5, 1e-6);
  EXPECT_NEAR(pos(BODY_RIDER)[2], 4.12, 1e-6);
  EXPECT_EQ(dBodyGetLinearVel(bike->bodies[BODY_FRONT_WHEEL])[1], 0);
  EXPECT_EQ(dJointGetBody(bike->joints[JOINT_RIDER], 0), bike->bodies[BODY_RIDER]);
  EXPECT_EQ(bike->crash_timer, 0);
  EXPECT_EQ(bike->invulnerability, 0);
  EXPECT_EQ(bike->controls.throttle, 0);
  EXPECT_EQ(bike->front.depth, 0);
  EXPECT_EQ(bike->knockback, 1);
  EXPECT_EQ(bike->land_damping, 1);
}

// Knock-back: the new timer, whether forces were cleared and whether the bodies are awake.
TEST_F(BikeTest, KnockBack) {
  enum Op { START, TICK, ENABLE, DISABLE };
  struct Case {
    Op op;
    float before;
    float after;
    bool cleared;
    bool awake;
  };
  const Case cases[] = {
      {TICK, 0.3f, 0.2921875f, false, true},   {TICK, 0.255f, 0.2471875f, false, false},
      {TICK, 0.25f, 0.2421875f, true, false},  {TICK, 0.005f, 0, true, false},
      {TICK, 0, 0, false, true},               {START, 0, 1, true, true},
      {START, 0.2f, 0.25f, true, false},       {START, 0.6f, 0.6f, false, true},
      {ENABLE, 0.1f, 1, true, true},           {ENABLE, 0.5f, 1, false, true},
      {DISABLE, 0.2f, 0, true, false},         {DISABLE, 0.9f, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "op " << c.op << " from " << c.before);
    for (dBodyID body : bike->bodies) {
      dBodyEnable(body);
      dBodySetForce(body, 1, 2, 3);
    }
    bike->knockback = c.before;
    switch (c.op) {
      case START: bike_knockback_start(bike); break;
      case TICK: bike_knockback_tick(bike); break;
      case ENABLE: bike_enable(bike); break;
      case DISABLE: bike_disable(bike); break;
    }
    EXPECT_FLOAT_EQ(bike->knockback, c.after);
    EXPECT_EQ(dBodyGetForce(bike->bodies[BODY_SWINGARM])[1] == 0, c.cleared);
    for (dBodyID body : bike->bodies) EXPECT_EQ(dBodyIsEnabled(body) != 0, c.awake);
  }
}

TEST_F(BikeTest, InvulnerabilityMovesTowardsZero) {
  const float cases[][2] = {{192, 191}, {1.5f, 0.5f}, {1, 0}, {0.5f, 0}, {-1, 0}, {-640, -639}, {-1.5f, -0.5f}};
  for (const auto& c : cases) {
    bike->invulnerability = c[0];
    bike_post_step(bike);
    EXPECT_FLOAT_EQ(bike->invulnerability, c[1]) << c[0];
  }
}

TEST_F(BikeTest, SleepingBikeSkipsThePostStep) {
  bike->knockback = 0.25f;
  bike->invulnerability = 100;
  bike_post_step(bike);
  EXPECT_EQ(bike->invulnerability, 100);
}

// Air time: touchdown is the first tick on the ground after a fall, the fall tick the first
// tick moving down after a touchdown.
TEST_F(BikeTest, AirTimeBookkeeping) {
  struct Step {
    int32_t tick;
    bool on_ground;
    double vy;
    int32_t fall, touchdown;
  };
  const Step steps[] = {
      {5, true, 0, 0, 5},      // first contact after the reset
      {6, true, 0, 0, 5},      // still down: unchanged
      {7, false, 3, 0, 5},     // going up
      {9, false, -1, 9, 5},    // starts falling
      {10, false, -2, 9, 5},   // still falling
      {20, true, -2, 9, 20},   // lands
      {21, false, -1, 21, 20}, // off a step
  };
  for (const Step& s : steps) {
    sim_tick = s.tick;
    bike->front.depth = s.on_ground ? 0.1f : 0;
    dBodySetLinearVel(bike->bodies[BODY_FRAME], 0, s.vy, 0);
    bike_post_step(bike);
    EXPECT_EQ(bike->fall_tick, s.fall) << s.tick;
    EXPECT_EQ(bike->touchdown_tick, s.touchdown) << s.tick;
  }
}

TEST_F(BikeTest, StoppedAfterTheStartCountsAsTouchedDown) {
  race_start_tick = 100;
  dBodySetLinearVel(bike->bodies[BODY_FRAME], 0, 0, -4);
  sim_tick = 356;  // exactly 2 s after the start
  bike_post_step(bike);
  EXPECT_FALSE(bike->touched_down);
  sim_tick = 357;
  dBodySetLinearVel(bike->bodies[BODY_FRAME], 0, 0, -6);
  bike_post_step(bike);
  EXPECT_FALSE(bike->touched_down);
  dBodySetLinearVel(bike->bodies[BODY_FRAME], 0, 0, -4);
  bike_post_step(bike);
  EXPECT_TRUE(bike->touched_down);
}

TEST_F(BikeTest, RiderVelocityRing) {
  for (int32_t t = 10; t < 14; t++) {
    sim_tick = t;
    dBodySetLinearVel(bike->bodies[BODY_RIDER], t, 0, 0);
    bike_post_step(bike);
  }
  EXPECT_EQ(bike->rider_velocity_ring[10 % 4][0], 10);
  EXPECT_EQ(bike->rider_velocity_ring[13 % 4][0], 13);
}

TEST_F(BikeTest, ForwardSpeed) {
  dBodySetLinearVel(bike->bodies[BODY_FRAME], 0, 0, -22);
  EXPECT_NEAR(bike_forward_speed_mph(bike), 15, 1e-4);
  EXPECT_NEAR(bike_frame_speed(bike), 22, 1e-6);
}

}  // namespace
