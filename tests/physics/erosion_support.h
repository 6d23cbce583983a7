// Fixtures for the erosion tests: a small flat field of one dirt tile and a catcher for the
// stroke bytes the wheels hand on.
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "core/tick.h"
#include "physics/erosion.h"
#include "track/terrain.h"

// Every stroke submitted while it lives, instead of queueing it.
struct StrokeCatcher {
  static std::vector<std::vector<uint8_t>>& strokes() {
    static std::vector<std::vector<uint8_t>> caught;
    return caught;
  }
  StrokeCatcher() {
    strokes().clear();
    erode_set_submit_hook([](const uint8_t* data, int length) { strokes().emplace_back(data, data + length); });
  }
  ~StrokeCatcher() { erode_set_submit_hook(nullptr); }
};

// A flat field at height 0 (level 6: 129 samples a side, 1 ft apart, 128 ft across) whose one
// tile erodes with the default parameters and the default depth limit (1 ft).
struct ErosionField : ::testing::Test {
  Terrain terrain{};
  void SetUp() override {
    sim_tick = 0;
    ASSERT_TRUE(terrain_allocate(&terrain, 6, 1, 0, 0));
    ErodeParams& e = terrain.tiles[0].erode;
    e = erode_params_defaults();
    e.limit_count = 2;
    e.limit_depth[0] = 0, e.limit_first[0] = 1, e.limit_second[0] = 1;
    e.limit_depth[1] = 1, e.limit_first[1] = 0, e.limit_second[1] = 0;
    erode_ground_restore(&terrain);
  }
  void TearDown() override {
    erode_ground_restore(&terrain);
    terrain_free(&terrain);
  }
  size_t samples() const { return size_t(terrain.grid_size) * size_t(terrain.grid_size); }
  // Sum of (height - base height) over the field: the dirt moved in and out.
  double volume_change() const {
    double sum = 0;
    for (size_t k = 0; k < samples(); k++) sum += double(terrain.heights[k]) - terrain.base_heights[k];
    return sum;
  }
  bool base_untouched() const {
    for (size_t k = 0; k < samples(); k++) {
      if (terrain.base_heights[k] != 0) return false;
    }
    return true;
  }
};
