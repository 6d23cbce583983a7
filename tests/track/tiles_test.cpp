// Ground-tile tables from "tileinfo" and "texturelist" text.
#include <cmath>
#include <string>

#include "tests/track/terrain_support.h"
#include "track/textures.h"

namespace {

struct TileTable {
  TerrainPtr terrain = make_field(0, 1, std::vector<float>(9, 0));
  ConsoleCapture console;
  explicit TileTable(const std::string& text, bool texturelist = false) {
    TextFile f(text);
    EXPECT_NE(f.file, nullptr);
    if (texturelist)
      texturelist_read(terrain.get(), f.file);
    else
      EXPECT_TRUE(tileinfo_read(terrain.get(), f.file));
  }
  const GroundTile& tile(int i) const { return terrain->tiles[i]; }
};

TEST(Tileinfo, FrictionAndRollingResistanceCurves) {
  struct Case {
    const char* lines;
    float friction[3][2];  // (coefficient, speed); speed 0 ends the curve
    const char* warning;
  } cases[] = {
      {"", {{1, 1}, {0, 0}}, ""},
      {"friction 0.8 10\nfriction 1.2 2\n", {{1.2f, 2}, {0.8f, 10}, {0, 0}}, ""},
      {"friction -3 0\n", {{0, TILE_SPEED_MIN}, {0, 0}}, ""},
      {"friction 1\n", {{1, 1}, {0, 0}}, "tileinfo warning: bad friction parameters\n"},
      {"friction 1 1\nfriction 1 2\nfriction 1 3\nfriction 1 4\nfriction 1 5\nfriction 1 6\nfriction 1 7\n"
       "friction 1 8\nfriction 2 0.5\n",
       {{1, 1}, {1, 2}, {1, 3}}, "tileinfo warning: too many friction points\n"},
  };
  for (const Case& c : cases) {
    TileTable table(std::string(c.lines) + "addtile\n");
    ASSERT_EQ(table.terrain->tile_count, 1);
    for (int k = 0; k < 3; k++) {
      EXPECT_EQ(table.tile(0).friction[k].coefficient, c.friction[k][0]) << c.lines << " point " << k;
      EXPECT_EQ(table.tile(0).friction[k].speed, c.friction[k][1]) << c.lines << " point " << k;
      if (c.friction[k][1] == 0) break;
    }
    EXPECT_EQ(table.console.all(), c.warning) << c.lines;
  }
  TileTable roll("roll_resist 1 2 30\nroll_resist 3 -4 0\nroll_resist 1 2\naddtile\n");
  const RollResistPoint* r = roll.tile(0).roll_resist;
  EXPECT_EQ(r[0].a, 3);
  EXPECT_EQ(r[0].b, 0);
  EXPECT_EQ(r[0].speed, TILE_SPEED_MIN);
  EXPECT_EQ(r[1].speed, 30);
  EXPECT_EQ(r[2].speed, 0);
  EXPECT_EQ(roll.console.all(), "tileinfo warning: bad roll_resist parameters\n");
}

TEST(Tileinfo, ErosionParametersAndLimits) {
  TileTable defaults("addtile\n");
  const ErodeParams& d = defaults.tile(0).erode;
  EXPECT_EQ(d.limit_count, 2);
  EXPECT_EQ(d.limit_depth[1], 1);
  EXPECT_EQ(d.limit_first[0], 1);
  EXPECT_EQ(d.limit_second[1], 0);
  EXPECT_EQ(d.radius, 4);
  EXPECT_EQ(d.min_slope, -0.5f);

  TileTable table(
      "erode_radius 6.5\nerode_front_scale 0.25\nerode_radius\n"
      "erode_limit 0.5 1 1\nerode_limit 0.5 0 0\nerode_limit 2 0.25\nerode_limit 3 0.5 0.75\naddtile\n");
  const ErodeParams& e = table.tile(0).erode;
  EXPECT_EQ(e.radius, 6.5f);
  EXPECT_EQ(e.front_scale, 0.25f);
  ASSERT_EQ(e.limit_count, 2);
  EXPECT_EQ(e.limit_depth[0], 0.5f);
  EXPECT_EQ(e.limit_first[0], 1);
  EXPECT_EQ(e.limit_depth[1], 3);
  EXPECT_EQ(e.limit_second[1], 0.75f);
  EXPECT_EQ(table.console.all(),
            "tileinfo warning: bad erode_radius\n"
            "tileinfo warning: erode_limit depth <= prev depth\n"
            "tileinfo warning: bad erode_limit\n");
}

TEST(Tileinfo, RoostWords) {
  TileTable table(
      "roost count=3 r=300 fade_a=-256 \"texture=@my dirt.png\" slip_threshold=x splash=1 colour=2\n"
      "roost\nroost\nroost\nroost size=9\naddtile\n");
  const RoostType& r = table.tile(0).roost[0];
  EXPECT_EQ(r.mode, ROOST_SPLASH);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(r.r, 44);        // 300 kept to its low 8 bits
  EXPECT_EQ(r.fade_a, 254);  // -256 / 128 = -2
  EXPECT_STREQ(r.texture_name, "@my dirt.png");
  EXPECT_EQ(r.slip_threshold, 0);
  EXPECT_EQ(r.size, 0.25f);
  for (int k = 1; k < 4; k++) {
    EXPECT_EQ(table.tile(0).roost[k].mode, ROOST_DIRT);
    EXPECT_STREQ(table.tile(0).roost[k].texture_name, "@roost.png");
  }
  EXPECT_EQ(table.console.all(),
            "tileinfo warning: bad slip_threshold\n"
            "tileinfo warning: unknown roost parameter 'colour=2'\n"
            "tileinfo warning: too many roost types\n");
  TileTable plain("addtile\n");
  EXPECT_EQ(plain.tile(0).roost[0].mode, ROOST_NONE);
}

TEST(Tileinfo, NamesTexturesAndTableLimits) {
  static std::vector<std::string> loaded;
  loaded.clear();
  track_set_texture_loader([](const char* name) {
    loaded.push_back(name);
    return int(loaded.size());
  });
  TileTable table(
      "  name   packed dirt  \r\ntexture @ground/dirt.png\naddtile\n"
      "texture @ground/grass.png\nbogus 1\n\naddtile\n");
  track_set_texture_loader(nullptr);
  ASSERT_EQ(table.terrain->tile_count, 2);
  EXPECT_STREQ(table.tile(0).name, "packed dirt  ");
  EXPECT_EQ(table.tile(0).texture, 1);
  EXPECT_STREQ(table.tile(1).name, "@ground/grass.png");
  EXPECT_EQ(table.tile(1).texture, 2);
  EXPECT_EQ(table.console.all(), "tileinfo warning: Unknown identifier 'bogus'\n");
  ASSERT_EQ(loaded.size(), 2u);

  TileTable none("texture @a.png\nfriction 1 1\n");
  EXPECT_EQ(none.terrain->tile_count, 0);

  std::string many;
  for (int k = 0; k < 300; k++) many += "addtile\n";
  TileTable full(many);
  EXPECT_EQ(full.terrain->tile_count, GROUND_TILE_MAX);
}

TEST(Tileinfo, TransitionCodes) {
  TileTable table(
      "texture @dirt.png\naddtile\ntexture @g/grass.png\naddtile\ntexture @t/dirt-grass-0110.png\naddtile\n"
      "texture @dirt-alt2.png\naddtile\ntexture @dirt-mud-0110.png\naddtile\ntexture @grass-dirt-01x1.png\naddtile\n"
      "texture @sand-dirt-1111.png\naddtile\naddtile\ntexture @dirt-grass.png\naddtile\n");
  struct Case {
    int tile;
    uint32_t code;
  } cases[] = {
      {0, 0x000000}, {1, 0x010100}, {2, 0x000106}, {3, 0x000000}, {4, 0xFFFFFF00u},
      {5, 0x010000}, {6, 0x060600}, {7, 0x070700}, {8, 0xFFFFFF00u},
  };
  for (const Case& c : cases) EXPECT_EQ(table.tile(c.tile).transition, c.code) << "tile " << c.tile;
}

TEST(Texturelist, OneTilePerLine) {
  TileTable table("0.5 4 12 ground/dirt.png\n\n   \ngrass.png", true);
  ASSERT_EQ(table.terrain->tile_count, 2);
  EXPECT_STREQ(table.tile(0).texture_name, "@ground/dirt.png");
  EXPECT_EQ(table.tile(0).friction[0].coefficient, 0.5f);
  EXPECT_EQ(table.tile(0).friction[0].speed, 1);
  EXPECT_EQ(table.tile(0).roll_resist[0].a, 4);
  EXPECT_EQ(table.tile(0).roll_resist[0].b, 12);
  EXPECT_EQ(table.tile(0).roost[0].mode, ROOST_DIRT);
  EXPECT_EQ(table.tile(0).roost[1].mode, ROOST_NONE);
  EXPECT_EQ(table.tile(0).erode.limit_count, 2);
  // The last line has no newline and keeps its last character.
  EXPECT_STREQ(table.tile(1).texture_name, "@grass.png");
  EXPECT_EQ(table.tile(1).friction[0].coefficient, 1);
  EXPECT_EQ(table.tile(1).roll_resist[0].b, 15);
}

}  // namespace
