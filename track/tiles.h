// Ground tiles: the surface parameters of each kind of ground (friction and rolling-resistance
// curves, roost, erosion) with its texture, read from a track's "tileinfo" or "texturelist".
#pragma once

#include <cstdint>

struct Terrain;
struct VfsFile;

constexpr int GROUND_TILE_MAX = 256;
constexpr int TILE_NAME_MAX = 47;
constexpr int TILE_CURVE_POINTS = 8;
constexpr int TILE_ROOST_TYPES = 4;
constexpr int ERODE_LIMIT_POINTS = 8;
// The smallest speed a curve point may have; speed 0 ends a curve (ft/s).
constexpr float TILE_SPEED_MIN = 9.536743e-7f;

// Friction coefficient reached at a wheel slip speed (ft/s).
struct FrictionPoint {
  float coefficient;
  float speed;
};

// Rolling-resistance terms a and b at a speed (ft/s).
struct RollResistPoint {
  float a;
  float b;
  float speed;
};

enum RoostMode { ROOST_NONE = 0, ROOST_DIRT = 1, ROOST_SPLASH = 2 };

// One kind of dirt thrown up by a spinning wheel.
struct RoostType {
  int32_t mode;     // RoostMode
  int32_t texture;  // texture id, 0 when none is loaded
  float count;
  float dig;
  float slip_threshold;  // ft/s
  float slow_angle;      // rad
  float fast_angle;      // rad
  float slow_speed;      // ft/s
  float fast_speed;      // ft/s
  float size;            // ft
  float grow;
  float drag;
  float vscale;
  float randomize;
  uint8_t r, g, b, a;
  uint8_t fade_r, fade_g, fade_b, fade_a;  // change per step, taken as signed by the particles
  const char* texture_name;                // interned
};

// How a tile's ground gives way under the wheels: 44 four-byte words in file order.
struct ErodeParams {
  float depth;
  float lower;
  float upper;
  float displacement;
  float radius;
  float inner_depth;
  float inner_radius;
  float min_slope;
  float max_slope;
  float off_speed;
  float on_speed;
  float slip_lower;
  float slip_upper;
  float slip_base_scale;
  float slip_scale;
  float downhill_scale;
  // Depth limit table: depths strictly increasing, with two factor columns.
  float limit_depth[ERODE_LIMIT_POINTS];
  float limit_first[ERODE_LIMIT_POINTS];
  float limit_second[ERODE_LIMIT_POINTS];
  float project_to_ground;
  float lateral_scale;
  float front_scale;
  int32_t limit_count;
};
static_assert(sizeof(ErodeParams) == 44 * 4, "erosion parameters are 44 words");

struct GroundTile {
  char name[TILE_NAME_MAX + 1];
  int32_t texture;           // texture id, 0 when none is loaded
  const char* texture_name;  // interned, null without a texture
  // Curves sorted by ascending speed; each ends at the first point whose speed is 0.
  FrictionPoint friction[TILE_CURVE_POINTS];
  RollResistPoint roll_resist[TILE_CURVE_POINTS];
  RoostType roost[TILE_ROOST_TYPES];
  ErodeParams erode;
  // Byte 2: base tile; byte 1: the tile it blends into; low 4 bits: corner mask.
  uint32_t transition;
};

// The defaults of a tile before any line of its description applies (one friction point
// (1, 1), one rolling-resistance point (5, 15, 1), four roost entries in mode 0, erosion
// defaults with an empty limit table).
void ground_tile_defaults(GroundTile* tile);
RoostType roost_type_defaults();
ErodeParams erode_params_defaults();

// Parses an open "tileinfo" into the terrain's tile table and sets tile_count. Problems are
// warnings on the console and the line is skipped; reading never fails.
bool tileinfo_read(Terrain* terrain, VfsFile* stream);
// The older one-line-per-tile form, used when "tileinfo" is missing.
void texturelist_read(Terrain* terrain, VfsFile* stream);

// Computes every tile's transition code from the texture base names (text after the last '/',
// without a leading '@'). base_names holds one name per tile, null for a tile without texture.
void tiles_compute_transitions(Terrain* terrain, const char* const* base_names);
