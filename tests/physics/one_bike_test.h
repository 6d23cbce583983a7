// Fixtures for tests of one bike's own mechanics: a fresh world with one 450 in it, and the
// same bike on a flat field it rides on alone.
#pragma once

#include <gtest/gtest.h>

#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/rider.h"
#include "physics/suspension.h"
#include "physics/world.h"
#include "track/terrain.h"

struct OneBikeTest : ::testing::Test {
  Bike* bike = nullptr;
  void SetUp() override {
    physics_world_create();
    sim_tick = 1;
    bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override { bike_destroy(bike); }
};

// A flat field at height 0 of 2^level samples `spacing` ft apart (the steering sees it too),
// and the bike at its model pose; a test places it.
struct FieldTest : ::testing::Test {
  Terrain terrain{};
  Bike* bike = nullptr;

  void make_field(int level, float spacing) {
    physics_world_create();
    sim_tick = 0;
    race_start_tick = 0;
    ASSERT_TRUE(terrain_allocate(&terrain, level, spacing, 0, 0));
    steering_terrain = &terrain;
    bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    bike_destroy(bike);
    steering_terrain = nullptr;
    rider_hooks = {};
    terrain_free(&terrain);
  }
  void step() {
    bike_ground_contacts(bike, &terrain);
    physics_world_step();
    bike_post_step(bike);
    sim_tick++;
  }
};
