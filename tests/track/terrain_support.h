// Small hand-made height fields for the terrain tests.
#pragma once

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "track/terrain.h"

struct TerrainDeleter {
  void operator()(Terrain* t) const {
    terrain_free(t);
    delete t;
  }
};
using TerrainPtr = std::unique_ptr<Terrain, TerrainDeleter>;

// A field of the given level and spacing with heights given row by row (P * P values).
inline TerrainPtr make_field(int level, float spacing, const std::vector<float>& heights) {
  TerrainPtr t(new Terrain{});
  EXPECT_TRUE(terrain_allocate(t.get(), level, spacing, -100, 100));
  size_t samples = size_t(t->grid_size) * t->grid_size;
  EXPECT_EQ(heights.size(), samples);
  for (size_t k = 0; k < samples && k < heights.size(); k++) t->heights[k] = t->base_heights[k] = heights[k];
  return t;
}
