// Watching the axes and keys while the player binds a control.
#include "core/binding_capture.h"

#include <cmath>

#include "core/console.h"
#include "platform/input.h"
#include "platform/vant.h"

BindingCapture binding_capture;

namespace {

double axis_position(InputAxis* axis) { return input_read_axis(axis) / 32768.0; }

void rebind(ControlBinding* b, const char* key_name, int key_code, const char* axis_name,
            double minimum, double maximum) {
  if (b->axis) input_release_axis(b->axis);
  b->axis = nullptr;
  b->key_name = key_name;
  b->key_code = key_code;
  b->axis_name = axis_name;
  b->axis_minimum = minimum;
  b->axis_maximum = maximum;
  if (axis_name) b->axis = input_bind_axis(binding_capture.window, axis_name);
}

}  // namespace

void capture_axis_range(double rest, double extreme, double* minimum, double* maximum) {
  *minimum = rest + (extreme - rest) / 16;
  *maximum = rest + 15 * (extreme - rest) / 16;
}

void binding_capture_start(VantWindow* window, ControlBinding* binding, double now) {
  binding_capture_end();
  BindingCapture& c = binding_capture;
  c.active = true;
  c.binding = binding;
  c.window = window;
  c.timer = now;
  c.key_code = 0;
  if (debug_level > 0) vant_log("Watching pots\n");
  for (const char* const* name = vant_device_names(window); name && *name; name++) {
    InputAxis* axis = input_bind_axis(window, *name);
    if (debug_level > 0) vant_log("\t%s %s\n", *name, axis ? "Ok" : "Failed");
    const double rest = axis ? axis_position(axis) : 0;
    c.axes.push_back(CapturedAxis{*name, axis, rest, rest});
  }
}

void binding_capture_key(int code, double now) {
  BindingCapture& c = binding_capture;
  if (!c.active) return;
  int esc = 0;
  if (input_key_code(c.window, "esc", &esc) && code == esc) {
    binding_capture_end();
    return;
  }
  // Typed characters come with their key's own event; only named codes can be stored.
  if (!input_key_name(c.window, code)) return;
  c.key_code = code;
  c.timer = now;
}

bool binding_capture_update(double now) {
  BindingCapture& c = binding_capture;
  if (!c.active) return false;
  for (CapturedAxis& a : c.axes) {
    if (!a.axis) continue;
    const double value = axis_position(a.axis);
    if (std::fabs(value - a.rest) > std::fabs(a.extreme - a.rest)) {
      a.extreme = value;
      c.timer = now;
    }
  }
  if (now - c.timer < CAPTURE_SETTLE_SECONDS) return true;
  for (const CapturedAxis& a : c.axes) {
    if (!a.axis || std::fabs(a.extreme - a.rest) <= CAPTURE_AXIS_TRAVEL) continue;
    double minimum, maximum;
    capture_axis_range(a.rest, a.extreme, &minimum, &maximum);
    const char* name = a.name;
    ControlBinding* binding = c.binding;
    binding_capture_end();
    rebind(binding, nullptr, 0, name, minimum, maximum);
    return false;
  }
  if (c.key_code) {
    ControlBinding* binding = c.binding;
    const int code = c.key_code;
    binding_capture_end();
    rebind(binding, vant_intern(input_key_name(c.window, code)), code, nullptr, 0, 0);
    return false;
  }
  return true;
}

void binding_capture_end() {
  BindingCapture& c = binding_capture;
  if (c.active && debug_level > 0) vant_log("Done watching pots\n");
  for (CapturedAxis& a : c.axes)
    if (a.axis) input_release_axis(a.axis);
  c.axes.clear();
  c.active = false;
  c.binding = nullptr;
  c.key_code = 0;
}
