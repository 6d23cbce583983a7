// The editor on the default track of the built data set: edits touch exactly what the brush
// covers, undo gives the loaded ground back bit for bit, saved files load back as edited, and a
// save that cannot be written leaves the previous files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/track_load.h"
#include "editor/editor.h"
#include "editor/panel.h"
#include "files/vfs.h"
#include "physics/shape.h"
#include "tests/editor/editor_support.h"
#include "tests/support/temp_dir.h"
#include "track/objects.h"

namespace {

class EditorTrack : public ::testing::Test {
 protected:
  static TempDir* home;

  static void SetUpTestSuite() {
    home = new TempDir;
    set_search_dirs(*home, SK_TEST_BIN_DIR);
    vfs_file_list();
    start_options_reset();
    start_options.editor = true;
    ASSERT_TRUE(track_load("rabbithill"));
  }
  static void TearDownTestSuite() {
    track_free();
    shape_cache_clear();
    start_options_reset();
    vfs_set_search_dirs(nullptr, 0);
    delete home;
  }
  void SetUp() override {
    ASSERT_TRUE(editor_active());
    panel_reset();
    editor_test_keys();
    editor_set_window(1600, 768);  // 1 ft a pixel; the track lies right of the panel
    editor_init(&track_terrain);
    pointer_at(768, 768);  // over the map, away from the panel
  }

  static size_t samples() { return size_t(track_terrain.grid_size) * track_terrain.grid_size; }
  static std::vector<float> heights() { return {track_terrain.heights, track_terrain.heights + samples()}; }
  static std::vector<uint8_t> shading() { return {track_terrain.shading, track_terrain.shading + 3 * samples()}; }
  static std::string saved(const char* name) { return read_file_bytes(home->file(std::string("rabbithill/") + name)); }
};

TempDir* EditorTrack::home = nullptr;

const char* const GROUND_FILES[] = {"terrain.hf", "terrain.png", "shading.ppm", "shadingx2.ppm", "tilemap"};

TEST_F(EditorTrack, EditsTouchTheBrushDiscAndUndoRestoresBitForBit) {
  const std::vector<float> loaded = heights();
  const std::vector<uint8_t> loaded_shading = shading();
  pointer_at(700.3f, 650.6f);
  float bx, bz;
  editor_pointer_world(&bx, &bz);
  const float outer = editor_outer_radius(), s = track_terrain.spacing;
  stroke_at(700.3f, 650.6f);
  const int size = track_terrain.grid_size;
  int touched = 0;
  for (int row = 0; row < size; row++) {
    for (int col = 0; col < size; col++) {
      size_t k = size_t(row) * size + col;
      bool inside = std::hypot(float(col) * s - bx, float(row) * s - bz) < outer;
      ASSERT_EQ(track_terrain.heights[k] != loaded[k], inside) << col << "," << row;
      touched += inside;
      if (inside) {
        EXPECT_GT(track_terrain.heights[k], loaded[k]);
        EXPECT_LE(track_terrain.heights[k], loaded[k] + editor_amount());
      }
    }
  }
  EXPECT_GT(touched, 1000);
  // Two more kinds of edit, then back through all three.
  press('1');
  stroke_at(900, 900);
  press('2');
  stroke_at(400, 1000);
  for (int i = 0; i < 3; i++) press(KEY_BACKSPACE);
  EXPECT_STREQ(editor.status, "Undo!");
  EXPECT_EQ(memcmp(loaded.data(), track_terrain.heights, samples() * sizeof(float)), 0);
  EXPECT_EQ(shading(), loaded_shading);
}

TEST_F(EditorTrack, SavedTrackLoadsBackAsEdited) {
  stroke_at(800, 800);  // raise
  editor_select_mode(MODE_TILEMAP);
  panel[W_TILE].number.value = panel[W_TILE].number.maximum;
  stroke_at(300, 300);
  editor_select_mode(MODE_STATUES);
  const int first_own = track_objects.first_track_statue;
  ASSERT_LT(first_own, int(track_objects.statues.size()));
  editor.statue = first_own;
  pointer_at(600, 610);
  press('d');
  gradient_new();
  press('s');
  EXPECT_STREQ(editor.status, "Saved!");
  EXPECT_EQ(track_terrain.changed & CHANGED_UNSAVED, 0);

  const std::vector<float> edited = heights();
  const std::vector<uint8_t> tiles(track_terrain.tilemap, track_terrain.tilemap + (size_t(1) << (2 * track_terrain.level)));
  const size_t statue_count = track_objects.statues.size();
  const Statue copy = track_objects.statues.back();
  const float step = (track_terrain.max_height - track_terrain.min_height) / 65535;
  track_free();
  ASSERT_TRUE(track_load("rabbithill"));
  for (size_t k = 0; k < samples(); k++) ASSERT_NEAR(track_terrain.heights[k], edited[k], step) << k;
  EXPECT_EQ(memcmp(tiles.data(), track_terrain.tilemap, tiles.size()), 0);
  ASSERT_EQ(track_objects.statues.size(), statue_count);
  EXPECT_NEAR(track_objects.statues.back().x, copy.x, 1e-3);
  EXPECT_EQ(track_objects.statues.back().model_name, copy.model_name);
  EXPECT_EQ(editor.gradients.size(), 1u);
  for (const char* name : GROUND_FILES) EXPECT_FALSE(std::filesystem::exists(home->file(std::string("rabbithill/") + name + ".tmp")));
}

TEST_F(EditorTrack, FailedSaveLeavesThePreviousFiles) {
  press('s');
  std::vector<std::string> before;
  for (const char* name : GROUND_FILES) before.push_back(saved(name));
  const std::string statues_before = saved("statues");
  stroke_at(1000, 500);
  editor_select_mode(MODE_STATUES);
  editor.statue = track_objects.first_track_statue;
  pointer_at(1010, 510);
  press('d');
  // The new terrain.png cannot be written (the disk is full), the new statues file not made.
  std::filesystem::create_symlink("/dev/full", home->file("rabbithill/terrain.png.tmp"));
  std::filesystem::create_directories(home->file("rabbithill/statues.tmp/x"));
  press('s');
  for (size_t i = 0; i < before.size(); i++) EXPECT_TRUE(saved(GROUND_FILES[i]) == before[i]) << GROUND_FILES[i];
  EXPECT_TRUE(saved("statues") == statues_before);
  for (const char* name : {"terrain.hf.tmp", "terrain.png.tmp", "shading.ppm.tmp"})
    EXPECT_FALSE(std::filesystem::exists(home->file(std::string("rabbithill/") + name))) << name;
  EXPECT_FALSE(before[1].empty());
}

}  // namespace
