// The player's controls: resolving bindings to event codes and axes, gathering the binding
// values into nine control inputs each step, and applying them to the rider or the free
// cameras.
#pragma once

#include "core/bindings.h"

struct VantWindow;
struct Bike;

// Menu navigation keys, resolved once by name at start.
struct MenuKeys {
  int up, down, left, right, enter, keypad_enter, esc, pause;
  int cursor_left, cursor_right, page_up, page_down, close;
  InputAxis* cursor_x;
  InputAxis* cursor_y;
};
extern MenuKeys menu_keys;

// Resolves every binding (key code or axis handle), clears all values, and resolves the menu
// navigation keys and the cursor axes.
void controls_resolve(VantWindow* window);
// Releases the cursor axes and every axis handle of the bindings.
void controls_release_axes();
// Sets every binding row's value to 0.
void controls_clear_values();

// The nine control inputs of the last gather (steer, throttle, front brake, rear brake, shift,
// clutch lever, sit/dab, back up, lean).
extern double control_inputs[CONTROL_COUNT];
// Reads the axis-bound rows and sums scale x value per control index.
void controls_gather();
// An axis reading raw (±32768 full scale) as a 0..1 binding value for the range min..max.
double axis_binding_value(int raw, double minimum, double maximum);

// The player's controls for one step while riding, through the bike's control setters: steer
// (negated with "Reversed Steering"), throttle, brakes, sit/dab (a latch with "Sticky
// Sit/Dab"), back up, lean, the clutch that engages by at most 4 x SIM_STEP per step, and the
// shift input (-1, 0, +1) to the gearbox.
void controls_apply_to_rider(Bike* bike);

// The free chase camera steered by the controls when the player is not riding.
struct FreeChaseCamera {
  double angle;     // rad, -pi..pi
  double distance;  // ft
  double height;    // ft
};
extern FreeChaseCamera free_chase_camera;
void controls_apply_to_chase_camera();
