// Gathering and applying the player's controls.
#include "core/controls.h"

#include <algorithm>
#include <cmath>

#include "core/constants.h"
#include "core/settings.h"
#include "physics/bike.h"
#include "physics/controls.h"
#include "physics/drivetrain.h"
#include "platform/input.h"

MenuKeys menu_keys;
double control_inputs[CONTROL_COUNT];
FreeChaseCamera free_chase_camera = {0, 10, 5};

namespace {

bool sit_dab_latch = false;
bool sit_dab_was_high = false;

int key(VantWindow* window, const char* name) {
  int code = 0;
  return input_key_code(window, name, &code) ? code : 0;
}

}  // namespace

void controls_clear_values() {
  for (BindingRow& row : binding_table) row.value = 0;
}

void controls_resolve(VantWindow* window) {
  for (ControlBinding& b : bindings) {
    b.key_code = 0;
    if (b.key_name) b.key_code = key(window, b.key_name);
    if (b.axis_name) b.axis = input_bind_axis(window, b.axis_name);
  }
  controls_clear_values();
  MenuKeys& m = menu_keys;
  m.up = key(window, "up");
  m.down = key(window, "down");
  m.left = key(window, "left");
  m.right = key(window, "right");
  m.enter = key(window, "enter");
  m.keypad_enter = key(window, "keypad enter");
  m.esc = key(window, "esc");
  m.pause = key(window, "pause");
  m.cursor_left = key(window, "cursor-left");
  m.cursor_right = key(window, "cursor-right");
  m.page_up = key(window, "page up");
  m.page_down = key(window, "page down");
  m.close = key(window, "close");
  m.cursor_x = input_bind_axis(window, "cursor-x");
  m.cursor_y = input_bind_axis(window, "cursor-y");
}

void controls_release_axes() {
  if (menu_keys.cursor_x) input_release_axis(menu_keys.cursor_x);
  if (menu_keys.cursor_y) input_release_axis(menu_keys.cursor_y);
  menu_keys.cursor_x = menu_keys.cursor_y = nullptr;
  for (ControlBinding& b : bindings) {
    if (b.axis) input_release_axis(b.axis);
    b.axis = nullptr;
  }
}

double axis_binding_value(int raw, double minimum, double maximum) {
  double x = raw / 32768.0;
  // An empty range acts as a switch at its one point rather than dividing by zero.
  if (maximum == minimum) return x >= minimum ? 1.0 : 0.0;
  return std::clamp((x - minimum) / (maximum - minimum), 0.0, 1.0);
}

void controls_gather() {
  for (double& c : control_inputs) c = 0;
  for (BindingRow& row : binding_table) {
    const ControlBinding& b = *row.binding;
    if (b.axis) row.value = axis_binding_value(input_read_axis(b.axis), b.axis_minimum, b.axis_maximum);
    control_inputs[row.control] += row.scale * row.value;
  }
}

void controls_apply_to_rider(Bike* bike) {
  const BikeSetup& setup = settings.setup;
  const double* c = control_inputs;
  bool reversed = setup.reverse_steering.index == 1;
  // Through the setters: they clamp, and a rider who is down gives no throttle, sit/dab, back
  // up or lean and cannot shift.
  controls_set_steer(bike, float(reversed ? -c[CONTROL_STEER] : c[CONTROL_STEER]));
  controls_set_front_brake(bike, float(c[CONTROL_FRONT_BRAKE]));
  controls_set_rear_brake(bike, float(c[CONTROL_REAR_BRAKE]));
  controls_set_throttle(bike, float(c[CONTROL_THROTTLE]));
  double sit = c[CONTROL_SIT_DAB];
  if (setup.sticky_dab.index == 1) {
    bool high = sit >= 0.5;
    if (high && !sit_dab_was_high) sit_dab_latch = !sit_dab_latch;
    sit_dab_was_high = high;
    sit = sit_dab_latch ? 1 : 0;
  }
  controls_set_sit_dab(bike, float(sit));
  controls_set_back_up(bike, float(c[CONTROL_BACK_UP]));
  controls_set_lean(bike, float(c[CONTROL_LEAN]));
  // A lever pulled 7/8 of the way disengages fully; engaging takes at least 0.25 s.
  double target = std::clamp(1 - c[CONTROL_CLUTCH] * 8 / 7, 0.0, 1.0);
  double clutch = bike->controls.clutch;
  clutch = target > clutch ? std::min(target, clutch + 4 * SIM_STEP) : target;
  controls_set_clutch(bike, float(clutch));
  int shift = c[CONTROL_SHIFT] > 0.5 ? 1 : c[CONTROL_SHIFT] < -0.5 ? -1 : 0;
  gear_shift(bike, shift);
}

void controls_apply_to_chase_camera() {
  FreeChaseCamera& cam = free_chase_camera;
  const double* c = control_inputs;
  cam.angle += c[CONTROL_STEER] * 2 * M_PI / 1024;
  if (cam.angle > M_PI) cam.angle -= 2 * M_PI;
  if (cam.angle < -M_PI) cam.angle += 2 * M_PI;
  if (c[CONTROL_THROTTLE] > 0.5) cam.distance = std::max(0.25, cam.distance - 1.0 / 64);
  if (c[CONTROL_FRONT_BRAKE] > 0.5) cam.distance += 1.0 / 64;
  cam.height += SIM_STEP * c[CONTROL_SHIFT];
}
