// The editor panel's widgets, layout and reactions.
#include "editor/panel.h"

#include <cmath>

#include "editor/editor.h"

PanelWidget panel[PANEL_WIDGET_COUNT];

namespace {

constexpr int PANEL_WIDTH = 256;  // pixels
constexpr int ROW_HEIGHT = 22;
constexpr int PANEL_MARGIN = 8;
// A slider click this far beyond either end of its span still counts (pixels).
constexpr int SLIDER_SLACK = 15;

const char* const TOOL_LABELS[EDITOR_MODE_COUNT] = {
    "Raise", "Lower", "Smooth", "Smudge", "Snap", "Gradient Linear Paint", "Gradient Linear Add",
    "Gradient Radial Paint", "Gradient Radial Add", "Gradient Placement", "Gradient Edit", "Timing Gate",
    "Billboards", "Statues", "Tilemap Edit", "Decals"};
const char* const SUBMODES[] = {"Assign", "Raise Only", "Lower Only"};
const char* const SEGMENT_TYPES[] = {"Line", "Curve"};
const char* const NO_YES[] = {"No", "Yes"};
const char* const ORIENTATIONS[] = {"Copy", "Random", "Flow", "Flow2", "Uphill"};
const char* const LEVELS[] = {"Top", "Under Current", "Over Current", "Bottom"};

PanelWidget button(const char* label, int shown_in = -1) {
  PanelWidget w{};
  w.kind = WIDGET_BUTTON;
  w.shown_in = shown_in;
  w.choice.label = label;
  return w;
}

PanelWidget choice(const char* label, const char* const* choices, int count, int index, int shown_in = -1) {
  PanelWidget w{};
  w.kind = WIDGET_CHOICE;
  w.shown_in = shown_in;
  w.choice = {label, choices, count, index};
  return w;
}

PanelWidget slider(const char* label, double value, double step, double minimum, double maximum,
                   int shown_in = -1) {
  PanelWidget w{};
  w.kind = WIDGET_SLIDER;
  w.shown_in = shown_in;
  w.number = {label, value, step, minimum, maximum};
  return w;
}

// Rows of text the panel shows below a widget, kept free in the layout.
int text_rows_after(int index, int mode) {
  if (index == W_RADIUS) return 2;  // actual radius and strength
  if (index == W_BILLBOARD_HEIGHT && mode == MODE_BILLBOARDS) return 1;
  if (index == W_COPY_GRADIENT && mode == MODE_GRADIENT_PLACEMENT) return 1;
  if (index == W_FLATTEN && mode == MODE_GRADIENT_EDIT) return 2;
  if (index == W_CLEAR_SWITCH_POINT && mode == MODE_TIMING_GATE) return 1;
  if (index == W_TILE && mode == MODE_TILEMAP) return 3;  // name and picture
  return 0;
}

bool inside(const PanelRect& r, int px, int py) {
  return px >= r.left && px < r.right && py >= r.top && py < r.bottom;
}

}  // namespace

void panel_reset() {
  for (int i = 0; i < EDITOR_MODE_COUNT; i++) panel[W_TOOL_FIRST + i] = button(TOOL_LABELS[i]);
  panel[W_SUBMODE] = choice("SubMode", SUBMODES, 3, SUBMODE_ASSIGN);
  panel[W_SAVE] = button("Save");
  panel[W_ZOOM] = slider("Zoom", 1, 0.125, -3, 8);
  panel[W_STRENGTH] = slider("Strength", 3, 0.25, -5, 5);
  panel[W_FOCUS] = slider("Focus", 0.5, 1.0 / 32, 0, 1);
  panel[W_RADIUS] = slider("Radius", 64, 1, 1, 128);
  panel[W_BILLBOARD_SPACING] = slider("Spacing", 1, 0.25, 0.25, 1000, MODE_BILLBOARDS);
  panel[W_BILLBOARD_HEIGHT] = slider("Height", 0, 0.25, -50, 50, MODE_BILLBOARDS);
  panel[W_NEW_GRADIENT] = button("New Gradient", MODE_GRADIENT_PLACEMENT);
  panel[W_COPY_GRADIENT] = button("Copy Gradient", MODE_GRADIENT_PLACEMENT);
  panel[W_SEGMENT_TYPE] = choice("Segment Type", SEGMENT_TYPES, 2, SEGMENT_LINE, MODE_GRADIENT_EDIT);
  panel[W_GRANULARITY] = slider("Granularity", 0, 1.0 / 16, 0, 1, MODE_GRADIENT_EDIT);
  panel[W_SET_FROM_TERRAIN] = button("Set From Terrain", MODE_GRADIENT_EDIT);
  panel[W_FLATTEN] = button("Flatten", MODE_GRADIENT_EDIT);
  panel[W_SET_SWITCH_POINT] = button("Set AI Switch Point", MODE_TIMING_GATE);
  panel[W_CLEAR_SWITCH_POINT] = button("Clear AI Switch Point", MODE_TIMING_GATE);
  panel[W_TILE] = slider("Tile", 0, 1, 0, 255, MODE_TILEMAP);
  panel[W_SHOW_COLLIDABLE] = choice("Show Collidable", NO_YES, 2, 0, MODE_STATUES);
  panel[W_SNAP_TO_GRADIENT] = button("Snap to Gradient", MODE_STATUES);
  panel[W_DECAL_SPACING] = slider("Spacing", 0.75, 1.0 / 16, 0.25, 4, MODE_DECALS);
  panel[W_ORIENTATION] = choice("Orientation", ORIENTATIONS, 5, ORIENT_FLOW, MODE_DECALS);
  panel[W_HIDE_DIFFERENT] = choice("Hide different", NO_YES, 2, 0, MODE_DECALS);
  panel[W_LEVEL] = choice("Level", LEVELS, 4, LEVEL_OVER_CURRENT, MODE_DECALS);
  panel[W_DUMMY] = PanelWidget{};
  panel[W_DUMMY].kind = WIDGET_AREA;
  panel[W_DUMMY].shown_in = -1;
}

namespace {

// The values at program start.
struct PanelDefaults {
  PanelDefaults() { panel_reset(); }
} panel_defaults;

}  // namespace

bool panel_shown(int index, int mode) {
  return index >= 0 && index < PANEL_WIDGET_COUNT && (panel[index].shown_in < 0 || panel[index].shown_in == mode);
}

void panel_layout(int mode, int window_height) {
  int top = PANEL_MARGIN;
  for (int i = 0; i < W_DUMMY; i++) {
    PanelWidget& w = panel[i];
    if (!panel_shown(i, mode)) {
      w.rect = {0, 0, 0, 0};
      continue;
    }
    w.rect = {PANEL_MARGIN, top, PANEL_WIDTH - PANEL_MARGIN, top + ROW_HEIGHT};
    top += ROW_HEIGHT * (1 + text_rows_after(i, mode));
  }
  panel[W_DUMMY].rect = {0, 0, PANEL_WIDTH, window_height};
}

int panel_hit(int mode, int px, int py) {
  for (int i = 0; i < PANEL_WIDGET_COUNT; i++)
    if (panel_shown(i, mode) && inside(panel[i].rect, px, py)) return i;
  return -1;
}

bool panel_event(int index, PanelEvent event, int px) {
  if (index < 0 || index >= PANEL_WIDGET_COUNT) return false;
  PanelWidget& w = panel[index];
  switch (w.kind) {
    case WIDGET_BUTTON:
      return event == PANEL_ACTIVATE || event == PANEL_CLICK;
    case WIDGET_CHOICE: {
      ChoiceOption& c = w.choice;
      if (c.count <= 0 || event == PANEL_POINTER_HELD) return false;
      int step = event == PANEL_PREVIOUS ? c.count - 1 : 1;
      c.index = (c.index + step) % c.count;
      return true;
    }
    case WIDGET_SLIDER: {
      NumberOption& n = w.number;
      double value = n.value;
      if (event == PANEL_NEXT) value += n.step;
      else if (event == PANEL_PREVIOUS) value -= n.step;
      else if (event == PANEL_CLICK || event == PANEL_POINTER_HELD) {
        int left = w.rect.left, right = w.rect.right;
        if (right <= left || px < left - SLIDER_SLACK || px > right + SLIDER_SLACK) return false;
        double fraction = double(px - left) / double(right - left);
        value = n.minimum + n.step * std::round(fraction * (n.maximum - n.minimum) / n.step);
      } else {
        return false;
      }
      value = value < n.minimum ? n.minimum : (value > n.maximum ? n.maximum : value);
      bool changed = value != n.value;
      n.value = value;
      return changed;
    }
    case WIDGET_AREA:
      return false;
  }
  return false;
}
