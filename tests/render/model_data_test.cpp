// The generated models read back from the built data set: every file a bike row names is there,
// every model loads cleanly, and the shapes agree with the physics they are drawn over.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "files/vfs.h"
#include "physics/bike_info.h"
#include "render/model.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string>& console_lines() {
  static std::vector<std::string> lines;
  return lines;
}

struct GeneratedModels : ::testing::Test {
  static TempDir* home;
  static void SetUpTestSuite() {
    home = new TempDir;
    set_search_dirs(*home, SK_TEST_BIN_DIR);
    vfs_file_list();  // the index over the base archive
    console_set_display_hook([](const char* text) { console_lines().push_back(text); });
  }
  static void TearDownTestSuite() {
    console_set_display_hook(nullptr);
    models_purge(true);
    vfs_shutdown();
    delete home;
  }
};
TempDir* GeneratedModels::home;

bool exists(const char* name) {
  VfsFile* f = vfs_open(name, "rb");
  if (f) vfs_close(f);
  return f != nullptr;
}

TEST_F(GeneratedModels, EveryModelAndTextureOfEveryBikeRowIsThere) {
  for (int i = 0; i < BIKE_INFO_COUNT; i++) {
    const BikeInfo& row = bike_info_table[i];
    for (const char* name : row.model_files) EXPECT_TRUE(exists(name)) << row.name << ": " << name;
  }
  for (const char* name : {"@startgate.vm", "@startgate.ppm", "@rider_body-alt1.png", "@rider_head-alt2.png",
                           "@wheels-alt1.png"}) {
    EXPECT_TRUE(exists(name)) << name;
  }
}

TEST_F(GeneratedModels, AllLoadWithoutWarningsOrDegenerateTriangles) {
  int models = 0;
  for (const char* const* entry = vfs_file_list(); *entry; ++entry) {
    std::string name = *entry;
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) name.resize(name.size() - 3);
    if (name.size() < 3 || name.compare(name.size() - 3, 3, ".vm") != 0) continue;
    console_lines().clear();
    const Model* m = model_load(("@" + name).c_str());
    ASSERT_NE(m, nullptr) << name;
    EXPECT_EQ(console_lines(), std::vector<std::string>{}) << name;
    for (const Model* part = m; part; part = part->next_part) {
      EXPECT_GT(part->triangle_count, 0) << name;
      for (int v = 0; v < part->vertex_count; v++) {
        const float* n = &part->normals[3 * v];
        ASSERT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-3f) << name << " vertex " << v;
        for (int k = 0; k < 2; k++) ASSERT_TRUE(part->texcoords[2 * v + k] >= 0 && part->texcoords[2 * v + k] <= 1) << name;
      }
    }
    ++models;
  }
  EXPECT_GT(models, 6 * 20);  // every base's six models and the shared ones
}

// The drawn tyres reach as far from the axle as the physics' rolling radius, so wheels sit on
// the ground where they touch it; far away a coarse wheel stands in.
TEST_F(GeneratedModels, TyresMatchTheRollingRadius) {
  const BikeInfo& row = bike_info_table[0];
  const struct {
    const char* name;
    const WheelInfo& wheel;
  } wheels[] = {{"@front_wheel.vm", row.front_wheel}, {"@rear_wheel.vm", row.rear_wheel}};
  for (const auto& w : wheels) {
    const Model* m = model_load(w.name);
    ASSERT_NE(m, nullptr);
    float reach = 0;
    for (const Model* part = m; part; part = part->next_part) {
      for (int v = 0; v < part->vertex_count; v++) {
        const float* p = &part->positions[3 * v];
        reach = std::max(reach, std::hypot(p[1], p[2]));
      }
    }
    EXPECT_NEAR(reach, w.wheel.ring_radius + w.wheel.tread_radius, 0.01f) << w.name;
    // Seen from afar they are drawn from the coarse variant.
    ASSERT_NE(m->next_lod, nullptr) << w.name;
    EXPECT_EQ(m->next_lod->lod_distance, 64) << w.name;
    EXPECT_LT(m->next_lod->triangle_count, m->triangle_count / 2) << w.name;
  }
}

// The skinned body bends at the joints: beyond an elbow or a knee only the forearm or shin
// moves a vertex, and turning one forearm moves no vertex of the other side or the legs.
TEST_F(GeneratedModels, RiderBodyWeightsFollowTheLimbs) {
  const BikeInfo& row = bike_info_table[0];
  const float (*centre)[3] = row.rider_bone_centres;
  for (const char* name : {"@rider_body.vm", "@rider_body_fp.vm"}) {
    Model* m = model_load(name);
    ASSERT_NE(m, nullptr);
    for (Model* part = m; part; part = part->next_part) {
      ASSERT_EQ(part->bone_count, 9) << name;
      for (int v = 0; v < part->vertex_count; v++) {
        const float* p = &part->bind_positions[3 * v];
        const float* w = &part->bone_weights[4 * v];
        const int32_t* b = &part->bone_indices[4 * v];
        for (int k = 0; k < 4; k++) {
          if (w[k] <= 0) continue;
          if (std::fabs(p[0]) > std::fabs(centre[0][0]) + 0.1f) {
            EXPECT_LT(b[k], 2) << name << " hand side " << v;
          }
          if (p[1] < centre[4][1] - 0.1f) {
            EXPECT_TRUE(b[k] == 4 || b[k] == 5) << name << " below the knee " << v;
          }
          if (b[k] == 0 || b[k] == 2) {
            EXPECT_LT(p[0], 0) << name << " left arm bone on the right " << v;
          }
        }
      }
      // Turn the left forearm a quarter about z at its elbow: only left-side vertices move.
      ModelBone bones[9];
      for (int k = 0; k < 9; k++) {
        bones[k] = {{centre[k][0], centre[k][1], centre[k][2]}, {centre[k][0], centre[k][1], centre[k][2]},
                    {1, 0, 0, 0, 1, 0, 0, 0, 1}};
      }
      const float turned[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
      std::copy(turned, turned + 9, bones[0].rotation);
      ASSERT_TRUE(model_skin(part, bones, 9));
      for (int v = 0; v < part->vertex_count; v++) {
        const float* bind = &part->bind_positions[3 * v];
        const float* now = &part->positions[3 * v];
        const float moved = std::hypot(now[0] - bind[0], now[1] - bind[1], now[2] - bind[2]);
        if (bind[0] > -0.2f) {
          EXPECT_LT(moved, 1e-4f) << name << " vertex " << v;
        }
      }
    }
  }
}

}  // namespace
