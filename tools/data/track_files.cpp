// The files of the default track "rabbithill".
#include "tools/data/track_files.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "render/image.h"
#include "tools/data/pictures.h"
#include "track/lighting.h"
#include "track/terrain.h"

namespace {

constexpr float CHECKPOINT_SPACING = 90.0f;  // ft along the loop, about
constexpr float CHECKPOINT_MARGIN = 6.0f;    // ft of radius beyond the track's half width

std::string path(const char* name) { return std::string(TRACK_DIR) + "/" + name; }

// Deterministic 0..1 from an integer sequence (objects' scatter).
float scatter(uint32_t k, uint32_t salt) {
  uint32_t h = k * 2654435761u ^ (salt + 0x9e3779b9u) * 40503u;
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return (h & 0xffffff) / 16777216.0f;
}

std::string tileinfo_text() {
  // Friction falls off as the tyre slides faster; loose berm dirt grips well at low slip but
  // gives way and erodes more; grass is slippery and hardly ruts; the start pad is hard.
  return
      "name dirt\n"
      "texture @ground/dirt.png\n"
      "friction 1.15 2\n"
      "friction 1.0 10\n"
      "friction 0.85 30\n"
      "roll_resist 6 16 1\n"
      "roost count=10 size=0.25 r=122 g=92 b=64 a=255 fade_a=-256\n"
      "erode_depth 1\n"
      "erode_radius 4\n"
      "addtile\n"
      "name berm\n"
      "texture @ground/berm.png\n"
      "friction 1.2 2\n"
      "friction 0.95 10\n"
      "friction 0.75 30\n"
      "roll_resist 9 22 1\n"
      "roost count=16 size=0.3 grow=5 r=110 g=80 b=54 a=255 fade_a=-192\n"
      "erode_depth 1.6\n"
      "erode_displacement 3\n"
      "erode_radius 4.5\n"
      "erode_limit 0 1 1\n"
      "erode_limit 1.5 0 0\n"
      "addtile\n"
      "name grass\n"
      "texture @ground/grass.png\n"
      "friction 0.85 2\n"
      "friction 0.65 10\n"
      "friction 0.55 30\n"
      "roll_resist 8 20 1\n"
      "roost count=5 size=0.2 r=70 g=100 b=45 a=255 fade_a=-256\n"
      "erode_depth 0.25\n"
      "erode_displacement 0.5\n"
      "erode_limit 0 1 1\n"
      "erode_limit 0.3 0 0\n"
      "addtile\n"
      "name hardpack\n"
      "texture @ground/hardpack.png\n"
      "friction 1.1 2\n"
      "friction 0.95 15\n"
      "roll_resist 4 12 1\n"
      "roost count=4 size=0.2 r=150 g=130 b=105 a=255 fade_a=-384\n"
      "erode_depth 0.2\n"
      "erode_limit 0 1 1\n"
      "erode_limit 0.25 0 0\n"
      "addtile\n"
      "name dirt-alt1\n"
      "texture @ground/dirt-alt1.png\n"
      "friction 1.15 2\n"
      "friction 1.0 10\n"
      "friction 0.85 30\n"
      "roll_resist 6 16 1\n"
      "roost count=10 size=0.25 r=116 g=88 b=60 a=255 fade_a=-256\n"
      "erode_depth 1\n"
      "erode_radius 4\n"
      "addtile\n"
      "name grass-alt1\n"
      "texture @ground/grass-alt1.png\n"
      "friction 0.85 2\n"
      "friction 0.65 10\n"
      "friction 0.55 30\n"
      "roll_resist 8 20 1\n"
      "roost count=5 size=0.2 r=80 g=105 b=50 a=255 fade_a=-256\n"
      "erode_depth 0.25\n"
      "erode_displacement 0.5\n"
      "erode_limit 0 1 1\n"
      "erode_limit 0.3 0 0\n"
      "addtile\n";
}

std::string lighting_text() {
  const TrackLight& l = track_light();
  std::string t;
  text_printf(&t, "sun_vector [%f %f %f]\n", l.sun[0], l.sun[1], l.sun[2]);
  text_printf(&t, "sun_color [%f %f %f]\n", l.sun_color[0], l.sun_color[1], l.sun_color[2]);
  text_printf(&t, "ambient [%f %f %f]\n", l.ambient[0], l.ambient[1], l.ambient[2]);
  t += "global_ambient [0.200000 0.200000 0.220000]\n";
  t += "sky_n @sky/sky-n.ppm\nsky_e @sky/sky-e.ppm\nsky_s @sky/sky-s.ppm\nsky_w @sky/sky-w.ppm\nsky_u @sky/sky-u.ppm\n";
  t += "sky_env @sky/sky-env.ppm\n";
  // The sun's flare: a bright halo on the sun and two ghosts along the line through the centre.
  t += "flare_element [0.000000 0.000000] [1.000000 0.950000 0.850000] 0.350000 @sky/flare.png\n";
  t += "flare_element [-0.400000 -0.400000] [0.400000 0.500000 0.600000] 0.080000 @sky/flare.png\n";
  t += "flare_element [-0.800000 -0.800000] [0.500000 0.400000 0.300000] 0.120000 @sky/flare.png\n";
  text_printf(&t, "flare_vector [%f %f %f]\n", l.sun[0], l.sun[1], l.sun[2]);
  t += "fog [0.760000 0.820000 0.900000] 0.000350\n";
  t += "near_plane 0.250000\nfar_plane 6000.000000\n";
  return t;
}

// Point beside the loop at distance s, `side` ft to the rider's left (negative: right).
void beside(const Course& course, float s, float side, float* x, float* z) {
  const CourseSample& q = course_at(course.loop, s, true);
  *x = q.x + q.dz * side;
  *z = q.z - q.dx * side;
}

std::string cameras_text(const Course& course, const Ground& ground, const TrackTiming& timing) {
  // Cameras stand on the outside of the course at these positions along the loop, 45 ft off
  // the centre line and 18 ft up; each takes over at the checkpoints nearest to it.
  const float spots[][2] = {{150, 1}, {700, -1}, {1250, 1}, {1800, -1}, {2400, 1}, {3000, 1},
                            {3600, -1}, {4200, 1}, {4800, -1}, {5400, 1}};
  std::vector<std::pair<float, float>> where;
  for (const auto& spot : spots) {
    if (spot[0] >= course.loop_length) continue;
    float x, z;
    beside(course, spot[0], spot[1] * 45, &x, &z);
    where.push_back({x, z});
  }
  std::vector<std::vector<int>> gates(where.size());
  for (size_t k = 0; k < timing.checkpoints.size(); k++) {
    const TrackCheckpoint& c = timing.checkpoints[k];
    size_t best = 0;
    float best_d = 1e30f;
    for (size_t i = 0; i < where.size(); i++) {
      float d = std::hypot(where[i].first - c.x, where[i].second - c.z);
      if (d < best_d) best_d = d, best = i;
    }
    if (k < 256) gates[best].push_back(static_cast<int>(k));
  }
  (void)ground;
  std::string t;
  for (size_t i = 0; i < where.size(); i++) {
    t += "fov 50.000000\nautofovsize 14.000000\n";
    if (!gates[i].empty()) {
      t += "gate";
      for (int g : gates[i]) text_printf(&t, " %d", g);
      t += "\n";
    }
    text_printf(&t, "addcamera %f %f %f\n", where[i].first, 18.0f, where[i].second);
  }
  return t;
}

std::string timing_text(const Course& course, const TrackTiming& timing) {
  std::string t = "startinggate:\n";
  for (int k = 0; k < COURSE_GATE_PIECES; k++) {
    float x = course.gate_x + (k - (COURSE_GATE_PIECES - 1) * 0.5f) * COURSE_GATE_SPACING;
    // The pad lies at 0 ft, so the height reads the same as a position or a height above it.
    text_printf(&t, "[%f %f %f] %f\n", x, 0.0f, course.gate_z, 0.0f);
  }
  t += "checkpoints:\n";
  for (const TrackCheckpoint& c : timing.checkpoints) {
    text_printf(&t, "%f [%f %f %f] [%f %f %f]\n", c.radius, c.x, c.y, c.z, c.dx, 0.0f, c.dz);
  }
  t += "firstlap:\n";
  for (int i : timing.first_lap) text_printf(&t, "%d ", i);
  t += "\nnormallap:\n";
  for (int i : timing.normal_lap) text_printf(&t, "%d ", i);
  t += "\n";
  return t;
}

// Trees scattered over the grass in loose groves, banners along the straights.
std::string billboards_text(const Course& course, const Ground& ground) {
  std::string t;
  const int P = GROUND_SIZE;
  for (uint32_t k = 0; k < 6000; k++) {
    float x = 60 + scatter(k, 1) * (GROUND_EXTENT - 120);
    float z = 60 + scatter(k, 2) * (GROUND_EXTENT - 120);
    // Groves: keep a tree only where a slow field of clumps is high.
    float grove = std::sin(x * 0.013f + 1.1f) * std::sin(z * 0.011f + 0.3f) + 0.5f * std::sin((x - z) * 0.02f);
    if (grove + scatter(k, 3) * 0.6f < 0.95f) continue;
    int c = std::clamp(static_cast<int>(x / GROUND_SPACING), 0, P - 1);
    int r = std::clamp(static_cast<int>(z / GROUND_SPACING), 0, P - 1);
    if (ground_edge_distance(course, ground, c, r) < 40) continue;
    if (std::hypot(x - course.gate_x, z - course.gate_z) < 140) continue;
    float height = 24 + scatter(k, 4) * 18;
    int kind = scatter(k, 5) < 0.6f ? 1 : 2;
    text_printf(&t, "[%f %f %f] %f %f @objects/tree%d.png\n", x, -0.5f, z, height, kind == 1 ? 0.7f : 0.5f, kind);
  }
  // Banners on the outside of the long straights, every 60 ft for 240 ft.
  const float runs[][2] = {{520, -1}, {1700, 1}, {3900, 1}, {4600, -1}};
  int banner = 0;
  for (const auto& run : runs) {
    for (int k = 0; k < 5; k++) {
      float s = run[0] + k * 60;
      if (s >= course.loop_length) break;
      const CourseSample& q = course_at(course.loop, s, true);
      float x, z;
      beside(course, s, run[1] * (q.width * 0.5f + 7), &x, &z);
      text_printf(&t, "[%f %f %f] %f %f @objects/banner%d.png\n", x, 0.5f, z, 3.0f, 4.0f, 1 + banner++ % 3);
    }
  }
  return t;
}

// Hay bales on the outside of the tightest berms, turned along the track.
std::string statues_text(const Course& course) {
  std::string t;
  for (size_t i = 0; i < course.loop.size(); i += 24) {  // every 12 ft
    const CourseSample& q = course.loop[i];
    if (std::fabs(q.curvature) < 1.0f / 60.0f) continue;
    // Outside of the bend: to the right of a left turn.
    float side = q.curvature > 0 ? -1.0f : 1.0f;
    float off = q.width * 0.5f + 11;
    float x = q.x + q.dz * side * off, z = q.z - q.dx * side * off;
    float yaw = std::atan2(-q.dz, q.dx);  // the bale's long side along the direction of travel
    text_printf(&t, "[%f %f %f] %f @objects/haybale.vm @objects/haybale.png @objects/haybale.shp\n", x, 0.0f, z, yaw);
  }
  return t;
}

std::string flaggers_text(const Course& course, const TrackTiming& timing) {
  std::string t;
  // The starter stands right of the gate and walks off it when the gate drops.
  float gx = course.gate_x + COURSE_GATE_PIECES * COURSE_GATE_SPACING * 0.5f + 12;
  text_printf(&t, "[%f %f %f] [%f %f %f] %f %f %f\n", gx, 0.0f, course.gate_z - 6, gx + 10, 0.0f, course.gate_z + 4, 6.0f,
              0.5f, 1.5f);
  t += "@objects/starter0.png @objects/starter1.png @objects/starter2.png @objects/starter3.png @objects/starter4.png\n";
  float fx, fz;
  const CourseSample& f = course_at(course.loop, course.finish_s, true);
  beside(course, course.finish_s, -(f.width * 0.5f + 8), &fx, &fz);
  text_printf(&t, "[%f %f %f] %f %f\n", fx, 0.0f, fz, 6.0f, 0.5f);
  t += "@objects/finish0.png @objects/finish1.png @objects/finish2.png @objects/finish3.png\n";
  // Course flaggers before each jump's take-off, watching the next four checkpoints.
  for (const CourseFeature& feature : course.features) {
    if (feature.kind == FEATURE_WHOOPS) continue;
    // Find where the feature starts along the loop from its position in the profile.
    float start = -1;
    for (const CourseSample& q : course.loop) {
      if (q.segment == feature.segment && q.curvature == 0 && q.lift > 0.05f) {
        start = q.s;
        break;
      }
    }
    if (start < 0) continue;
    const CourseSample& q = course_at(course.loop, start, true);
    float x, z;
    beside(course, start, q.width * 0.5f + 9, &x, &z);
    int near = 0;
    float best = 1e30f;
    for (size_t k = 0; k < timing.checkpoints.size(); k++) {
      float d = std::hypot(timing.checkpoints[k].x - x, timing.checkpoints[k].z - z);
      if (d < best) best = d, near = static_cast<int>(k);
    }
    int last = static_cast<int>(timing.checkpoints.size()) - 1;
    text_printf(&t, "[%f %f %f] %f %f %d %d %d %d @objects/flagger_idle.png @objects/flagger_wave.png\n", x, 0.0f, z,
                6.0f, 0.5f, near, std::min(near + 1, last), std::min(near + 2, last), std::min(near + 3, last));
  }
  return t;
}

std::vector<uint8_t> terrain_hf_bytes(const Ground& ground) {
  std::string header;
  text_printf(&header, "%d %f %f %f :", GROUND_LEVEL, GROUND_SPACING, GROUND_MIN_HEIGHT, GROUND_MAX_HEIGHT);
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.reserve(bytes.size() + ground.codes.size() * 2);
  for (uint16_t code : ground.codes) {
    bytes.push_back(static_cast<uint8_t>(code & 0xff));
    bytes.push_back(static_cast<uint8_t>(code >> 8));
  }
  return bytes;
}

}  // namespace

const TrackLight& track_light() {
  static const TrackLight light = [] {
    // Afternoon sun from the south-east, warm, with a cool sky fill.
    TrackLight l = {{0.55f, 0.5f, 0.4f}, {0.95f, 0.9f, 0.8f}, {0.42f, 0.45f, 0.5f}};
    float n = std::sqrt(l.sun[0] * l.sun[0] + l.sun[1] * l.sun[1] + l.sun[2] * l.sun[2]);
    for (float& v : l.sun) v /= n;
    return l;
  }();
  return light;
}

TrackTiming track_timing(const Course& course, const Ground& ground) {
  TrackTiming timing;
  auto add = [&](const CourseSample& q) {
    float x = q.x, z = q.z;
    timing.checkpoints.push_back({q.width * 0.5f + CHECKPOINT_MARGIN, x, ground_height_at(ground, x, z), z, q.dx, q.dz});
    return static_cast<int>(timing.checkpoints.size()) - 1;
  };
  // Two on the start straight, while it is still wide.
  for (float s : {120.0f, 220.0f}) timing.first_lap.push_back(add(course_at(course.start, s, false)));
  // The loop, in riding order from just after the finish line round to it.
  int count = static_cast<int>(std::lround(course.loop_length / CHECKPOINT_SPACING));
  float step = course.loop_length / count;
  float merge_s = course.loop[course.merge_index].s;
  for (int k = 1; k <= count; k++) {
    float s = std::fmod(course.finish_s + k * step, course.loop_length);
    int index = add(course_at(course.loop, s, true));
    timing.normal_lap.push_back(index);
    // The first lap joins the loop where the start straight does: from there to the finish.
    float after_merge = std::fmod(s - merge_s + course.loop_length, course.loop_length);
    float finish_after_merge = std::fmod(course.finish_s - merge_s + course.loop_length, course.loop_length);
    if (after_merge > 20 && after_merge <= finish_after_merge + 0.01f) timing.first_lap.push_back(index);
  }
  return timing;
}

void track_add_files(const Course& course, const Ground& ground, DataSet* set) {
  TrackTiming timing = track_timing(course, ground);
  dataset_add_text(set, path("desc"), "Rabbit Hill\n");
  dataset_add(set, path("terrain.hf"), terrain_hf_bytes(ground));
  dataset_add(set, path("tilemap"), ground.tilemap);
  dataset_add_text(set, path("tileinfo"), tileinfo_text());
  dataset_add_text(set, path("lighting"), lighting_text());
  dataset_add_text(set, path("cameras"), cameras_text(course, ground, timing));
  dataset_add_text(set, path("timing_gates"), timing_text(course, timing));
  dataset_add_text(set, path("billboards"), billboards_text(course, ground));
  dataset_add_text(set, path("statues"), statues_text(course));
  dataset_add_text(set, path("flaggers"), flaggers_text(course, timing));
  dataset_add(set, path("map.png"), picture_png(picture_track_map(course, ground, 256)));
}

std::vector<uint8_t> track_add_shading(const Ground& ground, DataSet* set) {
  const int P = GROUND_SIZE;
  // Baked with the game's own shading of a grid point, so ground edited later blends in.
  Terrain terrain{};
  if (!terrain_allocate(&terrain, GROUND_LEVEL, GROUND_SPACING, GROUND_MIN_HEIGHT, GROUND_MAX_HEIGHT)) return {};
  std::copy(ground.heights.begin(), ground.heights.end(), terrain.heights);
  std::copy(ground.shadow.begin(), ground.shadow.end(), terrain.shadows);
  const TrackLight& l = track_light();
  lighting_reset(&lighting);
  std::copy(std::begin(l.sun), std::end(l.sun), lighting.sun_vector);
  std::copy(std::begin(l.sun_color), std::end(l.sun_color), lighting.sun_color);
  std::copy(std::begin(l.ambient), std::end(l.ambient), lighting.ambient);
  std::vector<uint8_t> shading(static_cast<size_t>(P) * P * 3);
  for (int r = 0; r < P; r++) {
    for (int c = 0; c < P; c++) terrain_point_shading(&terrain, c, r, &shading[(static_cast<size_t>(r) * P + c) * 3]);
  }
  terrain_free(&terrain);

  std::vector<uint8_t> ppm, pgm;
  image_encode_ppm(shading.data(), P, P, ppm);
  std::vector<uint8_t> lit(ground.shadow.size());
  for (size_t i = 0; i < lit.size(); i++) lit[i] = static_cast<uint8_t>(255 - ground.shadow[i]);
  image_encode_pgm(lit.data(), P, P, pgm);
  dataset_add(set, path("shadingx2.ppm"), std::move(ppm));
  dataset_add(set, path("shadows.pgm"), std::move(pgm));
  return shading;
}
