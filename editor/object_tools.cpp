// Checkpoints, billboards, statues and decals edited on the map.
#include "editor/object_tools.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "editor/editor.h"
#include "editor/panel.h"
#include "race/timing.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

constexpr float PI = 3.14159265358979f;

float distance2(float ax, float az, float bx, float bz) { return (ax - bx) * (ax - bx) + (az - bz) * (az - bz); }

// Within r/2 of the pointer, the reach of every handle.
bool near(float x, float z, float px, float pz) {
  float half = editor_pick_size() / 2;
  return distance2(x, z, px, pz) < half * half;
}

bool within(float x, float z, float px, float pz, float reach) { return distance2(x, z, px, pz) < reach * reach; }

void mark_changed() { editor.terrain->changed = TERRAIN_CHANGED_ALL; }

// An angle brought into -pi .. pi.
float wrap_angle(float theta) {
  float v = (theta + PI) / (2 * PI);
  return (v - std::floor(v)) * 2 * PI - PI;
}

template <typename T>
bool valid(int i, const std::vector<T>& list) {
  return i >= 0 && size_t(i) < list.size();
}

// ---- Checkpoints ----

bool valid_checkpoint(int c) { return c >= 0 && c < timing.checkpoint_count; }

void second_handle(const Checkpoint& c, float* x, float* z) {
  float length = std::sqrt(c.dx * c.dx + c.dz * c.dz);
  *x = c.px + (length > 0 ? c.radius * c.dx / length : 0);
  *z = c.pz + (length > 0 ? c.radius * c.dz / length : 0);
}

// ---- Billboards ----

int billboard_count() { return int(track_objects.billboards.size()); }

// The first billboard after the selected one (cyclically) within reach of a point, -1 = none.
int billboard_near(float x, float z, float reach) {
  int n = billboard_count();
  if (n == 0) return -1;
  int start = std::clamp(editor.billboard, -1, n - 1);
  for (int k = 1; k <= n; k++) {
    int i = ((start + k) % n + n) % n;
    const Billboard& b = track_objects.billboards[size_t(i)];
    if (within(b.x, b.z, x, z, reach)) return i;
  }
  return -1;
}

// A copy of the selected billboard at a point, which becomes the one laid last.
void billboard_lay(float x, float z) {
  Billboard source = track_objects.billboards[size_t(editor.billboard)];
  mark_changed();
  int32_t index = billboard_add(x, source.height_offset, z, source.height, source.aspect, source.texture_name.c_str());
  Billboard& b = track_objects.billboards[size_t(index)];
  b.r = source.r;
  b.g = source.g;
  b.b = source.b;
  editor.placed = index;
}

// ---- Statues ----

auto& statues() { return track_objects.statues; }

void statue_handle(const Statue& s, float* x, float* z) {
  float r = editor_pick_size();
  *x = s.x - 4 * r * std::sin(s.yaw);
  *z = s.z - 4 * r * std::cos(s.yaw);
}

void rebuild_statue_buckets() { statue_buckets_build(editor.terrain->extent); }

// A new yaw from a heading, keeping the statue's yaw code: camera-facing statues keep theirs,
// and those standing upright whatever the ground stay below -2 pi.
void statue_turn(Statue& s, float theta) {
  if (s.yaw >= STATUE_FACING_YAW) return;
  s.yaw = s.yaw > -2 * PI ? theta : theta - 4 * PI;
}

// ---- Decals ----

auto& decals() { return track_objects.decals; }

bool alike(const Decal& a, const Decal& b) { return a.texture == b.texture && a.texture_name == b.texture_name; }

// Searches consider this decal: with "Hide different" only those alike with the selected one.
bool considered(int i) {
  if (panel_choice(W_HIDE_DIFFERENT) == 0 || !valid(editor.decal, decals())) return true;
  return alike(decals()[size_t(i)], decals()[size_t(editor.decal)]);
}

void decal_handle(const Decal& d, float* x, float* z) {
  float r = editor_pick_size();
  *x = d.x - 4 * r * d.sin_angle;
  *z = d.z - 4 * r * d.cos_angle;
}

void set_angle(Decal& d, float angle) {
  d.angle = wrap_angle(angle);
  d.sin_angle = std::sin(d.angle);
  d.cos_angle = std::cos(d.angle);
}

// The ground texture under a decal must be drawn again (it is taken out or put in).
void mark_decal(const Decal& d) {
  const Terrain* t = editor.terrain;
  float reach = d.size * std::max(1.0f, d.aspect);
  int col0 = int(std::floor((d.x - reach) / t->spacing)), col1 = int(std::ceil((d.x + reach) / t->spacing));
  int row0 = int(std::floor((d.z - reach) / t->spacing)), row1 = int(std::ceil((d.z + reach) / t->spacing));
  int last = t->grid_size - 1;
  terrain_mark_region(editor.terrain, std::clamp(col0, 0, last), std::clamp(row0, 0, last), std::clamp(col1, 0, last),
                      std::clamp(row1, 0, last));
}

void rebuild_decal_buckets() { decal_buckets_build(editor.terrain->extent); }

// Moves, turns and scales the group about the selected decal's old centre o.
void group_transform(float k, float turn, float move_x, float move_z, float ox, float oz) {
  mark_changed();
  float c = std::cos(turn), s = std::sin(turn);
  for (int32_t i : editor.decal_group) {
    if (!valid(i, decals())) continue;
    Decal& d = decals()[size_t(i)];
    mark_decal(d);
    float vx = d.x - ox, vz = d.z - oz;
    // A turn by `turn` moves the direction (sin a, cos a) to (sin (a + turn), cos (a + turn)).
    float rx = vx * c + vz * s, rz = vz * c - vx * s;
    d.x = ox + rx * k + move_x;
    d.z = oz + rz * k + move_z;
    set_angle(d, d.angle + turn);
    mark_decal(d);
  }
  rebuild_decal_buckets();
}

float random_angle() { return float(std::rand() & 0x7fff) * 32769.0f * std::ldexp(1.0f, -30) * 2 * PI - PI; }

// The index a new decal takes in the drawing order, from "Level".
int insertion_index(int c) {
  const auto& list = decals();
  int n = int(list.size());
  switch (panel_choice(W_LEVEL)) {
    case LEVEL_TOP: return n;
    case LEVEL_BOTTOM: return 0;
    case LEVEL_UNDER_CURRENT: {
      int i = 0;
      while (c - 1 - i >= 0 && alike(list[size_t(c - 1 - i)], list[size_t(c)])) i++;
      return c - i;
    }
    default: {
      int i = c + 1;
      while (i < n && alike(list[size_t(i)], list[size_t(c)])) i++;
      return i;
    }
  }
}

// Lays a copy of the selected decal at (x, z); with `from_key` the position was found by the
// 'd' key (one spacing from the selected decal) rather than by the pointer.
void decal_lay(float x, float z, bool from_key) {
  Decal d = decals()[size_t(editor.decal)];
  const Decal& sel = decals()[size_t(editor.decal)];
  float spacing = float(panel_value(W_DECAL_SPACING)) * sel.size;
  float angle = sel.angle;
  switch (panel_choice(W_ORIENTATION)) {
    case ORIENT_COPY: break;
    case ORIENT_RANDOM: angle = random_angle(); break;
    case ORIENT_FLOW: angle = std::atan2(-(x - sel.x), -(z - sel.z)); break;
    case ORIENT_FLOW2: {
      float rx = sel.x - sel.sin_angle * spacing / 2, rz = sel.z - sel.cos_angle * spacing / 2;
      angle = std::atan2(-(x - rx), -(z - rz));
      float fx = -std::sin(angle), fz = -std::cos(angle);  // the new facing
      if (from_key) {
        x = rx + fx * spacing / 2;
        z = rz + fz * spacing / 2;
      } else {
        x -= fx * spacing / 2;
        z -= fz * spacing / 2;
      }
      break;
    }
    case ORIENT_UPHILL: {
      Vec3f n = terrain_normal_at(editor.terrain, x, z);
      float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
      float nx = n.x / length, nz = n.z / length;
      angle = nx * nx + nz * nz >= std::ldexp(1.0f, -10) ? std::atan2(nx, nz) : random_angle();
      break;
    }
  }
  d.x = x;
  d.z = z;
  set_angle(d, angle);
  int at = insertion_index(editor.decal);
  for (int32_t& i : editor.decal_group)
    if (i >= at) i++;
  if (editor.decal >= at) editor.decal++;
  decals().insert(decals().begin() + at, d);
  rebuild_decal_buckets();
  mark_decal(d);
  editor.decal = at;
  mark_changed();
}

}  // namespace

// ---- Checkpoints ----

void checkpoint_press() {
  float x, z;
  editor_pointer_world(&x, &z);
  editor.drag = 0;
  for (int i = 0; i < timing.checkpoint_count; i++) {
    const Checkpoint& c = timing.checkpoints[i];
    float hx, hz;
    second_handle(c, &hx, &hz);
    if (near(c.px, c.pz, x, z) || near(hx, hz, x, z)) {
      editor.checkpoint = i;
      editor.drag = near(c.px, c.pz, x, z) ? 1 : 2;
      return;
    }
  }
  for (int i = 0; i < timing.checkpoint_count; i++) {
    const Checkpoint& c = timing.checkpoints[i];
    if (within(c.px, c.pz, x, z, c.radius) && (x - c.px) * c.dx + (z - c.pz) * c.dz > 0) {
      editor.checkpoint = i;
      return;
    }
  }
  editor.checkpoint = -1;
}

void checkpoint_drag() {
  if (!valid_checkpoint(editor.checkpoint) || editor.drag == 0 || editor.terrain->height_lock) return;
  Checkpoint& c = timing.checkpoints[editor.checkpoint];
  float x, z;
  editor_pointer_world(&x, &z);
  if (editor.drag == 1) {
    c.px = x, c.py = 0, c.pz = z;
  } else {
    c.dx = x - c.px, c.dy = 0, c.dz = z - c.pz;
    c.radius = std::sqrt(c.dx * c.dx + c.dz * c.dz);
  }
  mark_changed();
}

void checkpoint_switch_point(bool set) {
  int c = editor.checkpoint;
  if (!valid_checkpoint(c)) return;
  mark_changed();
  int32_t from = set ? c + LAP_ENTRY_UNCOUNTED : c, to = set ? c : c + LAP_ENTRY_UNCOUNTED;
  for (int i = 0; i < timing.first_count + timing.normal_count; i++)
    if (timing.lap_list[i] == from) timing.lap_list[i] = to;
  // The counts of counted entries follow; the lists themselves stay as the editor left them,
  // even when a lap is left without a counted entry (the reader would drop the checkpoints).
  timing.first_lines = timing.normal_lines = 0;
  for (int i = 0; i < timing.first_count + timing.normal_count; i++)
    if (timing.lap_list[i] < LAP_ENTRY_UNCOUNTED) ++(i < timing.first_count ? timing.first_lines : timing.normal_lines);
  timing.present = timing.checkpoint_count > 0 && timing.first_lines > 0 && timing.normal_lines > 0;
}

const char* checkpoint_switch_text() {
  int c = editor.checkpoint, plain = 0, uncounted = 0;
  for (int i = 0; i < timing.first_count + timing.normal_count; i++) {
    plain += timing.lap_list[i] == c;
    uncounted += timing.lap_list[i] == c + LAP_ENTRY_UNCOUNTED;
  }
  if (plain && uncounted) return "Switch Point: Mixed";
  if (uncounted) return "Switch Point: No";
  if (plain) return "Switch Point: Yes";
  return "Gate not referenced";
}

// ---- Billboards ----

void billboard_press() {
  float x, z;
  editor_pointer_world(&x, &z);
  int hit = billboard_near(x, z, editor_pick_size() / 2);
  if (hit >= 0) {
    editor.billboard = hit;
    panel[W_BILLBOARD_HEIGHT].number.value = track_objects.billboards[size_t(hit)].height_offset;
    editor.placed = -1;
    return;
  }
  if (valid(editor.billboard, track_objects.billboards)) billboard_lay(x, z);
}

void billboard_drag() {
  if (!valid(editor.billboard, track_objects.billboards) || !valid(editor.placed, track_objects.billboards)) return;
  const Billboard& last = track_objects.billboards[size_t(editor.placed)];
  float x, z;
  editor_pointer_world(&x, &z);
  float spacing = float(panel_value(W_BILLBOARD_SPACING)) * last.height * last.aspect;
  if (within(last.x, last.z, x, z, spacing)) return;
  if (billboard_near(x, z, spacing) >= 0) return;
  billboard_lay(x, z);
}

void billboard_delete() {
  float x, z;
  editor_pointer_world(&x, &z);
  int hit = billboard_near(x, z, editor_pick_size() / 2);
  if (hit < 0 || hit < track_objects.first_track_billboard) return;
  track_objects.billboards.erase(track_objects.billboards.begin() + hit);
  if (editor.placed == hit) editor.placed = -1;
  else if (editor.placed > hit) editor.placed--;
  if (editor.billboard > hit) editor.billboard--;
  editor.billboard = std::min(editor.billboard, billboard_count() - 1);
  mark_changed();
}

void billboard_height_changed() {
  if (!valid(editor.billboard, track_objects.billboards)) return;
  Billboard& b = track_objects.billboards[size_t(editor.billboard)];
  b.height_offset = float(panel_value(W_BILLBOARD_HEIGHT));
  b.y = terrain_height_at(editor.terrain, b.x, b.z) + b.height_offset;
  mark_changed();
}

// ---- Statues ----

void statue_press() {
  float x, z;
  editor_pointer_world(&x, &z);
  editor.drag = 0;
  for (size_t i = 0; i < statues().size(); i++) {
    if (near(statues()[i].x, statues()[i].z, x, z)) {
      editor.statue = int(i);
      editor.drag = 1;
      return;
    }
  }
  for (size_t i = 0; i < statues().size(); i++) {
    float hx, hz;
    statue_handle(statues()[i], &hx, &hz);
    if (near(hx, hz, x, z)) {
      editor.statue = int(i);
      editor.drag = 2;
      return;
    }
  }
  editor.statue = -1;
}

void statue_drag() {
  if (!valid(editor.statue, statues()) || editor.terrain->height_lock || editor.drag == 0) return;
  Statue& s = statues()[size_t(editor.statue)];
  float x, z;
  editor_pointer_world(&x, &z);
  if (editor.drag == 1) {
    s.x = x;
    s.z = z;
    statue_place(s);
    mark_changed();
    rebuild_statue_buckets();
  } else {
    statue_turn(s, wrap_angle(std::atan2(s.x - x, s.z - z)));
    statue_place(s);
    mark_changed();
  }
}

void statue_delete() {
  if (editor.terrain->height_lock) return;
  float x, z;
  editor_pointer_world(&x, &z);
  for (size_t i = size_t(std::max(track_objects.first_track_statue, 0)); i < statues().size(); i++) {
    if (!near(statues()[i].x, statues()[i].z, x, z)) continue;
    statue_remove(int32_t(i));
    if (editor.statue > int(i)) editor.statue--;
    else if (editor.statue == int(i)) editor.statue = -1;
    rebuild_statue_buckets();
    mark_changed();
    return;
  }
}

void statue_duplicate() {
  if (!valid(editor.statue, statues()) || editor.terrain->height_lock) return;
  Statue source = statues()[size_t(editor.statue)];
  float x, z;
  editor_pointer_world(&x, &z);
  statue_add(x, source.height_offset, z, source.yaw, source.model_name.c_str(), source.texture_name.c_str(),
             source.shape_name.c_str());
  rebuild_statue_buckets();
  mark_changed();
}

void statue_interpolate() {
  int first = editor.statue, count = int(statues().size());
  if (editor.terrain->height_lock || first < 0 || first > count - 3) return;
  const Statue& s = statues()[size_t(first)];
  for (int i = first + 1; i < count; i++) {
    const Statue& other = statues()[size_t(i)];
    if (other.model_name != s.model_name || other.texture_name != s.texture_name) {
      editor_set_status("Bad match for interpolate!");
      return;
    }
  }
  const Statue& last = statues()[size_t(count - 1)];
  float x0 = s.x, z0 = s.z, x1 = last.x, z1 = last.z;
  for (int i = first + 1; i < count - 1; i++) {
    float f = float(i - first) / float(count - 1 - first);
    Statue& m = statues()[size_t(i)];
    m.x = x0 + f * (x1 - x0);
    m.z = z0 + f * (z1 - z0);
    statue_place(m);
    mark_changed();
  }
  rebuild_statue_buckets();
}

// The selected statue goes to the profile point of the selected gradient nearest to its own
// distance along the line, standing on the line and facing along it.
void statue_snap_to_gradient() {
  const Gradient* g = gradient_selected();
  if (!g || g->points.empty() || !valid(editor.statue, statues()) || editor.terrain->height_lock) return;
  float length = gradient_length(*g);
  if (length <= 0) return;
  float ux = (g->x1 - g->x0) / length, uz = (g->z1 - g->z0) / length;
  Statue& s = statues()[size_t(editor.statue)];
  float along = (s.x - g->x0) * ux + (s.z - g->z0) * uz;
  float best = g->points[0].position;
  for (const GradientPoint& p : g->points)
    if (std::fabs(p.position - along) < std::fabs(best - along)) best = p.position;
  s.x = g->x0 + best * ux;
  s.z = g->z0 + best * uz;
  statue_turn(s, std::atan2(-ux, -uz));
  statue_place(s);
  rebuild_statue_buckets();
  mark_changed();
}

// ---- Decals ----

void decal_press() {
  if (!track_objects.decal_list) return;
  float x, z;
  editor_pointer_world(&x, &z);
  auto select = [](int i, int drag) {
    if (i != editor.decal) editor.decal_group.clear();
    editor.decal = i;
    editor.drag = drag;
  };
  for (size_t i = 0; i < decals().size(); i++) {
    if (considered(int(i)) && near(decals()[i].x, decals()[i].z, x, z)) return select(int(i), 1);
  }
  for (size_t i = 0; i < decals().size(); i++) {
    float hx, hz;
    decal_handle(decals()[i], &hx, &hz);
    if (considered(int(i)) && near(hx, hz, x, z)) return select(int(i), 2);
  }
  editor.drag = 0;
}

void decal_drag() {
  if (!track_objects.decal_list || !valid(editor.decal, decals())) return;
  Decal& d = decals()[size_t(editor.decal)];
  float x, z;
  editor_pointer_world(&x, &z);
  float ox = d.x, oz = d.z;
  if (editor.drag == 1) {
    if (std::fabs(x - d.x) < 0.001f && std::fabs(z - d.z) < 0.001f) return;
    mark_decal(d);
    d.x = x;
    d.z = z;
    mark_decal(d);
    group_transform(1, 0, x - ox, z - oz, ox, oz);
  } else if (editor.drag == 2) {
    float theta = std::atan2(d.x - x, d.z - z);
    if (std::fabs(theta - d.angle) < 0.001f) return;
    float turn = theta - d.angle;
    mark_decal(d);
    set_angle(d, theta);
    mark_decal(d);
    group_transform(1, turn, 0, 0, ox, oz);
  } else {
    float spacing = float(panel_value(W_DECAL_SPACING)) * d.size;
    if (!(distance2(x, z, d.x, d.z) > spacing * spacing)) return;
    if (panel_choice(W_ORIENTATION) == ORIENT_FLOW2) {
      float rx = d.x - d.sin_angle * spacing / 2, rz = d.z - d.cos_angle * spacing / 2;
      if (!(distance2(x, z, rx, rz) > spacing * spacing)) return;
    }
    decal_lay(x, z, false);
  }
}

void decal_delete(bool whole_brush) {
  if (!track_objects.decal_list) return;
  float x, z;
  editor_pointer_world(&x, &z);
  float reach = whole_brush ? editor_outer_radius() : editor_pick_size() / 2;
  bool selected_gone = false;
  Decal selected = valid(editor.decal, decals()) ? decals()[size_t(editor.decal)] : Decal{};
  for (int i = int(decals().size()) - 1; i >= 0; i--) {
    const Decal& d = decals()[size_t(i)];
    if (!considered(i) || !within(d.x, d.z, x, z, reach)) continue;
    auto& group = editor.decal_group;
    group.erase(std::remove(group.begin(), group.end(), i), group.end());
    for (int32_t& g : group)
      if (g > i) g--;
    mark_decal(d);
    decals().erase(decals().begin() + i);
    if (editor.decal == i) selected_gone = true;
    else if (editor.decal > i) editor.decal--;
    mark_changed();
  }
  if (selected_gone) {
    editor.decal_group.clear();
    editor.decal = -1;
    for (int i = int(decals().size()) - 1; i >= 0 && editor.decal < 0; i--)
      if (alike(decals()[size_t(i)], selected)) editor.decal = i;
  }
  rebuild_decal_buckets();
}

void decal_duplicate() {
  if (!track_objects.decal_list || !valid(editor.decal, decals())) return;
  const Decal& sel = decals()[size_t(editor.decal)];
  float x, z;
  editor_pointer_world(&x, &z);
  float dx = x - sel.x, dz = z - sel.z, length = std::sqrt(dx * dx + dz * dz);
  if (length <= 0) return;
  float spacing = float(panel_value(W_DECAL_SPACING)) * sel.size;
  decal_lay(sel.x + spacing * dx / length, sel.z + spacing * dz / length, true);
}

void decal_group_toggle(bool add_only) {
  if (!track_objects.decal_list || !valid(editor.decal, decals())) return;
  float x, z;
  editor_pointer_world(&x, &z);
  float reach = add_only ? std::max(editor_outer_radius(), editor_pick_size() / 2) : editor_pick_size() / 2;
  auto& group = editor.decal_group;
  for (size_t i = 0; i < decals().size(); i++) {
    if (int(i) == editor.decal || !considered(int(i))) continue;
    float hx, hz;
    decal_handle(decals()[i], &hx, &hz);
    if (!within(decals()[i].x, decals()[i].z, x, z, reach) && !within(hx, hz, x, z, reach)) continue;
    auto found = std::find(group.begin(), group.end(), int32_t(i));
    if (found == group.end()) group.push_back(int32_t(i));
    else if (!add_only) group.erase(found);
  }
}

void decal_group_scale(float factor) {
  if (!track_objects.decal_list || !valid(editor.decal, decals())) return;
  const Decal& d = decals()[size_t(editor.decal)];
  group_transform(factor, 0, 0, 0, d.x, d.z);
}
