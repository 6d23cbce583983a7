// Ground-tile table readers: the key/value "tileinfo" file, the older "texturelist", and the
// transition codes worked out from texture names.
#include "track/tiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "core/loading.h"
#include "files/memory.h"
#include "files/vfs.h"
#include "track/line_scan.h"
#include "track/terrain.h"
#include "track/textures.h"

namespace {

constexpr int LINE_MAX = 1024;
const char* const ROOST_TEXTURE = "@roost.png";

// A tile being described, with how many points of each table its lines gave.
struct TileBuilder {
  GroundTile tile;
  int friction_count;
  int roll_count;
  int roost_count;
};

void builder_reset(TileBuilder* b) {
  ground_tile_defaults(&b->tile);
  b->friction_count = 0;
  b->roll_count = 0;
  b->roost_count = 0;
}

void warn(const char* text) {
  console_print(text);
}

// A number read from a file kept to the low 8 bits of its integer part.
uint8_t low_byte(float v) {
  double t = std::fmod(std::trunc(static_cast<double>(v)), 256.0);
  if (t < 0) t += 256;
  return static_cast<uint8_t>(t);
}

// The texture name with a leading '@' and everything up to the last '/' removed.
const char* base_name(const char* texture_name) {
  if (!texture_name) return "";
  const char* name = texture_name[0] == '@' ? texture_name + 1 : texture_name;
  const char* slash = strrchr(name, '/');
  return slash ? slash + 1 : name;
}

void set_tile_texture(GroundTile* tile, const char* name) {
  tile->texture_name = intern_string(name);
  tile->texture = track_texture_load(name);
}

void roost_activate(RoostType* roost, int mode) {
  roost->mode = mode;
  if (!roost->texture && roost->texture_name) roost->texture = track_texture_load(roost->texture_name);
}

struct ErodeKey {
  const char* key;
  float ErodeParams::*field;
};

const ErodeKey ERODE_KEYS[] = {
    {"erode_depth", &ErodeParams::depth},
    {"erode_lower", &ErodeParams::lower},
    {"erode_upper", &ErodeParams::upper},
    {"erode_displacement", &ErodeParams::displacement},
    {"erode_radius", &ErodeParams::radius},
    {"erode_inner_depth", &ErodeParams::inner_depth},
    {"erode_inner_radius", &ErodeParams::inner_radius},
    {"erode_min_slope", &ErodeParams::min_slope},
    {"erode_max_slope", &ErodeParams::max_slope},
    {"erode_off_speed", &ErodeParams::off_speed},
    {"erode_on_speed", &ErodeParams::on_speed},
    {"erode_slip_lower", &ErodeParams::slip_lower},
    {"erode_slip_upper", &ErodeParams::slip_upper},
    {"erode_slip_base_scale", &ErodeParams::slip_base_scale},
    {"erode_slip_scale", &ErodeParams::slip_scale},
    {"erode_downhill_scale", &ErodeParams::downhill_scale},
    {"erode_project_to_ground", &ErodeParams::project_to_ground},
    {"erode_lateral_scale", &ErodeParams::lateral_scale},
    {"erode_front_scale", &ErodeParams::front_scale},
};

enum RoostValue { ROOST_FLOAT, ROOST_COLOUR, ROOST_FADE };

struct RoostKey {
  const char* key;
  RoostValue kind;
  float RoostType::*number;
  uint8_t RoostType::*byte;
};

const RoostKey ROOST_KEYS[] = {
    {"count", ROOST_FLOAT, &RoostType::count, nullptr},
    {"dig", ROOST_FLOAT, &RoostType::dig, nullptr},
    {"slip_threshold", ROOST_FLOAT, &RoostType::slip_threshold, nullptr},
    {"slow_angle", ROOST_FLOAT, &RoostType::slow_angle, nullptr},
    {"fast_angle", ROOST_FLOAT, &RoostType::fast_angle, nullptr},
    {"slow_speed", ROOST_FLOAT, &RoostType::slow_speed, nullptr},
    {"fast_speed", ROOST_FLOAT, &RoostType::fast_speed, nullptr},
    {"size", ROOST_FLOAT, &RoostType::size, nullptr},
    {"grow", ROOST_FLOAT, &RoostType::grow, nullptr},
    {"drag", ROOST_FLOAT, &RoostType::drag, nullptr},
    {"vscale", ROOST_FLOAT, &RoostType::vscale, nullptr},
    {"randomize", ROOST_FLOAT, &RoostType::randomize, nullptr},
    {"r", ROOST_COLOUR, nullptr, &RoostType::r},
    {"g", ROOST_COLOUR, nullptr, &RoostType::g},
    {"b", ROOST_COLOUR, nullptr, &RoostType::b},
    {"a", ROOST_COLOUR, nullptr, &RoostType::a},
    {"fade_r", ROOST_FADE, nullptr, &RoostType::fade_r},
    {"fade_g", ROOST_FADE, nullptr, &RoostType::fade_g},
    {"fade_b", ROOST_FADE, nullptr, &RoostType::fade_b},
    {"fade_a", ROOST_FADE, nullptr, &RoostType::fade_a},
};

// Applies one "key=value" word of a roost line.
void roost_word(RoostType* roost, const char* word) {
  const char* equals = strchr(word, '=');
  size_t key_length = equals ? static_cast<size_t>(equals - word) : 0;
  const char* value = equals ? equals + 1 : "";
  auto is_key = [&](const char* key) { return equals && strlen(key) == key_length && !strncmp(word, key, key_length); };
  if (is_key("texture")) {
    roost->texture_name = intern_string(value);
    roost->texture = track_texture_load(value);
    return;
  }
  if (is_key("splash")) {
    float v = 0;
    const char* p = value;
    line_scan_real(&p, &v);
    if (v != 0) roost->mode = ROOST_SPLASH;
    return;
  }
  for (const RoostKey& k : ROOST_KEYS) {
    if (!is_key(k.key)) continue;
    float v = 0;
    const char* p = value;
    if (!line_scan_real(&p, &v)) {
      v = 0;
      char text[96];
      snprintf(text, sizeof text, "tileinfo warning: bad %s\n", k.key);
      warn(text);
    }
    if (k.kind == ROOST_FLOAT)
      roost->*k.number = v;
    else if (k.kind == ROOST_COLOUR)
      roost->*k.byte = low_byte(v);
    else
      roost->*k.byte = low_byte(v * (1.0f / 128.0f));
    return;
  }
  char text[96];
  snprintf(text, sizeof text, "tileinfo warning: unknown roost parameter '%.40s'\n", word);
  warn(text);
}

bool is_roost_separator(char c) {
  return c == ' ' || c == '\t' || c == '\f' || c == '\r' || c == '\n' || c == '\b';
}

// Splits a roost line into words (double quotes keep separators and are removed) and
// applies each.
void roost_line(RoostType* roost, const char* value) {
  char word[LINE_MAX];
  const char* p = value;
  while (*p) {
    while (*p && is_roost_separator(*p)) p++;
    if (!*p) break;
    size_t n = 0;
    bool quoted = false;
    while (*p && (quoted || !is_roost_separator(*p))) {
      if (*p == '"')
        quoted = !quoted;
      else if (n + 1 < sizeof word)
        word[n++] = *p;
      p++;
    }
    word[n] = 0;
    roost_word(roost, word);
  }
}

void add_friction(TileBuilder* b, const char* value) {
  if (b->friction_count == TILE_CURVE_POINTS) return warn("tileinfo warning: too many friction points\n");
  float coefficient, speed;
  if (line_scanf(value, "%f %f", &coefficient, &speed) < 2) return warn("tileinfo warning: bad friction parameters\n");
  if (b->friction_count == 0) memset(b->tile.friction, 0, sizeof b->tile.friction);
  b->tile.friction[b->friction_count++] = {std::max(coefficient, 0.0f), std::max(speed, TILE_SPEED_MIN)};
}

void add_roll_resist(TileBuilder* b, const char* value) {
  if (b->roll_count == TILE_CURVE_POINTS) return warn("tileinfo warning: too many roll_resist points\n");
  float a, bb, speed;
  if (line_scanf(value, "%f %f %f", &a, &bb, &speed) < 3) return warn("tileinfo warning: bad roll_resist parameters\n");
  if (b->roll_count == 0) memset(b->tile.roll_resist, 0, sizeof b->tile.roll_resist);
  b->tile.roll_resist[b->roll_count++] = {std::max(a, 0.0f), std::max(bb, 0.0f), std::max(speed, TILE_SPEED_MIN)};
}

void add_erode_limit(TileBuilder* b, const char* value) {
  ErodeParams& e = b->tile.erode;
  if (e.limit_count == ERODE_LIMIT_POINTS) return warn("tileinfo warning: too many erode limits\n");
  float depth, first, second;
  if (line_scanf(value, "%f %f %f", &depth, &first, &second) < 3) return warn("tileinfo warning: bad erode_limit\n");
  if (e.limit_count > 0 && depth <= e.limit_depth[e.limit_count - 1])
    return warn("tileinfo warning: erode_limit depth <= prev depth\n");
  e.limit_depth[e.limit_count] = depth;
  e.limit_first[e.limit_count] = first;
  e.limit_second[e.limit_count] = second;
  e.limit_count++;
}

void default_erode_limits(ErodeParams* e) {
  if (e->limit_count > 0) return;
  e->limit_depth[0] = 0, e->limit_first[0] = 1, e->limit_second[0] = 1;
  e->limit_depth[1] = 1, e->limit_first[1] = 0, e->limit_second[1] = 0;
  e->limit_count = 2;
}

// Stores the tile at the next index. Returns the new tile count.
int commit_tile(Terrain* terrain, TileBuilder* b, int count) {
  GroundTile& t = b->tile;
  if (!t.name[0] && t.texture_name) snprintf(t.name, sizeof t.name, "%s", t.texture_name);
  std::stable_sort(t.friction, t.friction + b->friction_count,
                   [](const FrictionPoint& x, const FrictionPoint& y) { return x.speed < y.speed; });
  std::stable_sort(t.roll_resist, t.roll_resist + b->roll_count,
                   [](const RollResistPoint& x, const RollResistPoint& y) { return x.speed < y.speed; });
  default_erode_limits(&t.erode);
  terrain->tiles[count] = t;
  builder_reset(b);
  return count + 1;
}

// One "tileinfo" line: key and value, with the builder's table updated.
// Returns the tile count after the line.
int tileinfo_line(Terrain* terrain, TileBuilder* b, char* line, int count) {
  char* p = line;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
  if (!*p) return count;
  char* key = p;
  while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') p++;
  char* key_end = p;
  while (*p == ' ' || *p == '\t') p++;
  char* value = p;
  value[strcspn(value, "\r\n")] = 0;
  *key_end = 0;

  if (!strcmp(key, "name")) {
    snprintf(b->tile.name, sizeof b->tile.name, "%s", value);
  } else if (!strcmp(key, "texture")) {
    set_tile_texture(&b->tile, value);
  } else if (!strcmp(key, "friction")) {
    add_friction(b, value);
  } else if (!strcmp(key, "roll_resist")) {
    add_roll_resist(b, value);
  } else if (!strcmp(key, "roost")) {
    if (b->roost_count == TILE_ROOST_TYPES) {
      warn("tileinfo warning: too many roost types\n");
    } else {
      RoostType* roost = &b->tile.roost[b->roost_count++];
      roost->mode = ROOST_DIRT;
      roost_line(roost, value);
      roost_activate(roost, roost->mode);
    }
  } else if (!strcmp(key, "erode_limit")) {
    add_erode_limit(b, value);
  } else if (!strcmp(key, "addtile")) {
    return commit_tile(terrain, b, count);
  } else {
    for (const ErodeKey& k : ERODE_KEYS) {
      if (strcmp(key, k.key)) continue;
      float v;
      if (line_scanf(value, "%f", &v) == 1) {
        b->tile.erode.*k.field = v;
      } else {
        char text[96];
        snprintf(text, sizeof text, "tileinfo warning: bad %s\n", k.key);
        warn(text);
      }
      return count;
    }
    char text[1024];
    snprintf(text, sizeof text, "tileinfo warning: Unknown identifier '%.950s'\n", key);
    warn(text);
  }
  return count;
}

void finish_table(Terrain* terrain, int count) {
  terrain->tile_count = count;
  const char* names[GROUND_TILE_MAX];
  for (int i = 0; i < count; i++) names[i] = terrain->tiles[i].texture_name;
  tiles_compute_transitions(terrain, names);
}

void reset_table(Terrain* terrain) {
  for (GroundTile& tile : terrain->tiles) ground_tile_defaults(&tile);
  terrain->tile_count = 0;
}

}  // namespace

RoostType roost_type_defaults() {
  RoostType r{};
  r.mode = ROOST_NONE;
  r.count = 10;
  r.dig = 1;
  r.slip_threshold = 4;
  r.slow_angle = 1.5707964f;
  r.fast_angle = 0.19634955f;
  r.slow_speed = 0;
  r.fast_speed = 64;
  r.size = 0.25f;
  r.grow = 4;
  r.drag = 0.5f;
  r.vscale = 1;
  r.randomize = 15;
  r.r = r.g = r.b = r.a = 255;
  r.fade_r = r.fade_g = r.fade_b = 0;
  r.fade_a = 254;
  static const char* const texture_name = intern_string(ROOST_TEXTURE);
  r.texture_name = texture_name;
  return r;
}

ErodeParams erode_params_defaults() {
  ErodeParams e{};
  e.depth = 1;
  e.lower = 50;
  e.upper = 150;
  e.displacement = 2;
  e.radius = 4;
  e.inner_depth = 0.125f;
  e.inner_radius = 2;
  e.min_slope = -0.5f;
  e.max_slope = 0.5f;
  e.off_speed = 10;
  e.on_speed = 15;
  e.slip_lower = 0;
  e.slip_upper = 5;
  e.slip_base_scale = 1;
  e.slip_scale = 1.5f;
  e.downhill_scale = 0;
  e.project_to_ground = 1;
  e.lateral_scale = 1;
  e.front_scale = 1;
  e.limit_count = 0;
  return e;
}

void ground_tile_defaults(GroundTile* tile) {
  *tile = GroundTile{};
  tile->friction[0] = {1, 1};
  tile->roll_resist[0] = {5, 15, 1};
  for (RoostType& r : tile->roost) r = roost_type_defaults();
  tile->erode = erode_params_defaults();
}

bool tileinfo_read(Terrain* terrain, VfsFile* stream) {
  reset_table(terrain);
  TileBuilder* b = static_cast<TileBuilder*>(mem_alloc_or_die(sizeof(TileBuilder)));
  builder_reset(b);
  int count = 0;
  char line[LINE_MAX];
  while (count < GROUND_TILE_MAX && vfs_gets(stream, line, sizeof line)) {
    loading_progress("Loading tileinfo");
    count = tileinfo_line(terrain, b, line, count);
  }
  mem_free(b);
  finish_table(terrain, count);
  return true;
}

void texturelist_read(Terrain* terrain, VfsFile* stream) {
  reset_table(terrain);
  int count = 0;
  char line[LINE_MAX];
  while (count < GROUND_TILE_MAX && vfs_gets(stream, line, sizeof line)) {
    char* p = line;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
    if (!*p) continue;
    // The line's end is its newline; a last line without one keeps all its characters.
    p[strcspn(p, "\r\n")] = 0;
    float friction = 1, a = 5, b = 15;
    int used = 0;
    if (line_scanf(p, "%f %f %f%n", &friction, &a, &b, &used) == 3) {
      p += used;
      while (*p == ' ' || *p == '\t') p++;
    } else {
      friction = 1, a = 5, b = 15;
    }
    GroundTile& tile = terrain->tiles[count++];
    ground_tile_defaults(&tile);
    tile.friction[0] = {friction, 1};
    tile.roll_resist[0] = {a, b, 1};
    roost_activate(&tile.roost[0], ROOST_DIRT);
    default_erode_limits(&tile.erode);
    char name[LINE_MAX + 1];
    snprintf(name, sizeof name, "@%s", p);
    set_tile_texture(&tile, name);
  }
  finish_table(terrain, count);
}

void tiles_compute_transitions(Terrain* terrain, const char* const* texture_names) {
  int count = terrain->tile_count;
  const char* base[GROUND_TILE_MAX];
  for (int i = 0; i < count; i++) base[i] = base_name(texture_names[i]);
  // First tile whose base name is the given prefix followed by '.'; -1 when none.
  auto find = [&](const char* prefix, size_t length) {
    for (int k = 0; k < count; k++)
      if (!strncmp(base[k], prefix, length) && base[k][length] == '.') return k;
    return -1;
  };
  for (int i = 0; i < count; i++) {
    uint32_t plain = (static_cast<uint32_t>(i) << 16) | (static_cast<uint32_t>(i) << 8);
    const char* s = base[i];
    const char* dash = strchr(s, '-');
    int k = dash ? find(s, static_cast<size_t>(dash - s)) : -1;
    if (k < 0) {
      terrain->tiles[i].transition = plain;
      continue;
    }
    uint32_t code_k = static_cast<uint32_t>(k) << 16;
    const char* rest = dash + 1;
    if (!strncmp(rest, "alt", 3) && rest[3] >= '0' && rest[3] <= '9') {
      terrain->tiles[i].transition = code_k | (static_cast<uint32_t>(k) << 8);
      continue;
    }
    const char* second = strchr(rest, '-');
    size_t b_length = second ? static_cast<size_t>(second - rest) : strlen(rest);
    int m = find(rest, b_length);
    if (m < 0) {
      terrain->tiles[i].transition = 0xFFFFFF00u;
      continue;
    }
    uint32_t code = code_k | (static_cast<uint32_t>(m) << 8);
    if (second) {
      const char* mask = second + 1;
      bool binary = true;
      uint32_t c = 0;
      for (int q = 0; q < 4 && binary; q++) {
        binary = mask[q] == '0' || mask[q] == '1';
        c = (c << 1) | (mask[q] == '1');
      }
      if (binary) code |= c;
    }
    terrain->tiles[i].transition = code;
  }
}
