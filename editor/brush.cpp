// The height brushes (raise, lower, smooth, smudge and the four gradient brushes), snapping to
// the coarse surface, and painting ground tiles.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "editor/editor.h"
#include "editor/panel.h"
#include "track/terrain.h"

namespace {

struct Span {
  int first, last;  // grid indices, inclusive
};

// Grid indices covering [lo, hi] (ft), clamped into the grid.
Span grid_span(const Terrain* t, float lo, float hi) {
  int last = t->grid_size - 1;
  float a = std::floor(lo / t->spacing), b = std::ceil(hi / t->spacing);
  a = std::clamp(a, 0.0f, float(last));
  b = std::clamp(b, 0.0f, float(last));
  return {int(a), int(b)};
}

// Distance from q to the segment a-b.
float segment_distance(float ax, float az, float bx, float bz, float qx, float qz) {
  float dx = bx - ax, dz = bz - az;
  float length2 = dx * dx + dz * dz;
  float t = length2 > 0 ? ((qx - ax) * dx + (qz - az) * dz) / length2 : 0;
  t = std::clamp(t, 0.0f, 1.0f);
  float ex = ax + t * dx - qx, ez = az + t * dz - qz;
  return std::sqrt(ex * ex + ez * ez);
}

// The stroke of this application: from the anchor (or the pointer) to the pointer, which
// becomes the anchor.
void stroke_ends(float* ax, float* az, float bx, float bz) {
  if (editor.anchor_x >= 0) {
    *ax = editor.anchor_x;
    *az = editor.anchor_z;
  } else {
    *ax = bx;
    *az = bz;
  }
  editor.anchor_x = bx;
  editor.anchor_z = bz;
}

// Mean of the committed heights over a disc of rho grid points about each column of one row,
// slid along the row: out[col - span.first] for every col of the span.
void smooth_row(const Terrain* t, int row, Span span, int rho, std::vector<float>& out) {
  const float* h = editor.committed.data();
  int last = t->grid_size - 1;
  auto at = [&](int c, int r) {
    c = std::clamp(c, 0, last);
    r = std::clamp(r, 0, last);
    return h[size_t(r) * t->grid_size + c];
  };
  std::vector<int> reach;
  int count = 0;
  for (int j = -(rho - 1); j <= rho - 1; j++) {
    int c = int(std::lround(std::sqrt(double(rho) * rho - double(j) * j)));
    reach.push_back(c);
    count += 2 * c + 1;
  }
  double sum = 0;
  for (int j = -(rho - 1); j <= rho - 1; j++) {
    int c = reach[size_t(j + rho - 1)];
    for (int i = span.first - c; i <= span.first + c; i++) sum += at(i, row + j);
  }
  out.resize(size_t(span.last - span.first + 1));
  for (int col = span.first;; col++) {
    out[size_t(col - span.first)] = float(sum / count);
    if (col == span.last) break;
    for (int j = -(rho - 1); j <= rho - 1; j++) {
      int c = reach[size_t(j + rho - 1)];
      sum += double(at(col + 1 + c, row + j)) - double(at(col - c, row + j));
    }
  }
}

// Mean of the committed surface sampled from q towards the smudge point every half grid
// spacing, up to a grid spacings away.
float smudge_target(const Terrain* t, float qx, float qz, float ux, float uz, float a) {
  float s = t->spacing;
  double sum = 0;
  int count = 0;
  for (int i = 0; i * 0.5f * s < a * s; i++) {
    float d = float(i) * 0.5f * s;
    sum += terrain_surface_at(t, editor.committed.data(), qx + d * ux, qz + d * uz);
    count++;
  }
  return count ? float(sum / count) : editor.committed[0];
}

void finish_height_pass(Terrain* t, Span cols, Span rows) {
  editor.uncommitted = true;
  editor_set_status("Update needed!");
  terrain_mark_region(t, cols.first, rows.first, cols.last, rows.last);
  t->geometry_version++;
}

// Interpolates four corner heights on one cell with the field's diagonal rule.
float cell_surface(float h00, float h10, float h01, float h11, bool even, float fx, float fz) {
  if (even) {
    if (fz <= fx) return h10 + (1 - fx) * (h00 - h10) + fz * (h11 - h10);
    return h01 + fx * (h11 - h01) + (1 - fz) * (h00 - h01);
  }
  if (fx + fz <= 1) return h00 + fx * (h10 - h00) + fz * (h01 - h00);
  return h11 + (1 - fx) * (h01 - h11) + (1 - fz) * (h10 - h11);
}

}  // namespace

void editor_apply_brush() {
  EditorState& e = editor;
  Terrain* t = e.terrain;
  const int mode = e.mode;
  float bx, bz;
  editor_pointer_world(&bx, &bz);
  float ux = 0, uz = 0;
  if (mode == MODE_SMUDGE) {
    float dx = e.smudge_x - bx, dz = e.smudge_z - bz;
    float d2 = dx * dx + dz * dz;
    if (d2 < 1) return;
    float d = std::sqrt(d2);
    ux = dx / d;
    uz = dz / d;
    e.smudge_x = bx + ux;
    e.smudge_z = bz + uz;
  }
  float ax, az;
  stroke_ends(&ax, &az, bx, bz);

  const float outer = editor_outer_radius(), inner = editor_inner_radius(), a = editor_amount();
  const float s = t->spacing;
  const int submode = panel_choice(W_SUBMODE);
  const bool gradient_brush = mode >= MODE_GRADIENT_LINEAR_PAINT && mode <= MODE_GRADIENT_RADIAL_ADD;
  const int rho = std::clamp(int(std::lround(a)), 1, 1024);
  Span cols = grid_span(t, std::min(ax, bx) - outer, std::max(ax, bx) + outer);
  Span rows = grid_span(t, std::min(az, bz) - outer, std::max(az, bz) + outer);
  std::vector<float> smoothed;
  for (int row = rows.first; row <= rows.last; row++) {
    if (mode == MODE_SMOOTH) smooth_row(t, row, cols, rho, smoothed);
    for (int col = cols.first; col <= cols.last; col++) {
      float qx = float(col) * s, qz = float(row) * s;
      float delta = segment_distance(ax, az, bx, bz, qx, qz);
      if (delta >= outer) continue;
      float w = 1;
      if (delta >= inner) {
        float f = (delta - inner) / (outer - inner);
        w = 2 * f * f * f - 3 * f * f + 1;
      }
      size_t k = size_t(row) * t->grid_size + col;
      float h0 = e.committed[k], h = t->heights[k];
      float target = h0;
      switch (mode) {
        case MODE_RAISE: target = h0 + a; break;
        case MODE_LOWER: target = h0 - a; break;
        case MODE_SMOOTH: target = smoothed[size_t(col - cols.first)]; break;
        case MODE_SMUDGE: target = smudge_target(t, qx, qz, ux, uz, a); break;
        case MODE_GRADIENT_LINEAR_PAINT: target = gradient_linear_value(qx, qz); break;
        case MODE_GRADIENT_LINEAR_ADD: target = h0 + gradient_linear_value(qx, qz); break;
        case MODE_GRADIENT_RADIAL_PAINT: target = gradient_radial_value(qx, qz); break;
        case MODE_GRADIENT_RADIAL_ADD: target = h0 + gradient_radial_value(qx, qz); break;
        default: break;
      }
      float n = h0 + (target - h0) * w;
      // Within one uncommitted edit a point only moves further from the baseline.
      if (!(std::fabs(n - h0) > std::fabs(h - h0))) continue;
      float value = n;
      if (gradient_brush) {
        float change = (n - h0) * std::min(a, 1.0f);
        value = change >= 0 ? std::min(n, h + change) : std::max(n, h + change);
      }
      if (submode == SUBMODE_RAISE_ONLY && value < h0) value = h0;
      if (submode == SUBMODE_LOWER_ONLY && value > h0) value = h0;
      terrain_set_height(t, col, row, value);
    }
  }
  finish_height_pass(t, cols, rows);
}

void editor_apply_snap() {
  Terrain* t = editor.terrain;
  const int last = t->grid_size - 1;
  const int m = 1 << editor_brush_level();
  float x, z;
  editor_pointer_world(&x, &z);
  // The pointer's cell, kept on the field so the coarse cell never lies beyond it.
  int u = int(std::clamp(std::floor(x / t->spacing), 0.0f, float(last - 1)));
  int v = int(std::clamp(std::floor(z / t->spacing), 0.0f, float(last - 1)));
  int c0 = u / m * m, r0 = v / m * m;
  int c1 = std::min(c0 + m, last), r1 = std::min(r0 + m, last);
  const float* h = editor.committed.data();
  auto at = [&](int c, int r) { return h[size_t(std::min(r, last)) * t->grid_size + std::min(c, last)]; };
  float h00 = at(c0, r0), h10 = at(c0 + m, r0), h01 = at(c0, r0 + m), h11 = at(c0 + m, r0 + m);
  bool even = ((c0 / m + r0 / m) & 1) == 0;
  for (int row = r0; row <= r1; row++)
    for (int col = c0; col <= c1; col++)
      terrain_set_height(t, col, row,
                         cell_surface(h00, h10, h01, h11, even, float(col - c0) / m, float(row - r0) / m));
  finish_height_pass(t, {c0, c1}, {r0, r1});
}

int editor_tile_limit(const Terrain* t) {
  int count = 0;
  while (count < t->tile_count) {
    uint32_t code = t->tiles[count].transition;
    if (int((code >> 16) & 0xff) != count || int((code >> 8) & 0xff) != count) break;
    count++;
  }
  return std::max(count - 1, 0);
}

void editor_apply_tiles() {
  Terrain* t = editor.terrain;
  float bx, bz, ax, az;
  editor_pointer_world(&bx, &bz);
  stroke_ends(&ax, &az, bx, bz);
  const float outer = editor_outer_radius(), cell = 2 * t->spacing;
  const int tiles = 1 << t->level;
  const int chosen = std::clamp(int(panel_value(W_TILE)), 0, std::max(t->tile_count - 1, 0));
  // Tiles sharing the chosen tile's code are laid at random among themselves.
  int alike[GROUND_TILE_MAX], alike_count = 0;
  for (int i = 0; i < t->tile_count; i++)
    if (t->tiles[i].transition == t->tiles[chosen].transition) alike[alike_count++] = i;
  if (alike_count == 0) alike[alike_count++] = chosen;
  auto tile_span = [&](float lo, float hi) {
    int a = int(std::clamp(std::floor((lo - t->spacing) / cell), 0.0f, float(tiles - 1)));
    int b = int(std::clamp(std::ceil((hi - t->spacing) / cell), 0.0f, float(tiles - 1)));
    return Span{a, b};
  };
  Span tx = tile_span(std::min(ax, bx) - outer, std::max(ax, bx) + outer);
  Span tz = tile_span(std::min(az, bz) - outer, std::max(az, bz) + outer);
  for (int j = tz.first; j <= tz.last; j++) {
    for (int i = tx.first; i <= tx.last; i++) {
      float cx = float(2 * i + 1) * t->spacing, cz = float(2 * j + 1) * t->spacing;
      if (segment_distance(ax, az, bx, bz, cx, cz) >= outer) continue;
      int tile = alike_count > 1 ? alike[std::rand() % alike_count] : alike[0];
      t->tilemap[(size_t(j) << t->level) + size_t(i)] = uint8_t(tile);
      t->changed |= CHANGED_UNSAVED;
    }
  }
  terrain_mark_region(t, 2 * tx.first, 2 * tz.first, 2 * tx.last + 2, 2 * tz.last + 2);
}
