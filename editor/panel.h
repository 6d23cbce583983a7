// The editor's panel: its widgets (tool buttons, choices, sliders), their values, which are
// shown in each tool, where they lie on the screen, and how they react to keys and clicks.
#pragma once

#include "core/options.h"

// Widgets 0..15 are the tool buttons, in tool order.
constexpr int W_TOOL_FIRST = 0;
enum PanelWidgetIndex {
  W_SUBMODE = 16,
  W_SAVE,
  W_ZOOM,
  W_STRENGTH,
  W_FOCUS,
  W_RADIUS,
  W_BILLBOARD_SPACING,
  W_BILLBOARD_HEIGHT,
  W_NEW_GRADIENT,
  W_COPY_GRADIENT,
  W_SEGMENT_TYPE,
  W_GRANULARITY,
  W_SET_FROM_TERRAIN,
  W_FLATTEN,
  W_SET_SWITCH_POINT,
  W_CLEAR_SWITCH_POINT,
  W_TILE,
  W_SHOW_COLLIDABLE,
  W_SNAP_TO_GRADIENT,
  W_DECAL_SPACING,
  W_ORIENTATION,
  W_HIDE_DIFFERENT,
  W_LEVEL,
  W_DUMMY,
  PANEL_WIDGET_COUNT
};

enum SubMode { SUBMODE_ASSIGN, SUBMODE_RAISE_ONLY, SUBMODE_LOWER_ONLY };
enum DecalOrientation { ORIENT_COPY, ORIENT_RANDOM, ORIENT_FLOW, ORIENT_FLOW2, ORIENT_UPHILL };
enum DecalLevel { LEVEL_TOP, LEVEL_UNDER_CURRENT, LEVEL_OVER_CURRENT, LEVEL_BOTTOM };

enum WidgetKind { WIDGET_BUTTON, WIDGET_CHOICE, WIDGET_SLIDER, WIDGET_AREA };

// A rectangle in window pixels, y growing downward; right and bottom are exclusive.
struct PanelRect {
  int left, top, right, bottom;
};

struct PanelWidget {
  WidgetKind kind;
  int shown_in;  // the one tool it is shown in, -1 = always
  ChoiceOption choice;
  NumberOption number;
  PanelRect rect;  // empty while hidden
};

// The widgets with their values; they keep their values from track to track.
extern PanelWidget panel[PANEL_WIDGET_COUNT];

// The values the tools read.
inline double panel_value(int index) { return panel[index].number.value; }
inline int panel_choice(int index) { return panel[index].choice.index; }

// Back to the values at program start (tests).
void panel_reset();
bool panel_shown(int index, int mode);
// Places the shown widgets for the tool on a strip at the left edge of a window of the given
// height; the "dummy" area covers the whole strip.
void panel_layout(int mode, int window_height);
// The shown widget under a pixel, -1 = none.
int panel_hit(int mode, int px, int py);

// How an event reaches a widget.
enum PanelEvent { PANEL_ACTIVATE, PANEL_NEXT, PANEL_PREVIOUS, PANEL_CLICK, PANEL_POINTER_HELD };
// Applies the event to the widget (px is the pointer for clicks and held pointer moves): a button
// is activated, a choice moves, a slider steps or follows the pointer. True when a button was
// activated or a value changed.
bool panel_event(int index, PanelEvent event, int px);
