// The terrain's level-of-detail errors: nesting spheres, height errors, work spread over frames.
#include <cmath>

#include <gtest/gtest.h>

#include "render/terrain_lod.h"
#include "tests/track/terrain_support.h"

namespace {

constexpr float TOLERANCE = 0.125f;  // ft of height error per ft of radius

// A flat field of the given level, 1 ft between samples.
TerrainPtr flat(int level) {
  const int p = (1 << (level + 1)) + 1;
  return make_field(level, 1, std::vector<float>(size_t(p) * p, 0));
}

float error_of(const TerrainLod& lod, int i, int j, int k) { return lod.front[terrain_node_index(i, j, k)]; }

TEST(TerrainLod, SpheresNestOverChildrenAndNeighbours) {
  TerrainPtr t = flat(3);
  TerrainLod lod;
  terrain_lod_init(&lod, t.get());
  terrain_set_height(t.get(), 5, 9, 3);  // a spike somewhere inside
  ASSERT_TRUE(terrain_errors_update(&lod, t.get(), TOLERANCE, TERRAIN_ERRORS_UNLIMITED));
  const int n = t->level;
  for (int i = 0; i < n; i++) {
    const int side = 1 << i;
    const float d = t->extent * std::ldexp(1.0f, -(i + 1)) * std::sqrt(10.0f) * 0.50048828125f;
    for (int k = 0; k < side; k++) {
      for (int j = 0; j < side; j++) {
        const float parent = std::sqrt(error_of(lod, i, j, k));
        // Children and the children of the neighbours next to them lie inside the sphere.
        for (int dk = -1; dk <= 2; dk++) {
          for (int dj = -1; dj <= 2; dj++) {
            const int cj = 2 * j + dj, ck = 2 * k + dk;
            if (cj < 0 || ck < 0 || cj >= 2 * side || ck >= 2 * side) continue;
            const bool own = dj >= 0 && dj <= 1 && dk >= 0 && dk <= 1;
            const bool corner = (dj == -1 || dj == 2) && (dk == -1 || dk == 2);
            if (corner) continue;
            const float child = std::sqrt(error_of(lod, i + 1, cj, ck));
            EXPECT_GE(parent + 1e-3f, own ? child : child + d) << i << " " << j << " " << k;
          }
        }
      }
    }
  }
}

TEST(TerrainLod, HeightErrorsWidenTheSpheres) {
  TerrainPtr t = flat(2);  // 9 x 9 samples, leaves of 2 x 2 cells
  TerrainLod lod;
  terrain_lod_init(&lod, t.get());
  terrain_set_height(t.get(), 1, 1, 1);  // inside leaf (0, 0), on its diagonal
  ASSERT_TRUE(terrain_errors_update(&lod, t.get(), TOLERANCE, TERRAIN_ERRORS_UNLIMITED));
  const float radius = t->extent / 4 * std::sqrt(0.5f);  // half the diagonal of a leaf
  EXPECT_NEAR(error_of(lod, 2, 0, 0), std::pow(1 / TOLERANCE + radius, 2), 1e-3);
  EXPECT_NEAR(error_of(lod, 2, 3, 3), radius * radius, 1e-4);
  // A flat leaf in the middle: only its own size.
  EXPECT_NEAR(error_of(lod, 2, 2, 2), radius * radius, 1e-4);
}

TEST(TerrainLod, WorkIsSpreadOverFramesAndOldErrorsStayUntilDone) {
  TerrainPtr t = flat(3);
  TerrainLod whole, spread;
  terrain_lod_init(&whole, t.get());
  terrain_lod_init(&spread, t.get());
  ASSERT_TRUE(terrain_errors_update(&whole, t.get(), TOLERANCE, TERRAIN_ERRORS_UNLIMITED));
  ASSERT_TRUE(terrain_errors_update(&spread, t.get(), TOLERANCE, TERRAIN_ERRORS_UNLIMITED));
  const std::vector<float> before = spread.front;

  terrain_set_height(t.get(), 3, 3, 2);
  ASSERT_TRUE(terrain_errors_update(&whole, t.get(), TOLERANCE, TERRAIN_ERRORS_UNLIMITED));
  int calls = 0;
  while (!terrain_errors_update(&spread, t.get(), TOLERANCE, 50)) {
    EXPECT_EQ(spread.front, before) << "after call " << calls;  // the old errors stay in use
    ASSERT_LT(++calls, 10000);
  }
  EXPECT_GT(calls, 10);
  EXPECT_EQ(spread.front, whole.front);
  EXPECT_NE(spread.front, before);

  // Up to date: nothing to do, at any budget.
  EXPECT_TRUE(terrain_errors_update(&spread, t.get(), TOLERANCE, 0));
  // An edit in the middle of a pass starts it again for the new ground.
  terrain_set_height(t.get(), 3, 3, 0);
  EXPECT_FALSE(terrain_errors_update(&spread, t.get(), TOLERANCE, 100));
  terrain_set_height(t.get(), 3, 3, 2);
  while (!terrain_errors_update(&spread, t.get(), TOLERANCE, 100)) {
  }
  EXPECT_EQ(spread.front, whole.front);
}

TEST(TerrainLod, ClipmapWindowsFollowTheCameraAndStayInTheField) {
  // A level-8 field: 512 cells a side; level L tiles cover 2^(L+1) cells, 2^(8-L) of them a side.
  struct Case {
    int centre, clip_level, origin;
  } cases[] = {
      {0, 0, 0},        // at the field's corner the window clamps to its first tile
      {-50, 3, 0},      // a camera off the field too
      {256, 0, 126},    // (256 - 1) >> 1 = 127, less one
      {256, 2, 30},     // (256 - 4) >> 3 = 31, less one
      {511, 0, 252},    // the far corner: 2^8 - 4
      {511, 5, 4},      // 2^3 - 4
      {100000, 5, 4},
  };
  for (const Case& c : cases)
    EXPECT_EQ(terrain_clip_origin(c.centre, c.clip_level, 8), c.origin) << c.centre << " level " << c.clip_level;
  // A field too small for a whole window keeps it at the corner.
  EXPECT_EQ(terrain_clip_origin(40, 2, 3), 0);
}

}  // namespace
