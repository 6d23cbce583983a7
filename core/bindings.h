// Control bindings: the twelve value rows that drive the rider's controls and the eight
// command keys, each bound by a key name or by an axis name with its range.
#pragma once

#include <string>

struct InputAxis;  // an axis handle of the input layer

struct ControlBinding {
  const char* label;        // menu label, e.g. "Throttle"
  const char* default_key;  // default key name, e.g. "x"
  const char* key_name;     // bound key name (interned), null when unbound or bound to an axis
  int key_code;             // event code of key_name once resolved, 0 when unresolved
  const char* axis_name;    // bound axis name (interned), null unless bound to an axis
  InputAxis* axis;          // axis handle once resolved
  double axis_minimum;      // raw / 32768 at which the value is 0
  double axis_maximum;      // raw / 32768 at which the value is 1
};

enum BindingId {
  BIND_LEFT,
  BIND_RIGHT,
  BIND_THROTTLE,
  BIND_FRONT_BRAKE,
  BIND_REAR_BRAKE,
  BIND_UPSHIFT,
  BIND_DOWNSHIFT,
  BIND_CLUTCH,
  BIND_SIT_DAB,
  BIND_BACK_UP,
  BIND_LEAN_FORWARD,
  BIND_LEAN_BACKWARD,
  // Command bindings act on presses and have no row.
  BIND_SCREENSHOT,
  BIND_CHAT,
  BIND_PREVIOUS_BIKE,
  BIND_NEXT_BIKE,
  BIND_SKIP,
  BIND_REWIND,
  BIND_STEP,
  BIND_PAUSE,
  BINDING_COUNT
};

extern ControlBinding bindings[BINDING_COUNT];

// Control indices summed by the rows.
enum ControlIndex {
  CONTROL_STEER = 0,
  CONTROL_THROTTLE = 1,
  CONTROL_FRONT_BRAKE = 2,
  CONTROL_REAR_BRAKE = 3,
  CONTROL_SHIFT = 4,
  CONTROL_CLUTCH = 5,
  CONTROL_SIT_DAB = 6,
  CONTROL_BACK_UP = 7,
  CONTROL_LEAN = 8,
  CONTROL_COUNT = 9
};

struct BindingRow {
  ControlBinding* binding;
  int control;   // ControlIndex
  double scale;  // +1 or -1
  double value;  // current value 0..1
};

constexpr int BINDING_ROW_COUNT = 12;
extern BindingRow binding_table[BINDING_ROW_COUNT];

// Every binding back to its default key, unresolved, with all values 0.
void bindings_reset();

// Reads a settings value: after leading white space "(k)" and a key name, "(min,max)" and an
// axis name, or a bare key name. False (binding unchanged) when the value does not parse.
bool binding_parse(ControlBinding* binding, const char* value);

// Appends the settings value "(k)name" or "(%f,%f)name"; false for a binding with neither.
bool binding_format(const ControlBinding& binding, std::string* out);
