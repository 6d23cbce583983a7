// The loaded track's ground: a square height field cut into triangles, with its baked shading,
// shadows, ground-tile map, cached triangle normals and the change tracking that erosion and
// the editor rely on. Sampling here runs many times per physics step: no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "track/tiles.h"

// Largest level accepted from a file: P = 4097 samples a side. The arrays of a larger field
// would take gigabytes; such a header is refused as bad parameters.
constexpr int TERRAIN_LEVEL_MAX = 11;
// Bits of Terrain::changed, one per consumer; every height change sets all of them.
constexpr uint8_t TERRAIN_CHANGED_ALL = 7;
constexpr int TRACK_DIR_MAX = 512;

struct Vec3f {
  float x, y, z;
};

// One bit per sample or triangle; a set bit marks a stale entry.
struct TerrainBits {
  uint64_t* words;
  size_t count;
};

inline bool terrain_bit(const TerrainBits& bits, size_t i) {
  return (bits.words[i >> 6] >> (i & 63)) & 1;
}
inline void terrain_bit_set(TerrainBits& bits, size_t i) {
  bits.words[i >> 6] |= uint64_t{1} << (i & 63);
}
inline void terrain_bit_clear(TerrainBits& bits, size_t i) {
  bits.words[i >> 6] &= ~(uint64_t{1} << (i & 63));
}

// What the terrain renderer builds over a loaded field (level-of-detail tree, low-detail and
// clipmap textures). Owned and defined by the renderer; null while nothing is drawn.
struct TerrainRender;

// The renderer's entry points into loading, marking and freeing. Headless programs install
// none, so no renderer structure is made.
struct TerrainRenderHooks {
  // True when the ground is drawn with shader programs (then the per-point normal map is kept
  // for rendering methods 2 and 3 with dynamic lighting).
  bool shaders;
  // Called once the heights, shading, shadows, tiles and tile map are loaded: builds the
  // level-of-detail tree and the ground textures into terrain->render. False fails the load.
  bool (*create)(struct Terrain* terrain);
  // The ground texture over a rectangle of grid points must be redrawn.
  void (*mark_region)(struct Terrain* terrain, int col0, int row0, int col1, int row1);
  // Deletes terrain->render and every texture it made.
  void (*free)(struct Terrain* terrain);
};
void terrain_set_render_hooks(const TerrainRenderHooks* hooks);
const TerrainRenderHooks* terrain_render_hooks();

struct Terrain {
  int level;          // n: the tile map is 2^n x 2^n
  int grid_size;      // P = 2^(n+1) + 1 samples a side
  float spacing;      // s, ft between neighbouring samples
  float extent;       // s * (P - 1), ft
  float min_height;   // ft; widened by terrain_set_height, recomputed on save
  float max_height;   // ft
  float* heights;       // P * P, row-major: sample (col, row) is row * P + col
  float* base_heights;  // heights as loaded; never changed afterwards
  uint8_t* shading;     // P * P * 3, half scale: 128 = 1.0, 255 = 2.0
  uint8_t* shadows;     // P * P, 0 = fully lit, 255 = fully shadowed
  uint8_t* normal_map;  // P * P * 3 when use_normal_map: normal x, lit value, normal z
  bool use_normal_map;
  uint8_t* tilemap;     // 2^n * 2^n tile indices, one per 2 x 2 cells, each < tile_count
  int tile_count;
  GroundTile tiles[GROUND_TILE_MAX];
  float* triangle_normals;  // 3 floats per triangle, 2 (P - 1)^2 triangles
  TerrainBits triangle_dirty;
  TerrainBits shading_dirty;
  TerrainBits normals_dirty;  // words null unless use_normal_map
  bool height_lock;           // while set, terrain_set_height does nothing
  uint8_t changed;            // TERRAIN_CHANGED_ALL after any height change
  uint32_t geometry_version;  // raised by every height change (the renderer's error pass)
  int render_method;          // 1 sub-image writes, 2 frame-buffer copy, 3 framebuffer objects
  char track_dir[TRACK_DIR_MAX];  // the track's directory name, without "@"
  TerrainRender* render;
};

// Triangulation. Cell (i, j) spans columns i..i+1 and rows j..j+1; its diagonal joins (i, j)
// and (i+1, j+1) when i + j is even, else (i+1, j) and (i, j+1). Its two triangles are numbers
// 2i (the one along row j) and 2i + 1 (along row j + 1) of cell row j, so triangle t of cell
// row j has index j * (2P - 2) + t.
inline int terrain_triangle_index(const Terrain* terrain, int t, int row) {
  return row * (2 * terrain->grid_size - 2) + t;
}
int terrain_triangle_count(const Terrain* terrain);
// Grid points (col, row) of a triangle's corners; corner 0 has the right angle, corner 1
// shares its row and corner 2 its column.
void terrain_triangle_corners(const Terrain* terrain, int index, int cols[3], int rows[3]);

// Makes an in-memory field of the given level and spacing, flat at min_height, with every
// per-sample array, one default ground tile and an all-zero tile map; the record must be empty
// (as terrain_free leaves it). False when the level is out of range or memory runs out.
bool terrain_allocate(Terrain* terrain, int level, float spacing, float min_height, float max_height);

// Loads the terrain of a track directory (as named in the track list; its files are opened as
// "@" + track_dir + "/" + name): heights, shading, shadows, tile table, tile map, decals.
// method is the ground texture rendering method 1-3. On failure everything is freed, the
// console says why and the result is false.
bool terrain_load(Terrain* terrain, const char* track_dir, int method);
// Writes terrain.hf (header only), terrain.png, shading.ppm, shadingx2.ppm and tilemap into the
// track directory under the home directory, then the decals when the track has a decal list.
// The ground files replace the old ones together, and only once all were written: a failed
// save leaves the previous files. True only when every file was written.
bool terrain_save(Terrain* terrain);
// Releases everything and leaves the record empty.
void terrain_free(Terrain* terrain);

// Sampling. Coordinates in ft; outside the field the edge heights continue.
float terrain_height_at(const Terrain* terrain, float x, float z);
// The same over another P x P height array on this field's grid (the editor's baseline).
float terrain_surface_at(const Terrain* terrain, const float* heights, float x, float z);
// The same over base_heights: the ground as loaded.
float terrain_base_height_at(const Terrain* terrain, float x, float z);
// Upward normal of the triangle under (x, z), not normalised: y is s^2.
Vec3f terrain_normal_at(const Terrain* terrain, float x, float z);
int terrain_tile_at(const Terrain* terrain, float x, float z);

// The only way heights change after loading (erosion, editor). Marks shading, normals and
// triangles around the point dirty; ignored outside the grid or under height_lock.
void terrain_set_height(Terrain* terrain, int col, int row, float h);
// Unit normal at a grid point: the normalised sum of the touching triangles' unit normals.
Vec3f terrain_vertex_normal(Terrain* terrain, int col, int row);
// Unit normal of a triangle, refreshed first when its cached value is stale.
Vec3f terrain_triangle_normal(Terrain* terrain, int index);
// Shading of a grid point from the sun and ambient light of `lighting`, in half scale.
void terrain_point_shading(Terrain* terrain, int col, int row, uint8_t out[3]);
// Makes the per-point normal map (shader drawing): every entry computed, none dirty.
void terrain_create_normal_map(Terrain* terrain);
// Recomputes every dirty shading and normal-map entry.
void terrain_refresh_lighting(Terrain* terrain);
// Tells the renderer the ground texture over a rectangle of grid points must be redrawn.
void terrain_mark_region(Terrain* terrain, int col0, int row0, int col1, int row1);
