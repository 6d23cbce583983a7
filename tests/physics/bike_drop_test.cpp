// Whole bikes on a flat field: dropped upright they settle on their wheels, dropped on their
// side they rest on their shape spheres.
#include <cmath>

#include <gtest/gtest.h>

#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/world.h"
#include "track/terrain.h"

namespace {

// Small sphere sets in body coordinates standing in for the generated shape files.
Shape* test_shape(int body) {
  auto sphere = [](float x, float y, float z, float r) { return ShapeSphere{{x, y, z}, r, 0.6f, {}}; };
  switch (body) {
    case BODY_FRAME: {
      ShapeSphere s[] = {sphere(0, 0.3f, -0.6f, 0.5f), sphere(0, 0, 0.4f, 0.5f), sphere(0.45f, 0.3f, 0, 0.35f),
                         sphere(-0.45f, 0.3f, 0, 0.35f)};
      return shape_make(s, 4);
    }
    case BODY_RIDER: {
      ShapeSphere s[] = {sphere(0, 0.8f, -0.9f, 0.45f), sphere(0, 0, 0, 0.6f), sphere(0.9f, 0.4f, -0.4f, 0.3f),
                         sphere(-0.9f, 0.4f, -0.4f, 0.3f)};
      return shape_make(s, 4);
    }
    case BODY_STEERING: {
      ShapeSphere s[] = {sphere(1.0f, 0.2f, 0.6f, 0.25f), sphere(-1.0f, 0.2f, 0.6f, 0.25f)};
      return shape_make(s, 2);
    }
    case BODY_FRONT_WHEEL:
    case BODY_REAR_WHEEL: {
      ShapeSphere s[8];
      for (int k = 0; k < 8; k++) {
        float a = float(k) * 0.785398f;
        s[k] = sphere(0, 0.8f * std::cos(a), 0.8f * std::sin(a), 0.33f);
      }
      return shape_make(s, 8);
    }
    default: {
      ShapeSphere s[] = {sphere(0, 0, 0, 0.25f)};
      return shape_make(s, 1);
    }
  }
}

struct DropTest : ::testing::Test {
  Terrain terrain{};
  Bike* bikes[2] = {nullptr, nullptr};

  void SetUp() override {
    physics_world_create();
    sim_tick = 0;
    race_start_tick = 0;
    ASSERT_TRUE(terrain_allocate(&terrain, 4, 2, 0, 0));
  }
  void TearDown() override {
    for (Bike* bike : bikes) bike_destroy(bike);
    terrain_free(&terrain);
  }

  Bike* make_bike(int index, float angle_about_z, const float offset[3]) {
    Bike* bike = bike_create("450sxf(2018)", index, "1", nullptr, nullptr, nullptr, nullptr);
    for (int b = 0; b < BODY_COUNT; b++) {
      shape_free(bike->shapes[b]);
      bike->shapes[b] = test_shape(b);
    }
    if (angle_about_z != 0) {
      // Lay the bike over about the world z axis through the origin.
      dMatrix3 r;
      dRFromAxisAndAngle(r, 0, 0, 1, angle_about_z);
      for (dBodyID body : bike->bodies) {
        const dReal* p = dBodyGetPosition(body);
        dVector3 q;
        dMultiply0_331(q, r, p);
        dMatrix3 turned;
        dMultiply0_333(turned, r, dBodyGetRotation(body));
        dBodySetRotation(body, turned);
        dBodySetPosition(body, q[0], q[1], q[2]);
      }
    }
    bike_translate(bike, offset);
    bikes[index] = bike;
    return bike;
  }

  // One session step for the bikes made: contacts, world step, post-step.
  void step() {
    for (Bike* bike : bikes) {
      if (bike) bike_ground_contacts(bike, &terrain);
    }
    if (bikes[0] && bikes[1]) {
      bool first_faster = bike_frame_speed(bikes[0]) >= bike_frame_speed(bikes[1]);
      bike_bike_collision(first_faster ? bikes[0] : bikes[1], first_faster ? bikes[1] : bikes[0], 0);
    }
    physics_world_step();
    for (Bike* bike : bikes) {
      if (bike) bike_post_step(bike);
    }
    sim_tick++;
  }

  static bool finite_bike(const Bike* bike) {
    for (dBodyID body : bike->bodies) {
      const dReal* p = dBodyGetPosition(body);
      const dReal* v = dBodyGetLinearVel(body);
      for (int k = 0; k < 3; k++) {
        if (!std::isfinite(p[k]) || !std::isfinite(v[k])) return false;
      }
    }
    return true;
  }
  static double max_speed(const Bike* bike) {
    double fastest = 0;
    for (dBodyID body : bike->bodies) {
      const dReal* v = dBodyGetLinearVel(body);
      fastest = std::max(fastest, std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
    }
    return fastest;
  }
};

TEST_F(DropTest, UprightBikeSettlesOnItsWheels) {
  const float offset[3] = {31, 1, 30};
  Bike* bike = make_bike(0, 0, offset);
  for (int i = 0; i < 512; i++) {
    step();
    ASSERT_TRUE(finite_bike(bike)) << "step " << i;
  }
  const dReal start[3] = {dBodyGetPosition(bike->bodies[BODY_FRAME])[0], dBodyGetPosition(bike->bodies[BODY_FRAME])[1],
                          dBodyGetPosition(bike->bodies[BODY_FRAME])[2]};
  for (int i = 0; i < 128; i++) step();
  const dReal* end = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  // At rest: no drift over the last second.
  for (int k = 0; k < 3; k++) EXPECT_NEAR(end[k], start[k], 0.01) << k;
  EXPECT_LT(max_speed(bike), 0.05);
  EXPECT_GT(bike->front.depth, 0);
  EXPECT_GT(bike->rear.depth, 0);
  EXPECT_LT(bike->front.depth, 0.34f);
  EXPECT_LT(bike->rear.depth, 0.34f);
  // Upright and where it was dropped.
  EXPECT_GT(dBodyGetRotation(bike->bodies[BODY_FRAME])[5], 0.99);
  EXPECT_NEAR(end[0], 31, 0.1);
  EXPECT_NEAR(end[2], 30 + 3.6, 0.5);
}

TEST_F(DropTest, BikeOnItsSideRestsOnItsShapes) {
  const float offset[3] = {31, 2.2f, 30};
  Bike* bike = make_bike(0, 1.5707964f, offset);
  for (int i = 0; i < 640; i++) {
    step();
    ASSERT_TRUE(finite_bike(bike)) << "step " << i;
  }
  EXPECT_LT(max_speed(bike), 0.1);
  EXPECT_TRUE(bike->touched_down);
  // Lying down: the frame's up axis is near horizontal and no part is below the ground.
  EXPECT_LT(std::fabs(dBodyGetRotation(bike->bodies[BODY_FRAME])[5]), 0.5);
  for (dBodyID body : bike->bodies) EXPECT_GT(dBodyGetPosition(body)[1], 0);
}

}  // namespace
