// The bike-bike pass over a whole list skips pairs and parts out of reach, yet must make exactly
// the contacts, pushes and marks that testing every part of every pair of the list in order
// makes.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/world.h"
#include "tests/physics/rig.h"

namespace {

struct Placement {
  float x, z, yaw, speed;  // ft, rad (0 faces -z), ft/s along the heading
};

// What one pass leaves behind: contacts made, each bike's marks and wheel touches, and every
// body after the world step that follows.
struct Outcome {
  int contacts;
  std::vector<double> values;
};

// Every pair of the list in order, every part of the first bike against the second: the
// bike-bike rules without any culling (the invulnerability counters left out).
void every_part_of_every_pair(const std::vector<Bike*>& bikes, int mode) {
  const int parts[] = {BODY_FRONT_WHEEL, BODY_REAR_WHEEL, BODY_FRAME, BODY_STEERING,
                       BODY_FORK_LOWER,  BODY_SWINGARM,   BODY_RIDER};
  for (size_t i = 0; i < bikes.size(); i++) {
    for (size_t j = i + 1; j < bikes.size(); j++) {
      Bike* a = bikes[i];
      Bike* b = bikes[j];
      const bool touched_before = a->last_bike_contact_tick == sim_tick || b->last_bike_contact_tick == sim_tick;
      int mask = 0;
      for (int part : parts) {
        const bool pushes = part == BODY_FRONT_WHEEL || part == BODY_STEERING || part == BODY_FORK_LOWER;
        dBodyID body = a->bodies[part];
        mask |= part_object_collision(b, a->shapes[part], body, dBodyGetPosition(body), dBodyGetRotation(body),
                                      touched_before ? SPHERE_FORCE : SPHERE_JOINT, !pushes && mode != 0);
      }
      if (!mask) continue;
      for (Bike* bike : {a, b}) {
        bike->last_bike_contact_tick = sim_tick;
        if (bike->first_bike_contact_tick == -1) bike->first_bike_contact_tick = sim_tick;
      }
    }
  }
}

Outcome collide_and_step(const std::vector<Placement>& field, int mode, bool whole_list) {
  std::vector<Bike*> bikes;
  for (size_t i = 0; i < field.size(); i++) {
    Bike* bike = bike_create("450sxf(2018)", int(i), "1", nullptr, nullptr, nullptr, nullptr);
    give_stand_in_shapes(bike);
    bike_rotate(bike, field[i].yaw);
    const float offset[3] = {field[i].x, 0.1f, field[i].z};
    bike_translate(bike, offset);
    const dReal* r = dBodyGetRotation(bike->bodies[BODY_FRAME]);
    for (dBodyID body : bike->bodies) {
      dBodySetLinearVel(body, -r[2] * field[i].speed, 0, -r[10] * field[i].speed);
    }
    bikes.push_back(bike);
  }
  ContactLog counter = {nullptr, 0, 0};
  physics_contact_log = &counter;
  if (whole_list) {
    bike_list_collisions(bikes.data(), int(bikes.size()), mode);
  } else {
    every_part_of_every_pair(bikes, mode);
  }
  physics_contact_log = nullptr;
  Outcome out{counter.count, {}};
  for (Bike* bike : bikes) {
    out.values.push_back(bike->last_bike_contact_tick);
    out.values.push_back(bike->first_bike_contact_tick);
    out.values.push_back(bike->front.depth);
    out.values.push_back(bike->rear.depth);
  }
  physics_world_step();
  for (Bike* bike : bikes) {
    for (dBodyID body : bike->bodies) {
      for (const dReal* v : {dBodyGetPosition(body), dBodyGetLinearVel(body), dBodyGetAngularVel(body)}) {
        out.values.insert(out.values.end(), v, v + 3);
      }
    }
    bike_destroy(bike);
  }
  return out;
}

TEST(BikeList, WholeListPassMatchesEveryPairInOrder) {
  physics_world_create();
  sim_tick = 40;
  const float PI_F = 3.14159265f;
  struct Case {
    const char* name;
    std::vector<Placement> field;
  };
  // A bunched pack: bikes side by side and nose to tail, some overlapping.
  std::vector<Placement> pack;
  for (int i = 0; i < 12; i++) {
    pack.push_back({30 + 2.2f * float(i % 4) + 0.3f * float(i % 3), 30 + 4.5f * float(i / 4) - 0.7f * float(i % 2),
                    0.2f * float(i % 5) - 0.4f, 20 - float(i)});
  }
  const Case cases[] = {
      {"bunched pack", pack},
      // The field spreads most along z, so it is swept along z: a row level in z but far apart
      // in x, with one pair in it that truly touches.
      {"a row level along the sweep",
       {{10, 30, 0, 15}, {60, 30.5f, 0, 14}, {110, 31, PI_F, 13}, {160, 29.5f, 0, 12}, {161, 29.8f, 0.1f, 11},
        {100, -100, 0, 10}, {100, 300, 0, 9}}},
      // Nose to nose and nose to tail: the front-wheel rules with bikes in both directions.
      {"head on and rear end", {{30, 30, 0, 12}, {30, 23, PI_F, 11}, {40, 37, 0, 12}, {40, 30, 0, 6}}},
  };
  for (const Case& c : cases) {
    for (int mode : {0, 1}) {
      SCOPED_TRACE(std::string(c.name) + (mode ? ", mode 1" : ", mode 0"));
      const Outcome every_part = collide_and_step(c.field, mode, false);
      const Outcome whole_list = collide_and_step(c.field, mode, true);
      EXPECT_EQ(whole_list.contacts, every_part.contacts);
      ASSERT_EQ(whole_list.values.size(), every_part.values.size());
      EXPECT_EQ(memcmp(whole_list.values.data(), every_part.values.data(), every_part.values.size() * sizeof(double)), 0);
      if (mode == 0) {
        EXPECT_GT(every_part.contacts, 0);  // the field does touch
      }
    }
  }
  physics_world_destroy();
}

}  // namespace
