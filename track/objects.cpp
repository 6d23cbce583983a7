// Track objects: reading, placing and saving billboards, statues, flaggers and decals, their
// buckets, and the flagger animation driven by the race.
#include "track/objects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/console.h"
#include "files/replace.h"
#include "files/vfs.h"
#include "track/terrain.h"
#include "track/textures.h"

TrackObjects track_objects;

namespace {

StatueShapeLoader shape_loader = nullptr;
StatueShapeReleaser shape_releaser = nullptr;
bool use_shaders = false;

float ground_height(float x, float z) {
  return track_objects.terrain ? terrain_height_at(track_objects.terrain, x, z) : 0.0f;
}

// Closes a saved object file and puts it in place of the old one; a write error keeps the old.
bool finish_saving(ReplaceSet& set, VfsFile* file, const char* name) {
  replace_close(set, file);
  if (replace_finish(set)) return true;
  console_printf("Error writing '%s'", name);
  return false;
}

std::string object_path(const char* track_dir, const char* name) {
  return std::string("@") + track_dir + "/" + name;
}

std::string name_or_none(const char* name) { return strcmp(name, "null") == 0 ? std::string() : name; }
const char* shown(const std::string& name) { return name.empty() ? "null" : name.c_str(); }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int bucket_of(double v) { return std::clamp(static_cast<int>(std::floor(v)), 0, OBJECT_BUCKETS - 1); }

void clear_grid(BucketGrid& grid) {
  for (auto& row : grid) {
    for (auto& cell : row) cell.clear();
  }
}

// Enters index i into every bucket of columns c0..c1 and rows r0..r1 (grid[row][column]).
void enter(BucketGrid& grid, int32_t i, int c0, int c1, int r0, int r1) {
  for (int r = r0; r <= r1; ++r) {
    for (int c = c0; c <= c1; ++c) grid[r][c].push_back(i);
  }
}

void normalise(float v[3]) {
  const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (length > 0) {
    for (int i = 0; i < 3; ++i) v[i] /= length;
  }
}

void cross(const float a[3], const float b[3], float out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// Reads `count` texture names; false when the file ends or a name is missing.
bool read_names(VfsFile* file, std::string* names, int* textures, int count) {
  static char name[1024];
  for (int i = 0; i < count; ++i) {
    if (vfs_scanf(file, " %1023s ", name) != 1) return false;
    names[i] = name;
  }
  for (int i = 0; i < count; ++i) textures[i] = track_texture_load(names[i].c_str());
  return true;
}

void set_flagger_texture(int32_t billboard, int texture, const std::string& name) {
  if (billboard < 0 || billboard >= static_cast<int32_t>(track_objects.billboards.size())) return;
  Billboard& b = track_objects.billboards[billboard];
  b.texture = texture;
  b.texture_name = name;
}

}  // namespace

void objects_reset(const Terrain* terrain) {
  track_objects.terrain = terrain;
  track_objects.billboards.clear();
  track_objects.statues.clear();
  track_objects.decals.clear();
  track_objects.decal_list = false;
  track_objects.start_flagger = StartFlagger{};
  track_objects.start_flagger.billboard = -1;
  track_objects.finish_flagger = FinishFlagger{};
  track_objects.finish_flagger.billboard = -1;
  track_objects.course_flaggers.clear();
  track_objects.first_track_billboard = track_objects.first_track_statue = 0;
  clear_grid(track_objects.statue_buckets);
  clear_grid(track_objects.decal_buckets);
  track_objects.map_texture = 0;
}

void statue_set_shape_loader(StatueShapeLoader loader) { shape_loader = loader; }
void statue_set_shape_releaser(StatueShapeReleaser releaser) { shape_releaser = releaser; }
void statue_set_use_shaders(bool on) { use_shaders = on; }

bool billboard_tint(const char* name, uint8_t rgb[3], const char** rest) {
  if (name[0] != '#') return false;
  int digits[6];
  for (int i = 0; i < 6; ++i) {
    digits[i] = hex_digit(name[1 + i]);
    if (digits[i] < 0) return false;
  }
  if (name[7] != '#' || name[8] == 0) return false;
  for (int i = 0; i < 3; ++i) rgb[i] = static_cast<uint8_t>(digits[2 * i] * 16 + digits[2 * i + 1]);
  *rest = name + 8;
  return true;
}

int32_t billboard_add(float x, float height_above_ground, float z, float height, float aspect,
                      const char* texture_name) {
  Billboard b{};
  b.r = b.g = b.b = b.a = 255;
  const char* name = texture_name ? texture_name : "";
  uint8_t rgb[3];
  const char* rest;
  if (billboard_tint(name, rgb, &rest)) {
    b.r = rgb[0];
    b.g = rgb[1];
    b.b = rgb[2];
    name = rest;
  }
  b.texture_name = name;
  b.texture = *name ? track_texture_load(name) : 0;
  b.x = x;
  b.z = z;
  b.height_offset = height_above_ground;
  b.y = ground_height(x, z) + height_above_ground;
  b.height = height;
  b.aspect = aspect;
  track_objects.billboards.push_back(b);
  return static_cast<int32_t>(track_objects.billboards.size()) - 1;
}

std::vector<std::string> statue_map_names(const std::string& texture, const std::string& model, const char* kind) {
  std::vector<std::string> names;
  static const char* const EXTENSIONS[] = {".seq", ".png", ".ppm"};
  auto ends_with = [](const std::string& s, const char* tail) {
    const size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
  };
  if (!texture.empty()) {
    const bool repeat = ends_with(texture, "-repeat.png") || ends_with(texture, "-repeat.ppm") ||
                        ends_with(texture, "-repeat.seq");
    const size_t cut = texture.rfind(repeat ? '-' : '.');
    const std::string stem = texture.substr(0, cut == std::string::npos ? texture.size() : cut);
    for (const char* ext : EXTENSIONS) names.push_back(stem + kind + (repeat ? "-repeat" : "") + ext);
  }
  if (!model.empty()) {
    const size_t cut = model.rfind('.');
    const std::string stem = model.substr(0, cut == std::string::npos ? model.size() : cut);
    for (const char* ext : EXTENSIONS) names.push_back(stem + kind + ext);
  }
  return names;
}

void statue_orient(Statue& s) {
  float* m = s.orientation;
  if (s.yaw >= STATUE_FACING_YAW) {
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(identity, identity + 9, m);
    s.facing_scale = std::exp2(s.yaw);
    return;
  }
  s.facing_scale = 0;
  float x_axis[3] = {std::cos(s.yaw), 0, -std::sin(s.yaw)};
  float up[3] = {0, 1, 0};
  if (s.yaw > -2 * static_cast<float>(M_PI)) {
    // Lean with the ground: the normal of the slope through (x, z), (x + 1, z), (x, z + 1).
    const float h = ground_height(s.x, s.z);
    up[0] = -(ground_height(s.x + 1, s.z) - h);
    up[2] = -(ground_height(s.x, s.z + 1) - h);
    normalise(up);
  }
  float z_axis[3];
  cross(x_axis, up, z_axis);
  normalise(z_axis);
  cross(up, z_axis, x_axis);
  normalise(x_axis);
  for (int row = 0; row < 3; ++row) {
    m[row * 3 + 0] = x_axis[row];
    m[row * 3 + 1] = up[row];
    m[row * 3 + 2] = z_axis[row];
  }
}

void statue_place(Statue& s) {
  s.y = ground_height(s.x, s.z) + s.height_offset;
  statue_orient(s);
}

void statue_remove(int32_t index) {
  auto& all = track_objects.statues;
  if (index < 0 || size_t(index) >= all.size()) return;
  if (all[size_t(index)].shape && shape_releaser) shape_releaser(all[size_t(index)].shape);
  all.erase(all.begin() + index);
}

int32_t statue_add(float x, float height_above_ground, float z, float yaw, const char* model_name,
                   const char* texture_name, const char* shape_name) {
  Statue s{};
  s.model_name = model_name ? model_name : "";
  s.texture_name = texture_name ? texture_name : "";
  s.shape_name = shape_name ? shape_name : "";
  s.texture = s.texture_name.empty() ? 0 : track_texture_load(s.texture_name.c_str());
  if (use_shaders) {
    for (const std::string& name : statue_map_names(s.texture_name, s.model_name, "_norm")) {
      if ((s.normal_map = track_texture_load(name.c_str())) != 0) break;
    }
    for (const std::string& name : statue_map_names(s.texture_name, s.model_name, "_spec")) {
      if ((s.spec_map = track_texture_load(name.c_str())) != 0) break;
    }
  }
  if (!s.shape_name.empty() && shape_loader) {
    s.shape = shape_loader(s.shape_name.c_str(), &s.shape_radius);
    if (!s.shape) console_printf("Warning: missing shape file %.900s", s.shape_name.c_str());
  }
  s.x = x;
  s.z = z;
  s.height_offset = height_above_ground;
  s.yaw = yaw;
  statue_place(s);
  track_objects.statues.push_back(s);
  return static_cast<int32_t>(track_objects.statues.size()) - 1;
}

void billboards_read(const char* track_dir) {
  VfsFile* file = vfs_open(object_path(track_dir, "billboards").c_str(), "rb");
  if (!file) return;
  float x, h, z, height, aspect;
  static char name[1024];
  while (vfs_scanf(file, "[ %f %f %f ] %f %f %1023s ", &x, &h, &z, &height, &aspect, name) == 6) {
    billboard_add(x, h, z, height, aspect, name);
  }
  vfs_close(file);
}

void statues_read(const char* track_dir) {
  VfsFile* file = vfs_open(object_path(track_dir, "statues").c_str(), "rb");
  if (!file) return;
  float x, h, z, yaw;
  static char model[1024], texture[1024], shape[1024];
  while (vfs_scanf(file, "[ %f %f %f ] %f %1023s %1023s %1023s ", &x, &h, &z, &yaw, model, texture,
                   shape) == 7) {
    statue_add(x, h, z, yaw, name_or_none(model).c_str(), name_or_none(texture).c_str(),
               name_or_none(shape).c_str());
  }
  vfs_close(file);
}

void flaggers_read(const char* track_dir, int checkpoint_count) {
  VfsFile* file = vfs_open(object_path(track_dir, "flaggers").c_str(), "rb");
  if (!file) return;
  StartFlagger& start = track_objects.start_flagger;
  float height, aspect;
  start.walk_time = 1;
  const int read = vfs_scanf(file, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &start.first[0], &start.first[1],
                             &start.first[2], &start.second[0], &start.second[1], &start.second[2], &height,
                             &aspect, &start.walk_time);
  if (read < 8 || !read_names(file, start.slots, start.textures, 5)) {
    vfs_close(file);
    return;
  }
  start.billboard = billboard_add(start.first[0], start.first[1], start.first[2], height, aspect,
                                  start.slots[0].c_str());
  FinishFlagger& finish = track_objects.finish_flagger;
  float p[3];
  if (vfs_scanf(file, " [ %f %f %f ] %f %f ", &p[0], &p[1], &p[2], &height, &aspect) != 5 ||
      !read_names(file, finish.slots, finish.textures, 4)) {
    vfs_close(file);
    return;
  }
  finish.billboard = billboard_add(p[0], p[1], p[2], height, aspect, finish.slots[0].c_str());
  for (;;) {
    CourseFlagger c{};
    if (vfs_scanf(file, " [ %f %f %f ] %f %f %d %d %d %d", &p[0], &p[1], &p[2], &height, &aspect, &c.gates[0],
                  &c.gates[1], &c.gates[2], &c.gates[3]) != 9) {
      break;
    }
    std::string names[2];
    int textures[2];
    if (!read_names(file, names, textures, 2)) break;
    const int last = std::min(checkpoint_count, FLAGGER_GATE_MAX) - 1;
    for (int32_t& g : c.gates) g = std::clamp(g, -1, std::max(last, -1));
    c.idle = names[0];
    c.waving = names[1];
    c.idle_texture = textures[0];
    c.waving_texture = textures[1];
    c.billboard = billboard_add(p[0], p[1], p[2], height, aspect, c.idle.c_str());
    track_objects.course_flaggers.push_back(c);
  }
  vfs_close(file);
}

void decals_read(const char* track_dir, bool use_normal_map) {
  VfsFile* file = vfs_open(object_path(track_dir, "decals").c_str(), "rb");
  if (!file) return;
  track_objects.decal_list = true;
  Decal d{};
  static char name[1024];
  while (vfs_scanf(file, "[ %f %f ] %f %f %f %1023s ", &d.x, &d.z, &d.angle, &d.size, &d.aspect, name) == 6) {
    d.texture_name = name;
    d.texture = track_texture_load(name);
    d.normal_texture = d.spec_texture = 0;
    if (use_normal_map) {
      const size_t dot = d.texture_name.rfind('.');
      const std::string stem = d.texture_name.substr(0, dot == std::string::npos ? d.texture_name.size() : dot);
      d.normal_texture = track_texture_load((stem + "_tnorm.png").c_str());
      if (!d.normal_texture) d.normal_texture = track_texture_load((stem + "_tnorm.ppm").c_str());
      d.spec_texture = track_texture_load((stem + "_tspec.png").c_str());
      if (!d.spec_texture) d.spec_texture = track_texture_load((stem + "_tspec.ppm").c_str());
    }
    d.sin_angle = std::sin(d.angle);
    d.cos_angle = std::cos(d.angle);
    track_objects.decals.push_back(d);
  }
  vfs_close(file);
}

void map_load(const char* track_dir) {
  track_objects.map_texture = track_texture_load(object_path(track_dir, "map.png").c_str());
}

void objects_mark_track_start() {
  track_objects.first_track_billboard = static_cast<int32_t>(track_objects.billboards.size());
  track_objects.first_track_statue = static_cast<int32_t>(track_objects.statues.size());
}

bool billboards_save(const char* track_dir) {
  ReplaceSet set;
  VfsFile* file = replace_open(set, object_path(track_dir, "billboards").c_str());
  if (!file) {
    console_print("Can't open 'billboards'\n");
    return false;
  }
  const auto& all = track_objects.billboards;
  for (size_t i = std::max<int32_t>(track_objects.first_track_billboard, 0); i < all.size(); ++i) {
    const Billboard& b = all[i];
    if (b.texture_name.empty()) continue;
    vfs_printf(file, "[%f %f %f] %f %f ", b.x, b.height_offset, b.z, b.height, b.aspect);
    if (b.r == 255 && b.g == 255 && b.b == 255) {
      vfs_printf(file, "%s\n", b.texture_name.c_str());
    } else {
      vfs_printf(file, "#%02x%02x%02x#%s\n", b.r, b.g, b.b, b.texture_name.c_str());
    }
  }
  return finish_saving(set, file, "billboards");
}

bool statues_save(const char* track_dir) {
  ReplaceSet set;
  VfsFile* file = replace_open(set, object_path(track_dir, "statues").c_str());
  if (!file) {
    console_print("Can't open 'statues'\n");
    return false;
  }
  const auto& all = track_objects.statues;
  for (size_t i = std::max<int32_t>(track_objects.first_track_statue, 0); i < all.size(); ++i) {
    const Statue& s = all[i];
    vfs_printf(file, "[%f %f %f] %f %s %s %s\n", s.x, s.height_offset, s.z, s.yaw, shown(s.model_name),
               shown(s.texture_name), shown(s.shape_name));
  }
  return finish_saving(set, file, "statues");
}

bool decals_save(const char* track_dir) {
  if (!track_objects.decal_list) return true;
  ReplaceSet set;
  VfsFile* file = replace_open(set, object_path(track_dir, "decals").c_str());
  if (!file) {
    console_print("Can't open 'decals'");
    return false;
  }
  for (const Decal& d : track_objects.decals)
    vfs_printf(file, "[%f %f] %f %f %f %s\n", d.x, d.z, d.angle, d.size, d.aspect, d.texture_name.c_str());
  return finish_saving(set, file, "decals");
}

void statue_buckets_build(float extent) {
  clear_grid(track_objects.statue_buckets);
  if (!(extent > 0)) return;
  // The grid spans the middle three quarters of the field; outside it the edge buckets hold.
  auto cell = [extent](float v) { return bucket_of((v / extent - 0.125) * 4.0 / 3.0 * OBJECT_BUCKETS); };
  for (size_t i = 0; i < track_objects.statues.size(); ++i) {
    const Statue& s = track_objects.statues[i];
    if (!s.shape) continue;
    const float r = s.shape_radius;
    enter(track_objects.statue_buckets, static_cast<int32_t>(i), cell(s.x - r), cell(s.x + r), cell(s.z - r),
          cell(s.z + r));
  }
}

void decal_buckets_build(float extent) {
  clear_grid(track_objects.decal_buckets);
  if (!(extent > 0)) return;
  auto cell = [extent](float v) { return bucket_of(v / extent * OBJECT_BUCKETS); };
  for (size_t i = 0; i < track_objects.decals.size(); ++i) {
    const Decal& d = track_objects.decals[i];
    const float half = d.size / 2;
    const float hx = std::fabs(d.cos_angle * half) + std::fabs(d.sin_angle * d.aspect * half);
    const float hz = std::fabs(d.sin_angle * half) + std::fabs(d.cos_angle * d.aspect * half);
    enter(track_objects.decal_buckets, static_cast<int32_t>(i), cell(d.x - hx), cell(d.x + hx), cell(d.z - hz),
          cell(d.z + hz));
  }
}

void flaggers_update(const FlaggerRace& race) {
  StartFlagger& start = track_objects.start_flagger;
  if (start.billboard >= 0 && start.billboard < static_cast<int32_t>(track_objects.billboards.size())) {
    const double T = std::floor(race.start_time), t = race.now, w = start.walk_time;
    const double k = w > 0 ? std::clamp((t - (T + 1)) / w, 0.0, 1.0) : (t >= T + 1 ? 1.0 : 0.0);
    Billboard& b = track_objects.billboards[start.billboard];
    float p[3];
    for (int i = 0; i < 3; ++i) p[i] = static_cast<float>(start.first[i] + k * (start.second[i] - start.first[i]));
    b.x = p[0];
    b.z = p[2];
    b.height_offset = p[1];
    b.y = ground_height(p[0], p[2]) + p[1];
    int slot = 3;
    if (t < T + 0.1) slot = 0;
    else if (t < T + 0.4) slot = 1;
    else if (t < T + 1) slot = 2;
    else if (t >= T + 1 + w) slot = 4;
    if (slot != start.slot || b.texture_name != start.slots[slot]) {
      start.slot = slot;
      set_flagger_texture(start.billboard, start.textures[slot], start.slots[slot]);
    }
  }
  FinishFlagger& finish = track_objects.finish_flagger;
  if (finish.billboard >= 0) {
    const int32_t a = race.leader_laps, l = race.flag_laps;
    int slot = 0;
    if (a >= l) slot = 3;
    else if (a == l - 1) slot = 2;
    else if (a == race.designated_lap) slot = 1;
    if (slot != finish.slot) {
      finish.slot = slot;
      set_flagger_texture(finish.billboard, finish.textures[slot], finish.slots[slot]);
    }
  }
  for (CourseFlagger& c : track_objects.course_flaggers) {
    bool waving = false;
    for (int32_t g : c.gates) {
      if (g >= 0 && g < FLAGGER_GATE_MAX && race.gate_down && race.gate_down[g]) waving = true;
    }
    if (waving != c.waving_now) {
      c.waving_now = waving;
      set_flagger_texture(c.billboard, waving ? c.waving_texture : c.idle_texture, waving ? c.waving : c.idle);
    }
  }
}
