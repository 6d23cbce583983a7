// The terrain's level-of-detail tree: a quadtree over the height field whose nodes carry an
// error sphere (squared radius, ft^2) around their centre. A node is split while the camera is
// inside its sphere. Errors nest (every sphere holds its children's and its neighbours'
// children's), so the drawn mesh has no cracks. GL-free: the drawing lives elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Terrain;

// Unlimited work for terrain_errors_update (at load and after a full reset).
constexpr long TERRAIN_ERRORS_UNLIMITED = -1;
// Work per drawn frame, in points scanned (each triangle costs 10 more).
constexpr long TERRAIN_ERRORS_FRAME_BUDGET = 8000;

struct TerrainLod {
  int level = -1;            // n of the terrain: levels 0..n of nodes
  std::vector<float> front;  // errors used for drawing
  std::vector<float> back;   // errors being computed
  bool have_front = false;   // a pass has completed
  uint32_t front_version = 0;  // geometry version the front errors were computed for
  // Where an interrupted pass stands.
  bool working = false;
  uint32_t work_version = 0;
  int work_level = 0;
  int work_node = 0;      // j + k * 2^level within the level
  int work_triangle = 0;  // 0 or 1
  int work_row = 0;       // offset of the next row inside the node
  float work_max = 0;     // largest height difference so far (ft)
};

// Index of node (i, j, k): the nodes of level i follow those of the smaller levels, row by row.
inline size_t terrain_node_index(int i, int j, int k) {
  return ((size_t{1} << (2 * i)) - 1) / 3 + (static_cast<size_t>(k) << i) + static_cast<size_t>(j);
}
inline size_t terrain_node_count(int level) { return ((size_t{1} << (2 * (level + 1))) - 1) / 3; }

// Sizes the tree for the terrain; the first pass is still to run.
void terrain_lod_init(TerrainLod* lod, const Terrain* terrain);

// Continues (or starts) the computation of the node errors for the terrain's current geometry
// with the detail tolerance (the terrain detail scale of the render parameters: a height error
// of one tolerance widens the sphere by 1 ft) and the given budget. Returns
// true when the front errors belong to the current geometry; until then the previous ones stay
// in use.
bool terrain_errors_update(TerrainLod* lod, const Terrain* terrain, float tolerance, long budget);

// Clipmap levels of ground texture tiles: level L has a window of 4 x 4 tiles, each covering
// 2^(L+1) x 2^(L+1) grid cells, kept around the camera's grid cell.
constexpr int TERRAIN_CLIP_LEVELS = 6;
constexpr int TERRAIN_CLIP_WINDOW = 4;  // tiles a side
// The tile coordinate of the window's corner along one axis for the camera's grid cell
// (centre) on a terrain of level n; windows stay inside the field.
int terrain_clip_origin(int centre, int clip_level, int terrain_level);
