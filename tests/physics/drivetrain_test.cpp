// Gearbox rules, the engine torque map, the clutch and the brakes, on a bike in the air.
#include "physics/drivetrain.h"

#include <cmath>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/world.h"
#include "tests/physics/one_bike_test.h"

namespace {

struct DrivetrainTest : OneBikeTest {
  void set_rpm(float rpm) { bike->engine_speed = float(rpm / RPM_PER_RAD_S); }
  // Torque about the rear wheel's axle that one drivetrain update puts on it.
  double wheel_torque() {
    dBodySetTorque(bike->bodies[BODY_REAR_WHEEL], 0, 0, 0);
    drivetrain_update(bike);
    dVector3 t;
    const dReal* w = dBodyGetTorque(bike->bodies[BODY_REAR_WHEEL]);
    dBodyVectorFromWorld(bike->bodies[BODY_REAR_WHEEL], w[0], w[1], w[2], t);
    return t[0];
  }
};

TEST_F(DrivetrainTest, ShiftingOncePerPressAndOnlyIntoGearsTheBoxHas) {
  // The 450 row has five gears: the sixth ratio is -1.
  struct Case {
    int start;
    int inputs[4];
    int gear;
  } cases[] = {
      {0, {1, 1, 1, 1}, 1},    // held: one shift
      {0, {1, 0, 1, 0}, 2},    // released and pressed again: two
      {4, {1, 0, 1, 0}, 4},    // no sixth gear
      {0, {-1, 0, -1, 0}, 0},  // no gear below first
      {2, {-1, 0, 0, 0}, 1},
  };
  for (const Case& c : cases) {
    bike->gear = c.start;
    bike->last_shift = 0;
    for (int input : c.inputs) gear_shift(bike, input);
    EXPECT_EQ(bike->gear, c.gear) << "from " << c.start;
  }
  gear_set(bike, 9);
  EXPECT_EQ(bike->gear, 4);
  gear_set(bike, -3);
  EXPECT_EQ(bike->gear, 0);
  bike->crash_timer = 10;
  gear_shift(bike, 1);
  EXPECT_EQ(bike->gear, 0);
}

TEST_F(DrivetrainTest, TorqueMapBlendsTheCurvesByThrottle) {
  const BikeInfo& info = bike->info;
  struct Case {
    float rpm, throttle, expected;
  } cases[] = {
      {7500, 1, info.open_torque[15]},
      {7500, 0, info.closed_torque[15]},
      {7500, 0.5f, (info.open_torque[15] + info.closed_torque[15]) / 2},
      {7750, 1, (info.open_torque[15] + info.open_torque[16]) / 2},
      {30000, 1, info.open_torque[49]},
      {-100, 1, info.open_torque[0]},
  };
  for (const Case& c : cases) {
    set_rpm(c.rpm);
    bike->controls.throttle = c.throttle;
    EXPECT_NEAR(engine_torque(bike), c.expected, 1e-3) << c.rpm << " rpm, throttle " << c.throttle;
  }
  // The throttle cut holds a positive torque on a wheelie (front off, rear on the ground).
  bike->setup.options |= OPTION_STOP_WHEELIES;
  bike->rear.depth = 0.01f;
  set_rpm(7500);
  bike->controls.throttle = 1;
  EXPECT_EQ(engine_torque(bike), 0);
  bike->front.depth = 0.01f;
  EXPECT_GT(engine_torque(bike), 0);
}

TEST_F(DrivetrainTest, AutomaticClutchOpensAtItsRpmAndClosesOverTheNext2000) {
  // A wound-up driveline: the coupling torque is stiffness times the twist.
  bike->controls.clutch = 1;
  struct Case {
    float rpm, engagement;
  } cases[] = {{4000, 0}, {5000, 0}, {6000, 0.5f}, {7000, 1}, {9000, 1}};
  for (const Case& c : cases) {
    set_rpm(c.rpm);
    bike->drive_angle = 0.1f;
    // The damping term would add to the coupling; take it away with a wheel turning at the
    // engine's pace.
    float n = total_ratio(bike);
    dBodySetAngularVel(bike->bodies[BODY_REAR_WHEEL], -bike->engine_speed / n, 0, 0);
    dBodySetAngularVel(bike->bodies[BODY_SWINGARM], 0, 0, 0);
    double torque = -wheel_torque();
    double coupling = bike->info.driveline_stiffness * 0.1;
    EXPECT_NEAR(torque, c.engagement * c.engagement * coupling, 1e-3 * coupling) << c.rpm << " rpm";
  }
  // Engine braking is never opened by the automatic clutch.
  set_rpm(3000);
  bike->drive_angle = -0.1f;
  dBodySetAngularVel(bike->bodies[BODY_REAR_WHEEL], -bike->engine_speed / total_ratio(bike), 0, 0);
  EXPECT_GT(wheel_torque(), 0);
}

TEST_F(DrivetrainTest, BrakeMotorsAndTheirReleases) {
  dJointID front = bike->joints[JOINT_FRONT_AXLE];
  dJointID rear = bike->joints[JOINT_REAR_AXLE];
  bike->controls.front_brake = 1;
  bike->controls.rear_brake = 0.5f;
  struct Case {
    const char* what;
    float front_depth, front_slip, rear_depth, rear_slip;
    unsigned options;
    float front_torque, rear_torque;
  } cases[] = {
      {"in the air", 0, 0, 0, 0, OPTION_FRONT_ANTILOCK | OPTION_REAR_ANTILOCK, 250, 125},
      {"rolling", 0.01f, 1, 0.01f, 1, OPTION_FRONT_ANTILOCK | OPTION_REAR_ANTILOCK, 250, 125},
      {"front sliding, antilock", 0.01f, 3, 0.01f, 1, OPTION_FRONT_ANTILOCK, 0, 125},
      {"rear sliding, antilock", 0.01f, 1, 0.01f, 3, OPTION_REAR_ANTILOCK, 250, 0},
      {"both sliding, no antilock", 0.01f, 3, 0.01f, 3, 0, 250, 125},
      {"stoppie", 0.01f, 0, 0, 0, OPTION_STOP_STOPPIES, 0, 125},
      {"stoppie allowed", 0.01f, 0, 0, 0, 0, 250, 125},
  };
  for (const Case& c : cases) {
    bike->front.depth = c.front_depth;
    bike->front.slip_velocity[2] = c.front_slip;
    bike->rear.depth = c.rear_depth;
    bike->rear.slip_velocity[2] = c.rear_slip;
    bike->setup.options = c.options;
    drivetrain_update(bike);
    EXPECT_EQ(dJointGetHingeParam(front, dParamFMax), c.front_torque) << c.what;
    EXPECT_EQ(dJointGetHingeParam(rear, dParamFMax), c.rear_torque) << c.what;
  }
}

TEST_F(DrivetrainTest, SprocketsMakeTheFinalDrive) {
  // The 450 row: 13 and 48 teeth.
  EXPECT_FLOAT_EQ(bike->final_drive, 48.0f / 13);
  final_drive_set(bike, -2, 1);
  EXPECT_FLOAT_EQ(bike->final_drive, 49.0f / 11);
  final_drive_set(bike, 5, 0.5f);
  EXPECT_FLOAT_EQ(bike->final_drive, 48.0f / 15);
  EXPECT_EQ(sprocket_teeth(4, -2), 3);
}

}  // namespace
