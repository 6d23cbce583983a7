// Track objects: the object files, placing on the ground, statue orientation, buckets, saving,
// the flaggers, and the track list.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "files/vfs.h"
#include "tests/support/temp_dir.h"
#include "tests/track/terrain_support.h"
#include "track/objects.h"
#include "track/track_list.h"

namespace {

class Objects : public ::testing::Test {
 protected:
  TempDir home;
  void SetUp() override {
    set_search_dirs(home);
    objects_reset(nullptr);
  }
  void TearDown() override {
    objects_reset(nullptr);
    vfs_set_search_dirs(nullptr, 0);
  }
};

TEST(BillboardTint, Prefix) {
  struct Case {
    const char* name;
    bool tinted;
    int r, g, b;
    const char* rest;
  } cases[] = {
      {"#ff8000#sign.png", true, 255, 128, 0, "sign.png"},
      {"#FF8000#s", true, 255, 128, 0, "s"},
      {"#ff80#sign.png", false, 0, 0, 0, nullptr},
      {"#ff8000#", false, 0, 0, 0, nullptr},
      {"#ff800g#sign.png", false, 0, 0, 0, nullptr},
      {"sign.png", false, 0, 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t rgb[3] = {0, 0, 0};
    const char* rest = nullptr;
    EXPECT_EQ(billboard_tint(c.name, rgb, &rest), c.tinted);
    if (!c.tinted) continue;
    EXPECT_EQ(rgb[0], c.r);
    EXPECT_EQ(rgb[1], c.g);
    EXPECT_EQ(rgb[2], c.b);
    EXPECT_STREQ(rest, c.rest);
  }
}

TEST_F(Objects, BillboardsAreReadPlacedAndSavedBack) {
  // Ground rising 1 ft per ft in x.
  TerrainPtr t = make_field(0, 4, {0, 4, 8, 0, 4, 8, 0, 4, 8});
  objects_reset(t.get());
  home.write("tr/billboards",
             "[2 0 2] 4 0.5 @tree.png\n"
             "[ 1 1.5 3 ] 2 1 #ff8000#@sign.png\n"
             "[1 1 1] 2 1 #ff80#@odd.png\n"
             "[1 1] 2 1 @broken.png\n"
             "[5 5 5] 1 1 @never.png\n");
  objects_mark_track_start();
  billboards_read("tr");
  ASSERT_EQ(track_objects.billboards.size(), 3u);
  const Billboard& tree = track_objects.billboards[0];
  EXPECT_FLOAT_EQ(tree.y, 2);  // on the ground, spanning 2 .. 6
  EXPECT_FLOAT_EQ(tree.height, 4);
  EXPECT_FLOAT_EQ(tree.height * tree.aspect, 2);  // 2 wide
  const Billboard& sign = track_objects.billboards[1];
  EXPECT_EQ(sign.texture_name, "@sign.png");
  EXPECT_EQ(sign.r, 255);
  EXPECT_EQ(sign.g, 128);
  EXPECT_EQ(sign.b, 0);
  EXPECT_EQ(sign.a, 255);
  EXPECT_FLOAT_EQ(sign.y, 1 + 1.5f);
  EXPECT_EQ(track_objects.billboards[2].texture_name, "#ff80#@odd.png");

  ASSERT_TRUE(billboards_save("tr"));
  EXPECT_EQ(read_file_bytes(home.file("tr/billboards")),
            "[2.000000 0.000000 2.000000] 4.000000 0.500000 @tree.png\n"
            "[1.000000 1.500000 3.000000] 2.000000 1.000000 #ff8000#@sign.png\n"
            "[1.000000 1.000000 1.000000] 2.000000 1.000000 #ff80#@odd.png\n");
}

TEST_F(Objects, StatueOrientationCodes) {
  TerrainPtr t = make_field(0, 4, {0, 4, 8, 0, 4, 8, 0, 4, 8});
  objects_reset(t.get());
  const float s2 = std::sqrt(0.5f);
  struct Case {
    const char* what;
    float yaw;
    float facing;
    float x_axis[3], up[3];
  } cases[] = {
      {"camera-facing", 4, 16, {1, 0, 0}, {0, 1, 0}},
      {"upright below minus two pi", -7, 0, {std::cos(-7.0f), 0, -std::sin(-7.0f)}, {0, 1, 0}},
      {"leaning with the ground", 0, 0, {s2, s2, 0}, {-s2, s2, 0}},
      {"leaning, turned a quarter", float(M_PI / 2), 0, {0, 0, -1}, {-s2, s2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t i = statue_add(2, 0.5f, 2, c.yaw, "@m.vm", "@m.png", "");
    const Statue& s = track_objects.statues[i];
    EXPECT_FLOAT_EQ(s.y, 2.5f);
    EXPECT_FLOAT_EQ(s.facing_scale, c.facing);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(s.orientation[k * 3 + 0], c.x_axis[k], 1e-5) << k;
      EXPECT_NEAR(s.orientation[k * 3 + 1], c.up[k], 1e-5) << k;
    }
    // The third axis completes a right-handed frame.
    const float* m = s.orientation;
    EXPECT_NEAR(m[2], m[3] * m[7] - m[6] * m[4], 1e-5);
  }
}

TEST_F(Objects, StatuesFileWithAbsentNamesRoundTrips) {
  home.write("tr/statues",
             "[1 0 2] 0.5 @a.vm @a.png @a.shp\n"
             "[3 1 4] 4 @b.vm null null\n"
             "[5 0 6] 1 @c.vm\n");
  statues_read("tr");
  ASSERT_EQ(track_objects.statues.size(), 2u);
  EXPECT_EQ(track_objects.statues[1].texture_name, "");
  EXPECT_EQ(track_objects.statues[1].shape, nullptr);  // no shape loader: no shape
  ASSERT_TRUE(statues_save("tr"));
  EXPECT_EQ(read_file_bytes(home.file("tr/statues")),
            "[1.000000 0.000000 2.000000] 0.500000 @a.vm @a.png @a.shp\n"
            "[3.000000 1.000000 4.000000] 4.000000 @b.vm null null\n");
}

TEST_F(Objects, SaveFailureIsPosted) {
  home.write("blocked", "x");
  ConsoleCapture console;
  EXPECT_FALSE(billboards_save("blocked"));
  EXPECT_FALSE(statues_save("blocked"));
  EXPECT_EQ(console.all(), "Can't open 'billboards'\nCan't open 'statues'\n");
}

TEST_F(Objects, MissingShapeIsReported) {
  statue_set_shape_loader([](const char* name, float* radius) -> const void* {
    *radius = 2;
    return strcmp(name, "@good.shp") == 0 ? name : nullptr;
  });
  ConsoleCapture console;
  statue_add(1, 0, 1, 0, "@m.vm", "@m.png", "@good.shp");
  statue_add(1, 0, 1, 0, "@m.vm", "@m.png", "@bad.shp");
  statue_add(1, 0, 1, 0, "@m.vm", "@m.png", "");
  statue_set_shape_loader(nullptr);
  EXPECT_EQ(console.all(), "Warning: missing shape file @bad.shp\n");
  EXPECT_NE(track_objects.statues[0].shape, nullptr);
}

TEST_F(Objects, StatueBucketsSpanTheMiddleOfTheField) {
  statue_set_shape_loader([](const char* name, float* radius) -> const void* {
    *radius = 10;
    return name;
  });
  // Field of 1024 ft: bucket k covers x from 128 + 96 k to 224 + 96 k.
  statue_add(300, 0, 300, 0, "", "", "@s.shp");   // x 290..310 -> column 1; z likewise
  statue_add(225, 0, 5, 0, "", "", "@s.shp");     // 215..235 -> columns 0..1; z at the edge -> 0
  statue_add(2000, 0, 900, 0, "", "", "@s.shp");  // far outside -> column 7; z 890..910 -> row 7
  statue_add(500, 0, 500, 0, "", "", "");         // no shape: not entered
  statue_set_shape_loader(nullptr);
  statue_buckets_build(1024);
  const BucketGrid& g = track_objects.statue_buckets;
  EXPECT_EQ(g[1][1], (std::vector<int32_t>{0}));
  EXPECT_EQ(g[0][0], (std::vector<int32_t>{1}));
  EXPECT_EQ(g[0][1], (std::vector<int32_t>{1}));
  EXPECT_EQ(g[7][7], (std::vector<int32_t>{2}));
  size_t entries = 0;
  for (auto& row : g) {
    for (auto& cell : row) entries += cell.size();
  }
  EXPECT_EQ(entries, 4u);
}

TEST_F(Objects, DecalsAndTheirBuckets) {
  home.write("tr/decals",
             "[64 64] 0 8 2 @pad.png\n"
             "[128 200] 1.5707964 8 2 @mark.png\n"
             "[1 2] 3 4\n");
  decals_read("tr", false);
  ASSERT_EQ(track_objects.decals.size(), 2u);
  EXPECT_NEAR(track_objects.decals[1].sin_angle, 1, 1e-6);
  decal_buckets_build(1024);  // buckets of 128 ft
  const BucketGrid& g = track_objects.decal_buckets;
  // Unturned: 4 either side in x, 8 in z -> inside bucket (0, 0).
  EXPECT_EQ(g[0][0], (std::vector<int32_t>{0}));
  // Turned a quarter: 8 either side in x around 128 -> columns 0 and 1, row 1.
  EXPECT_EQ(g[1][0], (std::vector<int32_t>{1}));
  EXPECT_EQ(g[1][1], (std::vector<int32_t>{1}));
}

TEST_F(Objects, FlaggersAndTheirSlots) {
  home.write("tr/flaggers",
             "[0 0 0] [10 2 0] 6 0.5 2\n"
             "s0 s1 s2 s3 s4\n"
             "[50 0 50] 6 0.5 f0 f1 f2 f3\n"
             "[20 0 20] 6 0.5 3 -5 999 2 idle wave\n"
             "[30 0 30] 6 0.5 -1 -1 -1 1 idle2 wave2\n"
             "[40 0 40] 6 0.5 1 2 idle3\n");
  flaggers_read("tr", 10);
  ASSERT_EQ(track_objects.course_flaggers.size(), 2u);
  const CourseFlagger& c = track_objects.course_flaggers[0];
  EXPECT_EQ(std::vector<int32_t>(c.gates, c.gates + 4), (std::vector<int32_t>{3, -1, 9, 2}));
  EXPECT_EQ(track_objects.billboards.size(), 4u);

  bool down[FLAGGER_GATE_MAX] = {};
  down[9] = true;
  FlaggerRace race{13.6, 0, 0, 5, 3, down};
  struct Case {
    double now;
    int32_t leader_laps;
    int start_slot;
    float start_x;
    int finish_slot;
  } cases[] = {
      {13.05, 0, 0, 0, 0}, {13.2, 0, 1, 0, 0}, {13.9, 3, 2, 0, 1},
      {15.0, 4, 3, 5, 2},  {16.0, 5, 4, 10, 3}, {20.0, 6, 4, 10, 3},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.now);
    race.now = k.now;
    race.leader_laps = k.leader_laps;
    flaggers_update(race);
    EXPECT_EQ(track_objects.start_flagger.slot, k.start_slot);
    EXPECT_EQ(track_objects.billboards[track_objects.start_flagger.billboard].texture_name,
              "s" + std::to_string(k.start_slot));
    EXPECT_FLOAT_EQ(track_objects.billboards[track_objects.start_flagger.billboard].x, k.start_x);
    EXPECT_EQ(track_objects.finish_flagger.slot, k.finish_slot);
  }
  EXPECT_TRUE(track_objects.course_flaggers[0].waving_now);
  EXPECT_EQ(track_objects.billboards[track_objects.course_flaggers[0].billboard].texture_name, "wave");
  EXPECT_FALSE(track_objects.course_flaggers[1].waving_now);
}

TEST_F(Objects, TrackListNamesAndOrder) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> dirs, names;
  } cases[] = {
      {"no desc: the directory names it",
       {{"hills/terrain.hf.gz.scram", "x"}, {"flat/terrain.hf", "x"}, {"flat/desc", "Flat Out\r\nmore"}},
       {"flat", "hills"},
       {"Flat Out", "hills"}},
      {"case-blind: Alpha, beta", {{"a/terrain.hf", ""}, {"a/desc", "beta"}, {"b/terrain.hf", ""}, {"b/desc", "Alpha"}},
       {"b", "a"},
       {"Alpha", "beta"}},
      {"case-blind: alpha, Beta", {{"a/terrain.hf", ""}, {"a/desc", "Beta"}, {"b/terrain.hf", ""}, {"b/desc", "alpha"}},
       {"b", "a"},
       {"alpha", "Beta"}},
      {"two variants are one track", {{"x/terrain.hf", ""}, {"x/terrain.hf.gz", ""}}, {"x"}, {"x"}},
      {"no tracks", {{"x/terrain.png", ""}}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir data;
    for (const auto& [name, bytes] : c.files) data.write(name, bytes);
    set_search_dirs(home, data.path.string());
    EXPECT_EQ(track_list_scan(), !c.dirs.empty());
    EXPECT_EQ(track_dirs, c.dirs);
    EXPECT_EQ(track_names, c.names);
    EXPECT_EQ(track_count, static_cast<int>(c.dirs.size()));
  }
}

// The default data set's object files load completely and quietly.
TEST_F(Objects, DefaultTrackObjects) {
  set_search_dirs(home, SK_TEST_BIN_DIR);
  ConsoleCapture console;
  ASSERT_TRUE(track_list_scan());
  EXPECT_GE(track_list_find("rabbithill"), 0);
  auto records = [](const char* name) {
    long count = 0;
    char line[4096];
    VfsFile* file = vfs_open(name, "rb");
    while (file && vfs_gets(file, line, sizeof line)) count += line[0] == '[';
    if (file) vfs_close(file);
    return count;
  };
  const long billboard_records = records("@rabbithill/billboards");
  const long statue_records = records("@rabbithill/statues");
  flaggers_read("rabbithill", 256);
  objects_mark_track_start();
  billboards_read("rabbithill");
  statues_read("rabbithill");
  decals_read("rabbithill", false);
  EXPECT_TRUE(track_objects.start_flagger.billboard >= 0);
  EXPECT_TRUE(track_objects.finish_flagger.billboard >= 0);
  EXPECT_FALSE(track_objects.course_flaggers.empty());
  EXPECT_GT(track_objects.billboards.size(), 10u);
  EXPECT_FALSE(track_objects.statues.empty());
  EXPECT_EQ(console.all(), "");
  // Every record of the files was taken.
  EXPECT_EQ(static_cast<long>(track_objects.billboards.size()) - track_objects.first_track_billboard,
            billboard_records);
  EXPECT_EQ(static_cast<long>(track_objects.statues.size()), statue_records);
}

}  // namespace
