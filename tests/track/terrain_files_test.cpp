// Loading a track's ground from its files, refusing bad ones, and saving it back.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "files/memory.h"
#include "render/image.h"
#include "tests/track/terrain_support.h"
#include "track/cameras.h"
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

// A level-0 track "tr" (3 x 3 samples, one tile-map entry) in a data directory, with an empty
// home directory before it in the search list.
struct TrackDir {
  TempDir root;
  std::string home = root.file("home");
  std::string data = root.file("data");
  ConsoleCapture console;
  TerrainPtr terrain{new Terrain{}};
  std::vector<uint16_t> codes = {0, 65535, 32768, 1, 2, 3, 40000, 50000, 60000};

  TrackDir() {
    std::filesystem::create_directories(home);
    const char* dirs[] = {home.c_str(), data.c_str()};
    vfs_set_search_dirs(dirs, 2);
    write("terrain.hf", "0 2.000000 -10.000000 10.000000 :" + codes_le(codes));
    write("shadingx2.ppm", ppm(3, 3, 100));
    write("tileinfo", "texture @dirt.png\naddtile\ntexture @grass.png\naddtile\ntexture @mud.png\naddtile\n");
    write("tilemap", std::string(1, char(1)));
  }
  ~TrackDir() { vfs_shutdown(); }
  void write(const char* name, const std::string& bytes) { root.write(std::string("data/tr/") + name, bytes); }
  void remove(const char* name) { std::filesystem::remove(path(name)); }
  bool load() { return terrain_load(terrain.get(), "tr", 1); }
  std::string path(const char* name) const { return data + "/tr/" + name; }
  std::string saved(const char* name) const { return home + "/tr/" + name; }
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
    track.write("terrain.hf", "0 2 -10 10\n");
    ASSERT_TRUE(track.load());
    for (int k = 0; k < 9; k++) EXPECT_EQ(track.terrain->heights[k], -10);
  }
  {
    // A 2 x 4 image repeats its last column and loses its last row.
    TrackDir track;
    track.write("terrain.hf", "0 2 0 65535\n");
    std::vector<uint16_t> samples = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> png;
    ASSERT_TRUE(image_encode_png_grey16(samples.data(), 2, 4, png));
    track.write("terrain.png", bytes_of(png));
    ASSERT_TRUE(track.load());
    const float expected[9] = {1, 2, 2, 3, 4, 4, 5, 6, 6};
    for (int k = 0; k < 9; k++) EXPECT_NEAR(track.terrain->heights[k], expected[k], 1e-2) << k;
  }
  {
    // shading.ppm is halved, shadows are inverted, the tile map is clamped to the table.
    TrackDir track;
    track.remove("shadingx2.ppm");
    track.write("shading.ppm", ppm(3, 3, 255));
    track.write("shadows.pgm", pgm(3, 3, 55));
    track.write("tilemap", std::string(1, char(255)));
    ASSERT_TRUE(track.load()) << track.console.all();
    EXPECT_EQ(track.terrain->shading[4], 127);
    EXPECT_EQ(track.terrain->shadows[4], 200);
    EXPECT_EQ(track.terrain->tilemap[0], 2);
  }
  {
    // texturelist stands in for a missing tileinfo; an empty tile map leaves tile 0.
    TrackDir track;
    track.remove("tileinfo");
    track.write("texturelist", "dirt.png\ngrass.png\n");
    track.write("tilemap", "");
    ASSERT_TRUE(track.load());
    EXPECT_EQ(track.terrain->tile_count, 2);
    EXPECT_EQ(track.terrain->tilemap[0], 0);
  }
}

// With shader drawing and dynamic lighting, methods 2 and 3 keep a per-point normal map that
// follows height changes; the renderer's hooks build and free its own parts.
TEST(TerrainLoad, NormalMapAndRendererHooks) {
  static int created, freed;
  created = freed = 0;
  TerrainRenderHooks hooks{};
  hooks.shaders = true;
  hooks.create = [](Terrain* t) {
    t->render = reinterpret_cast<TerrainRender*>(&created);
    return ++created > 0;
  };
  hooks.free = [](Terrain* t) { freed++, t->render = nullptr; };
  terrain_set_render_hooks(&hooks);
  lighting_reset(&lighting);
  struct Case {
    int method;
    bool dynamic_lighting;
    bool normal_map;
  } cases[] = {{1, true, false}, {2, false, false}, {2, true, true}, {3, true, true}};
  for (const Case& c : cases) {
    TrackDir track;
    track.write("shadows.pgm", pgm(3, 3, 255 - 40));
    lighting.dynamic_lighting = c.dynamic_lighting;
    ASSERT_TRUE(terrain_load(track.terrain.get(), "tr", c.method));
    Terrain* t = track.terrain.get();
    EXPECT_EQ(t->use_normal_map, c.normal_map) << c.method;
    EXPECT_EQ(t->normal_map != nullptr, c.normal_map);
    if (!c.normal_map) continue;
    // Lit value from the shadows; after a change the entries match a fresh computation.
    EXPECT_EQ(t->normal_map[3 * 4 + 1], 255 - 40);
    terrain_set_height(t, 1, 1, 30);
    terrain_refresh_lighting(t);
    std::vector<uint8_t> refreshed(t->normal_map, t->normal_map + 27);
    mem_free(t->normal_map);
    mem_free(t->normals_dirty.words);
    terrain_create_normal_map(t);
    EXPECT_EQ(0, memcmp(refreshed.data(), t->normal_map, 27));
    Vec3f n = terrain_vertex_normal(t, 0, 0);
    EXPECT_EQ(t->normal_map[0], uint8_t(std::lround(n.x * 127) + 128));
  }
  EXPECT_EQ(created, 4);
  EXPECT_EQ(freed, 4);
  terrain_set_render_hooks(nullptr);
  lighting_reset(&lighting);
}

TEST(TerrainLoad, BadFilesFailWithTheirMessages) {
  struct Case {
    const char* name;  // file replaced (or removed when contents is null)
    const char* contents;
    const char* messages;
  } cases[] = {
      {"terrain.hf", nullptr, "Can't open '@tr/terrain.hf'\n"},
      {"terrain.hf", "0 2 -10", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "12 2 -10 10 :", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "-1 2 -10 10 :", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "40 2 -10 10 :", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "0 0 -10 10 :", "Bad height field parameters\nError reading heights\n"},
      {"terrain.hf", "0 2 -10 10 :\x01\x02\x03", "Error reading heights\n"},
      {"shadingx2.ppm", "P6\n2 2\n255\n............", "Bad shading dimensions (2x2)\n"},
      {"shadingx2.ppm", "P6\n3 3\n255\nshort", "Error reading shading\n"},
      {"shadingx2.ppm", "P5\n3 3\n255\n.........", "Error reading shading\n"},
      {"shadingx2.ppm", nullptr, "Can't open '@tr/shading.ppm'\n"},
      {"shadows.pgm", "P5\n3 4\n255\n............", ""},
      {"shadows.pgm", "P6\n3 3\n255\n", "Error reading shadows\n"},
      {"tileinfo", nullptr, "Can't open '@tr/texturelist'\n"},
      {"tilemap", nullptr, "Can't open '@tr/tilemap'\n"},
  };
  for (const Case& c : cases) {
    TrackDir track;
    if (c.contents)
      track.write(c.name, c.contents);
    else
      track.remove(c.name);
    EXPECT_FALSE(track.load()) << c.name << ": " << (c.contents ? c.contents : "missing");
    EXPECT_EQ(track.console.all(), c.messages) << c.name;
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

  EXPECT_EQ(read_file_bytes(track.saved("terrain.hf")), "0 2.000000 -20.500000 77.699997\n");
  std::string doubled = read_file_bytes(track.saved("shading.ppm"));
  ASSERT_EQ(doubled.size(), 11 + 27u);
  EXPECT_EQ(uint8_t(doubled[11]), 254);

  TerrainPtr back(new Terrain{});
  // The saved files in the home directory come before the track's own.
  ASSERT_TRUE(terrain_load(back.get(), "tr", 1)) << track.console.all();
  float step = (77.7f + 20.5f) / 65535;
  for (int k = 0; k < 9; k++) EXPECT_NEAR(back->heights[k], edits[k], step) << k;
  EXPECT_EQ(0, memcmp(back->shading, shading.data(), 27));
  EXPECT_EQ(back->tilemap[0], 2);
}

TEST(TerrainSave, UnwritableFileStopsTheSaveAndKeepsEveryOldFile) {
  TrackDir track;
  ASSERT_TRUE(track.load());
  // A directory cannot be opened for writing; a data name is written to the first search
  // directory that takes it, so both are blocked.
  std::filesystem::create_directories(track.saved("shading.ppm.tmp"));
  std::filesystem::create_directories(track.path("shading.ppm.tmp"));
  EXPECT_FALSE(terrain_save(track.terrain.get()));
  EXPECT_EQ(track.console.all(), "Can't open 'shading.ppm'\n");
  // The save stopped there, and the ground files are replaced together or not at all: the
  // header's height range never meets another terrain.png.
  for (const char* name : {"terrain.hf", "terrain.png", "shadingx2.ppm", "tilemap", "terrain.hf.tmp", "terrain.png.tmp"})
    EXPECT_FALSE(std::filesystem::exists(track.saved(name))) << name;
}

}  // namespace

namespace {

// The default data set's ground, light and cameras load completely and quietly.
TEST(DefaultTrack, GroundLightingAndCamerasLoadQuietly) {
  TempDir home;
  set_search_dirs(home, SK_TEST_BIN_DIR);
  vfs_file_list();
  ConsoleCapture console;
  lighting_read("@rabbithill/lighting");
  TerrainPtr t(new Terrain{});
  ASSERT_TRUE(terrain_load(t.get(), "rabbithill", 1)) << console.all();
  cameras_read(t.get(), "@rabbithill/cameras");
  EXPECT_EQ(console.all(), "");

  EXPECT_GE(t->level, 7);
  EXPECT_GT(t->max_height, t->min_height);
  EXPECT_GT(t->tile_count, 1);
  for (int face = 0; face < SKY_FACES; face++) EXPECT_NE(lighting.sky_names[face], nullptr);
  EXPECT_FALSE(tv_cameras.empty());
  size_t samples = size_t(t->grid_size) * t->grid_size;
  float lowest = t->heights[0], highest = t->heights[0];
  size_t shaded = 0, shadowed = 0;
  for (size_t k = 0; k < samples; k++) {
    lowest = std::min(lowest, t->heights[k]);
    highest = std::max(highest, t->heights[k]);
    shaded += t->shading[3 * k] != 0;
    shadowed += t->shadows[k] != 0;
  }
  EXPECT_LT(lowest, highest);  // not a flat field
  EXPECT_GT(shaded, samples / 2);
  // Different tiles are laid out on the ground.
  size_t tiles = size_t(1) << (2 * t->level);
  int used[GROUND_TILE_MAX] = {};
  for (size_t k = 0; k < tiles; k++) used[t->tilemap[k]]++;
  EXPECT_GT(std::count_if(used, used + GROUND_TILE_MAX, [](int n) { return n > 0; }), 1);
  vfs_shutdown();
}

}  // namespace
