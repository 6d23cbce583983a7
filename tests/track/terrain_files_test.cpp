// Loading a track's ground from its files, refusing bad ones, and saving it back.
#include <cstring>
#include <string>

#include "render/image.h"
#include "tests/track/terrain_support.h"
#include "track/lighting.h"

namespace {

std::string bytes_of(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

std::string ppm(int w, int h, uint8_t value) {
  return "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + std::string(size_t(w) * h * 3, char(value));
}

std::string pgm(int w, int h, uint8_t value) {
  return "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + std::string(size_t(w) * h, char(value));
}

std::string codes_le(const std::vector<uint16_t>& codes) {
  std::string out;
  for (uint16_t c : codes) out += char(c & 0xff), out += char(c >> 8);
  return out;
}

// A level-0 track (3 x 3 samples, one tile-map entry) in a temporary directory.
struct TrackDir {
  TempDir dir;
  ConsoleCapture console;
  TerrainPtr terrain{new Terrain{}};
  std::vector<uint16_t> codes = {0, 65535, 32768, 1, 2, 3, 40000, 50000, 60000};

  TrackDir() {
    dir.write("terrain.hf", "0 2.000000 -10.000000 10.000000 :" + codes_le(codes));
    dir.write("shadingx2.ppm", ppm(3, 3, 100));
    dir.write("tileinfo", "texture @dirt.png\naddtile\ntexture @grass.png\naddtile\ntexture @mud.png\naddtile\n");
    dir.write("tilemap", std::string(1, char(1)));
  }
  bool load() { return terrain_load(terrain.get(), dir.path.c_str(), 1); }
  std::string path(const char* name) const { return dir.file(name); }
};

TEST(TerrainLoad, BinaryHeightsShadingTilesAndMap) {
  TrackDir track;
  ASSERT_TRUE(track.load()) << track.console.all();
  const Terrain* t = track.terrain.get();
  EXPECT_EQ(t->grid_size, 3);
  EXPECT_EQ(t->extent, 4);
  for (int k = 0; k < 9; k++) {
    float expected = -10 + float(track.codes[k]) * (20 * 1.5259022e-05f);
    EXPECT_FLOAT_EQ(t->heights[k], expected);
    EXPECT_EQ(t->base_heights[k], t->heights[k]);
  }
  EXPECT_EQ(t->shading[0], 100);
  EXPECT_EQ(t->shadows[8], 0);
  EXPECT_EQ(t->tile_count, 3);
  EXPECT_EQ(t->tilemap[0], 1);
  EXPECT_EQ(t->render_method, 1);
  EXPECT_FALSE(t->use_normal_map);
  EXPECT_EQ(track.console.all(), "");
  for (int k = 0; k < terrain_triangle_count(t); k++) EXPECT_TRUE(terrain_bit(t->triangle_dirty, k));
}

TEST(TerrainLoad, HeightsFromImagesAndTheOptionalFiles) {
  {
    // Header only and no image: flat at the lowest height.
    TrackDir track;
    track.dir.write("terrain.hf", "0 2 -10 10\n");
    ASSERT_TRUE(track.load());
    for (int k = 0; k < 9; k++) EXPECT_EQ(track.terrain->heights[k], -10);
  }
  {
    // A 2 x 4 image repeats its last column and loses its last row.
    TrackDir track;
    track.dir.write("terrain.hf", "0 2 0 65535\n");
    std::vector<uint16_t> samples = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> png;
    ASSERT_TRUE(image_encode_png_grey16(samples.data(), 2, 4, png));
    track.dir.write("terrain.png", bytes_of(png));
    ASSERT_TRUE(track.load());
    const float expected[9] = {1, 2, 2, 3, 4, 4, 5, 6, 6};
    for (int k = 0; k < 9; k++) EXPECT_NEAR(track.terrain->heights[k], expected[k], 1e-2) << k;
  }
  {
    // shading.ppm is halved, shadows are inverted, the tile map is clamped to the table.
    TrackDir track;
    std::filesystem::remove(track.path("shadingx2.ppm"));
    track.dir.write("shading.ppm", ppm(3, 3, 255));
    track.dir.write("shadows.pgm", pgm(3, 3, 55));
    track.dir.write("tilemap", std::string(1, char(255)));
    ASSERT_TRUE(track.load()) << track.console.all();
    EXPECT_EQ(track.terrain->shading[4], 127);
    EXPECT_EQ(track.terrain->shadows[4], 200);
    EXPECT_EQ(track.terrain->tilemap[0], 2);
  }
  {
    // texturelist stands in for a missing tileinfo; an empty tile map leaves tile 0.
    TrackDir track;
    std::filesystem::remove(track.path("tileinfo"));
    track.dir.write("texturelist", "dirt.png\ngrass.png\n");
    track.dir.write("tilemap", "");
    ASSERT_TRUE(track.load());
    EXPECT_EQ(track.terrain->tile_count, 2);
    EXPECT_EQ(track.terrain->tilemap[0], 0);
  }
}

TEST(TerrainLoad, BadFilesFailWithTheirMessages) {
  struct Case {
    const char* name;  // file replaced (or removed when contents is null)
    const char* contents;
    const char* messages;  // "%s" stands for the track directory
  } cases[] = {
      {"terrain.hf", nullptr, "Can't open '%s/terrain.hf'\n"},
      {"terrain.hf", "0 2 -10", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "12 2 -10 10 :", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "-1 2 -10 10 :", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "40 2 -10 10 :", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "0 0 -10 10 :", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "0 2 -10 10 :\x01\x02\x03", "Error reading heights\n"},
      {"shadingx2.ppm", "P6\n2 2\n255\n............", "Bad shading dimensions (2x2)\n"},
      {"shadingx2.ppm", "P6\n3 3\n255\nshort", "Error reading shading\n"},
      {"shadingx2.ppm", "P5\n3 3\n255\n.........", "Error reading shading\n"},
      {"shadingx2.ppm", nullptr, "Can't open '%s/shading.ppm'\n"},
      {"shadows.pgm", "P5\n3 4\n255\n............", ""},
      {"shadows.pgm", "P6\n3 3\n255\n", "Error reading shadows\n"},
      {"tileinfo", nullptr, "Can't open '%s/texturelist'\n"},
      {"tilemap", nullptr, "Can't open '%s/tilemap'\n"},
  };
  for (const Case& c : cases) {
    TrackDir track;
    if (c.contents)
      track.dir.write(c.name, c.contents);
    else
      std::filesystem::remove(track.path(c.name));
    EXPECT_FALSE(track.load()) << c.name << ": " << (c.contents ? c.contents : "missing");
    std::string expected = c.messages;
    size_t at = expected.find("%s");
    if (at != std::string::npos) expected.replace(at, 2, track.dir.path.string());
    EXPECT_EQ(track.console.all(), expected) << c.name;
    EXPECT_EQ(track.terrain->heights, nullptr);
    EXPECT_EQ(track.terrain->grid_size, 0);
  }
}

TEST(TerrainSave, SavedTrackLoadsBackTheSameGround) {
  lighting_reset(&lighting);
  TrackDir track;
  ASSERT_TRUE(track.load());
  Terrain* t = track.terrain.get();
  const float edits[9] = {-3.25f, 8, 0.001f, 2.5f, 77.7f, -20.5f, 0, 1, 13};
  for (int k = 0; k < 9; k++) terrain_set_height(t, k % 3, k / 3, edits[k]);
  t->shading[0] = 127;  // not dirty: kept, and written doubled as 254
  t->tilemap[0] = 2;
  // Only the corner stays clean; the changed points get fresh shading before writing.
  memset(t->shading_dirty.words, 0, 8);
  for (int k = 1; k < 9; k++) terrain_bit_set(t->shading_dirty, k);
  ASSERT_TRUE(terrain_save(t)) << track.console.all();
  EXPECT_EQ(t->min_height, -20.5f);
  EXPECT_EQ(t->max_height, 77.7f);
  std::vector<uint8_t> shading(t->shading, t->shading + 27);

  EXPECT_EQ(read_file_bytes(track.path("terrain.hf")), "0 2.000000 -20.500000 77.699997\n");
  std::string doubled = read_file_bytes(track.path("shading.ppm"));
  ASSERT_EQ(doubled.size(), 11 + 27u);
  EXPECT_EQ(uint8_t(doubled[11]), 254);

  TerrainPtr back(new Terrain{});
  ASSERT_TRUE(terrain_load(back.get(), track.dir.path.c_str(), 1)) << track.console.all();
  float step = (77.7f + 20.5f) / 65535;
  for (int k = 0; k < 9; k++) EXPECT_NEAR(back->heights[k], edits[k], step) << k;
  EXPECT_EQ(0, memcmp(back->shading, shading.data(), 27));
  EXPECT_EQ(back->tilemap[0], 2);
}

TEST(TerrainSave, UnwritableFileStopsTheSave) {
  TrackDir track;
  ASSERT_TRUE(track.load());
  std::filesystem::create_directory(track.path("shading.ppm"));  // cannot be opened for writing
  EXPECT_FALSE(terrain_save(track.terrain.get()));
  EXPECT_EQ(track.console.all(), "Can't open 'shading.ppm'\n");
  // The save stopped there: the files after it are untouched.
  EXPECT_EQ(read_file_bytes(track.path("shadingx2.ppm")), ppm(3, 3, 100));
  EXPECT_EQ(read_file_bytes(track.path("tilemap")), std::string(1, char(1)));
}

}  // namespace
