// The generated track "rabbithill" read back from the built base archive: through the game's
// readers where they exist, and against the rules of its formats for the other files.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "files/vfs.h"
#include "race/timing.h"
#include "render/image.h"
#include "tests/support/temp_dir.h"
#include "track/cameras.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

std::vector<std::string>& console_lines() {
  static std::vector<std::string> lines;
  return lines;
}

// The file system sees a scratch home directory and the programs' directory with zzzz.saf;
// the terrain is loaded once for all tests.
struct GeneratedRabbithill : ::testing::Test {
  static TempDir* home;
  static Terrain* terrain;

  static void SetUpTestSuite() {
    home = new TempDir;
    set_search_dirs(*home, SK_TEST_BIN_DIR);
    vfs_file_list();
    console_set_display_hook([](const char* text) { console_lines().push_back(text); });
    lighting_read("@rabbithill/lighting");
    terrain = new Terrain{};
    ASSERT_TRUE(terrain_load(terrain, "rabbithill", 1));
  }
  static void TearDownTestSuite() {
    console_set_display_hook(nullptr);
    terrain_free(terrain);
    delete terrain;
    vfs_shutdown();
    delete home;
  }
};
TempDir* GeneratedRabbithill::home;
Terrain* GeneratedRabbithill::terrain;

std::string text_of(const char* name) {
  std::string text;
  VfsFile* f = vfs_open(name, "rb");
  if (!f) return text;
  for (int c; (c = vfs_getc(f)) != EOF;) text += static_cast<char>(c);
  vfs_close(f);
  return text;
}

bool opens(const std::string& name) {
  VfsFile* f = vfs_open(name.c_str(), "rb");
  if (f) vfs_close(f);
  return f != nullptr;
}

bool decodes(const std::string& name) {
  MipChain chain;
  return image_load(name.c_str(), 0, chain, nullptr) && chain.width > 0 && (chain.width & (chain.width - 1)) == 0 &&
         (chain.height & (chain.height - 1)) == 0;
}

TEST_F(GeneratedRabbithill, LoadsThroughTheGameReadersWithoutAComplaint) {
  std::string said;
  for (const std::string& line : console_lines()) said += line;
  EXPECT_EQ(said, "");
  EXPECT_EQ(terrain->level, 9);
  EXPECT_GE(terrain->level, 7);  // the terrain renderer's clipmap needs at least this
  EXPECT_EQ(terrain->tile_count, 6);
  // Alternative looks belong to their plain tile; the plain ones stand alone.
  EXPECT_EQ(terrain->tiles[4].transition, (0u << 16) | (0u << 8));
  EXPECT_EQ(terrain->tiles[5].transition, (2u << 16) | (2u << 8));
  for (int t = 0; t < terrain->tile_count; t++) {
    ASSERT_NE(terrain->tiles[t].texture_name, nullptr) << "tile " << t;
    EXPECT_TRUE(decodes(terrain->tiles[t].texture_name)) << terrain->tiles[t].texture_name;
  }
  ASSERT_NE(lighting.sky_names[SKY_NORTH], nullptr);
  EXPECT_EQ(lighting.flares.size(), 1u);
  cameras_read(terrain, "@rabbithill/cameras");
  EXPECT_GE(tv_cameras.size(), 6u);
}

TEST_F(GeneratedRabbithill, HeightsLeaveRoomBelowTheRutsAndAboveTheJumps) {
  size_t samples = size_t(terrain->grid_size) * terrain->grid_size;
  float low = 1e9f, high = -1e9f;
  for (size_t k = 0; k < samples; k++) {
    low = std::min(low, terrain->heights[k]);
    high = std::max(high, terrain->heights[k]);
  }
  EXPECT_GE(low - terrain->min_height, 10.0f);
  EXPECT_GE(terrain->max_height - high, 40.0f);
}

TEST_F(GeneratedRabbithill, TimingGatesFormARaceFromTheGateRoundTheLoop) {
  ASSERT_TRUE(timing_gates_read("@rabbithill/timing_gates"));
  ASSERT_TRUE(timing.present);
  ASSERT_EQ(timing.piece_count, 40);
  for (int k = 0; k < timing.piece_count; k++) {
    const StartGatePiece& p = timing.pieces[k];
    EXPECT_NEAR(terrain_height_at(terrain, p.x, p.z), p.y, 0.01f);
    EXPECT_EQ(p.angle, 0.0f);
    EXPECT_EQ(p.shape, "@startgate.shp");
  }
  std::vector<int> first(timing.lap_list, timing.lap_list + timing.first_count);
  std::vector<int> normal(timing.lap_list + timing.first_count, timing.lap_list + timing.first_count + timing.normal_count);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(normal.empty());
  const Checkpoint* cp = timing.checkpoints;
  // Both laps end on the finish line; the first begins on the start straight ahead of the gate.
  EXPECT_EQ(first.back(), normal.back());
  const StartGatePiece& middle = timing.pieces[20];
  EXPECT_LT(cp[first.front()].pz, middle.z);
  EXPECT_LT(std::hypot(cp[first.front()].px - middle.x, cp[first.front()].pz - middle.z), 200.0f);
  // Round the loop every 60 to 120 ft, each checkpoint facing the next and lying on the track.
  std::set<int> seen;
  for (size_t k = 0; k < normal.size(); k++) {
    const Checkpoint& a = cp[normal[k]];
    const Checkpoint& b = cp[normal[(k + 1) % normal.size()]];
    float gap = std::hypot(b.px - a.px, b.pz - a.pz);
    EXPECT_GE(gap, 60.0f) << "after checkpoint " << normal[k];
    EXPECT_LE(gap, 120.0f) << "after checkpoint " << normal[k];
    EXPECT_GT((b.px - a.px) * a.dx + (b.pz - a.pz) * a.dz, 0.0f) << "checkpoint " << normal[k];
    EXPECT_NEAR(std::hypot(a.dx, a.dz), 1.0f, 1e-3f);
    EXPECT_GE(a.radius, 13.0f);  // half the narrowest track and more
    EXPECT_NEAR(terrain_height_at(terrain, a.px, a.pz), a.py, 0.05f);
    EXPECT_TRUE(seen.insert(normal[k]).second) << "checkpoint " << normal[k] << " twice in a lap";
  }
  // The first lap joins the normal lap and follows it to the finish.
  size_t join = 0;
  while (join < first.size() && !seen.count(first[join])) join++;
  EXPECT_LE(join, 3u);
  size_t tail = first.size() - join;
  ASSERT_LE(tail, normal.size());
  EXPECT_TRUE(std::equal(first.begin() + join, first.end(), normal.end() - tail));
}

// Reads records with a pattern until one fails; every byte of the file must be used.
template <typename Record>
std::vector<Record> read_records(const std::string& text, const char* pattern, int fields,
                                 int (*scan)(const char*, const char*, Record*, int*)) {
  std::vector<Record> records;
  const char* p = text.c_str();
  Record r;
  int used = 0;
  while (scan(p, pattern, &r, &used) == fields) {
    records.push_back(r);
    p += used;
  }
  while (*p == ' ' || *p == '\n') p++;
  EXPECT_EQ(*p, '\0') << "unread text: " << std::string(p).substr(0, 80);
  return records;
}

struct Billboard {
  float x, h, z, height, aspect;
  char texture[1024];
};
struct Statue {
  float x, h, z, yaw;
  char model[1024], texture[1024], shape[1024];
};

TEST_F(GeneratedRabbithill, EveryObjectRecordParsesAndNamesFilesThatExist) {
  auto billboards = read_records<Billboard>(
      text_of("@rabbithill/billboards"), " [ %f %f %f ] %f %f %1023s %n", 6,
      [](const char* p, const char* f, Billboard* b, int* n) {
        return sscanf(p, f, &b->x, &b->h, &b->z, &b->height, &b->aspect, b->texture, n);
      });
  auto statues = read_records<Statue>(text_of("@rabbithill/statues"), " [ %f %f %f ] %f %1023s %1023s %1023s %n", 7,
                                      [](const char* p, const char* f, Statue* s, int* n) {
                                        return sscanf(p, f, &s->x, &s->h, &s->z, &s->yaw, s->model, s->texture,
                                                      s->shape, n);
                                      });
  EXPECT_GT(billboards.size(), 50u);
  EXPECT_GT(statues.size(), 10u);
  // The game's readers take every record.
  objects_reset(terrain);
  billboards_read("rabbithill");
  statues_read("rabbithill");
  EXPECT_EQ(track_objects.billboards.size(), billboards.size());
  EXPECT_EQ(track_objects.statues.size(), statues.size());
  flaggers_read("rabbithill", 256);
  EXPECT_GE(track_objects.start_flagger.billboard, 0);
  EXPECT_GE(track_objects.finish_flagger.billboard, 0);
  EXPECT_GE(track_objects.course_flaggers.size(), 5u);
  std::set<std::string> pictures, files;
  for (const Billboard& b : billboards) {
    EXPECT_TRUE(b.x > 0 && b.x < terrain->extent && b.z > 0 && b.z < terrain->extent);
    pictures.insert(b.texture);
  }
  for (const Statue& s : statues) {
    pictures.insert(s.texture);
    files.insert(s.model);
    files.insert(s.shape);
  }
  // Flaggers: the start and finish flaggers' pictures, then the course flaggers'.
  std::string flaggers = text_of("@rabbithill/flaggers");
  for (size_t at = flaggers.find('@'); at != std::string::npos; at = flaggers.find('@', at + 1))
    pictures.insert(flaggers.substr(at, flaggers.find_first_of(" \n", at) - at));
  EXPECT_EQ(pictures.count("@objects/finish3.png"), 1u);
  for (const std::string& name : pictures) EXPECT_TRUE(decodes(name)) << name;
  for (const std::string& name : files) EXPECT_TRUE(opens(name)) << name;
  EXPECT_TRUE(decodes("@rabbithill/map.png"));
  for (const char* shape : {"@generic_frame.shp", "@generic_fork_upper.shp", "@generic_fork_lower.shp",
                            "@generic_swingarm.shp", "@front_wheel.shp", "@rear_wheel.shp", "@generic_rider.shp",
                            "@startgate.shp"})
    EXPECT_TRUE(opens(shape)) << shape;
}

}  // namespace
