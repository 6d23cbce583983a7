// A bike ridden by its controls alone on a flat field: it leaves at full throttle, shifts up
// with the automatic shift and its engine turns with the rear wheel through the gearing.
#include <cmath>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/drivetrain.h"
#include "physics/world.h"
#include "tests/physics/one_bike_test.h"

namespace {

struct RideTest : FieldTest {
  void SetUp() override {
    make_field(9, 4);  // 2048 ft square
    // Start near the far +z edge so the ride towards -z has the whole field.
    const float offset[3] = {1024, 0.05f, 1900};
    bike_translate(bike, offset);
  }
};

TEST_F(RideTest, FullThrottleLeavesShiftsUpAndKeepsTheEngineGeared) {
  bike->setup.options |= OPTION_AUTO_SHIFT;
  bike->controls.throttle = 1;
  bike->controls.clutch = 1;
  float speed_at_2s = 0;
  int highest_gear = 0;
  for (int i = 0; i < 4 * TICKS_PER_SECOND; i++) {
    step();
    for (dBodyID body : bike->bodies) ASSERT_TRUE(std::isfinite(dBodyGetPosition(body)[1])) << "step " << i;
    if (i == 2 * TICKS_PER_SECOND) speed_at_2s = bike_forward_speed_mph(bike);
    highest_gear = std::max(highest_gear, bike->gear);
  }
  float speed = bike_forward_speed_mph(bike);
  EXPECT_GT(speed_at_2s, 15);
  EXPECT_GT(speed, speed_at_2s);
  EXPECT_GE(highest_gear, 1);
  // Upright and still on its wheels.
  EXPECT_GT(dBodyGetRotation(bike->bodies[BODY_FRAME])[5], 0.9);
  // rpm = wheel rate x total ratio, within the driveline's wind-up.
  double wheel_rpm = dJointGetHingeAngleRate(bike->joints[JOINT_REAR_AXLE]) * total_ratio(bike) * RPM_PER_RAD_S;
  EXPECT_NEAR(engine_rpm(bike), wheel_rpm, 0.05 * engine_rpm(bike));
}

}  // namespace

namespace {

// Fork and swing arm positions after the bike settles at rest (ft, rad; more negative = more sag).
struct Sag {
  double fork, swingarm;
};

struct SagTest : RideTest {
  Sag settle() {
    for (int i = 0; i < 2 * TICKS_PER_SECOND; i++) step();
    return {dJointGetSliderPosition(bike->joints[JOINT_FORK]), dJointGetHingeAngle(bike->joints[JOINT_SWINGARM])};
  }
};

TEST_F(SagTest, StifferSpringsAndMorePreloadSitHigher) {
  const BikeInfo& info = bike->info;
  struct Case {
    const char* what;
    void (*soften)(Bike*, const BikeInfo&);
    void (*stiffen)(Bike*, const BikeInfo&);
  } cases[] = {
      {"fork spring", [](Bike* b, const BikeInfo& i) { b->setup.fork_spring_k = i.fork_spring_min; },
       [](Bike* b, const BikeInfo& i) { b->setup.fork_spring_k = i.fork_spring_max; }},
      {"fork preload", [](Bike* b, const BikeInfo& i) { b->setup.fork_preload = i.fork_preload_min; },
       [](Bike* b, const BikeInfo& i) { b->setup.fork_preload = i.fork_preload_max; }},
      {"shock spring", [](Bike* b, const BikeInfo& i) { b->setup.shock_spring_k = i.shock_spring_min; },
       [](Bike* b, const BikeInfo& i) { b->setup.shock_spring_k = i.shock_spring_max; }},
      {"shock preload", [](Bike* b, const BikeInfo& i) { b->setup.shock_preload = i.shock_preload_min; },
       [](Bike* b, const BikeInfo& i) { b->setup.shock_preload = i.shock_preload_max; }},
  };
  const float offset[3] = {1024, 0.05f, 1900};
  for (const Case& c : cases) {
    AppliedSetup defaults = bike->setup;
    c.soften(bike, info);
    Sag soft = settle();
    bike_reset(bike);
    bike_translate(bike, offset);
    bike->setup = defaults;
    c.stiffen(bike, info);
    Sag stiff = settle();
    bike_reset(bike);
    bike_translate(bike, offset);
    bike->setup = defaults;
    EXPECT_GT(stiff.fork + stiff.swingarm, soft.fork + soft.swingarm + 0.005) << c.what;
  }
}

}  // namespace

namespace {

// Fork and swing arm a moment after the bike, pushed down hard, is let go: the more rebound
// damping, the less they have extended.
struct ReboundTest : RideTest {
  Sag after_release() {
    for (int i = 0; i < TICKS_PER_SECOND; i++) step();
    for (int i = 0; i < TICKS_PER_SECOND / 2; i++) {
      dBodyAddForce(bike->bodies[BODY_FRAME], 0, -1500, 0);
      step();
    }
    for (int i = 0; i < TICKS_PER_SECOND / 8; i++) step();
    return {dJointGetSliderPosition(bike->joints[JOINT_FORK]), dJointGetHingeAngle(bike->joints[JOINT_SWINGARM])};
  }
};

TEST_F(ReboundTest, MoreReboundDampingExtendsSlower) {
  const float offset[3] = {1024, 0.05f, 1900};
  const AppliedSetup defaults = bike->setup;
  Sag result[2];
  const float factors[2] = {0.25f, 4};  // the ends of the rebound sliders
  for (int k = 0; k < 2; k++) {
    bike_reset(bike);
    bike_translate(bike, offset);
    bike->setup = defaults;
    bike->setup.fork_hs_reb_k = defaults.fork_hs_reb_k * factors[k];
    bike->setup.shock_hs_reb_k = defaults.shock_hs_reb_k * factors[k];
    result[k] = after_release();
  }
  EXPECT_LT(result[1].fork, result[0].fork - 0.02);
  EXPECT_LT(result[1].swingarm, result[0].swingarm - 0.01);
}

}  // namespace
