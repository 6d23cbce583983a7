// Node errors of the terrain's level-of-detail tree, computed a budget at a time.
#include "render/terrain_lod.h"

#include <algorithm>
#include <cmath>

#include "track/terrain.h"

namespace {

// One triangle of a node treated as a single cell: its right-angled corner R, the corner M that
// shares R's row and the corner C that shares R's column (grid points).
struct NodeTriangle {
  int rc, rr, mc, cr;
};

// The node's two triangles, split along the chess-board diagonal as a cell of its size is.
NodeTriangle node_triangle(int c0, int r0, int size, bool odd, int t) {
  const int c1 = c0 + size, r1 = r0 + size;
  if (!odd) return t == 0 ? NodeTriangle{c1, r0, c0, r1} : NodeTriangle{c0, r1, c1, r0};
  return t == 0 ? NodeTriangle{c0, r0, c1, r1} : NodeTriangle{c1, r1, c0, r0};
}

float height(const Terrain* terrain, int col, int row) {
  return terrain->heights[static_cast<size_t>(row) * terrain->grid_size + col];
}

// The largest distance between the ground and the triangle's plane along one row of the
// triangle (row offset dr from the corner row R shares with M); returns the row's length.
int scan_row(const Terrain* terrain, const NodeTriangle& tri, int size, int dr, float* largest) {
  const int row = tri.cr > tri.rr ? tri.rr + dr : tri.rr - dr;
  const float hr = height(terrain, tri.rc, tri.rr);
  const float dm = height(terrain, tri.mc, tri.rr) - hr;
  const float dc = height(terrain, tri.rc, tri.cr) - hr;
  // The row runs from R's column towards M's, shrinking as it leaves R's row.
  const int length = size - dr;
  const int step = tri.mc > tri.rc ? 1 : -1;
  const float inv = 1.0f / static_cast<float>(size);
  for (int i = 0; i <= length; i++) {
    const int col = tri.rc + step * i;
    const float plane = hr + dm * (static_cast<float>(i) * inv) + dc * (static_cast<float>(dr) * inv);
    *largest = std::max(*largest, std::fabs(height(terrain, col, row) - plane));
  }
  return length + 1;
}

// The stored error of a level-(i+1) node, 0 outside the grid.
float child_error(const std::vector<float>& errors, int level, int j, int k) {
  const int side = 1 << level;
  if (j < 0 || k < 0 || j >= side || k >= side) return 0;
  return errors[terrain_node_index(level, j, k)];
}

void finish_node(TerrainLod* lod, const Terrain* terrain, int i, int j, int k, float largest, float tolerance) {
  const float extent = terrain->extent;
  const float radius = extent * std::ldexp(1.0f, -i) * std::sqrt(0.5f);
  float e = largest / tolerance + radius;
  e *= e;
  if (i < lod->level) {
    const std::vector<float>& b = lod->back;
    for (int dk = 0; dk < 2; dk++)
      for (int dj = 0; dj < 2; dj++) e = std::max(e, child_error(b, i + 1, 2 * j + dj, 2 * k + dk));
    static const int OUTSIDE[8][2] = {{0, -1}, {1, -1}, {2, 0}, {2, 1}, {1, 2}, {0, 2}, {-1, 1}, {-1, 0}};
    float g = 0;
    for (const auto& o : OUTSIDE) g = std::max(g, child_error(b, i + 1, 2 * j + o[0], 2 * k + o[1]));
    const float d = extent * std::ldexp(1.0f, -(i + 1)) * std::sqrt(10.0f) * 0.50048828125f;
    const float reach = std::sqrt(g) + d;
    e = std::max(e, reach * reach);
  }
  lod->back[terrain_node_index(i, j, k)] = e;
}

}  // namespace

void terrain_lod_init(TerrainLod* lod, const Terrain* terrain) {
  *lod = TerrainLod{};
  lod->level = terrain->level;
  lod->front.assign(terrain_node_count(terrain->level), 0);
  lod->back.assign(terrain_node_count(terrain->level), 0);
}

bool terrain_errors_update(TerrainLod* lod, const Terrain* terrain, float tolerance, long budget) {
  const uint32_t version = terrain->geometry_version;
  if (lod->have_front && lod->front_version == version) return true;
  if (!lod->working || lod->work_version != version) {
    lod->working = true;
    lod->work_version = version;
    lod->work_level = lod->level;
    lod->work_node = lod->work_triangle = lod->work_row = 0;
    lod->work_max = 0;
  }
  long spent = 0;
  const int n = lod->level;
  while (lod->work_level >= 0) {
    const int i = lod->work_level;
    const int side = 1 << i;
    const int size = 1 << (n + 1 - i);  // cells a side
    while (lod->work_node < side * side) {
      const int j = lod->work_node % side, k = lod->work_node / side;
      while (lod->work_triangle < 2) {
        const NodeTriangle tri = node_triangle(j * size, k * size, size, (j + k) % 2 != 0, lod->work_triangle);
        if (lod->work_row == 0) spent += 10;
        while (lod->work_row <= size) {
          if (budget >= 0 && spent >= budget) return false;
          spent += scan_row(terrain, tri, size, lod->work_row, &lod->work_max);
          lod->work_row++;
        }
        lod->work_row = 0;
        lod->work_triangle++;
      }
      finish_node(lod, terrain, i, j, k, lod->work_max, tolerance);
      lod->work_triangle = 0;
      lod->work_max = 0;
      lod->work_node++;
    }
    lod->work_node = 0;
    lod->work_level--;
  }
  std::swap(lod->front, lod->back);
  lod->have_front = true;
  lod->front_version = version;
  lod->working = false;
  return true;
}

int terrain_clip_origin(int centre, int clip_level, int terrain_level) {
  const int last = std::max((1 << (terrain_level - clip_level)) - TERRAIN_CLIP_WINDOW, 0);
  // An arithmetic shift: cells left of the field round towards minus infinity.
  return std::clamp(((centre - (1 << clip_level)) >> (clip_level + 1)) - 1, 0, last);
}
