// The default track's ground: natural terrain around Rabbit Hill with the course cut and built
// into it, the ground-tile map and the cast shadows of the track's sun.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/data/course.h"

// Field size: level 9 gives P = 1025 samples a side; at 1.5 ft spacing the field is 1536 ft
// square and a jump face of 15 ft spans ten samples.
constexpr int GROUND_LEVEL = 9;
constexpr int GROUND_SIZE = (1 << (GROUND_LEVEL + 1)) + 1;
constexpr int GROUND_TILES = 1 << GROUND_LEVEL;
constexpr float GROUND_SPACING = 1.5f;
constexpr float GROUND_EXTENT = GROUND_SPACING * (GROUND_SIZE - 1);
// Height code range: 65535 codes of 0.002 ft. The start pad lies at exactly 0 ft (code 15000),
// the lowest ground a good 20 ft above min, the highest jump some 60 ft below max.
constexpr float GROUND_MIN_HEIGHT = -30.0f;
constexpr float GROUND_MAX_HEIGHT = 101.07f;

// Ground tiles, plain ones first, then alternative looks.
enum GroundTileIndex : uint8_t {
  TILE_DIRT = 0,      // groomed track dirt
  TILE_BERM = 1,      // loose dirt pushed up in the bends
  TILE_GRASS = 2,
  TILE_HARDPACK = 3,  // the start pad
  TILE_DIRT_ALT = 4,
  TILE_GRASS_ALT = 5,
  TILE_KINDS = 6,
};

// What the course puts at a grid point: which path is nearest and where on it.
struct GroundNear {
  float dist2;  // squared distance to the centre line (ft^2); large when none is near
  float s;      // distance along that path (ft)
  float lat;    // signed distance from the centre line, > 0 on the rider's left (ft)
};

struct Ground {
  std::vector<float> heights;      // P * P, row-major, ft
  std::vector<uint16_t> codes;     // the same quantised into the file's code range
  std::vector<uint8_t> tilemap;    // GROUND_TILES^2
  std::vector<uint8_t> shadow;     // P * P, 0 = lit, 255 = fully in shadow
  std::vector<GroundNear> loop_near, start_near;  // P * P each
};

// The undisturbed ground at (x, z), ft.
float ground_natural_height(float x, float z);

// Builds heights, codes and the tile map for the course.
void ground_build(const Course& course, Ground* ground);

// Height at (x, z) on the quantised field, interpolated over the cell's triangles the way the
// game samples it.
float ground_height_at(const Ground& ground, float x, float z);

// Casts shadows of the sun direction (unit vector toward the sun) over the field.
void ground_cast_shadows(Ground* ground, const float sun[3]);

// Distance from the track edge at a grid point: < 0 on the track, > 0 outside (ft).
float ground_edge_distance(const Course& course, const Ground& ground, int col, int row);
