// Height-field sampling, triangulation, normals, height changes and shading on tiny fields.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "tests/track/terrain_support.h"
#include "track/lighting.h"

namespace {

// 3 x 3 samples, spacing 2: no two heights alike, so a swapped axis or corner shows.
//   row 0:  0  1  4
//   row 1:  2  7  3
//   row 2:  5  0  6
const std::vector<float> FIELD3 = {0, 1, 4, 2, 7, 3, 5, 0, 6};

float H(const Terrain* t, int col, int row) {
  return t->heights[row * t->grid_size + col];
}

// Triangles by their corners as the triangulation describes them, for cells of both parities.
struct CellTriangle {
  int i, j;            // cell
  int corners[3][2];   // (col, row)
};

const CellTriangle TRIANGLES[] = {
    {0, 0, {{0, 0}, {1, 0}, {1, 1}}},  // even cell, below its diagonal (z <= x)
    {0, 0, {{0, 0}, {0, 1}, {1, 1}}},  // even cell, above it
    {1, 0, {{1, 0}, {2, 0}, {1, 1}}},  // odd cell, x + z <= 1
    {1, 0, {{2, 1}, {1, 1}, {2, 0}}},  // odd cell, beyond it
    {0, 1, {{0, 1}, {1, 1}, {0, 2}}},  // odd cell in the second row
    {0, 1, {{1, 2}, {0, 2}, {1, 1}}},
    {1, 1, {{1, 1}, {2, 1}, {2, 2}}},  // even cell in the second row
    {1, 1, {{1, 1}, {1, 2}, {2, 2}}},
};

TEST(TerrainSampling, CentroidOfEveryTriangleHasTheMeanOfItsCorners) {
  TerrainPtr t = make_field(0, 2, FIELD3);
  for (const CellTriangle& tri : TRIANGLES) {
    float x = 0, z = 0, mean = 0;
    for (auto& c : tri.corners) {
      x += c[0] * 2.0f / 3, z += c[1] * 2.0f / 3;
      mean += H(t.get(), c[0], c[1]) / 3;
    }
    EXPECT_NEAR(terrain_height_at(t.get(), x, z), mean, 1e-5) << "cell " << tri.i << "," << tri.j << " at " << x << "," << z;
  }
}

TEST(TerrainSampling, GridPointsDiagonalsAndOutsideTheField) {
  TerrainPtr t = make_field(0, 2, FIELD3);
  for (int row = 0; row < 3; row++)
    for (int col = 0; col < 3; col++) EXPECT_EQ(terrain_height_at(t.get(), col * 2.0f, row * 2.0f), H(t.get(), col, row));

  struct Case {
    float x, z, expected;
  } cases[] = {
      {1, 1, 3.5f},       // on the even cell's diagonal: halfway between 0 and 7
      {3, 1, 5.5f},       // on the odd cell's diagonal (2,0)-(1,1): halfway between 4 and 7
      {1, 3, 6.0f},       // odd cell (0,1): diagonal (1,1)-(0,2), halfway between 7 and 5
      {-10, 0, 0},        // left of the field: the edge column continues
      {-10, 1, 1},        // halfway up the left edge between 0 and 2
      {9, 4, 6},          // beyond the far corner
      {2, -7, 1},         // before the first row
      {1, 50, 2.5f},      // beyond the last row, halfway between 5 and 0
  };
  for (const Case& c : cases) EXPECT_NEAR(terrain_height_at(t.get(), c.x, c.z), c.expected, 1e-5) << c.x << "," << c.z;
  // Not a number still gives an edge height instead of reading outside the field.
  float h = terrain_height_at(t.get(), NAN, 1e30f);
  EXPECT_TRUE(h == 5 || h == 0 || h == 6 || h == 4 || h == 1 || h == 2 || h == 3 || h == 7);
}

TEST(TerrainSampling, NormalIsTheUpwardCrossProductOfTheTriangle) {
  TerrainPtr t = make_field(0, 2, FIELD3);
  for (const CellTriangle& tri : TRIANGLES) {
    float p[3][3];
    float cx = 0, cz = 0;
    for (int k = 0; k < 3; k++) {
      p[k][0] = tri.corners[k][0] * 2.0f;
      p[k][1] = H(t.get(), tri.corners[k][0], tri.corners[k][1]);
      p[k][2] = tri.corners[k][1] * 2.0f;
      cx += p[k][0] / 3, cz += p[k][2] / 3;
    }
    float a[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    float b[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    float n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    if (n[1] < 0) n[0] = -n[0], n[1] = -n[1], n[2] = -n[2];
    Vec3f got = terrain_normal_at(t.get(), cx, cz);
    EXPECT_FLOAT_EQ(got.y, 4.0f);  // s^2, never normalised
    EXPECT_NEAR(got.x, n[0], 1e-4) << tri.i << "," << tri.j;
    EXPECT_NEAR(got.z, n[2], 1e-4) << tri.i << "," << tri.j;
  }
}

TEST(TerrainTriangulation, CornersMatchSamplingAndTouchCounts) {
  // Level 1: 5 x 5 samples, 4 x 4 cells, 32 triangles.
  std::vector<float> heights(25);
  for (int k = 0; k < 25; k++) heights[k] = float((k * 7) % 11);
  TerrainPtr t = make_field(1, 1, heights);
  ASSERT_EQ(terrain_triangle_count(t.get()), 32);
  std::map<std::pair<int, int>, int> touches;
  for (int index = 0; index < 32; index++) {
    int cols[3], rows[3];
    terrain_triangle_corners(t.get(), index, cols, rows);
    EXPECT_EQ(rows[1], rows[0]);
    EXPECT_EQ(cols[2], cols[0]);
    // The numbering: cell row j holds triangles j * 8 .. j * 8 + 7, two per cell.
    int j = std::min({rows[0], rows[1], rows[2]});
    int i = std::min({cols[0], cols[1], cols[2]});
    EXPECT_EQ(index / 8, j);
    EXPECT_EQ(index % 8 / 2, i);
    float x = (cols[0] + cols[1] + cols[2]) / 3.0f, z = (rows[0] + rows[1] + rows[2]) / 3.0f;
    float mean = (H(t.get(), cols[0], rows[0]) + H(t.get(), cols[1], rows[1]) + H(t.get(), cols[2], rows[2])) / 3;
    EXPECT_NEAR(terrain_height_at(t.get(), x, z), mean, 1e-5) << "triangle " << index;
    for (int k = 0; k < 3; k++) touches[{cols[k], rows[k]}]++;
  }
  for (int row = 1; row < 4; row++)
    for (int col = 1; col < 4; col++)
      EXPECT_EQ((touches[{col, row}]), (col + row) % 2 == 0 ? 8 : 4) << col << "," << row;
}

TEST(TerrainTiles, TileAtCellBorders) {
  TerrainPtr t = make_field(1, 1, std::vector<float>(25, 0));
  // 2 x 2 tile map over 4 x 4 cells of 1 ft: each tile covers 2 ft.
  const uint8_t map[4] = {0, 1, 2, 3};
  for (int k = 0; k < 4; k++) t->tilemap[k] = map[k];
  struct Case {
    float x, z;
    int tile;
  } cases[] = {
      {0, 0, 0}, {1.999f, 1.999f, 0}, {2, 0, 1}, {0, 2, 2}, {2, 2, 3}, {4, 4, 3},
      {-5, 3, 2}, {100, -1, 1}, {1e30f, 1e30f, 3}, {NAN, NAN, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(terrain_tile_at(t.get(), c.x, c.z), c.tile) << c.x << "," << c.z;
}

TEST(TerrainNormals, VertexNormalsOfAPlaneAndOfAPeak) {
  // A tilted plane h = 0.5 x - 0.25 z: every vertex, edges and corners included, has its normal.
  std::vector<float> plane(25);
  for (int row = 0; row < 5; row++)
    for (int col = 0; col < 5; col++) plane[row * 5 + col] = 0.5f * col - 0.25f * row;
  TerrainPtr t = make_field(1, 1, plane);
  float length = std::sqrt(0.25f + 1 + 0.0625f);
  for (int row = 0; row < 5; row++) {
    for (int col = 0; col < 5; col++) {
      Vec3f n = terrain_vertex_normal(t.get(), col, row);
      EXPECT_NEAR(n.x, -0.5f / length, 1e-5);
      EXPECT_NEAR(n.y, 1 / length, 1e-5);
      EXPECT_NEAR(n.z, 0.25f / length, 1e-5);
    }
  }
  // A peak in the middle of a 3 x 3 field points straight up at the peak.
  TerrainPtr peak = make_field(0, 1, {0, 0, 0, 0, 3, 0, 0, 0, 0});
  Vec3f n = terrain_vertex_normal(peak.get(), 1, 1);
  EXPECT_NEAR(n.x, 0, 1e-6);
  EXPECT_NEAR(n.z, 0, 1e-6);
  EXPECT_NEAR(n.y, 1, 1e-6);
}

// Marks every sample and triangle stale, so the next reads compute everything afresh.
void mark_all_stale(Terrain* t) {
  size_t samples = size_t(t->grid_size) * t->grid_size;
  for (size_t k = 0; k < samples; k++) terrain_bit_set(t->shading_dirty, k);
  for (int k = 0; k < terrain_triangle_count(t); k++) terrain_bit_set(t->triangle_dirty, k);
}

TEST(TerrainSetHeight, DirtyMarksCoverEverythingTheChangeAffects) {
  lighting_reset(&lighting);
  std::vector<float> heights(25);
  for (int k = 0; k < 25; k++) heights[k] = float((k * 5) % 7);
  TerrainPtr t = make_field(1, 1, heights);
  mark_all_stale(t.get());
  terrain_refresh_lighting(t.get());
  // Change every point in turn, including edges and corners, checking each time against a
  // field whose normals and shading are computed from scratch.
  for (int row = 0; row < 5; row++) {
    for (int col = 0; col < 5; col++) {
      terrain_set_height(t.get(), col, row, 9.0f + col - row);
      terrain_refresh_lighting(t.get());
      std::vector<float> now(t->heights, t->heights + 25);
      TerrainPtr fresh = make_field(1, 1, now);
      mark_all_stale(fresh.get());
      terrain_refresh_lighting(fresh.get());
      for (int k = 0; k < 32; k++) {
        Vec3f a = terrain_triangle_normal(t.get(), k), b = terrain_triangle_normal(fresh.get(), k);
        ASSERT_TRUE(a.x == b.x && a.y == b.y && a.z == b.z) << "triangle " << k << " after " << col << "," << row;
      }
      ASSERT_EQ(0, memcmp(t->shading, fresh->shading, 75)) << "after " << col << "," << row;
    }
  }
}

TEST(TerrainSetHeight, LockRangeAndChangeTracking) {
  TerrainPtr t = make_field(0, 1, FIELD3);
  struct Case {
    bool lock;
    int col, row;
    float h;
    bool applied;
  } cases[] = {
      {false, 1, 1, 50, true}, {false, 0, 2, -60, true}, {true, 1, 1, 50, false},
      {false, -1, 0, 50, false}, {false, 3, 0, 50, false}, {false, 0, 3, 50, false},
  };
  for (const Case& c : cases) {
    TerrainPtr f = make_field(0, 1, FIELD3);
    f->min_height = 0, f->max_height = 7;
    f->height_lock = c.lock;
    terrain_set_height(f.get(), c.col, c.row, c.h);
    EXPECT_EQ(f->changed, c.applied ? 7 : 0);
    if (c.applied) {
      EXPECT_EQ(H(f.get(), c.col, c.row), c.h);
      EXPECT_EQ(f->base_heights[c.row * 3 + c.col], FIELD3[c.row * 3 + c.col]);
      EXPECT_EQ(f->max_height, std::max(7.0f, c.h));
      EXPECT_EQ(f->min_height, std::min(0.0f, c.h));
    } else {
      EXPECT_EQ(0, memcmp(f->heights, FIELD3.data(), sizeof(float) * 9));
      EXPECT_EQ(f->max_height, 7);
    }
  }
}

TEST(TerrainShading, PointShadingFromSunAmbientAndShadow) {
  TerrainPtr t = make_field(0, 1, std::vector<float>(9, 0));
  lighting_reset(&lighting);
  struct Case {
    float sun[3], sun_color[3], ambient[3];
    uint8_t shadow;
    uint8_t expected[3];
  } cases[] = {
      {{0, 1, 0}, {1, 1, 1}, {0.5f, 0.5f, 0.5f}, 0, {191, 191, 191}},      // (1 + 0.5) / 2 * 255
      {{0, 1, 0}, {1, 1, 1}, {0.5f, 0.5f, 0.5f}, 255, {64, 64, 64}},       // ambient only
      {{0, -1, 0}, {1, 1, 1}, {0.2f, 0.4f, 0.6f}, 0, {26, 51, 77}},        // sun below the ground
      {{0.6f, 0.8f, 0}, {2, 1, 0}, {1.5f, 0, 0}, 0, {255, 102, 0}},        // clamped at 255
  };
  for (const Case& c : cases) {
    for (int k = 0; k < 3; k++) {
      lighting.sun_vector[k] = c.sun[k];
      lighting.sun_color[k] = c.sun_color[k];
      lighting.ambient[k] = c.ambient[k];
    }
    t->shadows[4] = c.shadow;
    uint8_t out[3];
    terrain_point_shading(t.get(), 1, 1, out);
    EXPECT_EQ(out[0], c.expected[0]);
    EXPECT_EQ(out[1], c.expected[1]);
    EXPECT_EQ(out[2], c.expected[2]);
  }
  lighting_reset(&lighting);
}

TEST(TerrainAllocate, LevelsOutOfRangeAreRefused) {
  for (int level : {-1, TERRAIN_LEVEL_MAX + 1, 40}) {
    Terrain t{};
    EXPECT_FALSE(terrain_allocate(&t, level, 1, 0, 1)) << level;
    EXPECT_EQ(t.heights, nullptr);
  }
  TerrainPtr t = make_field(0, 1, FIELD3);
  EXPECT_EQ(t->grid_size, 3);
  EXPECT_EQ(t->extent, 2);
  EXPECT_EQ(t->tile_count, 1);
}

}  // namespace
