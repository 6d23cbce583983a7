// The editor's state, view, keys and panel actions, commit and undo, and saving.
#include "editor/editor.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "editor/object_tools.h"
#include "editor/panel.h"
#include "race/timing.h"
#include "track/objects.h"
#include "track/terrain.h"

EditorState editor;
EditorKeys editor_keys;

namespace {

size_t sample_count(const Terrain* t) { return size_t(t->grid_size) * t->grid_size; }

// Copies the present heights, shading and normal map into an undo slot.
void snapshot_into(UndoSlot& slot) {
  const Terrain* t = editor.terrain;
  size_t n = sample_count(t);
  slot.heights.assign(t->heights, t->heights + n);
  slot.shading.assign(t->shading, t->shading + 3 * n);
  if (t->normal_map) slot.normal_map.assign(t->normal_map, t->normal_map + 3 * n);
  else slot.normal_map.clear();
}

void clear_bits(TerrainBits& bits) {
  if (bits.words) memset(bits.words, 0, (bits.count + 63) / 64 * sizeof(uint64_t));
}

void set_bits(TerrainBits& bits) {
  if (bits.words) memset(bits.words, 0xff, (bits.count + 63) / 64 * sizeof(uint64_t));
}

bool is_stroke_mode(int mode) {
  return (mode >= MODE_RAISE && mode <= MODE_SMUDGE) || (mode >= MODE_GRADIENT_LINEAR_PAINT && mode <= MODE_GRADIENT_EDIT) ||
         mode == MODE_TILEMAP;
}

void update_hover() {
  if (editor.px == editor.last_px && editor.py == editor.last_py) return;
  editor.last_px = editor.px;
  editor.last_py = editor.py;
  panel_layout(editor.mode, editor.height);
  editor.hover = panel_hit(editor.mode, editor.px, editor.py);
}

// What a widget does once it was activated or its value changed.
void panel_action(int index) {
  if (index >= W_TOOL_FIRST && index < W_TOOL_FIRST + EDITOR_MODE_COUNT) {
    editor_select_mode(index - W_TOOL_FIRST);
    return;
  }
  switch (index) {
    case W_SAVE: editor_save(); break;
    case W_NEW_GRADIENT: gradient_new(); break;
    case W_COPY_GRADIENT: gradient_copy(); break;
    case W_SEGMENT_TYPE: gradient_set_segment(panel_choice(W_SEGMENT_TYPE)); break;
    case W_SET_FROM_TERRAIN: gradient_from_terrain(); break;
    case W_FLATTEN: gradient_flatten(); break;
    case W_BILLBOARD_HEIGHT: billboard_height_changed(); break;
    case W_SET_SWITCH_POINT: checkpoint_switch_point(true); break;
    case W_CLEAR_SWITCH_POINT: checkpoint_switch_point(false); break;
    case W_SNAP_TO_GRADIENT: statue_snap_to_gradient(); break;
    default: break;
  }
}

void widget_event(int index, PanelEvent event) {
  if (panel_event(index, event, editor.px)) panel_action(index);
}

// A key press while a widget is under the pointer, as the menus take it.
void widget_key(int index, int code) {
  const EditorKeys& k = editor_keys;
  if (code == k.cursor_left) widget_event(index, PANEL_CLICK);
  else if (code == k.enter || code == k.keypad_enter || code == ' ') widget_event(index, panel[index].kind == WIDGET_CHOICE ? PANEL_NEXT : PANEL_ACTIVATE);
  else if (code == k.right) widget_event(index, PANEL_NEXT);
  else if (code == k.left) widget_event(index, PANEL_PREVIOUS);
}

void tool_press() {
  switch (editor.mode) {
    case MODE_RAISE:
    case MODE_LOWER:
    case MODE_SMOOTH:
    case MODE_SNAP:
      editor_commit();
      break;
    case MODE_SMUDGE:
      editor_pointer_world(&editor.smudge_x, &editor.smudge_z);
      editor_commit();
      break;
    case MODE_GRADIENT_PLACEMENT: gradient_placement_press(); break;
    case MODE_GRADIENT_EDIT: gradient_edit_press(); break;
    case MODE_TIMING_GATE: checkpoint_press(); break;
    case MODE_BILLBOARDS: billboard_press(); break;
    case MODE_STATUES: statue_press(); break;
    case MODE_DECALS: decal_press(); break;
    default: break;  // the gradient brushes and tiles start at the first update
  }
}

void left_release() {
  if (editor.button == 1) {
    int mode = editor.mode;
    if (is_stroke_mode(mode)) editor.anchor_x = editor.anchor_z = -1;
    if (mode <= MODE_SNAP) editor_commit();
    if (mode == MODE_GRADIENT_PLACEMENT) gradient_placement_release();
  }
  editor.button = 0;
}

// Keys after the pointer buttons and the panel, on presses only.
bool other_key(int code) {
  const EditorKeys& k = editor_keys;
  float view = editor.terrain->extent / editor_zoom_scale();
  double& zoom = panel[W_ZOOM].number.value;
  double& strength = panel[W_STRENGTH].number.value;
  int mode = editor.mode;
  if (code == k.left) editor.centre_x -= view * 0.25f;
  else if (code == k.right) editor.centre_x += view * 0.25f;
  else if (code == k.up) editor.centre_z -= view * 0.25f;
  else if (code == k.down) editor.centre_z += view * 0.25f;
  else if (code == '=') zoom += 0.5;
  else if (code == '-') zoom = std::max(zoom - 0.5, -3.0);
  else if (code == ']') strength = std::min(strength + 0.25, 5.0);
  else if (code == '[') strength = std::max(strength - 0.25, -5.0);
  else if (code == 'i' && mode == MODE_STATUES) statue_interpolate();
  else if (code == 'l' && is_stroke_mode(mode)) {
    if (editor.anchor_x < 0) editor_pointer_world(&editor.anchor_x, &editor.anchor_z);
    else editor.anchor_x = editor.anchor_z = -1;
  } else if (code == 's') editor_save();
  else if (code == 'p') {
    pov_export();
    editor_set_status("Pov!");
  } else if (code == 'u') editor_commit();
  else if (code == KEY_BACKSPACE) editor_undo();
  else if (code == 'f') gradient_flatten();
  else if (code >= '1' && code <= '9') {
    static const int DIGIT_MODES[9] = {MODE_SMOOTH, MODE_SNAP, MODE_GRADIENT_LINEAR_PAINT, MODE_GRADIENT_LINEAR_ADD,
                                       MODE_GRADIENT_RADIAL_PAINT, MODE_GRADIENT_RADIAL_ADD, MODE_GRADIENT_PLACEMENT,
                                       MODE_GRADIENT_EDIT, MODE_TIMING_GATE};
    editor_select_mode(DIGIT_MODES[code - '1']);
  } else if ((code == 'x' || code == KEY_DELETE) && mode == MODE_BILLBOARDS) billboard_delete();
  else if ((code == 'x' || code == KEY_DELETE) && mode == MODE_STATUES) statue_delete();
  else if ((code == 'x' || code == KEY_DELETE) && mode == MODE_DECALS) decal_delete(false);
  else if (code == 'X' && mode == MODE_DECALS) decal_delete(true);
  else if (code == 'd' && mode == MODE_STATUES) statue_duplicate();
  else if (code == 'd' && mode == MODE_DECALS) decal_duplicate();
  else if (code == 'm' && mode == MODE_DECALS) decal_group_toggle(false);
  else if (code == 'M' && mode == MODE_DECALS) decal_group_toggle(true);
  else if (code == '{' && mode == MODE_DECALS) decal_group_scale(0.9375f);
  else if (code == '}' && mode == MODE_DECALS) decal_group_scale(1.0666667f);
  else return false;
  return true;
}

}  // namespace

bool editor_active() { return editor.terrain != nullptr; }

void editor_set_status(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(editor.status, sizeof editor.status, format, args);
  va_end(args);
}

void editor_init(Terrain* terrain) {
  editor_free();
  EditorState& e = editor;
  e.terrain = terrain;
  e.button = 0;
  e.panning = false;
  e.centre_x = e.centre_z = terrain->extent / 2;
  e.anchor_x = e.anchor_z = -1;
  e.tick = 0;
  e.mode = MODE_RAISE;
  e.drag = 0;
  e.hover = -1;
  e.last_px = e.last_py = -1;
  e.gradient = e.point = e.checkpoint = -1;
  e.billboard = 0;
  e.placed = -1;
  e.statue = 0;
  e.decal = 0;
  e.gradients.reserve(16);
  e.decal_group.reserve(16);
  e.undo_count = e.undo_next = 0;
  e.uncommitted = false;
  size_t n = sample_count(terrain);
  e.committed.assign(terrain->heights, terrain->heights + n);
  snapshot_into(e.undo[0]);
  e.undo_count = 1;
  e.undo_next = 1;
  panel[W_TILE].number.maximum = editor_tile_limit(terrain);
  edinfo_read();
  editor_set_status("OK");
  terrain->changed = 0;
}

void editor_free() {
  EditorState& e = editor;
  e.terrain = nullptr;
  for (UndoSlot& slot : e.undo) slot = UndoSlot{};
  e.committed = std::vector<float>();
  e.gradients = std::vector<Gradient>();
  e.decal_group = std::vector<int32_t>();
}

void editor_set_pointer(int px, int py) {
  editor.px = px;
  editor.py = py;
}

void editor_set_window(int width, int height) {
  editor.width = width;
  editor.height = height;
}

float editor_zoom_scale() { return std::exp2(float(panel_value(W_ZOOM))); }

float editor_pixel_scale() {
  int h = editor.height > 0 ? editor.height : 1;
  return editor.terrain->extent / (float(h) * editor_zoom_scale());
}

float editor_pick_size() { return std::max(1.0f, 0.01f * editor.terrain->extent / editor_zoom_scale()); }
float editor_outer_radius() { return float(panel_value(W_RADIUS)) * editor_pixel_scale(); }
float editor_inner_radius() { return float(panel_value(W_RADIUS) * panel_value(W_FOCUS)) * editor_pixel_scale(); }
float editor_amount() { return std::exp2(float(panel_value(W_STRENGTH))); }

int editor_brush_level() {
  float a = editor_amount(), s = editor.terrain->spacing;
  int level = 0;
  while (level < 30 && std::ldexp(s, level) < a) level++;
  return level;
}

void editor_screen_to_world(float px, float py, float* x, float* z) {
  int h = editor.height > 0 ? editor.height : 1;
  float view = editor.terrain->extent / editor_zoom_scale();
  *x = editor.centre_x + (px - float(editor.width / 2)) / float(h) * view;
  *z = editor.centre_z + (py - float(h / 2)) / float(h) * view;
}

void editor_pointer_world(float* x, float* z) { editor_screen_to_world(float(editor.px), float(editor.py), x, z); }

void editor_select_mode(int mode) {
  if (mode == editor.mode) return;
  editor_commit();
  editor.mode = mode;
}

void editor_commit() {
  EditorState& e = editor;
  editor_set_status("OK");
  if (!e.uncommitted) return;
  Terrain* t = e.terrain;
  e.uncommitted = false;
  e.committed.assign(t->heights, t->heights + sample_count(t));
  t->changed &= uint8_t(~CHANGED_UNCOMMITTED);
  terrain_refresh_lighting(t);
  snapshot_into(e.undo[e.undo_next]);
  e.undo_next = (e.undo_next + 1) % EDITOR_UNDO_SLOTS;
  e.undo_count = std::min(e.undo_count + 1, EDITOR_UNDO_SLOTS);
}

void editor_undo() {
  EditorState& e = editor;
  editor_commit();
  if (e.undo_count < 2) {
    editor_set_status("No more undo levels!");
    return;
  }
  e.undo_count--;
  e.undo_next = (e.undo_next + EDITOR_UNDO_SLOTS - 1) % EDITOR_UNDO_SLOTS;
  const UndoSlot& slot = e.undo[(e.undo_next + EDITOR_UNDO_SLOTS - 1) % EDITOR_UNDO_SLOTS];
  Terrain* t = e.terrain;
  size_t n = sample_count(t);
  e.uncommitted = false;
  e.committed = slot.heights;
  memcpy(t->heights, slot.heights.data(), n * sizeof(float));
  memcpy(t->shading, slot.shading.data(), 3 * n);
  clear_bits(t->shading_dirty);
  if (t->normal_map && slot.normal_map.size() == 3 * n) {
    memcpy(t->normal_map, slot.normal_map.data(), 3 * n);
    clear_bits(t->normals_dirty);
  }
  // The cached triangle normals belong to the heights just replaced; contacts read them.
  set_bits(t->triangle_dirty);
  // The ground differs from the saved files again.
  t->changed |= CHANGED_UNSAVED;
  t->geometry_version++;
  terrain_mark_region(t, 0, 0, t->grid_size, t->grid_size);
  editor_set_status("Undo!");
}

void editor_save() {
  Terrain* t = editor.terrain;
  billboards_save(t->track_dir);
  timing_gates_write(t->track_dir);
  terrain_save(t);
  statues_save(t->track_dir);
  edinfo_write();
  t->changed &= uint8_t(~CHANGED_UNSAVED);
  editor_set_status("Saved!");
}

bool editor_key(int code, bool pressed) {
  EditorState& e = editor;
  if (!e.terrain || code == '\t') return false;
  if (pressed && code >= 0 && code < 256) {
    if (std::isalnum(code) || std::ispunct(code) || code == ' ') editor_set_status("Pressed 0x%02x ('%c')", code, code);
    else editor_set_status("Pressed 0x%02x", code);
  }
  update_hover();
  const EditorKeys& k = editor_keys;
  if (code == k.cursor_left && !pressed) {
    left_release();
    return true;
  }
  if (code == k.cursor_left) {
    e.tick = 0;
    if (e.hover >= 0) {
      e.button = EDITOR_BUTTON_WIDGET + e.hover;
      widget_key(e.hover, code);
      return false;
    }
    e.button = 1;
    tool_press();
    return true;
  }
  if (code == k.cursor_right) {
    e.panning = pressed;
    if (pressed) {
      e.pan_x = float(e.px);
      e.pan_y = float(e.py);
    }
    return true;
  }
  if (e.hover >= 0) {
    if (pressed) widget_key(e.hover, code);
    return true;
  }
  if (!pressed) return false;
  return other_key(code);
}

void editor_update() {
  EditorState& e = editor;
  Terrain* t = e.terrain;
  if (!t) return;
  if ((t->changed & CHANGED_UNCOMMITTED) && !e.uncommitted) {
    e.uncommitted = true;
    editor_set_status("Update needed!");
  }
  update_hover();
  if (e.panning) {
    float k = editor_pixel_scale();
    e.centre_x += (e.pan_x - float(e.px)) * k;
    e.centre_z += (e.pan_y - float(e.py)) * k;
    e.pan_x = float(e.px);
    e.pan_y = float(e.py);
  }
  if (e.button == 0) return;
  if (e.button >= EDITOR_BUTTON_WIDGET) {
    int widget = e.button - EDITOR_BUTTON_WIDGET;
    if (e.hover == widget) widget_event(widget, PANEL_POINTER_HELD);
    return;
  }
  switch (e.mode) {
    case MODE_SNAP:
      if (e.tick++ % 16 == 0) editor_apply_snap();
      break;
    case MODE_TILEMAP:
      if (e.tick++ % 32 == 0) editor_apply_tiles();
      break;
    case MODE_GRADIENT_PLACEMENT: gradient_placement_drag(); break;
    case MODE_GRADIENT_EDIT: gradient_edit_drag(); break;
    case MODE_TIMING_GATE: checkpoint_drag(); break;
    case MODE_BILLBOARDS: billboard_drag(); break;
    case MODE_STATUES: statue_drag(); break;
    case MODE_DECALS: decal_drag(); break;
    default:
      if (e.tick++ % 32 == 0) editor_apply_brush();
      break;
  }
}

bool editor_unsaved() { return editor.terrain && (editor.terrain->changed & CHANGED_UNSAVED); }

std::vector<std::string> editor_panel_text() {
  std::vector<std::string> lines;
  if (!editor.terrain) return lines;
  char text[EDITOR_STATUS_SIZE + 64];
  auto add = [&](const char* format, auto... values) {
    snprintf(text, sizeof text, format, values...);
    lines.push_back(text);
  };
  add("Actual Radius: %.2f (%.2f)", double(editor_outer_radius()), double(editor_inner_radius()));
  add("Actual Strength: %.3f", double(editor_amount()));
  const Gradient* g = gradient_selected();
  switch (editor.mode) {
    case MODE_BILLBOARDS: {
      const auto& all = track_objects.billboards;
      bool named = editor.billboard >= 0 && size_t(editor.billboard) < all.size() &&
                   !all[size_t(editor.billboard)].texture_name.empty();
      lines.push_back(named ? all[size_t(editor.billboard)].texture_name : "[none]");
      break;
    }
    case MODE_GRADIENT_PLACEMENT:
      if (g) add("Length: %.2f", double(gradient_length(*g)));
      break;
    case MODE_GRADIENT_EDIT:
      if (g && editor.point >= 0 && size_t(editor.point) < g->points.size()) {
        add("Slope: %.3f", double(gradient_point_slope(*g, editor.point)));
        add("Height: %.2f", double(g->points[size_t(editor.point)].height));
      }
      break;
    case MODE_TIMING_GATE: lines.push_back(checkpoint_switch_text()); break;
    case MODE_TILEMAP: {
      int tile = int(panel_value(W_TILE));
      if (tile >= 0 && tile < editor.terrain->tile_count) lines.push_back(editor.terrain->tiles[tile].name);
      break;
    }
    default: break;
  }
  float x, z;
  editor_pointer_world(&x, &z);
  add("%.2f %.2f %.2f", double(x), double(terrain_height_at(editor.terrain, x, z)), double(z));
  lines.push_back(editor.status);
  return lines;
}
