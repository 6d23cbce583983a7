// Whole bikes on a flat field: dropped upright they settle on their wheels, dropped on their
// side they rest on their shape spheres; two bikes that meet push each other apart.
#include <cmath>
#include <cstdarg>
#include <random>

#include <gtest/gtest.h>

#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "tests/physics/rig.h"
#include "track/terrain.h"

namespace {

struct DropTest : ::testing::Test {
  Terrain terrain{};
  Bike* bikes[2] = {nullptr, nullptr};

  void SetUp() override {
    solver_messages = 0;
    dSetMessageHandler(count_solver_message);
    physics_world_create();
    sim_tick = 0;
    race_start_tick = 0;
    ASSERT_TRUE(terrain_allocate(&terrain, 4, 2, 0, 0));
  }
  void TearDown() override {
    for (Bike* bike : bikes) bike_destroy(bike);
    terrain_free(&terrain);
    dSetMessageHandler(nullptr);
  }

  // The physics library reports a step whose constraint solver gave up (it then leaves the
  // rest of the island without forces) through its message handler.
  static inline int solver_messages = 0;
  static void count_solver_message(int, const char*, va_list) { solver_messages++; }

  Bike* make_bike(int index, float angle_about_z, const float offset[3]) {
    Bike* bike = bike_create("450sxf(2018)", index, "1", nullptr, nullptr, nullptr, nullptr);
    give_stand_in_shapes(bike);
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
  static double lowest_body(const Bike* bike) {
    double lowest = INFINITY;
    for (dBodyID body : bike->bodies) lowest = std::min(lowest, double(dBodyGetPosition(body)[1]));
    return lowest;
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

namespace {

// The deepest overlap (ft) of the two bikes' parts as the bike-bike test sees them: shape
// spheres against shape spheres, and wheel tori against the other bike's spheres.
double deepest_overlap(const Bike* a, const Bike* b) {
  auto sphere_at = [](const Bike* bike, int part, const ShapeSphere& s) {
    dVector3 c;
    dBodyGetRelPointPos(bike->bodies[part], s.centre[0], s.centre[1], s.centre[2], c);
    return ContactSphere{{c[0], c[1], c[2]}, s.radius, s.friction, 1, 1, bike->bodies[part]};
  };
  double deepest = 0;
  for (const Bike* one : {a, b}) {
    const Bike* other = one == a ? b : a;
    for (int part = 0; part < BODY_COUNT; part++) {
      if (!one->shapes[part]) continue;
      for (int i = 0; i < one->shapes[part]->sphere_count; i++) {
        ContactSphere mine = sphere_at(one, part, one->shapes[part]->spheres[i]);
        SphereContactResult r;
        for (const WheelState* wheel : {&other->front, &other->rear}) {
          if (torus_sphere_contact(*wheel, mine, SPHERE_REPORT, &r)) deepest = std::max(deepest, r.depth);
        }
        // Sphere pairs once: wheel shapes meet only the other bike's body shapes.
        const bool wheel = part == BODY_FRONT_WHEEL || part == BODY_REAR_WHEEL;
        if (!wheel && one != a) continue;
        for (int theirs = 0; theirs < BODY_COUNT; theirs++) {
          if (!other->shapes[theirs] || theirs == BODY_FRONT_WHEEL || theirs == BODY_REAR_WHEEL) continue;
          for (int k = 0; k < other->shapes[theirs]->sphere_count; k++) {
            ContactSphere their = sphere_at(other, theirs, other->shapes[theirs]->spheres[k]);
            if (sphere_sphere_contact(mine, their, SPHERE_REPORT, &r)) deepest = std::max(deepest, r.depth);
          }
        }
      }
    }
  }
  return deepest;
}

// Fresh bikes stand in their model pose with fork and swing arm fully extended. Touching
// another bike from there must not stall the world step: both come to rest on the ground,
// apart.
TEST_F(DropTest, FreshBikesThatTouchComeToRestApart) {
  struct Case {
    const char* name;
    float second[3];  // where the second bike is put, the first standing at (31, 0.1, 30)
  };
  const Case cases[] = {
      {"set down with a wheel on the other's rider", {31.5f, 4.5f, 31.5f}},
      {"dropped half a foot onto the other", {32, 5, 31}},
      {"standing side by side, bars touching", {33.3f, 0.1f, 30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const float first_at[3] = {31, 0.1f, 30};
    Bike* first = make_bike(0, 0, first_at);
    Bike* second = make_bike(1, 0, c.second);
    // Crash tests off: a thrown rider takes seconds to get back on, and this is about contacts.
    first->invulnerability = second->invulnerability = -1000;
    double lowest = INFINITY;
    for (int i = 0; i < 384; i++) {
      step();
      ASSERT_TRUE(finite_bike(first) && finite_bike(second)) << "step " << i;
      lowest = std::min(lowest, std::min(lowest_body(first), lowest_body(second)));
    }
    EXPECT_EQ(solver_messages, 0);
    EXPECT_GE(first->first_bike_contact_tick, 0);  // they did touch
    EXPECT_GT(lowest, 0.1);                        // nothing sank through the ground
    EXPECT_LT(max_speed(first), 0.1);
    EXPECT_LT(max_speed(second), 0.1);
    EXPECT_LT(deepest_overlap(first, second), 0.05);
    for (Bike*& bike : bikes) {
      bike_destroy(bike);
      bike = nullptr;
    }
    solver_messages = 0;
  }
}

// Two bikes rolling side by side at 10 ft/s, the right one drifting left at 3 ft/s: they
// bump and the contacts keep them from passing into each other.
TEST_F(DropTest, BikesRiddenIntoEachOtherStayApart) {
  const float left_at[3] = {31, 0, 40};
  const float right_at[3] = {34, 0, 40};
  Bike* left = make_bike(0, 0, left_at);
  Bike* right = make_bike(1, 0, right_at);
  for (Bike* bike : {left, right}) {
    const double drift = bike == right ? -3 : 0;
    for (dBodyID body : bike->bodies) dBodySetLinearVel(body, drift, 0, -10);
    for (const WheelState* wheel : {&bike->front, &bike->rear}) {
      dBodySetAngularVel(wheel->body, -10 / (wheel->ring_radius + wheel->tread_radius), 0, 0);
    }
  }
  double lowest = INFINITY, deepest = 0;
  for (int i = 0; i < 160; i++) {
    step();
    ASSERT_TRUE(finite_bike(left) && finite_bike(right)) << "step " << i;
    lowest = std::min(lowest, std::min(lowest_body(left), lowest_body(right)));
    deepest = std::max(deepest, deepest_overlap(left, right));
  }
  EXPECT_EQ(solver_messages, 0);
  EXPECT_GE(left->first_bike_contact_tick, 0);
  EXPECT_GT(lowest, 0.1);
  EXPECT_LT(deepest, 0.1);
}

// Who rode into whom: a bike's front wheel hitting the other sets the invulnerability
// counters, and every touch marks both bikes' contact ticks and clears their gate assists.
TEST_F(DropTest, BikeBikeCollisionRules) {
  struct Case {
    const char* name;
    float a_z, a_yaw, a_speed, a_counter;  // a is the faster bike; yaw pi faces +z
    float b_z, b_yaw, b_speed, b_counter;
    int b_part;  // the part of b that a must have touched
    float a_after, b_after;
  };
  const float PI_F = 3.14159265f;
  const Case cases[] = {
      // Front wheels meet: each bike at 10 ft/s or more is raised to at least 128.
      {"front to front", 30, 0, 12, 0, 30, PI_F, 11, 200, PART_FRONT_WHEEL, 128, 200},
      // a's front wheel hits b's rear: a raised to 192, b's negative counter lowered to -640.
      {"a rode into b", 37, 0, 12, 0, 30, 0, 6, -5, PART_REAR_WHEEL, 192, -640},
      // b's front wheel hits a's rear: the same with the roles swapped.
      {"b rode into a", 30, 0, 12, -5, 37, 0, 11, 0, PART_FRONT_WHEEL, -640, 192},
      // Too slow for any of it.
      {"slow bump", 37, 0, 4, -5, 30, 0, 3, -5, PART_REAR_WHEEL, -5, -5},
  };
  sim_tick = 77;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto place = [&](int index, float z, float yaw, float speed, float counter) {
      const float origin[3] = {0, 0, 0};
      Bike* bike = make_bike(index, 0, origin);
      bike_rotate(bike, yaw);
      const float offset[3] = {31, 0.1f, z};
      bike_translate(bike, offset);
      const dReal* r = dBodyGetRotation(bike->bodies[BODY_FRAME]);
      for (dBodyID body : bike->bodies) dBodySetLinearVel(body, -r[2] * speed, 0, -r[10] * speed);
      bike->invulnerability = counter;
      bike->lines_in_use[2] = 1;
      return bike;
    };
    Bike* a = place(0, c.a_z, c.a_yaw, c.a_speed, c.a_counter);
    Bike* b = place(1, c.b_z, c.b_yaw, c.b_speed, c.b_counter);
    EXPECT_TRUE(bike_bike_collision(a, b, 0) & c.b_part);
    EXPECT_FLOAT_EQ(a->invulnerability, c.a_after);
    EXPECT_FLOAT_EQ(b->invulnerability, c.b_after);
    for (const Bike* bike : {a, b}) {
      EXPECT_EQ(bike->last_bike_contact_tick, 77);
      EXPECT_EQ(bike->first_bike_contact_tick, 77);
      EXPECT_EQ(bike->lines_in_use[2], 0);
    }
    for (Bike*& bike : bikes) {
      bike_destroy(bike);
      bike = nullptr;
    }
    dJointGroupEmpty(contact_group);
  }
}

// A bike is never collided with itself: that would make contacts of its bodies with
// themselves.
TEST_F(DropTest, BikeAgainstItselfTouchesNothing) {
  const float at[3] = {31, 0.1f, 30};
  Bike* bike = make_bike(0, 0, at);
  EXPECT_EQ(bike_bike_collision(bike, bike, 0), 0);
  EXPECT_EQ(dBodyGetNumJoints(bike->bodies[BODY_FRAME]), 3);  // steering, swing arm, rider
}

// A foreign shape that the bike's reach says is out of reach touches no part of it. The shape
// is put around the bike's frame at about the reach, or just within or beyond touching
// distance of one part, of a bike turned any way.
TEST_F(DropTest, NothingOutOfTheBikesReachTouchesIt) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> unit(0, 1);
  std::normal_distribution<double> normal;
  const ShapeSphere spheres[2] = {{{0, 0.3f, 0}, 0.4f, 1, {}}, {{0.5f, -0.2f, 0.1f}, 0.25f, 1, {}}};
  Shape* foreign = shape_make(spheres, 2);
  const float at[3] = {31, 2, 30};
  Bike* bike = make_bike(0, 1.1f, at);
  int out = 0, touched = 0;
  for (int n = 0; n < 3000; n++) {
    dQuaternion q = {normal(rng), normal(rng), normal(rng), normal(rng)};
    dNormalize4(q);
    dMatrix3 rotation;
    dQtoR(q, rotation);
    dVector3 d = {normal(rng), normal(rng), normal(rng)};
    dNormalize3(d);
    const double reach = bike_reach(bike);
    const int part = int(rng() % BODY_COUNT);
    double part_reach = bike->shapes[part] ? bike->shapes[part]->bounding_radius : 0;
    if (part == BODY_FRONT_WHEEL) part_reach = std::max(part_reach, double(bike->front.ring_radius + bike->front.tread_radius));
    if (part == BODY_REAR_WHEEL) part_reach = std::max(part_reach, double(bike->rear.ring_radius + bike->rear.tread_radius));
    const bool around_frame = n % 2 == 0;
    const dReal* from = dBodyGetPosition(bike->bodies[around_frame ? int(BODY_FRAME) : part]);
    const double distance = ((around_frame ? reach : part_reach) + foreign->bounding_radius) * (0.9 + 0.15 * unit(rng));
    const dReal position[3] = {from[0] + d[0] * distance, from[1] + d[1] * distance, from[2] + d[2] * distance};
    const bool beyond = bike_out_of_reach(bike, reach, position, foreign->bounding_radius);
    const int mask = part_object_collision(bike, foreign, nullptr, position, rotation, SPHERE_REPORT, true);
    if (beyond) {
      out++;
      EXPECT_EQ(mask, 0) << "placement " << n;
    }
    touched += mask != 0;
  }
  EXPECT_GT(out, 300);
  EXPECT_GT(touched, 300);
  shape_free(foreign);
}

}  // namespace
