// Fixture for tests of one bike's own mechanics: a fresh world with one 450 in it.
#pragma once

#include <gtest/gtest.h>

#include "core/tick.h"
#include "physics/bike.h"
#include "physics/world.h"

struct OneBikeTest : ::testing::Test {
  Bike* bike = nullptr;
  void SetUp() override {
    physics_world_create();
    sim_tick = 1;
    bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override { bike_destroy(bike); }
};
