// The editor on a small flat field: brush rules, keys, panel, gradients and their tools, the
// edinfo file, and the object tools.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "editor/editor.h"
#include "editor/gradient.h"
#include "editor/object_tools.h"
#include "editor/panel.h"
#include "race/timing.h"
#include "tests/editor/editor_support.h"
#include "tests/support/temp_dir.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

constexpr float PI = 3.14159265358979f;

// A 33 x 33 field, 1 ft apart, flat at 0; the window shows 16 ft over 480 pixels, wide enough
// that the whole field lies right of the panel.
class EditorField : public ::testing::Test {
 protected:
  TempDir home;
  Terrain terrain{};

  void SetUp() override {
    set_search_dirs(home);
    panel_reset();
    ASSERT_TRUE(terrain_allocate(&terrain, 4, 1.0f, 0, 0));
    snprintf(terrain.track_dir, sizeof terrain.track_dir, "field");
    objects_reset(&terrain);
    timing_clear();
    editor_test_keys();
    editor_set_window(1600, 480);
    editor_init(&terrain);
    pointer_at(16, 16);  // over the map, away from the panel
  }
  void TearDown() override {
    editor_free();
    objects_reset(nullptr);
    timing_clear();
    terrain_free(&terrain);
    vfs_set_search_dirs(nullptr, 0);
  }
  float height(int col, int row) const { return terrain.heights[row * terrain.grid_size + col]; }
  void set_slider(int index, double value) { panel[index].number.value = value; }
  int mode() const { return editor.mode; }
};

TEST_F(EditorField, RaiseHeldStillRisesByTheAmountOncePerPress) {
  set_slider(W_STRENGTH, 1);  // a = 2 ft
  pointer_at(16, 16);
  click_down();
  updates(200);  // seven applications while held
  EXPECT_FLOAT_EQ(height(16, 16), 2);
  click_up();
  stroke_at(16, 16);  // the press commits: measured from the new baseline
  EXPECT_FLOAT_EQ(height(16, 16), 4);
}

TEST_F(EditorField, BrushTouchesExactlyTheDiscWithItsFalloff) {
  set_slider(W_RADIUS, 120);  // R_o = 4 ft
  set_slider(W_FOCUS, 0.5);   // R_i = 2 ft
  set_slider(W_STRENGTH, 0);  // a = 1 ft
  stroke_at(16, 16);
  for (int row = 0; row < terrain.grid_size; row++) {
    for (int col = 0; col < terrain.grid_size; col++) {
      float d = std::hypot(float(col - 16), float(row - 16));
      SCOPED_TRACE(testing::Message() << col << "," << row);
      if (d >= 4) {
        EXPECT_EQ(height(col, row), 0);
      } else if (d < 2) {
        EXPECT_FLOAT_EQ(height(col, row), 1);
      } else {
        float t = (d - 2) / 2;
        EXPECT_NEAR(height(col, row), 2 * t * t * t - 3 * t * t + 1, 1e-6);
      }
    }
  }
  EXPECT_STREQ(editor.status, "OK");  // the release committed the pass
}

TEST_F(EditorField, AnchoredStrokeDrawsACapsule) {
  set_slider(W_RADIUS, 30);  // R_o = 1 ft: only the line itself
  set_slider(W_FOCUS, 1);
  pointer_at(8, 10);
  press('l');
  stroke_at(20, 10);
  for (int col = 0; col < terrain.grid_size; col++) EXPECT_EQ(height(col, 10) > 0, col >= 8 && col <= 20) << col;
  EXPECT_EQ(height(14, 11), 0);
}

TEST_F(EditorField, SmoothLowerOnlyFlattensBumpsAndKeepsHollows) {
  terrain_set_height(&terrain, 10, 10, 4);
  terrain_set_height(&terrain, 20, 20, -4);
  updates(1);
  press('u');  // take both into the baseline
  panel[W_SUBMODE].choice.index = SUBMODE_LOWER_ONLY;
  set_slider(W_RADIUS, 90);  // R_o = 3 ft
  press('1');
  ASSERT_EQ(mode(), MODE_SMOOTH);
  stroke_at(10, 10);
  stroke_at(20, 20);
  EXPECT_LT(height(10, 10), 4);
  EXPECT_FLOAT_EQ(height(20, 20), -4);
  for (int col = 7; col <= 13; col++) EXPECT_LE(height(col, 9), 0) << col;  // no neighbour rose
}

TEST_F(EditorField, SnapLaysTheCoarseSurface) {
  // Strength 1: a = 2 ft, so the coarse cells are 2 x 2 grid cells.
  set_slider(W_STRENGTH, 1);
  terrain_set_height(&terrain, 5, 5, 3);  // a bump in the middle of the coarse cell 4..6
  terrain_set_height(&terrain, 6, 6, 2);  // a coarse corner
  updates(1);
  press('u');
  press('2');
  ASSERT_EQ(mode(), MODE_SNAP);
  stroke_at(5.5f, 5.5f);
  // Cell (2, 2) is even: diagonal from (4, 4) to (6, 6); (5, 5) lies on it.
  EXPECT_FLOAT_EQ(height(5, 5), 1);
  EXPECT_FLOAT_EQ(height(6, 6), 2);
  EXPECT_FLOAT_EQ(height(3, 3), 0);  // outside the cell
}

TEST_F(EditorField, UndoStepsBackSevenTimesThenRefuses) {
  set_slider(W_STRENGTH, 0);
  for (int i = 0; i < 9; i++) stroke_at(4 + 3 * float(i), 16);  // nine commits: the ring is full
  for (int i = 0; i < 7; i++) {
    press(KEY_BACKSPACE);
    EXPECT_STREQ(editor.status, "Undo!");
  }
  press(KEY_BACKSPACE);
  EXPECT_STREQ(editor.status, "No more undo levels!");
  // Seven steps back from nine strokes leave the first two.
  EXPECT_GT(height(4, 16), 0);
  EXPECT_GT(height(7, 16), 0);
  EXPECT_EQ(height(10, 16), 0);
}

TEST_F(EditorField, UndoAfterInitRestoresTheLoadedGround) {
  std::vector<float> before(terrain.heights, terrain.heights + terrain.grid_size * terrain.grid_size);
  stroke_at(16, 16);
  stroke_at(20, 16);
  press(KEY_BACKSPACE);
  press(KEY_BACKSPACE);
  EXPECT_EQ(memcmp(before.data(), terrain.heights, before.size() * sizeof(float)), 0);
  // The triangle normals follow the restored ground.
  Vec3f n = terrain_triangle_normal(&terrain, terrain_triangle_index(&terrain, 32, 16));
  EXPECT_FLOAT_EQ(n.y, 1);
  press(KEY_BACKSPACE);
  EXPECT_STREQ(editor.status, "No more undo levels!");
}

TEST_F(EditorField, Keys) {
  EXPECT_FALSE(press('\t'));
  for (int i = 0; i < 30; i++) press('=');
  EXPECT_EQ(panel_value(W_ZOOM), 16);  // past the slider's maximum
  for (int i = 0; i < 60; i++) press('-');
  EXPECT_EQ(panel_value(W_ZOOM), -3);
  for (int i = 0; i < 60; i++) press(']');
  EXPECT_EQ(panel_value(W_STRENGTH), 5);
  float cx = editor.centre_x;
  press(editor_keys.right);
  EXPECT_FLOAT_EQ(editor.centre_x, cx + 32.0f / 0.125f * 0.25f);
  EXPECT_FALSE(release(editor_keys.right));
  EXPECT_FALSE(press('q'));
  EXPECT_STREQ(editor.status, "Pressed 0x71 ('q')");
  const int digit_modes[9] = {2, 4, 5, 6, 7, 8, 9, 10, 11};
  for (int d = 0; d < 9; d++) {
    press('1' + d);
    EXPECT_EQ(mode(), digit_modes[d]);
  }
}

TEST_F(EditorField, DigitCommitsOnlyWhenTheToolChanges) {
  press('3');
  terrain_set_height(&terrain, 3, 3, 1);
  editor_update();  // sees the change: "Update needed!"
  press('3');
  EXPECT_TRUE(editor.uncommitted);
  press('4');
  EXPECT_FALSE(editor.uncommitted);
  EXPECT_EQ(editor.undo_count, 2);
}

TEST_F(EditorField, PanelTakesClicksAndTabPassesThrough) {
  editor_set_window(1600, 960);
  editor_set_pointer(20, 950);  // on the panel strip, below its widgets
  EXPECT_FALSE(press(INPUT_MOUSE_LEFT));
  EXPECT_EQ(editor.button, EDITOR_BUTTON_WIDGET + W_DUMMY);
  updates(40);
  click_up();
  for (float h : std::vector<float>(terrain.heights, terrain.heights + 33 * 33)) EXPECT_EQ(h, 0);
  panel_layout(editor.mode, 960);
  const PanelRect& r = panel[W_TOOL_FIRST + MODE_LOWER].rect;
  editor_set_pointer(r.left + 1, r.top + 1);
  EXPECT_FALSE(press('\t'));
  press(INPUT_MOUSE_LEFT);
  click_up();
  EXPECT_EQ(mode(), MODE_LOWER);
  // A held slider follows the pointer.
  const PanelRect& z = panel[W_RADIUS].rect;
  editor_set_pointer(z.left, z.top + 1);
  click_down();
  EXPECT_EQ(panel_value(W_RADIUS), 1);
  editor_set_pointer(z.right - 1, z.top + 1);
  updates(1);
  EXPECT_EQ(panel_value(W_RADIUS), 127);
  click_up();
}

TEST_F(EditorField, PanelTextFollowsTheTool) {
  set_slider(W_RADIUS, 60);
  set_slider(W_STRENGTH, -1);
  terrain_set_height(&terrain, 10, 12, 2);
  pointer_at(10, 12);
  press('8');
  gradient_new();
  gradient_selected()->points = {{0, 0}, {4, 2}, {50, 2}};
  editor.point = 1;
  const std::vector<std::string> expected = {"Actual Radius: 2.00 (1.00)", "Actual Strength: 0.500", "Slope: 0.500",
                                             "Height: 2.00", "10.00 2.00 12.00", "OK"};
  EXPECT_EQ(editor_panel_text(), expected);
  press('9');
  EXPECT_EQ(editor_panel_text()[2], "Gate not referenced");
}

TEST_F(EditorField, RightButtonPansTheView) {
  float cx = editor.centre_x, cz = editor.centre_z;
  editor_set_pointer(300, 200);
  press(INPUT_MOUSE_RIGHT);
  editor_set_pointer(330, 170);
  updates(1);
  release(INPUT_MOUSE_RIGHT);
  EXPECT_FLOAT_EQ(editor.centre_x, cx - 1);  // 30 pixels a foot
  EXPECT_FLOAT_EQ(editor.centre_z, cz + 1);
}

TEST_F(EditorField, GradientPaintWithNegativeStrengthMovesHalfWay) {
  gradient_new();  // from the centre (16, 16) to (66, 16)
  Gradient& g = *gradient_selected();
  g.points = {{0, 4}, {50, 4}};
  set_slider(W_STRENGTH, -1);
  set_slider(W_RADIUS, 30);
  set_slider(W_FOCUS, 1);
  press('3');
  pointer_at(20, 16);
  click_down();
  updates(1);
  EXPECT_FLOAT_EQ(height(20, 16), 2);
  updates(32);
  EXPECT_FLOAT_EQ(height(20, 16), 4);
  click_up();
}

TEST_F(EditorField, GradientAddStrokesDoNotCompound) {
  gradient_new();
  gradient_selected()->points = {{0, 3}, {50, 3}};
  set_slider(W_STRENGTH, 0);
  set_slider(W_RADIUS, 30);
  press('4');  // linear add
  stroke_at(20, 16);
  stroke_at(20, 16);
  EXPECT_FLOAT_EQ(height(20, 16), 3);
}

TEST_F(EditorField, TilesArePaintedAlongTheStroke) {
  terrain.tile_count = 3;
  for (int i = 0; i < 3; i++) terrain.tiles[i].transition = uint32_t(i) << 16 | uint32_t(i) << 8;
  editor_init(&terrain);
  EXPECT_EQ(panel[W_TILE].number.maximum, 2);
  set_slider(W_TILE, 2);
  set_slider(W_RADIUS, 45);  // R_o = 1.5 ft: the tile centre within reach only
  editor_select_mode(MODE_TILEMAP);
  stroke_at(5, 5);  // tile cell (2, 2) has its centre at (5, 5)
  for (int j = 0; j < 16; j++)
    for (int i = 0; i < 16; i++) EXPECT_EQ(terrain.tilemap[j * 16 + i], i == 2 && j == 2 ? 2 : 0) << i << "," << j;
}

TEST(GradientProfile, ValuesAlongTheLine) {
  Gradient g{0, 0, 10, 0, {{2, 1}, {6, 5}, {8, 5}}, {SEGMENT_LINE, SEGMENT_CURVE, SEGMENT_LINE}};
  EXPECT_EQ(gradient_profile(g, -5), 1);  // before the first point: its height
  EXPECT_EQ(gradient_profile(g, 100), 5);
  EXPECT_FLOAT_EQ(gradient_profile(g, 4), 3);
  EXPECT_FLOAT_EQ(gradient_profile(g, 6), 5);
  // The curve keeps the slope of the straight piece before it at its start and ends flat.
  EXPECT_FLOAT_EQ(gradient_point_slope(g, 1), 1);
  EXPECT_FLOAT_EQ(gradient_point_slope(g, 2), 0);
  EXPECT_NEAR(gradient_profile(g, 6.01f), 5 + 0.01f, 1e-3);
  EXPECT_FLOAT_EQ(gradient_linear_at(g, 4, 7), 3);
  // Radial: ahead of the start by distance, behind it by distance from the line.
  EXPECT_FLOAT_EQ(gradient_radial_at(g, 0, 4), 3);
  EXPECT_FLOAT_EQ(gradient_radial_at(g, -3, 4), 3);
  Gradient point_line{5, 5, 5, 5, {{0, 2}}, {0}};
  EXPECT_EQ(gradient_linear_at(point_line, 9, 9), 2);
  EXPECT_EQ(gradient_point_slope(point_line, 0), 0);
  Gradient empty{};
  EXPECT_EQ(gradient_profile(empty, 1), 0);
}

TEST_F(EditorField, CopyGradientShiftsSideways) {
  panel_layout(mode(), 480);
  gradient_copy();
  EXPECT_STREQ(editor.status, "No gradient selected");
  gradient_new();
  Gradient& g = *gradient_selected();
  g.x0 = 0, g.z0 = 0, g.x1 = 10, g.z1 = 0;
  g.points = {{0, 0}, {5, 2}, {10, 0}};
  g.segment = {1, 1, 0};
  gradient_copy();
  ASSERT_EQ(editor.gradients.size(), 2u);
  const Gradient& c = editor.gradients[1];
  EXPECT_EQ(editor.gradient, 1);
  EXPECT_FLOAT_EQ(c.z0, -10);
  EXPECT_FLOAT_EQ(c.x1, 10);
  EXPECT_FLOAT_EQ(c.z1, -10);
  EXPECT_EQ(c.points.size(), 3u);
}

TEST_F(EditorField, SetFromTerrainOnFlatGroundIsOneStraightPiece) {
  gradient_new();
  gradient_from_terrain();
  const Gradient& g = *gradient_selected();
  ASSERT_EQ(g.points.size(), 2u);
  EXPECT_EQ(g.segment[0], SEGMENT_LINE);
  EXPECT_FLOAT_EQ(g.points[1].position, 50);
}

TEST_F(EditorField, SetFromTerrainFollowsARamp) {
  for (int row = 0; row < 33; row++)
    for (int col = 0; col < 33; col++) terrain_set_height(&terrain, col, row, col < 20 ? 0 : float(col - 20));
  updates(1);
  press('u');
  gradient_new();
  Gradient& g = *gradient_selected();
  g.x0 = 0, g.z0 = 8, g.x1 = 32, g.z1 = 8;
  gradient_from_terrain();
  for (float x : {0.0f, 10.0f, 20.0f, 25.5f, 32.0f}) EXPECT_NEAR(gradient_profile(g, x), x < 20 ? 0 : x - 20, 0.3f) << x;
  EXPECT_LT(g.points.size(), 8u);
}

TEST_F(EditorField, PlacingAFreshGradientStretchesIt) {
  press('7');
  gradient_new();  // (16, 16) to (66, 16)
  pointer_at(16, 16);
  click_down();
  EXPECT_EQ(editor.drag, 1);
  pointer_at(10, 16);
  updates(1);
  click_up();
  const Gradient& g = *gradient_selected();
  EXPECT_NEAR(g.x0, 10, 0.05);
  EXPECT_NEAR(g.points[1].position, 56, 0.05);  // re-laid over the new length
  // With a height, dragging the start moves the whole line.
  gradient_selected()->points[1].height = 1;
  pointer_at(g.x0, g.z0);
  click_down();
  pointer_at(g.x0, g.z0 + 3);
  updates(1);
  click_up();
  EXPECT_NEAR(g.z1 - g.z0, 0, 1e-4);
  EXPECT_NEAR(g.z0, 19, 0.05);
}

TEST_F(EditorField, EditingProfilePoints) {
  press('8');
  gradient_new();  // (16, 16) .. (66, 16), points (0, 0) and (50, 0)
  panel[W_GRANULARITY].number.value = 0.25;
  pointer_at(20, 16);
  click_down();  // inserts a point at position 4
  Gradient& g = *gradient_selected();
  ASSERT_EQ(g.points.size(), 3u);
  pointer_at(21.1f, 14.4f);
  updates(1);
  EXPECT_EQ(g.points[1].position, 5.0f);
  EXPECT_EQ(g.points[1].height, 1.5f);
  pointer_at(10, 14);  // past the first point: the point goes
  updates(1);
  EXPECT_EQ(g.points.size(), 2u);
  EXPECT_EQ(editor.point, -1);
  click_up();
  // The end points only change height.
  pointer_at(16, 16);
  click_down();
  pointer_at(12, 13);
  updates(1);
  click_up();
  EXPECT_EQ(g.points[0].position, 0);
  EXPECT_EQ(g.points[0].height, 3);
}

TEST_F(EditorField, EdinfoRoundTripAndStrayPoints) {
  home.write("field/edinfo",
             "add_point 1 2 3\n"
             "  add_gradient 1 2 30 2\n"
             "add_point 0 0 1\nadd_point 1 28 4\n"
             "add_gradient nan 0 1 1\n"
             "add_gradientx 0 0 1 1\n"
             "add_gradient 5 5 5 25\n");
  editor_init(&terrain);
  ASSERT_EQ(editor.gradients.size(), 2u);
  EXPECT_EQ(editor.gradients[0].points.size(), 2u);
  EXPECT_EQ(editor.gradients[0].segment[1], 1);
  EXPECT_TRUE(editor.gradients[1].points.empty());
  EXPECT_EQ(terrain.changed, 0);
  ASSERT_TRUE(edinfo_write());
  EXPECT_EQ(read_file_bytes(home.file("field/edinfo")),
            "add_gradient 1.000000 2.000000 30.000000 2.000000\n"
            "add_point 0 0.000000 1.000000\n"
            "add_point 1 28.000000 4.000000\n"
            "add_gradient 5.000000 5.000000 5.000000 25.000000\n");
}

TEST_F(EditorField, EdinfoWriteFailureKeepsTheOldFile) {
  home.write("field/edinfo", "add_gradient 1 2 3 4\n");
  std::filesystem::create_directories(home.file("field/edinfo.tmp/x"));
  EXPECT_FALSE(edinfo_write());
  EXPECT_EQ(read_file_bytes(home.file("field/edinfo")), "add_gradient 1 2 3 4\n");
}

TEST(PovIdentifier, FromFileNames) {
  const char* const cases[][2] = {
      {"@objects/haybale.vm", "_haybale"}, {"3d.png", "_3d"}, {"@a.b/x-y.z.png", "_x_y_z"}, {"plain", "plain"}};
  for (const auto& c : cases) EXPECT_EQ(pov_identifier(c[0]), c[1]) << c[0];
}

TEST_F(EditorField, PovSceneHoldsBillboardsAndTheGround) {
  terrain_set_height(&terrain, 3, 3, 2);
  terrain.min_height = -1;
  billboard_add(1, 0.5f, 2, 4, 1, "#ff0000#tree.png");
  billboard_add(0, 0, 0, 1, 1, "");                    // untextured: left out
  statue_add(5, 0, 5, 0, "@missing.vm", "", "");        // no model to declare: left out
  press('p');
  EXPECT_STREQ(editor.status, "Pov!");
  EXPECT_EQ(read_file_bytes(home.file("field/track.pov")),
            "#declare statues = union {\n}\n"
            "#declare billboards = union {\nobject {\n\ttree()\n\ttranslate <1.000000,0.500000,2.000000>\n}\n}\n"
            "#declare ground = height_field {\n\tpng \"terrain.png\"\n"
            "\tscale <1, 1, -1>\n\ttranslate <0, 0, 1>\n\tscale <32.000000,3.000000,32.000000>\n"
            "\ttranslate <0,-1.000000,0>\n}\n");
}

// ---- Object tools ----

TEST_F(EditorField, CheckpointsMoveAndSwitchPoints) {
  timing.checkpoint_count = 2;
  timing.checkpoints[0] = {3, 10, 0, 10, 1, 0, 0};
  timing.checkpoints[1] = {3, 20, 0, 20, 0, 0, 1};
  timing.lap_list[0] = 0;
  timing.lap_list[1] = 0;
  timing.lap_list[2] = 1 + LAP_ENTRY_UNCOUNTED;
  timing.first_count = 1;
  timing.normal_count = 2;
  timing_normalise();
  press('9');
  struct Case {
    float x, z;
    int checkpoint, drag;
    const char* text;
  } cases[] = {
      {10, 10, 0, 1, "Switch Point: Yes"},
      {13, 10, 0, 2, "Switch Point: Yes"},
      {21, 21, 1, 0, "Switch Point: No"},
      {19, 19, -1, 0, "Gate not referenced"},
  };
  for (const Case& c : cases) {
    pointer_at(c.x, c.z);
    click_down();
    click_up();
    EXPECT_EQ(editor.checkpoint, c.checkpoint) << c.x << "," << c.z;
    EXPECT_EQ(editor.drag, c.drag);
    EXPECT_STREQ(checkpoint_switch_text(), c.text);
  }
  pointer_at(10, 10);
  click_down();
  pointer_at(12, 14);
  updates(1);
  click_up();
  EXPECT_NEAR(timing.checkpoints[0].px, 12, 0.05);
  EXPECT_NEAR(timing.checkpoints[0].pz, 14, 0.05);
  EXPECT_EQ(terrain.changed, TERRAIN_CHANGED_ALL);
  checkpoint_switch_point(false);
  EXPECT_STREQ(checkpoint_switch_text(), "Switch Point: No");
  timing.lap_list[1] = 0;
  EXPECT_STREQ(checkpoint_switch_text(), "Switch Point: Mixed");
}

TEST_F(EditorField, BillboardsCycleSprayAndDelete) {
  billboard_add(5, 0, 5, 10, 0.5f, "roost.png");  // before the track's own
  objects_mark_track_start();
  billboard_add(10, 0, 10, 2, 0.5f, "#ff0000#tree.png");
  billboard_add(10.1f, 0, 10, 2, 0.5f, "bush.png");
  press('9');
  editor_select_mode(MODE_BILLBOARDS);
  pointer_at(10, 10);
  click_down();
  click_up();
  EXPECT_EQ(editor.billboard, 1);
  click_down();
  click_up();
  EXPECT_EQ(editor.billboard, 2);  // the search starts after the selected one
  click_down();
  click_up();
  EXPECT_EQ(editor.billboard, 1);
  // Spraying from an empty spot: copies at least one spacing (height x aspect = 1 ft) apart.
  pointer_at(20, 20);
  click_down();
  ASSERT_EQ(track_objects.billboards.size(), 4u);
  EXPECT_EQ(track_objects.billboards[3].r, 255);
  EXPECT_EQ(track_objects.billboards[3].g, 0);
  for (int i = 1; i <= 20; i++) {
    pointer_at(20 + 0.25f * float(i), 20);
    updates(1);
  }
  click_up();
  const auto& all = track_objects.billboards;
  for (size_t i = 3; i < all.size(); i++)
    for (size_t j = 3; j < i; j++) EXPECT_GE(std::fabs(all[i].x - all[j].x), 1 - 0.05f);
  EXPECT_GE(all.size(), 8u);
  size_t count = all.size();
  pointer_at(5, 5);
  press('x');  // one of the roost pool's: kept
  EXPECT_EQ(all.size(), count);
  pointer_at(20, 20);
  press('x');
  EXPECT_EQ(all.size(), count - 1);
}

TEST_F(EditorField, StatuesTurnKeepingTheirYawCodes) {
  statue_add(10, 0, 10, 0.5f, "a.vm", "a.png", "");
  statue_add(20, 0, 10, 3.5f, "a.vm", "a.png", "");            // faces the camera
  statue_add(10, 0, 20, -2 * PI - 1, "a.vm", "a.png", "");     // upright whatever the ground
  editor_select_mode(MODE_STATUES);
  float r = editor_pick_size();
  struct Case {
    int statue;
    float expected_yaw;
  } cases[] = {{0, PI / 2}, {1, 3.5f}, {2, PI / 2 - 4 * PI}};
  for (const Case& c : cases) {
    const Statue& s = track_objects.statues[size_t(c.statue)];
    pointer_at(s.x - 4 * r * std::sin(s.yaw), s.z - 4 * r * std::cos(s.yaw));
    click_down();
    EXPECT_EQ(editor.drag, 2) << c.statue;
    pointer_at(s.x - 3, s.z);  // the handle to the -x side: facing -x
    updates(1);
    click_up();
    EXPECT_NEAR(track_objects.statues[size_t(c.statue)].yaw, c.expected_yaw, 1e-3) << c.statue;
  }
}

TEST_F(EditorField, StatuesDuplicateInterpolateAndDelete) {
  statue_add(2, 0, 2, 0, "gate.vm", "g.png", "");  // before the track's own
  objects_mark_track_start();
  statue_add(4, 0, 4, 0, "bale.vm", "b.png", "");
  editor_select_mode(MODE_STATUES);
  pointer_at(4, 4);
  click_down();
  click_up();
  EXPECT_EQ(editor.statue, 1);
  for (float x : {8.0f, 12.0f, 24.0f}) {
    pointer_at(x, 4 + x);
    press('d');
  }
  ASSERT_EQ(track_objects.statues.size(), 5u);
  press('i');
  const auto& s = track_objects.statues;
  EXPECT_NEAR(s[2].x, 4 + 20 / 3.0, 1e-4);  // a third of the way from (4, 4) to (24, 28)
  EXPECT_NEAR(s[3].z, 20, 1e-4);
  statue_add(1, 0, 1, 0, "other.vm", "b.png", "");
  track_objects.statues[2].x = 30;
  press('i');
  EXPECT_STREQ(editor.status, "Bad match for interpolate!");
  EXPECT_EQ(s[2].x, 30);
  pointer_at(2, 2);
  press('x');  // the start gate's: kept
  EXPECT_EQ(s.size(), 6u);
  pointer_at(4, 4);
  press('x');
  EXPECT_EQ(s.size(), 5u);
}

// A decal list of two kinds, the selected one at (10, 10).
class EditorDecals : public EditorField {
 protected:
  void SetUp() override {
    EditorField::SetUp();
    home.write("field/decals",
               "[10 10] 0 1 1 mud.png\n"
               "[12 10] 0 1 1 mud.png\n"
               "[14 10] 0 1 1 grass.png\n");
    decals_read("field", false);
    editor_select_mode(MODE_DECALS);
    pointer_at(10, 10);
    click_down();
    click_up();
  }
};

TEST_F(EditorDecals, LevelChoosesWhereTheNewDecalIsDrawn) {
  struct Case {
    int level;
    int index;
  } cases[] = {{LEVEL_TOP, 3}, {LEVEL_BOTTOM, 0}, {LEVEL_OVER_CURRENT, 2}, {LEVEL_UNDER_CURRENT, 0}};
  for (const Case& c : cases) {
    objects_reset(&terrain);
    decals_read("field", false);
    editor.decal = 1;  // the second mud decal
    panel[W_LEVEL].choice.index = c.level;
    pointer_at(12, 14);
    press('d');
    EXPECT_EQ(editor.decal, c.index) << c.level;
    ASSERT_EQ(track_objects.decals.size(), 4u);
    EXPECT_NEAR(track_objects.decals[size_t(c.index)].z, 10.75f, 1e-4);  // one spacing towards the pointer
  }
}

TEST_F(EditorDecals, GroupMovesWithTheSelectedDecalAndDeleteReselects) {
  pointer_at(12, 10);
  press('m');
  ASSERT_EQ(editor.decal_group.size(), 1u);
  pointer_at(10, 10);
  click_down();
  pointer_at(10, 13);
  updates(1);
  click_up();
  const auto& d = track_objects.decals;
  EXPECT_NEAR(d[0].z, 13, 0.05);
  EXPECT_NEAR(d[1].x, 12, 0.05);
  EXPECT_NEAR(d[1].z, 13, 0.05);
  EXPECT_NEAR(d[2].z, 10, 1e-6);  // not in the group
  press('x');
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(editor.decal, 0);  // the last remaining mud decal
  EXPECT_TRUE(editor.decal_group.empty());
}

}  // namespace
