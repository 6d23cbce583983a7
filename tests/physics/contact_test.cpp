// Contact arithmetic (tyre spring, grip and rolling-resistance curves, normals, the sphere
// force cap, arcade grip) and wheel and sphere contacts on a small flat field.
#include "physics/contact.h"

#include <cmath>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/world.h"
#include "track/terrain.h"

namespace {

constexpr double PI = 3.14159265358979323846;

TEST(ContactArithmetic, TyreSpringStiffensWithCompression) {
  struct Case {
    double depth, k, c;
  };
  const Case cases[] = {{0, 1000, 200}, {0.1, 1648, 262.1}, {1.0 / 3, 25000, 2500}, {0.5, 25000, 2500}};
  for (const Case& c : cases) {
    TyreSpring spring = tyre_spring(c.depth, 1.0 / 3);
    EXPECT_NEAR(spring.k, c.k, 1e-9) << c.depth;
    EXPECT_NEAR(spring.c, c.c, 1e-9) << c.depth;
  }
  SoftContact soft = soft_contact(1648, 262.1);
  EXPECT_NEAR(soft.erp, 12.875 / (12.875 + 262.1), 1e-12);
  EXPECT_NEAR(soft.cfm, 1 / (12.875 + 262.1), 1e-12);
}

TEST(ContactArithmetic, FrictionCurve) {
  FrictionPoint one[TILE_CURVE_POINTS] = {{1, 1}};
  FrictionPoint two[TILE_CURVE_POINTS] = {{1.2f, 2}, {0.8f, 10}};
  FrictionPoint full[TILE_CURVE_POINTS];
  for (int i = 0; i < TILE_CURVE_POINTS; i++) full[i] = {1.0f + i, float(i + 1)};
  struct Case {
    const FrictionPoint* curve;
    float slip, mu;
  };
  const Case cases[] = {
      {one, 0, 1},    {one, 0.5f, 1}, {one, 30, 1},     {two, 1, 1.2f},  {two, 2, 1.2f},
      {two, 6, 1.0666667f}, {two, 10, 0.8f}, {two, 20, 0.8f}, {full, 8.5f, 8}, {full, 7.5f, 7 + 7.25f / 15},
  };
  for (const Case& c : cases) EXPECT_NEAR(friction_at(c.curve, c.slip * c.slip), c.mu, 1e-5) << c.slip;
}

TEST(ContactArithmetic, RollResistCurve) {
  RollResistPoint curve[TILE_CURVE_POINTS] = {{5, 15, 1}, {10, 30, 11}};
  struct Case {
    float speed, a, b;
  };
  const Case cases[] = {{0.5f, 5, 15}, {1, 5, 15}, {6, 7.5f, 22.5f}, {11, 10, 30}, {40, 10, 30}};
  for (const Case& c : cases) {
    float a, b;
    roll_resist_at(curve, c.speed, &a, &b);
    EXPECT_NEAR(a, c.a, 1e-5) << c.speed;
    EXPECT_NEAR(b, c.b, 1e-5) << c.speed;
  }
}

TEST(ContactArithmetic, DownwardNormalsAreFixed) {
  struct Case {
    Vec3d in, out;
  };
  const double s = std::sqrt(0.5);
  const Case cases[] = {
      {{0.999, -0.04, 0}, {1, 0, 0}},       // near-vertical wall seen from below: horizontal
      {{s, -s, 0}, {1, 0, 0}},              // steeply down: still horizontal
      {{0.01, -0.9999, 0.02}, {0, 1, 0}},   // almost straight down: up
      {{0, 2, 0}, {0, 1, 0}},               // upwards: only normalised
      {{0.6, 0.8, 0}, {0.6, 0.8, 0}},
  };
  for (const Case& c : cases) {
    Vec3d n = wheel_normal_fix(c.in);
    EXPECT_NEAR(n.x, c.out.x, 1e-9);
    EXPECT_NEAR(n.y, c.out.y, 1e-9);
    EXPECT_NEAR(n.z, c.out.z, 1e-9);
  }
}

TEST(ContactArithmetic, ArcadeGripFadesWithLean) {
  EXPECT_FLOAT_EQ(arcade_friction_factor(0), 1);
  EXPECT_FLOAT_EQ(arcade_friction_factor(float(PI / 8)), 0.8125f);
  EXPECT_FLOAT_EQ(arcade_friction_factor(float(PI / 4)), 0.625f);
  EXPECT_FLOAT_EQ(arcade_friction_factor(float(-PI / 4)), 0.625f);
  EXPECT_FLOAT_EQ(arcade_friction_factor(float(PI / 2)), 0.625f);
}

// A flat 64 ft field of the default tile, and the physics world.
struct FieldTest : ::testing::Test {
  Terrain terrain{};
  void SetUp() override {
    physics_world_create();
    sim_tick = 0;
    ASSERT_TRUE(terrain_allocate(&terrain, 4, 2, 0, 0));
  }
  void TearDown() override {
    dJointGroupEmpty(contact_group);
    terrain_free(&terrain);
  }
};

struct WheelFixture {
  dBodyID body;
  WheelState state{};
  explicit WheelFixture(double y) {
    body = dBodyCreate(physics_world);
    dMass mass;
    dMassSetSphereTotal(&mass, 0.5, 1);
    dBodySetMass(body, &mass);
    dBodySetPosition(body, 31, y, 33);
    state.body = body;
    state.ring_radius = 0.8333333f;
    state.tread_radius = 0.3333333f;
  }
  ~WheelFixture() { dBodyDestroy(body); }
};

// Resting on its tread the wheel has no contact; 0.1 ft lower it sinks 0.1 and is braked by
// the rolling resistance of the default tile (a = 5, b = 15 at q = 0.3: 8 lbf).
TEST_F(FieldTest, WheelDepthAndRollingResistance) {
  const double rolling = double(0.8333333f) + double(0.3333333f);
  WheelFixture above(rolling);
  EXPECT_FALSE(wheel_ground_contact(&terrain, &above.state, 1));
  EXPECT_EQ(above.state.depth, 0);
  EXPECT_EQ(dBodyGetNumJoints(above.body), 0);

  WheelFixture sunk(rolling - 0.1);
  dBodySetLinearVel(sunk.body, 0, 0, -20);
  EXPECT_TRUE(wheel_ground_contact(&terrain, &sunk.state, 1));
  EXPECT_NEAR(sunk.state.depth, 0.1, 1e-6);
  EXPECT_NEAR(sunk.state.contact_normal[1], 1, 1e-9);
  EXPECT_NEAR(sunk.state.contact_point[1], -0.1, 1e-6);  // deepest point of the tread
  EXPECT_NEAR(sunk.state.slip_velocity[2], -20, 1e-6);
  EXPECT_TRUE(sunk.state.on_ground);
  EXPECT_EQ(dBodyGetNumJoints(sunk.body), 1);
  EXPECT_NEAR(dBodyGetForce(sunk.body)[2], 8, 1e-4);
}

// Dropped onto the ground the wheel comes to rest on its tread, where the tyre spring
// carries its weight.
TEST_F(FieldTest, WheelSettlesOnTheGround) {
  WheelFixture wheel(2.5);
  for (int step = 0; step < 384; step++) {
    wheel_ground_contact(&terrain, &wheel.state, 1);
    physics_world_step();
  }
  const dReal* v = dBodyGetLinearVel(wheel.body);
  EXPECT_LT(std::fabs(v[1]), 1e-3);
  EXPECT_GT(wheel.state.depth, 0);
  EXPECT_LT(wheel.state.depth, 0.05);
}

TEST_F(FieldTest, ShapeSpheresTouchTheGround) {
  ShapeSphere spheres[2] = {{{0, 0, 0}, 0.5f, 0.6f, {}}, {{0, 3, 0}, 0.5f, 0.6f, {}}};
  Shape* shape = shape_make(spheres, 2);
  dBodyID body = dBodyCreate(physics_world);
  dMatrix3 identity;
  dRSetIdentity(identity);
  const dReal low[3] = {10, 0.4, 10};
  EXPECT_TRUE(shape_ground_contacts(shape, body, low, identity, &terrain));
  EXPECT_EQ(dBodyGetNumJoints(body), 1);  // only the lower sphere
  const dReal high[3] = {10, 0.6, 10};
  EXPECT_FALSE(shape_ground_contacts(shape, body, high, identity, &terrain));
  dBodyDestroy(body);
  shape_free(shape);
}

// Sphere-sphere contacts push the spheres apart in both modes, and the spring is capped so it
// never pushes harder than 2500 lbf at its depth.
TEST_F(FieldTest, SphereContactsSeparate) {
  for (int mode : {SPHERE_JOINT, SPHERE_FORCE}) {
    dBodyID a = dBodyCreate(physics_world);
    dBodyID b = dBodyCreate(physics_world);
    dMass mass;
    dMassSetSphereTotal(&mass, 1, 0.5);
    dBodySetMass(a, &mass);
    dBodySetMass(b, &mass);
    dBodySetPosition(a, 0, 50, 0);
    dBodySetPosition(b, 0.8, 50, 0);
    ContactSphere s1 = {{0, 50, 0}, 0.5, 1, 25000, 2500, a};
    ContactSphere s2 = {{0.8, 50, 0}, 0.5, 1, 25000, 2500, b};
    SphereContactResult result;
    EXPECT_TRUE(sphere_sphere_contact(s1, s2, mode, &result));
    EXPECT_NEAR(result.depth, 0.2, 1e-12);
    EXPECT_NEAR(result.normal.x, 1, 1e-12);
    EXPECT_NEAR(result.point.x, 0.4, 1e-12);
    physics_world_step();
    EXPECT_LT(dBodyGetLinearVel(a)[0], 0) << mode;
    EXPECT_GT(dBodyGetLinearVel(b)[0], 0) << mode;
    dBodyDestroy(a);
    dBodyDestroy(b);
  }
  // A static sphere pushes a body sphere away.
  dBodyID a = dBodyCreate(physics_world);
  dBodySetPosition(a, 0, 50, 0);
  ContactSphere body_sphere = {{0, 50, 0}, 0.5, 1, 25000, 2500, a};
  ContactSphere fixed = {{0.8, 50, 0}, 0.5, 1, 25000, 2500, nullptr};
  EXPECT_TRUE(sphere_sphere_contact(body_sphere, fixed, SPHERE_JOINT, nullptr));
  physics_world_step();
  EXPECT_LT(dBodyGetLinearVel(a)[0], 0);
  dBodyDestroy(a);
  // Three feet of overlap at 25000 lbf/ft is held to 2500 lbf: k = 833.33.
  EXPECT_NEAR(sphere_contact_stiffness(25000, 2500, 3), 833.333333, 1e-5);
  EXPECT_NEAR(sphere_contact_stiffness(25000, 30000, 0.05), 25000, 1e-9);
}

// A wheel on another bike's sphere: the touch drives the wheel when it is off the ground.
TEST_F(FieldTest, TorusSphere) {
  WheelFixture wheel(20);
  ContactSphere below = {{31, 20 - 0.8333333 - 0.3, 33}, 0.1, 0.5, 25000, 2500, nullptr};
  SphereContactResult result;
  EXPECT_TRUE(torus_sphere_contact(wheel.state, below, SPHERE_REPORT, &result));
  EXPECT_NEAR(result.depth, 0.3333333 + 0.1 - 0.3, 1e-6);
  EXPECT_NEAR(result.normal.y, -1, 1e-9);
  ContactSphere beside = {{31 + 0.8, 20, 33}, 0.1, 0.5, 25000, 2500, nullptr};
  EXPECT_FALSE(torus_sphere_contact(wheel.state, beside, SPHERE_REPORT, &result));  // on the axle line, beside the hub
  ContactSphere far = {{31, 20, 33 + 1.3}, 0.1, 0.5, 25000, 2500, nullptr};
  EXPECT_FALSE(torus_sphere_contact(wheel.state, far, SPHERE_REPORT, &result));
}

}  // namespace
