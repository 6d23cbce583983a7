// The binding records with their default keys, and their settings-file form.
#include "core/bindings.h"

#include <cstdio>
#include <cstring>

#include "core/settings.h"
#include "platform/vant.h"

ControlBinding bindings[BINDING_COUNT];
BindingRow binding_table[BINDING_ROW_COUNT];

void bindings_reset() {
  static const struct {
    const char* label;
    const char* key;
  } DEFAULTS[BINDING_COUNT] = {
      {"Left", "left"},           {"Right", "right"},         {"Throttle", "x"},
      {"Front Brake", "c"},       {"Rear Brake", "v"},        {"Upshift", "up"},
      {"Downshift", "down"},      {"Clutch", "z"},            {"Sit/Dab", "right ctrl"},
      {"Back up", "b"},           {"Lean Forward", "n"},      {"Lean Backward", "m"},
      {"Screenshot", "s"},        {"Chat", "t"},              {"Previous Bike", "["},
      {"Next Bike", "]"},         {"Skip", "/"},              {"Rewind", "\\"},
      {"Step", "."},              {"Pause", "pause"},
  };
  for (int i = 0; i < BINDING_COUNT; i++) {
    bindings[i] = ControlBinding{DEFAULTS[i].label, DEFAULTS[i].key, DEFAULTS[i].key, 0,
                                 nullptr, nullptr, 0, 0};
  }
  static const struct {
    BindingId id;
    int control;
    double scale;
  } ROWS[BINDING_ROW_COUNT] = {
      {BIND_LEFT, CONTROL_STEER, 1},           {BIND_RIGHT, CONTROL_STEER, -1},
      {BIND_THROTTLE, CONTROL_THROTTLE, 1},    {BIND_FRONT_BRAKE, CONTROL_FRONT_BRAKE, 1},
      {BIND_REAR_BRAKE, CONTROL_REAR_BRAKE, 1}, {BIND_UPSHIFT, CONTROL_SHIFT, 1},
      {BIND_DOWNSHIFT, CONTROL_SHIFT, -1},     {BIND_CLUTCH, CONTROL_CLUTCH, 1},
      {BIND_SIT_DAB, CONTROL_SIT_DAB, 1},      {BIND_BACK_UP, CONTROL_BACK_UP, 1},
      {BIND_LEAN_FORWARD, CONTROL_LEAN, -1},   {BIND_LEAN_BACKWARD, CONTROL_LEAN, 1},
  };
  for (int i = 0; i < BINDING_ROW_COUNT; i++)
    binding_table[i] = BindingRow{&bindings[ROWS[i].id], ROWS[i].control, ROWS[i].scale, 0};
}

bool binding_parse(ControlBinding* binding, const char* value) {
  const char* p = value;
  while (*p == ' ' || *p == '\t') p++;
  const char* key = p;
  if (strncmp(p, "(k)", 3) == 0) {
    key = p + 3;
  } else if (*p == '(') {
    // "(min,max)name": an axis with the raw range that maps to 0..1.
    double minimum, maximum;
    const char* q = p + 1;
    if (!parse_real(q, &minimum, &q) || *q != ',') return false;
    if (!parse_real(q + 1, &maximum, &q) || *q != ')') return false;
    const char* close = q;
    const char* name = vant_intern(close + 1);
    if (!name) return false;
    binding->axis_name = name[0] ? name : nullptr;
    binding->axis_minimum = minimum;
    binding->axis_maximum = maximum;
    binding->key_name = nullptr;
    binding->key_code = 0;
    return true;
  }
  const char* name = vant_intern(key);
  if (!name) return false;
  binding->key_name = name[0] ? name : nullptr;
  binding->key_code = 0;
  binding->axis_name = nullptr;
  return true;
}

bool binding_format(const ControlBinding& binding, std::string* out) {
  char buffer[96];
  if (binding.axis_name) {
    snprintf(buffer, sizeof buffer, "(%f,%f)", binding.axis_minimum, binding.axis_maximum);
    *out += buffer;
    *out += binding.axis_name;
    return true;
  }
  if (binding.key_name) {
    *out += "(k)";
    *out += binding.key_name;
    return true;
  }
  return false;
}
