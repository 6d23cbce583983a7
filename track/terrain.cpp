// The height field in memory: allocation, triangulation, sampling, height changes with their
// dirty marks, cached triangle normals, per-point normals and shading.
#include "track/terrain.h"

#include <cmath>
#include <cstring>

#include "core/loading.h"
#include "files/memory.h"
#include "track/lighting.h"

namespace {

TerrainRenderHooks render_hooks;

bool bits_allocate(TerrainBits* bits, size_t count, bool set) {
  size_t words = (count + 63) / 64;
  bits->words = static_cast<uint64_t*>(mem_alloc(words * sizeof(uint64_t)));
  if (!bits->words) return false;
  bits->count = count;
  memset(bits->words, set ? 0xff : 0, words * sizeof(uint64_t));
  return true;
}

// Height of a grid point of a field's height array with its indices clamped into the grid.
inline float sample_clamped(const Terrain* t, const float* heights, int col, int row) {
  int last = t->grid_size - 1;
  col = col < 0 ? 0 : (col > last ? last : col);
  row = row < 0 ? 0 : (row > last ? last : row);
  return heights[static_cast<size_t>(row) * t->grid_size + col];
}
inline float height_clamped(const Terrain* t, int col, int row) {
  return sample_clamped(t, t->heights, col, row);
}

// The cell under a point and the point's place inside it. Coordinates far outside the field
// (or not numbers) are first pulled to just outside it, where clamped indices give the same
// edge heights, so the conversion to int is always defined.
struct CellPoint {
  int i, j;
  float fx, fz;
};

inline CellPoint cell_at(const Terrain* t, float x, float z) {
  float limit = static_cast<float>(t->grid_size) - 0.5f;
  float u = x / t->spacing;
  float v = z / t->spacing;
  u = u > -0.5f ? (u < limit ? u : limit) : -0.5f;
  v = v > -0.5f ? (v < limit ? v : limit) : -0.5f;
  // floor without a library call: truncate, then step down for negative fractions.
  CellPoint c;
  c.i = static_cast<int>(u);
  c.j = static_cast<int>(v);
  c.i -= static_cast<float>(c.i) > u;
  c.j -= static_cast<float>(c.j) > v;
  c.fx = u - static_cast<float>(c.i);
  c.fz = v - static_cast<float>(c.j);
  return c;
}

// Height differences along +x and +z of the triangle under a point (the triangle's plane).
struct Slopes {
  float dx, dz;
};

inline Slopes slopes_at(const Terrain* t, const CellPoint& c) {
  float h00 = height_clamped(t, c.i, c.j);
  float h10 = height_clamped(t, c.i + 1, c.j);
  float h01 = height_clamped(t, c.i, c.j + 1);
  float h11 = height_clamped(t, c.i + 1, c.j + 1);
  if (((c.i + c.j) & 1) == 0) {
    if (c.fz <= c.fx) return {h10 - h00, h11 - h10};  // corners (i,j) (i+1,j) (i+1,j+1)
    return {h11 - h01, h01 - h00};                    // corners (i,j) (i,j+1) (i+1,j+1)
  }
  if (c.fx + c.fz <= 1) return {h10 - h00, h01 - h00};  // corners (i,j) (i+1,j) (i,j+1)
  return {h11 - h01, h11 - h10};                        // corners (i+1,j+1) (i,j+1) (i+1,j)
}

inline size_t sample_index(const Terrain* t, int col, int row) {
  return static_cast<size_t>(row) * t->grid_size + col;
}

uint8_t normal_byte(float v) {
  long q = std::lround(v * 127.0f);
  q = q < -127 ? -127 : (q > 127 ? 127 : q);
  return static_cast<uint8_t>(q + 128);
}

void refresh_normal_map_entry(Terrain* t, int col, int row) {
  size_t k = sample_index(t, col, row);
  Vec3f n = terrain_vertex_normal(t, col, row);
  t->normal_map[3 * k] = normal_byte(n.x);
  t->normal_map[3 * k + 1] = static_cast<uint8_t>(255 - t->shadows[k]);
  t->normal_map[3 * k + 2] = normal_byte(n.z);
}

}  // namespace

void terrain_set_render_hooks(const TerrainRenderHooks* hooks) {
  render_hooks = hooks ? *hooks : TerrainRenderHooks{};
}

const TerrainRenderHooks* terrain_render_hooks() {
  return &render_hooks;
}

int terrain_triangle_count(const Terrain* terrain) {
  int cells = terrain->grid_size - 1;
  return 2 * cells * cells;
}

void terrain_triangle_corners(const Terrain* terrain, int index, int cols[3], int rows[3]) {
  int per_row = 2 * terrain->grid_size - 2;
  int j = index / per_row;
  int t = index % per_row;
  int i = t / 2;
  bool second = t & 1;
  if (((i + j) & 1) == 0) {
    if (!second) {  // right angle at (i+1, j)
      cols[0] = i + 1, rows[0] = j, cols[1] = i, rows[1] = j, cols[2] = i + 1, rows[2] = j + 1;
    } else {  // right angle at (i, j+1)
      cols[0] = i, rows[0] = j + 1, cols[1] = i + 1, rows[1] = j + 1, cols[2] = i, rows[2] = j;
    }
  } else {
    if (!second) {  // right angle at (i, j)
      cols[0] = i, rows[0] = j, cols[1] = i + 1, rows[1] = j, cols[2] = i, rows[2] = j + 1;
    } else {  // right angle at (i+1, j+1)
      cols[0] = i + 1, rows[0] = j + 1, cols[1] = i, rows[1] = j + 1, cols[2] = i + 1, rows[2] = j;
    }
  }
}

bool terrain_allocate(Terrain* t, int level, float spacing, float min_height, float max_height) {
  if (level < 0 || level > TERRAIN_LEVEL_MAX) return false;
  int sides = 1 << (level + 1);
  t->level = level;
  t->grid_size = sides + 1;
  t->spacing = spacing;
  t->extent = spacing * static_cast<float>(sides);
  t->min_height = min_height;
  t->max_height = max_height;
  size_t samples = static_cast<size_t>(t->grid_size) * t->grid_size;
  size_t triangles = static_cast<size_t>(terrain_triangle_count(t));
  size_t tiles = static_cast<size_t>(1) << (2 * level);
  t->heights = static_cast<float*>(mem_alloc(samples * sizeof(float)));
  t->base_heights = static_cast<float*>(mem_alloc(samples * sizeof(float)));
  t->shading = static_cast<uint8_t*>(mem_calloc(samples, 3));
  t->shadows = static_cast<uint8_t*>(mem_calloc(samples, 1));
  t->tilemap = static_cast<uint8_t*>(mem_calloc(tiles, 1));
  t->triangle_normals = static_cast<float*>(mem_calloc(triangles, 3 * sizeof(float)));
  bool ok = t->heights && t->base_heights && t->shading && t->shadows && t->tilemap &&
            t->triangle_normals && bits_allocate(&t->triangle_dirty, triangles, true) &&
            bits_allocate(&t->shading_dirty, samples, false);
  if (!ok) {
    terrain_free(t);
    return false;
  }
  for (size_t k = 0; k < samples; k++) t->heights[k] = min_height;
  memcpy(t->base_heights, t->heights, samples * sizeof(float));
  for (GroundTile& tile : t->tiles) ground_tile_defaults(&tile);
  t->tile_count = 1;
  return true;
}

void terrain_free(Terrain* t) {
  if (t->render && render_hooks.free) render_hooks.free(t);
  mem_free(t->heights);
  mem_free(t->base_heights);
  mem_free(t->shading);
  mem_free(t->shadows);
  mem_free(t->normal_map);
  mem_free(t->tilemap);
  mem_free(t->triangle_normals);
  mem_free(t->triangle_dirty.words);
  mem_free(t->shading_dirty.words);
  mem_free(t->normals_dirty.words);
  memset(static_cast<void*>(t), 0, sizeof(Terrain));
}

namespace {

// The surface over a height array, interpolated on the triangle under (x, z).
float surface_at(const Terrain* t, const float* heights, float x, float z) {
  CellPoint c = cell_at(t, x, z);
  int i = c.i, j = c.j;
  float fx = c.fx, fz = c.fz;
  auto h = [&](int col, int row) { return sample_clamped(t, heights, col, row); };
  if (((i + j) & 1) == 0) {
    if (fz <= fx) {
      float h10 = h(i + 1, j);
      return h10 + (1 - fx) * (h(i, j) - h10) + fz * (h(i + 1, j + 1) - h10);
    }
    float h01 = h(i, j + 1);
    return h01 + fx * (h(i + 1, j + 1) - h01) + (1 - fz) * (h(i, j) - h01);
  }
  if (fx + fz <= 1) {
    float h00 = h(i, j);
    return h00 + fx * (h(i + 1, j) - h00) + fz * (h(i, j + 1) - h00);
  }
  float h11 = h(i + 1, j + 1);
  return h11 + (1 - fx) * (h(i, j + 1) - h11) + (1 - fz) * (h(i + 1, j) - h11);
}

}  // namespace

float terrain_surface_at(const Terrain* t, const float* heights, float x, float z) {
  return surface_at(t, heights, x, z);
}

float terrain_height_at(const Terrain* t, float x, float z) {
  return surface_at(t, t->heights, x, z);
}

float terrain_base_height_at(const Terrain* t, float x, float z) {
  return surface_at(t, t->base_heights, x, z);
}

Vec3f terrain_normal_at(const Terrain* t, float x, float z) {
  Slopes d = slopes_at(t, cell_at(t, x, z));
  float s = t->spacing;
  return {-s * d.dx, s * s, -s * d.dz};
}

int terrain_tile_at(const Terrain* t, float x, float z) {
  float last = static_cast<float>((1 << t->level) - 1);
  float tx = x / (2 * t->spacing);
  float tz = z / (2 * t->spacing);
  tx = tx > 0 ? (tx < last ? tx : last) : 0;
  tz = tz > 0 ? (tz < last ? tz : last) : 0;
  return t->tilemap[(static_cast<size_t>(tz) << t->level) + static_cast<size_t>(tx)];
}

void terrain_set_height(Terrain* t, int col, int row, float h) {
  int last = t->grid_size - 1;
  if (col < 0 || row < 0 || col > last || row > last || t->height_lock) return;
  t->changed = TERRAIN_CHANGED_ALL;
  t->geometry_version++;
  if (h > t->max_height) t->max_height = h;
  if (h < t->min_height) t->min_height = h;
  t->heights[sample_index(t, col, row)] = h;
  for (int r = row - 1; r <= row + 1; r++) {
    for (int c = col - 1; c <= col + 1; c++) {
      if (r < 0 || c < 0 || r > last || c > last) continue;
      terrain_bit_set(t->shading_dirty, sample_index(t, c, r));
      if (t->normals_dirty.words) terrain_bit_set(t->normals_dirty, sample_index(t, c, r));
    }
  }
  int row0 = row - 1 > 0 ? row - 1 : 0;
  int row1 = row < last - 1 ? row : last - 1;
  int t0 = 2 * col - 2 > 0 ? 2 * col - 2 : 0;
  int t1 = 2 * col + 1 < 2 * last - 1 ? 2 * col + 1 : 2 * last - 1;
  for (int r = row0; r <= row1; r++)
    for (int k = t0; k <= t1; k++) terrain_bit_set(t->triangle_dirty, terrain_triangle_index(t, k, r));
}

Vec3f terrain_triangle_normal(Terrain* t, int index) {
  float* n = t->triangle_normals + 3 * static_cast<size_t>(index);
  if (terrain_bit(t->triangle_dirty, index)) {
    int cols[3], rows[3];
    terrain_triangle_corners(t, index, cols, rows);
    float h0 = t->heights[sample_index(t, cols[0], rows[0])];
    // Height change per step along +x and +z from the right-angle corner.
    float dx = (t->heights[sample_index(t, cols[1], rows[1])] - h0) * static_cast<float>(cols[1] - cols[0]);
    float dz = (t->heights[sample_index(t, cols[2], rows[2])] - h0) * static_cast<float>(rows[2] - rows[0]);
    float s = t->spacing;
    float x = -s * dx, y = s * s, z = -s * dz;
    float length = std::sqrt(x * x + y * y + z * z);
    n[0] = x / length;
    n[1] = y / length;
    n[2] = z / length;
    terrain_bit_clear(t->triangle_dirty, index);
  }
  return {n[0], n[1], n[2]};
}

Vec3f terrain_vertex_normal(Terrain* t, int col, int row) {
  int last_cell = t->grid_size - 2;
  int last_t = 2 * last_cell + 1;
  Vec3f sum = {0, 0, 0};
  auto add = [&](int tri, int r) {
    Vec3f n = terrain_triangle_normal(t, terrain_triangle_index(t, tri, r));
    sum.x += n.x, sum.y += n.y, sum.z += n.z;
  };
  for (int r = row - 1; r <= row; r++) {
    int rc = r < 0 ? 0 : (r > last_cell ? last_cell : r);
    if (((col + row) & 1) == 0) {
      // All 8 triangles of the four cells around the point touch it.
      for (int k = 2 * col - 2; k <= 2 * col + 1; k++) add(k < 0 ? 0 : (k > last_t ? last_t : k), rc);
    } else {
      // One triangle per cell touches: the one along the cell's row that holds the point.
      for (int c = col - 1; c <= col; c++) {
        int cc = c < 0 ? 0 : (c > last_cell ? last_cell : c);
        add(2 * cc + (rc == row ? 0 : 1), rc);
      }
    }
  }
  float length = std::sqrt(sum.x * sum.x + sum.y * sum.y + sum.z * sum.z);
  return {sum.x / length, sum.y / length, sum.z / length};
}

void terrain_point_shading(Terrain* t, int col, int row, uint8_t out[3]) {
  Vec3f n = terrain_vertex_normal(t, col, row);
  const float* l = lighting.sun_vector;
  float d = n.x * l[0] + n.y * l[1] + n.z * l[2];
  d = d > 0 ? (d < 1 ? d : 1) : 0;
  d *= 1 - t->shadows[sample_index(t, col, row)] / 255.0f;
  for (int c = 0; c < 3; c++) {
    long v = std::lround((lighting.sun_color[c] * d + lighting.ambient[c]) * 0.5f * 255.0f);
    out[c] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
}

void terrain_refresh_lighting(Terrain* t) {
  int size = t->grid_size;
  for (int row = 0; row < size; row++) {
    for (int col = 0; col < size; col++) {
      size_t k = sample_index(t, col, row);
      if (terrain_bit(t->shading_dirty, k)) {
        terrain_point_shading(t, col, row, t->shading + 3 * k);
        terrain_bit_clear(t->shading_dirty, k);
      }
      if (t->use_normal_map && terrain_bit(t->normals_dirty, k)) {
        refresh_normal_map_entry(t, col, row);
        terrain_bit_clear(t->normals_dirty, k);
      }
    }
  }
}

void terrain_create_normal_map(Terrain* t) {
  size_t samples = size_t(t->grid_size) * t->grid_size;
  t->normal_map = static_cast<uint8_t*>(mem_alloc_or_die(samples * 3));
  t->normals_dirty.words = static_cast<uint64_t*>(mem_alloc_or_die((samples + 63) / 64 * sizeof(uint64_t)));
  memset(t->normals_dirty.words, 0, (samples + 63) / 64 * sizeof(uint64_t));
  t->normals_dirty.count = samples;
  t->use_normal_map = true;
  loading_message_logged("Creating terrain normals");
  for (int row = 0; row < t->grid_size; row++) {
    loading_progress("Creating terrain normals");
    for (int col = 0; col < t->grid_size; col++) refresh_normal_map_entry(t, col, row);
  }
  loading_done("Creating terrain normals");
}

void terrain_mark_region(Terrain* t, int col0, int row0, int col1, int row1) {
  if (t->render && render_hooks.mark_region) render_hooks.mark_region(t, col0, row0, col1, row1);
}
