// Gradient profiles, their tools and the "edinfo" file.
#include "editor/gradient.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/console.h"
#include "editor/editor.h"
#include "editor/panel.h"
#include "files/replace.h"
#include "files/vfs.h"
#include "track/terrain.h"

namespace {

// Longest edinfo line taken whole; longer lines are ignored.
constexpr int EDINFO_LINE_MAX = 1024;
// Most samples "Set From Terrain" takes along one line.
constexpr int SET_FROM_TERRAIN_SAMPLES_MAX = 16384;

bool valid_index(int i, size_t count) { return i >= 0 && size_t(i) < count; }

float distance2(float ax, float az, float bx, float bz) { return (ax - bx) * (ax - bx) + (az - bz) * (az - bz); }

bool near_pointer(float x, float z, float px, float pz) {
  float half = editor_pick_size() / 2;
  return distance2(x, z, px, pz) < half * half;
}

void mark_changed() {
  if (editor.terrain) editor.terrain->changed = TERRAIN_CHANGED_ALL;
}

// Unit direction of the line; (0, 0) for a line of zero length.
void line_direction(const Gradient& g, float* ux, float* uz) {
  float length = gradient_length(g);
  *ux = length > 0 ? (g.x1 - g.x0) / length : 0;
  *uz = length > 0 ? (g.z1 - g.z0) / length : 0;
}

bool fresh(const Gradient& g) {
  if (g.points.size() > 2) return false;
  for (const GradientPoint& p : g.points)
    if (p.height != 0) return false;
  return true;
}

void erase_point(Gradient& g, int i) {
  g.points.erase(g.points.begin() + i);
  if (valid_index(i, g.segment.size())) g.segment.erase(g.segment.begin() + i);
}

uint8_t flag_of(const Gradient& g, int i) { return valid_index(i, g.segment.size()) ? g.segment[size_t(i)] : 0; }

void pointer(float* x, float* z) { editor_pointer_world(x, z); }

}  // namespace

float gradient_length(const Gradient& g) { return std::sqrt(distance2(g.x0, g.z0, g.x1, g.z1)); }

float gradient_piece_slope(const Gradient& g, int piece) {
  if (piece < 0 || size_t(piece) + 1 >= g.points.size()) return 0;
  const GradientPoint& a = g.points[size_t(piece)];
  const GradientPoint& b = g.points[size_t(piece) + 1];
  float width = b.position - a.position;
  return width != 0 ? (b.height - a.height) / width : 0;
}

float gradient_point_slope(const Gradient& g, int i) {
  int n = int(g.points.size());
  if (n < 2) return 0;
  if (i < 1) return gradient_piece_slope(g, 0);
  if (i >= n - 1) return gradient_piece_slope(g, n - 2);
  if (flag_of(g, i - 1) != SEGMENT_CURVE) return gradient_piece_slope(g, i - 1);
  if (flag_of(g, i) != SEGMENT_CURVE) return gradient_piece_slope(g, i);
  return (gradient_piece_slope(g, i - 1) + gradient_piece_slope(g, i)) / 2;
}

float gradient_profile(const Gradient& g, float x) {
  int n = int(g.points.size());
  if (n == 0) return 0;
  const std::vector<GradientPoint>& p = g.points;
  if (x < p[0].position) return p[0].height;
  if (x >= p[size_t(n - 1)].position) return p[size_t(n - 1)].height;
  for (int i = 0; i + 1 < n; i++) {
    const GradientPoint& a = p[size_t(i)];
    const GradientPoint& b = p[size_t(i) + 1];
    if (!(a.position <= x && x < b.position)) continue;
    float width = b.position - a.position;
    float t = (x - a.position) / width;
    if (flag_of(g, i) != SEGMENT_CURVE) return a.height + t * (b.height - a.height);
    float m0 = gradient_point_slope(g, i) * width, m1 = gradient_point_slope(g, i + 1) * width;
    return a.height + m0 * t + (3 * (b.height - a.height) - 2 * m0 - m1) * t * t +
           (m0 + m1 + 2 * (a.height - b.height)) * t * t * t;
  }
  return p[size_t(n - 1)].height;  // positions out of order: the last height
}

float gradient_linear_at(const Gradient& g, float x, float z) {
  float ux, uz;
  line_direction(g, &ux, &uz);
  return gradient_profile(g, (x - g.x0) * ux + (z - g.z0) * uz);
}

float gradient_radial_at(const Gradient& g, float x, float z) {
  float ux, uz;
  line_direction(g, &ux, &uz);
  float vx = x - g.x0, vz = z - g.z0;
  float along = vx * ux + vz * uz;
  if (along < 0) {  // behind the start: the distance from the line
    vx -= along * ux;
    vz -= along * uz;
  }
  return gradient_profile(g, std::sqrt(vx * vx + vz * vz));
}

Gradient* gradient_selected() {
  if (!valid_index(editor.gradient, editor.gradients.size())) return nullptr;
  return &editor.gradients[size_t(editor.gradient)];
}

float gradient_linear_value(float x, float z) {
  const Gradient* g = gradient_selected();
  return g ? gradient_linear_at(*g, x, z) : 0;
}

float gradient_radial_value(float x, float z) {
  const Gradient* g = gradient_selected();
  return g ? gradient_radial_at(*g, x, z) : 0;
}

void gradient_new() {
  Gradient g{};
  g.x0 = editor.centre_x;
  g.z0 = editor.centre_z;
  g.x1 = g.x0 + 50;
  g.z1 = g.z0;
  g.points.reserve(16);
  g.segment.reserve(16);
  editor.gradients.push_back(std::move(g));
  editor.gradient = int(editor.gradients.size()) - 1;
  gradient_flatten();
}

void gradient_copy() {
  if (!gradient_selected()) {
    editor_set_status("No gradient selected");
    return;
  }
  Gradient source = *gradient_selected();
  gradient_new();
  Gradient& g = *gradient_selected();
  float ux, uz;
  line_direction(source, &ux, &uz);
  g.x0 = source.x0 + 10 * uz;
  g.z0 = source.z0 - 10 * ux;
  g.x1 = source.x1 + 10 * uz;
  g.z1 = source.z1 - 10 * ux;
  g.points = source.points;
  g.segment = source.segment;
}

void gradient_flatten() {
  Gradient* g = gradient_selected();
  if (!g) return;
  mark_changed();
  g->points.assign({{0, 0}, {gradient_length(*g), 0}});
  g->segment.assign({0, 0});
  editor.point = -1;
}

void gradient_set_segment(int type) {
  Gradient* g = gradient_selected();
  if (g && valid_index(editor.point, g->segment.size())) g->segment[size_t(editor.point)] = uint8_t(type);
}

void gradient_from_terrain() {
  Gradient* gp = gradient_selected();
  if (!gp) return;
  Gradient& g = *gp;
  const Terrain* t = editor.terrain;
  mark_changed();
  const float s = t->spacing, length = gradient_length(g);
  float ux, uz;
  line_direction(g, &ux, &uz);
  auto ground = [&](float x, float z) { return terrain_surface_at(t, editor.committed.data(), x, z); };
  g.points.clear();
  g.segment.clear();
  // A line from a file may be far longer than the field: its samples are spread so that their
  // number stays bounded (beyond the field the ground only repeats its edge).
  const float step = std::max(s, length / float(SET_FROM_TERRAIN_SAMPLES_MAX));
  for (int i = 0; float(i) * step < length; i++) {
    float d = float(i) * step;
    g.points.push_back({d, ground(g.x0 + d * ux, g.z0 + d * uz)});
  }
  g.points.push_back({length, ground(g.x1, g.z1)});
  g.segment.assign(g.points.size(), SEGMENT_CURVE);

  // Straight runs become one straight piece.
  const float same_slope = std::ldexp(1.0f, -13), shortest = 2 * std::sqrt(2.0f) * s;
  for (int end = int(g.points.size()) - 1; end > 0;) {
    int first = end - 1;
    while (first > 0 && std::fabs(gradient_piece_slope(g, first - 1) - gradient_piece_slope(g, first)) < same_slope)
      first--;
    if (end - first + 1 > 2 && g.points[size_t(end)].position - g.points[size_t(first)].position >= shortest) {
      g.points.erase(g.points.begin() + first + 1, g.points.begin() + end);
      g.segment.erase(g.segment.begin() + first + 1, g.segment.begin() + end);
      g.segment[size_t(first)] = SEGMENT_LINE;
    }
    end = first;
  }

  // Thinning: curve points that lie close to the chord of their neighbours go.
  for (float tolerance : {1 / 128.0f, 1 / 64.0f, 1 / 32.0f, 1 / 16.0f, 1 / 8.0f, 1 / 4.0f}) {
    for (int k = int(g.points.size()) - 2; k >= 1; k--) {
      if (!g.segment[size_t(k - 1)] || !g.segment[size_t(k)]) continue;
      const GradientPoint &a = g.points[size_t(k - 1)], &p = g.points[size_t(k)], &b = g.points[size_t(k + 1)];
      float chord = a.height + (p.position - a.position) / (b.position - a.position) * (b.height - a.height);
      if (std::fabs(p.height - chord) < tolerance) erase_point(g, k);
    }
  }
  editor.point = -1;
}

void gradient_placement_press() {
  Gradient* g = gradient_selected();
  if (!g) return;
  float x, z;
  pointer(&x, &z);
  if (near_pointer(g->x0, g->z0, x, z)) {
    editor.drag = 1;
  } else if (near_pointer(g->x1, g->z1, x, z)) {
    editor.drag = 2;
  } else {
    editor.drag = 0;
    for (size_t i = 0; i < editor.gradients.size(); i++) {
      const Gradient& other = editor.gradients[i];
      if (near_pointer(other.x0, other.z0, x, z) || near_pointer(other.x1, other.z1, x, z)) {
        editor.gradient = int(i);
        editor.point = -1;
      }
    }
  }
}

void gradient_placement_drag() {
  Gradient* g = gradient_selected();
  if (!g || editor.drag == 0) return;
  float x, z;
  pointer(&x, &z);
  mark_changed();
  if (editor.drag == 1) {
    if (fresh(*g)) {
      g->x0 = x;
      g->z0 = z;
    } else {
      g->x1 += x - g->x0;
      g->z1 += z - g->z0;
      g->x0 = x;
      g->z0 = z;
    }
  } else if (fresh(*g)) {
    g->x1 = x;
    g->z1 = z;
  } else {
    float d = std::sqrt(distance2(x, z, g->x0, g->z0));
    if (d > 0 && !g->points.empty()) {
      float reach = g->points.back().position;
      g->x1 = g->x0 + (x - g->x0) / d * reach;
      g->z1 = g->z0 + (z - g->z0) / d * reach;
    }
  }
}

void gradient_placement_release() {
  Gradient* g = gradient_selected();
  if (g && editor.drag != 0 && g->points.size() < 3 && fresh(*g)) gradient_flatten();
}

void gradient_edit_press() {
  Gradient* g = gradient_selected();
  if (!g) return;
  float x, z;
  pointer(&x, &z);
  for (size_t i = 0; i < g->points.size(); i++) {
    if (near_pointer(g->x0 + g->points[i].position, g->z0 - g->points[i].height, x, z)) {
      editor.point = int(i);
      editor.drag = 1;
      panel[W_SEGMENT_TYPE].choice.index = flag_of(*g, int(i)) == SEGMENT_CURVE ? 1 : 0;
      return;
    }
  }
  editor.drag = 0;
  float p = x - g->x0;
  for (size_t i = 1; g->points.size() >= 2 && i < g->points.size(); i++) {
    if (g->points[i - 1].position < p && p < g->points[i].position) {
      uint8_t flag = flag_of(*g, int(i) - 1);
      g->points.insert(g->points.begin() + long(i), {p, g->z0 - z});
      if (g->segment.size() >= i) g->segment.insert(g->segment.begin() + long(i), flag);
      editor.point = int(i);
      editor.drag = 1;
      panel[W_SEGMENT_TYPE].choice.index = flag == SEGMENT_CURVE ? 1 : 0;
      return;
    }
  }
}

void gradient_edit_drag() {
  Gradient* g = gradient_selected();
  if (!g || editor.drag != 1 || !valid_index(editor.point, g->points.size())) return;
  float x, z;
  pointer(&x, &z);
  mark_changed();
  float p = x - g->x0, h = g->z0 - z;
  float grain = float(panel_value(W_GRANULARITY));
  if (grain != 0) {
    p = std::floor(p / grain + 0.5f) * grain;
    h = std::floor(h / grain + 0.5f) * grain;
  }
  size_t i = size_t(editor.point);
  if (i == 0 || i + 1 == g->points.size()) {
    g->points[i].height = h;
    return;
  }
  if (!(g->points[i - 1].position < p && p < g->points[i + 1].position)) {
    erase_point(*g, int(i));
    editor.drag = 0;
    editor.point = -1;
    return;
  }
  g->points[i] = {p, h};
}

void edinfo_read() {
  std::string name = std::string("@") + editor.terrain->track_dir + "/edinfo";
  VfsFile* file = vfs_open(name.c_str(), "rb");
  if (!file) return;
  char line[EDINFO_LINE_MAX];
  bool whole = true;  // the previous piece ended its line
  Gradient* last = nullptr;
  while (vfs_gets(file, line, sizeof line)) {
    size_t length = strlen(line);
    bool starts_line = whole;
    whole = length > 0 && line[length - 1] == '\n';
    if (!starts_line || !whole) continue;  // a line too long to be ours
    const char* p = line;
    while (*p && std::isspace(static_cast<unsigned char>(*p))) p++;
    float a, b, c, d;
    int flag;
    if (strncmp(p, "add_gradient", 12) == 0 && (p[12] == 0 || std::isspace(static_cast<unsigned char>(p[12])))) {
      if (sscanf(p + 12, "%f %f %f %f", &a, &b, &c, &d) != 4) continue;
      if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !std::isfinite(d)) continue;
      gradient_new();
      last = gradient_selected();
      last->x0 = a, last->z0 = b, last->x1 = c, last->z1 = d;
      last->points.clear();
      last->segment.clear();
    } else if (strncmp(p, "add_point", 9) == 0 && (p[9] == 0 || std::isspace(static_cast<unsigned char>(p[9])))) {
      if (!last || sscanf(p + 9, "%d %f %f", &flag, &a, &b) != 3 || !std::isfinite(a) || !std::isfinite(b)) continue;
      last->points.push_back({a, b});
      last->segment.push_back(uint8_t(flag));
    }
  }
  vfs_close(file);
}

bool edinfo_write() {
  std::string name = std::string("@") + editor.terrain->track_dir + "/edinfo";
  ReplaceSet set;
  VfsFile* file = replace_open(set, name.c_str());
  if (!file) {
    console_print("Can't open 'edinfo'\n");
    return false;
  }
  for (const Gradient& g : editor.gradients) {
    vfs_printf(file, "add_gradient %f %f %f %f\n", g.x0, g.z0, g.x1, g.z1);
    for (size_t i = 0; i < g.points.size(); i++)
      vfs_printf(file, "add_point %d %f %f\n", flag_of(g, int(i)), g.points[i].position, g.points[i].height);
  }
  replace_close(set, file);
  if (replace_finish(set)) return true;
  console_print("Error writing 'edinfo'\n");
  return false;
}
