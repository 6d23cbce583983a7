// A bike ridden by its controls alone on a field with simple shapes built into the ground,
// with and without arcade physics: steady circles and straightening up, a ramp and steps, a
// hard landing with the crash and its recovery, standing still with a foot down, backing up
// and part-throttle starts.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/controls.h"
#include "physics/drivetrain.h"
#include "physics/rider.h"
#include "physics/setup.h"
#include "physics/steering.h"
#include "physics/suspension.h"
#include "physics/world.h"
#include "tests/physics/one_bike_test.h"
#include "tests/physics/rig.h"
#include "track/terrain.h"

namespace {

constexpr float FIELD_CENTRE = 512;  // ft
constexpr float START_Z = 960;       // near the +z edge: the bike rides towards -z

struct RidingTest : FieldTest {
  void SetUp() override {
    make_field(8, 2);  // 1024 ft square
    give_stand_in_shapes(bike);
    place(0);
  }

  // Back to the model pose, standing on the ground at the start, lifted by `height` (ft).
  void place(float height) {
    bike_reset(bike);
    const float offset[3] = {FIELD_CENTRE, terrain_height_at(&terrain, FIELD_CENTRE, START_Z) + 0.05f + height,
                             START_Z};
    bike_translate(bike, offset);
  }

  // Turns the whole bike about a world axis through a point and gives every body the same
  // velocity (ft/s).
  void turn_and_throw(const double axis[3], float angle, Vec3d pivot, const float velocity[3]) {
    dMatrix3 r;
    dRFromAxisAndAngle(r, axis[0], axis[1], axis[2], angle);
    for (dBodyID body : bike->bodies) {
      const dReal* p = dBodyGetPosition(body);
      dVector3 d = {p[0] - pivot.x, p[1] - pivot.y, p[2] - pivot.z};
      dVector3 q;
      dMultiply0_331(q, r, d);
      dMatrix3 turned;
      dMultiply0_333(turned, r, dBodyGetRotation(body));
      dBodySetRotation(body, turned);
      dBodySetPosition(body, pivot.x + q[0], pivot.y + q[1], pivot.z + q[2]);
      dBodySetLinearVel(body, velocity[0], velocity[1], velocity[2]);
    }
  }

  // Throttle from a proportional speed hold (mph), automatic shifting.
  void hold_speed(float mph) {
    float error = mph - bike_forward_speed_mph(bike);
    controls_set_throttle(bike, error * 0.25f);
    controls_set_clutch(bike, 1);
  }
  void ride_up_to(float mph, int steps) {
    bike->setup.options |= OPTION_AUTO_SHIFT;
    for (int i = 0; i < steps; i++) {
      hold_speed(mph);
      step();
    }
  }

  Vec3d frame_position() const {
    const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
    return {p[0], p[1], p[2]};
  }
  double up_y() const { return dBodyGetRotation(bike->bodies[BODY_FRAME])[5]; }
  double yaw_rate() const { return dBodyGetAngularVel(bike->bodies[BODY_FRAME])[1]; }
  bool finite() const {
    for (dBodyID body : bike->bodies) {
      const dReal* p = dBodyGetPosition(body);
      if (!std::isfinite(p[0] + p[1] + p[2])) return false;
    }
    return true;
  }

  // Sets a height field column band: heights[z] from a function of z, across the whole width.
  template <typename F>
  void shape_ground(F height_at_z) {
    for (int row = 0; row < terrain.grid_size; row++) {
      float h = height_at_z(float(row) * terrain.spacing);
      for (int col = 0; col < terrain.grid_size; col++) terrain_set_height(&terrain, col, row, h);
    }
  }
};

TEST_F(RidingTest, ConstantSteerHoldsASteadyCircleAndReleasingStraightensUp) {
  // The game's default setup rides with arcade physics; without it the steer input asks the
  // stability aid for a lean.
  struct Case {
    bool arcade;
    float steer;
  } cases[] = {{true, 0.5f}, {false, -0.5f}};
  for (const Case& c : cases) {
    const float steer = c.steer;
    place(0);
    use_default_setup(bike);
    setup_set_option(bike, OPTION_ARCADE, c.arcade);
    ride_up_to(20, 5 * TICKS_PER_SECOND);
    controls_set_steer(bike, steer);
    double roll_then = 0, yaw_then = 0;
    for (int i = 0; i < 6 * TICKS_PER_SECOND; i++) {
      hold_speed(20);
      step();
      if (i == 4 * TICKS_PER_SECOND) {
        roll_then = roll_angle(bike);
        yaw_then = yaw_rate();
      }
    }
    ASSERT_TRUE(finite());
    ASSERT_FALSE(bike_crashed(bike)) << steer;
    double roll = roll_angle(bike), yaw = yaw_rate(), v = bike_frame_speed(bike);
    // Steady: the last two seconds the same lean and turn rate.
    EXPECT_NEAR(roll, roll_then, 0.01) << steer;
    EXPECT_NEAR(yaw, yaw_then, 0.01) << steer;
    EXPECT_NEAR(bike_forward_speed_mph(bike), 20, 1.5);
    // Leaning into the turn (positive roll leans left, positive yaw turns left), with a
    // radius a motorcycle at this lean would ride.
    EXPECT_GT(roll * yaw, 0) << steer;
    EXPECT_GT(std::fabs(roll), 0.2) << steer;
    double radius = v / std::fabs(yaw);
    EXPECT_GT(radius, 30) << steer;
    EXPECT_LT(radius, 150) << steer;
    EXPECT_NEAR(std::atan(v * v / (32 * radius)), std::fabs(roll), 0.12) << steer;

    controls_set_steer(bike, 0);
    for (int i = 0; i < 3 * TICKS_PER_SECOND; i++) {
      hold_speed(20);
      step();
    }
    EXPECT_LT(std::fabs(roll_angle(bike)), 0.1) << steer;
    EXPECT_LT(std::fabs(yaw_rate()), 0.2 * std::fabs(yaw)) << steer;
    EXPECT_GT(up_y(), 0.99);
  }
}

TEST_F(RidingTest, OverARampItFliesLandsOnItsWheelsAndRidesOn) {
  struct Case {
    float ramp_height;  // ft, rising over 20 ft, then a flat top of 4 ft and a sheer drop
    float mph;
    float least_air;  // s
    bool arcade;
  } cases[] = {{3, 20, 0.2f, true}, {5, 30, 0.6f, false}, {8, 30, 1.0f, true}, {8, 30, 1.0f, false}};
  for (const Case& c : cases) {
    shape_ground([&](float z) {
      if (z > 880) return 0.0f;
      if (z > 860) return c.ramp_height * (880 - z) / 20;
      return z > 856 ? c.ramp_height : 0.0f;
    });
    place(0);
    use_default_setup(bike);
    setup_set_option(bike, OPTION_ARCADE, c.arcade);
    int air = 0, longest = 0;
    for (int i = 0; i < 6 * TICKS_PER_SECOND; i++) {
      hold_speed(c.mph);
      step();
      air = (bike->front.depth > 0 || bike->rear.depth > 0) ? 0 : air + 1;
      longest = std::max(longest, air);
      ASSERT_FALSE(bike_crashed(bike)) << c.ramp_height << " ft, arcade " << c.arcade << ", step " << i;
    }
    ASSERT_TRUE(finite());
    EXPECT_GE(longest * SIM_STEP, c.least_air) << c.ramp_height << " ft, arcade " << c.arcade;
    EXPECT_LT(frame_position().z, 836) << "past the landing";
    EXPECT_GT(bike->front.depth, 0);
    EXPECT_GT(bike->rear.depth, 0);
    EXPECT_GT(up_y(), 0.98);
    EXPECT_NEAR(frame_position().x, FIELD_CENTRE, 2);
    EXPECT_NEAR(bike_forward_speed_mph(bike), c.mph, 2);
  }
}

TEST_F(RidingTest, UpAStepAndOffAnother) {
  // A 0.75 ft step up over one 2 ft cell at z = 900, a 2 ft step down at z = 860.
  shape_ground([](float z) {
    if (z > 900) return 0.0f;
    return z > 860 ? 0.75f : -1.25f;
  });
  place(0);
  use_default_setup(bike);
  bool climbed = false;
  for (int i = 0; i < 8 * TICKS_PER_SECOND; i++) {
    hold_speed(12);
    step();
    ASSERT_FALSE(bike_crashed(bike)) << "step " << i;
    if (frame_position().z < 880 && frame_position().z > 870) climbed = frame_position().y > 0.75 + 1.5;
  }
  ASSERT_TRUE(finite());
  EXPECT_TRUE(climbed);
  EXPECT_LT(frame_position().z, 850);
  EXPECT_GT(up_y(), 0.98);
  EXPECT_NEAR(bike_forward_speed_mph(bike), 12, 2);
}

// Upright and back on the seat.
bool riding(const Bike* bike) {
  return !bike_crashed(bike) && dJointGetBody(bike->joints[JOINT_RIDER], 0) == bike->bodies[BODY_RIDER];
}

TEST_F(RidingTest, NoseFirstFromAHeightTheRiderCrashesAndIsBackUprightAfterTheKnockOut) {
  place(30);
  bike->setup.options |= OPTION_DAB_WHEN_STOPPED | OPTION_REALIGN_AFTER_FALL;
  const double across[3] = {1, 0, 0};
  const float forward[3] = {0, 0, -20};
  turn_and_throw(across, -0.8f, frame_position(), forward);
  int crashed_at = -1, back_at = -1;
  const double reach = bike->info.rider_pose.thigh + bike->info.rider_pose.shin;
  for (int i = 0; i < 16 * TICKS_PER_SECOND && back_at < 0; i++) {
    controls_set_clutch(bike, 1);
    step();
    ASSERT_TRUE(finite()) << "step " << i;
    if (crashed_at < 0 && bike_crashed(bike)) crashed_at = i;
    if (crashed_at >= 0 && riding(bike)) back_at = i;
    if (!bike_crashed(bike)) continue;
    // The limbs stay out of the ground and within reach of the rider.
    const dReal* rider = dBodyGetPosition(bike->bodies[BODY_RIDER]);
    for (const float* limb : bike->limb_pos) {
      EXPECT_GE(limb[1] - terrain_height_at(&terrain, limb[0], limb[2]), 0.24f) << "step " << i;
      Vec3d d = {limb[0] - rider[0], limb[1] - (rider[1] - 1), limb[2] - rider[2]};
      EXPECT_LE(length(d), reach + 1e-3) << "step " << i;
    }
  }
  ASSERT_GE(crashed_at, 0) << "no crash";
  // Airborne about 1.4 s: the crash comes with the landing.
  EXPECT_GT(crashed_at * SIM_STEP, 1.2);
  EXPECT_LT(crashed_at * SIM_STEP, 1.8);
  EXPECT_EQ(bike->crash_count, 1);
  ASSERT_GE(back_at, 0) << "the rider never got back on";
  // The 4 s knock-out counts only once the rider lies still.
  EXPECT_GE(back_at - crashed_at, CRASH_BASE_STEPS);
  // Then the foot goes down and the bike is stood up.
  for (int i = 0; i < 4 * TICKS_PER_SECOND; i++) step();
  EXPECT_TRUE(riding(bike));
  EXPECT_GT(up_y(), 0.95);
  EXPECT_GT(bike->dab, 0.9f);
}

TEST_F(RidingTest, StoppedWithTheDabOptionTheFootHoldsTheBikeUp) {
  struct Case {
    unsigned options;
    bool stays_up;
  } cases[] = {{OPTION_DAB_WHEN_STOPPED, true}, {0, false}};
  const unsigned others = bike->setup.options & ~OPTION_DAB_WHEN_STOPPED;
  for (const Case& c : cases) {
    place(0);
    bike->setup.options = others | c.options;
    const double along[3] = {0, 0, 1};
    const float still[3] = {0, 0, 0};
    turn_and_throw(along, 0.3f, Vec3d{FIELD_CENTRE, 0, START_Z}, still);
    Vec3d start = frame_position();
    for (int i = 0; i < 5 * TICKS_PER_SECOND; i++) {
      controls_set_clutch(bike, 1);
      step();
    }
    ASSERT_TRUE(finite());
    if (c.stays_up) {
      EXPECT_LT(std::fabs(roll_angle(bike)), 0.05);
      EXPECT_GT(bike->dab, 0.9f);
      EXPECT_LT(length(frame_position() - start), 1);
    } else {
      EXPECT_GT(std::fabs(roll_angle(bike)), 0.8);
      EXPECT_EQ(bike->dab, 0);
    }
  }
}

TEST_F(RidingTest, BackingUpPushesStraightBackOncePerSecond) {
  double z_at_second[4];
  for (int i = 0; i < 4 * TICKS_PER_SECOND; i++) {
    controls_set_back_up(bike, 1);
    step();
    if ((i + 1) % TICKS_PER_SECOND == 0) z_at_second[i / TICKS_PER_SECOND] = frame_position().z;
    ASSERT_LT(bike_frame_speed(bike), 5);
  }
  // Each second the same push of a little under 2 ft backwards (+z), none sideways.
  for (int s = 1; s < 4; s++) EXPECT_NEAR(z_at_second[s] - z_at_second[s - 1], 1.98, 0.2) << s;
  EXPECT_NEAR(frame_position().x, FIELD_CENTRE, 0.05);
  EXPECT_GT(up_y(), 0.99);
}

TEST_F(RidingTest, PartThrottleStartsLeaveFromRest) {
  bike->setup.options |= OPTION_AUTO_SHIFT;
  struct Case {
    float throttle;
    float seconds_to_10_mph;
  } cases[] = {{0.4f, 4}, {0.6f, 2.5f}, {1, 1.5f}};
  for (const Case& c : cases) {
    place(0);
    int i = 0;
    for (; i < 6 * TICKS_PER_SECOND && bike_forward_speed_mph(bike) < 10; i++) {
      controls_set_throttle(bike, c.throttle);
      controls_set_clutch(bike, 1);
      step();
    }
    EXPECT_LE(i * SIM_STEP, c.seconds_to_10_mph) << c.throttle;
  }
}

}  // namespace
