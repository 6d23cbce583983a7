// The rider's rules on a bike that is not stepped: control setters, crash thresholds after a
// jump, the knock-out timer, and where the feet go.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "physics/controls.h"
#include "physics/rider.h"
#include "physics/world.h"
#include "tests/physics/one_bike_test.h"

namespace {

using RiderTest = OneBikeTest;

TEST_F(RiderTest, SettersClampAndTheRidersInputsDieInACrash) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    void (*set)(Bike*, float);
    float RiderControls::*field;
    float in, riding, crashed;
  } cases[] = {
      {controls_set_steer, &RiderControls::steer, -3, -1, -1},
      {controls_set_steer, &RiderControls::steer, 0.25f, 0.25f, 0.25f},
      {controls_set_throttle, &RiderControls::throttle, 2, 1, 0},
      {controls_set_throttle, &RiderControls::throttle, -1, 0, 0},
      {controls_set_throttle, &RiderControls::throttle, nan, 0, 0},
      {controls_set_clutch, &RiderControls::clutch, 0.5f, 0.5f, 0.5f},
      {controls_set_clutch, &RiderControls::clutch, 7, 1, 1},
      {controls_set_front_brake, &RiderControls::front_brake, 1.5f, 1, 1},
      {controls_set_rear_brake, &RiderControls::rear_brake, -0.5f, 0, 0},
      {controls_set_rear_brake, &RiderControls::rear_brake, nan, 0, 0},
      {controls_set_sit_dab, &RiderControls::sit_dab, 0.75f, 0.75f, 0},
      {controls_set_back_up, &RiderControls::back_up, 4, 1, 0},
      {controls_set_lean, &RiderControls::lean, -2, -1, 0},
      {controls_set_lean, &RiderControls::lean, 0.5f, 0.5f, 0},
  };
  for (const Case& c : cases) {
    bike->crash_timer = 0;
    c.set(bike, c.in);
    EXPECT_EQ(bike->controls.*c.field, c.riding) << c.in;
    bike->crash_timer = 100;
    c.set(bike, c.in);
    EXPECT_EQ(bike->controls.*c.field, c.crashed) << c.in << " crashed";
  }
}

// The rider body moving at `speed` (ft/s) across the bike at rest, steady for four steps.
void rider_sliding(Bike* bike, float speed) {
  dBodySetLinearVel(bike->bodies[BODY_RIDER], speed, 0, 0);
  for (float* v : bike->rider_velocity_ring) {
    v[0] = speed;
    v[1] = v[2] = 0;
  }
}

TEST_F(RiderTest, RightAfterALongJumpTheRiderIsThrownMoreEasily) {
  struct Case {
    float air;    // s between the fall and the touchdown
    float since;  // s since the touchdown
    float speed;  // ft/s of the rider against the frame
    bool crash;
  } cases[] = {
      {0.0f, 1, 40, false},  // tolerance 1.5: 46.5 ft/s
      {0.0f, 1, 47, true},
      {0.8f, 0.05f, 32, true},  // just landed from a long jump: 31 ft/s
      {0.8f, 0.05f, 30, false},
      {0.8f, 0.5f, 40, false},  // a while after the landing the tolerance is back
      {0.4f, 0.05f, 40, false},  // a short hop does not lower it
  };
  for (const Case& c : cases) {
    bike_reset(bike);
    sim_tick = 1000;
    bike->fall_tick = sim_tick - int(std::lround((c.air + c.since) * TICKS_PER_SECOND));
    bike->touchdown_tick = sim_tick - int(std::lround(c.since * TICKS_PER_SECOND));
    rider_sliding(bike, c.speed);
    crash_check(bike);
    EXPECT_EQ(bike_crashed(bike), c.crash) << c.air << " s air, " << c.since << " s after, " << c.speed << " ft/s";
    // A crash lets the rider go.
    EXPECT_EQ(dJointGetBody(bike->joints[JOINT_RIDER], 0) == nullptr, c.crash);
  }
  // Protected by a negative invulnerability counter: no crash.
  bike_reset(bike);
  bike->invulnerability = -10;
  rider_sliding(bike, 100);
  crash_check(bike);
  EXPECT_FALSE(bike_crashed(bike));
}

TEST_F(RiderTest, KnockOutTimeGrowsWithTheDelayTableAndWaitsForTheRiderToLieStill) {
  int delays[CRASH_DELAY_COUNT] = {0, 100, -5, 500000};
  for (int i = 4; i < CRASH_DELAY_COUNT; i++) delays[i] = 1000 + i;
  crash_delays_set(delays);
  const int expected[] = {512, 612, 512, 512 + CRASH_DELAY_MAX, 1516};
  for (int n = 0; n < 5; n++) {
    bike->crash_timer = 0;
    crash_start(bike);
    EXPECT_EQ(bike->crash_timer, expected[n]) << "crash " << n;
  }
  // The 16th and later crashes use the last entry.
  bike->crash_count = 40;
  bike->crash_timer = 0;
  crash_start(bike);
  EXPECT_EQ(bike->crash_timer, 512 + 1015);
  const int zero[CRASH_DELAY_COUNT] = {};
  crash_delays_set(zero);

  bike->crash_timer = 0;
  crash_start(bike);
  // Sliding at 2 ft/s or more holds the timer.
  for (int i = 0; i < 100; i++) {
    dBodySetLinearVel(bike->bodies[BODY_RIDER], 0, 0, -2.5);
    crash_update(bike);
    dJointGroupEmpty(contact_group);
  }
  EXPECT_EQ(bike->crash_timer, 512);
  // At rest it runs out, and the rider is on the seat again, joined to the frame.
  dBodySetLinearVel(bike->bodies[BODY_RIDER], 0, 0, 0);
  for (int i = 0; i < 511; i++) {
    crash_update(bike);
    dJointGroupEmpty(contact_group);
  }
  EXPECT_EQ(bike->crash_timer, 1);
  EXPECT_EQ(dJointGetBody(bike->joints[JOINT_RIDER], 0), nullptr);
  crash_update(bike);
  dJointGroupEmpty(contact_group);
  EXPECT_FALSE(bike_crashed(bike));
  EXPECT_EQ(dJointGetBody(bike->joints[JOINT_RIDER], 0), bike->bodies[BODY_RIDER]);
  const dReal* rider = dBodyGetPosition(bike->bodies[BODY_RIDER]);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(rider[k], bike->info.rider_pos[k], 1e-6) << k;
}

TEST_F(RiderTest, FeetOnThePegsOrPutDownBesideTheHips) {
  const RiderPosePoints& pose = bike->info.rider_pose;
  FootTargets feet = rider_foot_targets(bike);
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(feet.weight[i], 0);
    for (int k = 0; k < 3; k++) {
      EXPECT_NEAR(feet.point[i][k], pose.foot_peg[i][k] + bike->info.frame_pos[k], 1e-5) << i << k;
    }
  }
  // Standing still, upright, with the foot fully out: both feet on the ground (height 0) half
  // the hip width outside each hip.
  bike->dab = 1;
  feet = rider_foot_targets(bike);
  float half_width = pose.hip[1][0] - pose.hip[0][0];
  for (int i = 0; i < 2; i++) {
    EXPECT_FLOAT_EQ(feet.weight[i], 1);
    EXPECT_NEAR(feet.point[i][1], 0.125, 1e-5);
    float hip_x = pose.hip[i][0] + bike->info.rider_pos[0];
    EXPECT_NEAR(feet.point[i][0], hip_x + (i == 0 ? -0.5f : 0.5f) * half_width, 1e-5) << i;
    EXPECT_NEAR(feet.point[i][2], pose.hip[i][2] + bike->info.rider_pos[2], 1e-5) << i;
  }
}

}  // namespace
