// The settings store, its "key=value" file, the bike setup keys, presets and derived values.
#include "core/settings.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/bindings.h"
#include "physics/model_names.h"
#include "platform/display.h"

Settings settings;
RenderParams render_params;
VideoModeEntry video_mode_list[VIDEO_MODE_MAX];
int video_mode_count = 0;

const char* const DEFAULT_SERVER_NAME = "localhost";

namespace {

const char* const NO_YES[] = {"No", "Yes"};
const char* const SKILLS[] = {"Novice", "Amateur", "Expert"};
const char* const GATE_CHOICES[] = {"Empty", "Human", "Robot", "Robot (2 stroke)",
                                    "Robot (4 stroke)"};
const char* const TEXTURE_DIMS[] = {"32x32",   "64x64",     "128x128",
                                    "256x256", "512x512",   "1024x1024"};
const char* const COMPRESS_CHOICES[] = {"No", "Yes", "Always"};
const char* const RENDER_METHODS[] = {"Software", "Hardware/Copy", "Hardware/Direct",
                                      "Shaders/Copy", "Shaders/Direct"};
const char* const PLAYBACK_MODES[] = {"Playback Only", "Race Against"};
const char* const BRAKE_MODES[] = {"Normal", "Antilock"};
const char* const WHEELIE_CHOICES[] = {"No", "Yes", "Front Only"};
enum { RENDER_HARDWARE_COPY = 1, RENDER_HARDWARE_DIRECT = 2 };

// Menu labels of the forty gate choices, "Gate 1".."Gate 40".
char gate_labels[GATE_SLOT_COUNT][12];
const char* video_mode_labels[VIDEO_MODE_MAX];

constexpr int LINE_SIZE = 4096;

template <size_t N>
ChoiceOption choice(const char* label, const char* const (&choices)[N], int index) {
  return ChoiceOption{label, choices, static_cast<int>(N), index};
}

NumberOption number(const char* label, double value, double step, double minimum,
                    double maximum) {
  return NumberOption{label, value, step, minimum, maximum};
}

void set_text(char* target, size_t size, const char* text) { snprintf(target, size, "%s", text); }

void setup_reset(BikeSetup* s) {
  set_text(s->bike, sizeof s->bike, "yz250f(2017)");
  set_text(s->name, sizeof s->name, "Dan Dirtline");
  set_text(s->number, sizeof s->number, "999");
  // The graphics families fill these with the first name of each list once they are read.
  s->rider_texture[0] = s->head_texture[0] = s->bike_texture[0] = s->wheel_texture[0] = 0;
  s->stability = number("Stability", 100, 1, 0, 100);
  s->leveling = number("Leveling", 20, 1, 0, 100);
  s->roll_damping = number("Roll Damping", 80, 1, 0, 100);
  s->roll_limit_angle = number("Roll Limit Angle", 45, 1, 0, 180);
  s->roll_limit_factor = number("Roll Limit Factor", 32, 1, 0, 64);
  s->steering_damping = number("Steering Damping", 60, 1, 0, 100);
  s->steering_strength = number("Steering Strength", 75, 1, 0, 100);
  s->max_steering_force = number("Max Steering Force", 400, 5, 0, 1000);
  s->direct_steering = number("Direct Steering", 0.125, 0.125, 0, 1);
  s->slow_damping_speed = number("Slow Damping Speed", 40, 1, 0, 100);
  s->slow_damping_factor = number("Slow Damping Factor", 2, 0.25, 1, 10);
  s->land_damping_falloff = number("Landing Damping Falloff", 0.25, 0.0625, 0, 0.5);
  s->land_damping_factor = number("Landing Damping Factor", 2, 0.25, 1, 3);
  s->full_lock_speed = number("Full Lock Speed", 10, 1, 1, 100);
  s->restricted_lock_speed = number("Restricted Lock Speed", 50, 1, 1, 100);
  s->restricted_lock = number("Restricted Lock Angle", 1, 0.125, 0, 45);
  s->arcade = choice("Arcade Physics", NO_YES, 1);
  s->front_brake = choice("Front Brake", BRAKE_MODES, 1);
  s->rear_brake = choice("Rear Brake", BRAKE_MODES, 0);
  s->stop_wheelies = choice("Stop Wheelies", WHEELIE_CHOICES, 1);
  s->auto_shift = choice("Automatic Shifting", NO_YES, 1);
  s->auto_dab = choice("Dab When Stopped", NO_YES, 1);
  s->auto_align = choice("Realign After Fall", NO_YES, 1);
  s->sticky_dab = choice("Sticky Sit/Dab", NO_YES, 0);
  s->reverse_steering = choice("Reversed Steering", NO_YES, 1);
  s->lean_indicator = choice("Lean Indicator", NO_YES, 1);
  s->auto_clutch_rpms = number("Auto Clutch RPMs", 5000, 100, 0, 5000);
  s->brake_torque = number("Braking Torque (Front)", 500, 10, 0, 500);
  s->rear_brake_torque = number("Braking Torque (Rear)", 250, 10, 0, 500);
  s->max_dab_speed = number("Max Dab Speed (MPH)", 60, 1, 5, 60);
  s->front_sprocket_adjustment = number("Countershaft Sprocket", 0, 1, -2, 2);
  s->rear_sprocket_adjustment = number("Rear Sprocket", 0, 1, -2, 2);
  s->fork_compression = number("Fork High Speed Compression Damping", 50, 1, 0, 100);
  s->fork_slow_compression = number("Fork Low Speed Compression Damping", 50, 1, 0, 100);
  s->fork_rebound = number("Fork High Speed Rebound Damping", 50, 1, 0, 100);
  s->fork_slow_rebound = number("Fork Low Speed Rebound Damping", 50, 1, 0, 100);
  s->fork_spring_rate = number("Fork Spring Rate", 50, 1, 0, 100);
  s->fork_preload = number("Fork Preload", 50, 1, 0, 100);
  s->fork_oil_level = number("Fork Oil Level", 50, 1, 0, 100);
  s->shock_compression = number("Shock High Speed Compression Damping", 75, 1, 0, 100);
  s->shock_slow_compression = number("Shock Low Speed Compression Damping", 50, 1, 0, 100);
  s->shock_rebound = number("Shock High Speed Rebound Damping", 75, 1, 0, 100);
  s->shock_slow_rebound = number("Shock Low Speed Rebound Damping", 50, 1, 0, 100);
  s->shock_spring_rate = number("Shock Spring Rate", 50, 1, 0, 100);
  s->shock_preload = number("Shock Preload", 50, 1, 0, 100);
  s->rider_yspring = number("Rider Vertical Spring", 50, 1, 0, 100);
  s->rider_ydamping = number("Rider Vertical Damping", 50, 1, 0, 100);
  s->rider_zspring = number("Rider Forward Spring", 50, 1, 0, 100);
  s->rider_zdamping = number("Rider Forward Damping", 50, 1, 0, 100);
  s->rider_mass_distribution = number("Rider Mass Distribution", 0.33, 0.01, 0.33, 0.5);
}

// --- The key tables ---------------------------------------------------------------------

enum KeyKind { KEY_INT, KEY_TEXT, KEY_CHOICE, KEY_NUMBER, KEY_REAL, KEY_BINDING, KEY_SETUP };

struct Key {
  char name[40];
  KeyKind kind;
  void* target;
  int max_length;    // KEY_TEXT: longest value accepted
  double min, max;   // KEY_INT and KEY_REAL: accepted range
};

constexpr int MAIN_KEY_MAX = 160;
constexpr int SETUP_KEY_MAX = 64;
Key main_keys[MAIN_KEY_MAX];
int main_key_count = 0;
Key setup_keys[SETUP_KEY_MAX];
int setup_key_count = 0;

void add(Key* table, int* count, const char* name, KeyKind kind, void* target, int max_length = 0,
         double min = INT_MIN, double max = INT_MAX) {
  Key& k = table[(*count)++];
  set_text(k.name, sizeof k.name, name);
  k.kind = kind;
  k.target = target;
  k.max_length = max_length;
  k.min = min;
  k.max = max;
}

void build_tables() {
  if (main_key_count) return;
  Settings& s = settings;
  Key* m = main_keys;
  int* n = &main_key_count;
  // A window size outside this range could not be opened and would stop the game starting.
  add(m, n, "xres", KEY_INT, &s.xres, 0, 1, 16384);
  add(m, n, "yres", KEY_INT, &s.yres, 0, 1, 16384);
  add(m, n, "draw_fps", KEY_INT, &s.draw_fps);
  add(m, n, "draw_time", KEY_INT, &s.draw_time);
  add(m, n, "draw_ping", KEY_INT, &s.draw_ping);
  add(m, n, "draw_speed", KEY_INT, &s.draw_speed);
  add(m, n, "spy", KEY_INT, &s.spy);
  add(m, n, "track", KEY_TEXT, s.track, SETTING_TEXT_SIZE - 1);
  add(m, n, "record", KEY_CHOICE, &s.record);
  add(m, n, "skill", KEY_CHOICE, &s.skill);
  add(m, n, "minutes", KEY_NUMBER, &s.minutes);
  add(m, n, "laps", KEY_NUMBER, &s.laps);
  for (int i = 0; i < GATE_SLOT_COUNT; i++) {
    char name[16];
    snprintf(name, sizeof name, "slot%02d", i);
    add(m, n, name, KEY_CHOICE, &s.gate[i]);
  }
  add(m, n, "ghost_fade_distance", KEY_NUMBER, &s.ghost_fade_distance);
  add(m, n, "time_trial_abort", KEY_CHOICE, &s.time_trial_abort);
  add(m, n, "", KEY_SETUP, nullptr);
  add(m, n, "video_mode", KEY_CHOICE, &s.video_mode);
  add(m, n, "server_name", KEY_TEXT, s.server_name, RECENT_SERVER_SIZE - 1);
  for (int i = 0; i < RECENT_SERVER_COUNT; i++) {
    char name[40];
    snprintf(name, sizeof name, "server_name_hist%02d", i);
    add(m, n, name, KEY_TEXT, s.server_name_hist[i], RECENT_SERVER_SIZE - 2);
  }
  add(m, n, "ground_detail", KEY_NUMBER, &s.ground_detail);
  add(m, n, "ground_texture_detail", KEY_NUMBER, &s.ground_texture_detail);
  add(m, n, "ground_texture_dim", KEY_CHOICE, &s.ground_texture_dim);
  add(m, n, "ground_mipmaps", KEY_CHOICE, &s.ground_mipmaps);
  add(m, n, "texture_compress", KEY_CHOICE, &s.texture_compress);
  add(m, n, "render_texture", KEY_CHOICE, &s.render_texture);
  add(m, n, "use_shader", KEY_CHOICE, &s.use_shader);
  add(m, n, "roost_density", KEY_NUMBER, &s.roost_density);
  add(m, n, "reshade_delay", KEY_NUMBER, &s.reshade_delay);
  add(m, n, "lens_flare", KEY_CHOICE, &s.lens_flare);
  add(m, n, "reflections", KEY_CHOICE, &s.reflections);
  add(m, n, "hide_rider", KEY_CHOICE, &s.hide_rider);
  add(m, n, "rigid_camera", KEY_CHOICE, &s.rigid_camera);
  add(m, n, "model_detail", KEY_NUMBER, &s.model_detail);
  add(m, n, "model_texture_detail", KEY_NUMBER, &s.model_texture_detail);
  add(m, n, "fov", KEY_NUMBER, &s.fov);
  add(m, n, "first_person_height", KEY_NUMBER, &s.first_person_height);
  add(m, n, "first_person_angle", KEY_NUMBER, &s.first_person_angle);
  add(m, n, "third_person_height", KEY_NUMBER, &s.third_person_height);
  add(m, n, "third_person_distance", KEY_NUMBER, &s.third_person_distance);
  add(m, n, "volume", KEY_NUMBER, &s.volume);
  add(m, n, "comp_volume", KEY_NUMBER, &s.comp_volume);
  add(m, n, "playback_mode", KEY_CHOICE, &s.playback_mode);
  add(m, n, "billboard_optimize_lookahead", KEY_INT, &s.billboard_optimize_lookahead);
  // The on-screen message ring holds 1000 lines; more visible lines than that cannot exist.
  add(m, n, "message_lines", KEY_INT, &s.message_lines, 0, 0, 1000);
  add(m, n, "demo_backups", KEY_INT, &s.demo_backups);
  add(m, n, "map_scale", KEY_REAL, &s.map_scale, 0, 0.125, 8);
  static const struct {
    const char* key;
    BindingId id;
  } BINDING_KEYS[] = {
      {"throttle_key", BIND_THROTTLE},     {"front_brake_key", BIND_FRONT_BRAKE},
      {"rear_brake_key", BIND_REAR_BRAKE}, {"left_key", BIND_LEFT},
      {"right_key", BIND_RIGHT},           {"clutch_key", BIND_CLUTCH},
      {"upshift_key", BIND_UPSHIFT},       {"downshift_key", BIND_DOWNSHIFT},
      {"dab_key", BIND_SIT_DAB},           {"back_up_key", BIND_BACK_UP},
      {"lean_forward_key", BIND_LEAN_FORWARD}, {"lean_backward_key", BIND_LEAN_BACKWARD},
      {"pause_key", BIND_PAUSE},           {"step_key", BIND_STEP},
      {"rewind_key", BIND_REWIND},         {"skip_key", BIND_SKIP},
      {"prev_key", BIND_PREVIOUS_BIKE},    {"next_key", BIND_NEXT_BIKE},
      {"console_key", BIND_CHAT},          {"screenshot_key", BIND_SCREENSHOT},
  };
  for (const auto& b : BINDING_KEYS) add(m, n, b.key, KEY_BINDING, &bindings[b.id]);

  BikeSetup& u = s.setup;
  Key* t = setup_keys;
  n = &setup_key_count;
  add(t, n, "bike", KEY_TEXT, u.bike, SETTING_TEXT_SIZE - 1);
  add(t, n, "name", KEY_TEXT, u.name, SETTING_TEXT_SIZE - 1);
  add(t, n, "number", KEY_TEXT, u.number, SETTING_TEXT_SIZE - 1);
  add(t, n, "rider_texture", KEY_TEXT, u.rider_texture, GRAPHICS_NAME_SIZE - 1);
  add(t, n, "head_texture", KEY_TEXT, u.head_texture, GRAPHICS_NAME_SIZE - 1);
  add(t, n, "bike_texture", KEY_TEXT, u.bike_texture, GRAPHICS_NAME_SIZE - 1);
  add(t, n, "wheel_texture", KEY_TEXT, u.wheel_texture, GRAPHICS_NAME_SIZE - 1);
  add(t, n, "stability", KEY_NUMBER, &u.stability);
  add(t, n, "leveling", KEY_NUMBER, &u.leveling);
  add(t, n, "roll_damping", KEY_NUMBER, &u.roll_damping);
  add(t, n, "roll_limit_angle", KEY_NUMBER, &u.roll_limit_angle);
  add(t, n, "roll_limit_factor", KEY_NUMBER, &u.roll_limit_factor);
  add(t, n, "steering_damping", KEY_NUMBER, &u.steering_damping);
  add(t, n, "steering_strength", KEY_NUMBER, &u.steering_strength);
  add(t, n, "max_steering_force", KEY_NUMBER, &u.max_steering_force);
  add(t, n, "direct_steering", KEY_NUMBER, &u.direct_steering);
  add(t, n, "slow_damping_speed", KEY_NUMBER, &u.slow_damping_speed);
  add(t, n, "slow_damping_factor", KEY_NUMBER, &u.slow_damping_factor);
  add(t, n, "land_damping_falloff", KEY_NUMBER, &u.land_damping_falloff);
  add(t, n, "land_damping_factor", KEY_NUMBER, &u.land_damping_factor);
  add(t, n, "full_lock_speed", KEY_NUMBER, &u.full_lock_speed);
  add(t, n, "restricted_lock_speed", KEY_NUMBER, &u.restricted_lock_speed);
  add(t, n, "restricted_lock", KEY_NUMBER, &u.restricted_lock);
  add(t, n, "arcade", KEY_CHOICE, &u.arcade);
  add(t, n, "front_brake", KEY_CHOICE, &u.front_brake);
  add(t, n, "rear_brake", KEY_CHOICE, &u.rear_brake);
  add(t, n, "stop_wheelies", KEY_CHOICE, &u.stop_wheelies);
  add(t, n, "auto_shift", KEY_CHOICE, &u.auto_shift);
  add(t, n, "auto_dab", KEY_CHOICE, &u.auto_dab);
  add(t, n, "auto_align", KEY_CHOICE, &u.auto_align);
  add(t, n, "sticky_dab", KEY_CHOICE, &u.sticky_dab);
  add(t, n, "reverse_steering", KEY_CHOICE, &u.reverse_steering);
  add(t, n, "lean_indicator", KEY_CHOICE, &u.lean_indicator);
  add(t, n, "auto_clutch_rpms", KEY_NUMBER, &u.auto_clutch_rpms);
  add(t, n, "brake_torque", KEY_NUMBER, &u.brake_torque);
  add(t, n, "rear_brake_torque", KEY_NUMBER, &u.rear_brake_torque);
  add(t, n, "max_dab_speed", KEY_NUMBER, &u.max_dab_speed);
  add(t, n, "front_sprocket_adjustment", KEY_NUMBER, &u.front_sprocket_adjustment);
  add(t, n, "rear_sprocket_adjustment", KEY_NUMBER, &u.rear_sprocket_adjustment);
  add(t, n, "fork_compression_adjustment", KEY_NUMBER, &u.fork_compression);
  add(t, n, "fork_slow_compression_adjustment", KEY_NUMBER, &u.fork_slow_compression);
  add(t, n, "fork_rebound_adjustment", KEY_NUMBER, &u.fork_rebound);
  add(t, n, "fork_slow_rebound_adjustment", KEY_NUMBER, &u.fork_slow_rebound);
  add(t, n, "fork_spring_rate_adjustment", KEY_NUMBER, &u.fork_spring_rate);
  add(t, n, "fork_preload_adjustment", KEY_NUMBER, &u.fork_preload);
  add(t, n, "fork_oil_level_adjustment", KEY_NUMBER, &u.fork_oil_level);
  add(t, n, "shock_compression_adjustment", KEY_NUMBER, &u.shock_compression);
  add(t, n, "shock_slow_compression_adjustment", KEY_NUMBER, &u.shock_slow_compression);
  add(t, n, "shock_rebound_adjustment", KEY_NUMBER, &u.shock_rebound);
  add(t, n, "shock_slow_rebound_adjustment", KEY_NUMBER, &u.shock_slow_rebound);
  add(t, n, "shock_spring_rate_adjustment", KEY_NUMBER, &u.shock_spring_rate);
  add(t, n, "shock_preload_adjustment", KEY_NUMBER, &u.shock_preload);
  add(t, n, "rider_yspring", KEY_NUMBER, &u.rider_yspring);
  add(t, n, "rider_ydamping", KEY_NUMBER, &u.rider_ydamping);
  add(t, n, "rider_zspring", KEY_NUMBER, &u.rider_zspring);
  add(t, n, "rider_zdamping", KEY_NUMBER, &u.rider_zdamping);
  add(t, n, "rider_mass_distribution", KEY_NUMBER, &u.rider_mass_distribution);
}

const Key* find_key(const Key* table, int count, const char* name) {
  for (int i = 0; i < count; i++)
    if (table[i].kind != KEY_SETUP && strcmp(table[i].name, name) == 0) return &table[i];
  return nullptr;
}

bool choice_set(ChoiceOption* option, const char* label) {
  for (int i = 0; i < option->count; i++) {
    if (strcmp(option->choices[i], label) == 0) {
      option->index = i;
      return true;
    }
  }
  return false;
}

double clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }

bool apply_key(const Key& k, const char* value) {
  switch (k.kind) {
    case KEY_INT: {
      int v;
      if (!parse_int(value, &v) || v < k.min || v > k.max) return false;
      *static_cast<int*>(k.target) = v;
      return true;
    }
    case KEY_TEXT:
      if (strlen(value) > static_cast<size_t>(k.max_length)) return false;
      strcpy(static_cast<char*>(k.target), value);
      return true;
    case KEY_CHOICE:
      return choice_set(static_cast<ChoiceOption*>(k.target), value);
    case KEY_NUMBER: {
      double v;
      if (!parse_real(value, &v)) return false;
      NumberOption* option = static_cast<NumberOption*>(k.target);
      option->value = clamp(v, option->minimum, option->maximum);
      return true;
    }
    case KEY_REAL: {
      double v;
      if (!parse_real(value, &v)) return false;
      *static_cast<double*>(k.target) = clamp(v, k.min, k.max);
      return true;
    }
    case KEY_BINDING:
      return binding_parse(static_cast<ControlBinding*>(k.target), value);
    case KEY_SETUP:
      return false;
  }
  return false;
}

void format_key(const Key& k, std::string* out) {
  char buffer[64];
  const char* value = buffer;
  switch (k.kind) {
    case KEY_INT:
      snprintf(buffer, sizeof buffer, "%d", *static_cast<int*>(k.target));
      break;
    case KEY_TEXT:
      value = static_cast<const char*>(k.target);
      break;
    case KEY_CHOICE:
      value = choice_label(*static_cast<ChoiceOption*>(k.target));
      break;
    case KEY_NUMBER:
      snprintf(buffer, sizeof buffer, "%f", static_cast<NumberOption*>(k.target)->value);
      break;
    case KEY_REAL:
      snprintf(buffer, sizeof buffer, "%f", *static_cast<double*>(k.target));
      break;
    case KEY_BINDING: {
      std::string binding;
      if (!binding_format(*static_cast<ControlBinding*>(k.target), &binding)) return;
      *out += k.name;
      *out += '=';
      *out += binding;
      *out += '\n';
      return;
    }
    case KEY_SETUP:
      setup_format(out);
      return;
  }
  *out += k.name;
  *out += '=';
  *out += value;
  *out += '\n';
}

}  // namespace

bool parse_real(const char* text, double* out, const char** end) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') p++;
  const char* start = p;
  if (*p == '+' || *p == '-') p++;
  int digits = 0;
  while (*p >= '0' && *p <= '9') p++, digits++;
  if (*p == '.') {
    p++;
    while (*p >= '0' && *p <= '9') p++, digits++;
  }
  if (digits == 0) return false;
  if (*p == 'e' || *p == 'E') {
    const char* e = p + 1;
    if (*e == '+' || *e == '-') e++;
    if (*e >= '0' && *e <= '9') {
      while (*e >= '0' && *e <= '9') e++;
      p = e;
    }
  }
  // Only the matched text goes to strtod, which would otherwise also read hex and "inf".
  std::string number(start, p);
  *out = strtod(number.c_str(), nullptr);
  if (end) *end = p;
  return true;
}

bool parse_int(const char* text, int* out) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') p++;
  const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
  if (*digits < '0' || *digits > '9') return false;
  errno = 0;
  long v = strtol(p, nullptr, 10);
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

void stability_apply(double stability) {
  BikeSetup& u = settings.setup;
  const struct {
    NumberOption* option;
    double level[6];
  } ROWS[] = {
      {&u.leveling, {20, 20, 20, 20, 20, 20}},
      {&u.roll_damping, {40, 50, 60, 70, 75, 80}},
      {&u.roll_limit_angle, {90, 45, 45, 45, 45, 45}},
      {&u.roll_limit_factor, {0, 5, 10, 32, 32, 32}},
      {&u.steering_damping, {45, 45, 45, 45, 50, 60}},
      {&u.steering_strength, {75, 75, 75, 75, 75, 75}},
      {&u.max_steering_force, {400, 400, 400, 400, 400, 400}},
      {&u.direct_steering, {1, 1, 1, 1, 1, 0.125}},
      {&u.slow_damping_speed, {40, 40, 40, 40, 40, 40}},
      {&u.slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
      {&u.land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
      {&u.land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
      {&u.full_lock_speed, {10, 10, 10, 10, 10, 10}},
      {&u.restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
      {&u.restricted_lock, {45, 15, 10, 5, 2.5, 1}},
  };
  double b = clamp(stability * 5 / 100, 0, 5);
  int level = static_cast<int>(std::floor(b));
  if (level > 4) level = 4;
  double f = b - level;
  for (const auto& row : ROWS)
    row.option->value = row.level[level] + f * (row.level[level + 1] - row.level[level]);
}

void graphics_preset_apply(int preset) {
  if (preset < 0 || preset >= GRAPHICS_PRESET_COUNT) return;
  Settings& s = settings;
  // Columns: Compatibility, High FPS, Normal, High Detail. Choices are indices.
  const struct {
    NumberOption* number;
    ChoiceOption* choice;
    double value[GRAPHICS_PRESET_COUNT];
  } ROWS[] = {
      {&s.ground_detail, nullptr, {70, 50, 70, 90}},
      {&s.ground_texture_detail, nullptr, {9, 7, 9, 10}},
      {nullptr, &s.ground_texture_dim, {1, 1, 2, 3}},
      {nullptr, &s.ground_mipmaps, {1, 1, 1, 1}},
      {nullptr, &s.texture_compress, {0, 1, 1, 0}},
      {nullptr, &s.render_texture, {0, 2, 4, 4}},
      {nullptr, &s.use_shader, {1, 0, 1, 1}},
      {&s.model_detail, nullptr, {50, 25, 50, 75}},
      {&s.model_texture_detail, nullptr, {9, 7, 9, 10}},
      {nullptr, &s.lens_flare, {1, 0, 1, 1}},
      {nullptr, &s.reflections, {1, 0, 1, 1}},
      {&s.roost_density, nullptr, {1000, 0, 1000, 1000}},
      {&s.reshade_delay, nullptr, {8, 10, 8, 0}},
  };
  for (const auto& row : ROWS) {
    if (row.number) row.number->value = row.value[preset];
    if (row.choice) row.choice->index = static_cast<int>(row.value[preset]);
  }
}

void video_mode_list_build(const DisplayMode* modes) {
  video_mode_count = 0;
  auto add_mode = [](const char* label, int width, int height) {
    VideoModeEntry& e = video_mode_list[video_mode_count];
    set_text(e.label, sizeof e.label, label);
    e.width = width;
    e.height = height;
    video_mode_labels[video_mode_count] = e.label;
    video_mode_count++;
  };
  add_mode("Default Fullscreen", 0, 0);
  add_mode("Windowed", 0, 0);
  if (modes) {
    int bits = modes[0].bits;
    for (const DisplayMode* m = modes; m->width || m->height || m->bits; m++) {
      if (m->bits != bits || video_mode_count == VIDEO_MODE_MAX) continue;
      char label[24];
      snprintf(label, sizeof label, "%dx%d", m->width, m->height);
      add_mode(label, m->width, m->height);
    }
  }
  ChoiceOption& v = settings.video_mode;
  v.choices = video_mode_labels;
  v.count = video_mode_count;
  if (v.index >= video_mode_count) v.index = VIDEO_DEFAULT_FULLSCREEN;
}

bool video_mode_target(int* width, int* height) {
  const int mode = settings.video_mode.index;
  if (mode == VIDEO_WINDOWED) {
    *width = settings.xres;
    *height = settings.yres;
    return false;
  }
  const bool listed = mode >= 0 && mode < video_mode_count;
  *width = listed ? video_mode_list[mode].width : 0;
  *height = listed ? video_mode_list[mode].height : 0;
  return true;
}

void settings_reset() {
  Settings& s = settings;
  s.xres = 640;
  s.yres = 480;
  s.draw_fps = 0;
  s.draw_time = 0;
  s.draw_ping = 1;
  s.draw_speed = 0;
  s.spy = 0;
  set_text(s.track, sizeof s.track, "rabbithill");
  s.record = choice("Record Demo", NO_YES, 0);
  s.skill = choice("Robot Skill", SKILLS, 0);
  s.minutes = number("Minutes", 0, 1, 0, 60);
  s.laps = number("Laps", 5, 1, 0, 50);
  for (int i = 0; i < GATE_SLOT_COUNT; i++) {
    snprintf(gate_labels[i], sizeof gate_labels[i], "Gate %d", i + 1);
    int kind = GATE_EMPTY;
    if (i == 19) kind = GATE_HUMAN;
    if (i == 17 || i == 18 || (i >= 20 && i <= 22)) kind = GATE_ROBOT;
    s.gate[i] = choice(gate_labels[i], GATE_CHOICES, kind);
  }
  s.ghost_fade_distance = number("Ghost Fade Distance", 10, 1, 0, 40);
  s.time_trial_abort = choice("Backing Up Aborts Attempt", NO_YES, 1);
  setup_reset(&s.setup);
  if (video_mode_count == 0) video_mode_list_build(nullptr);
  s.video_mode = ChoiceOption{"Video Mode", video_mode_labels, video_mode_count,
                              VIDEO_DEFAULT_FULLSCREEN};
  set_text(s.server_name, sizeof s.server_name, DEFAULT_SERVER_NAME);
  for (auto& h : s.server_name_hist) h[0] = 0;
  s.ground_detail = number("Ground Geometric Detail", 70, 1, 0, 100);
  s.ground_texture_detail = number("Ground Texture Levels", 9, 1, 0, 10);
  s.ground_texture_dim = choice("Ground Texture Resolution", TEXTURE_DIMS, 1);
  s.ground_mipmaps = choice("Enable Ground Mipmaps", NO_YES, 1);
  s.texture_compress = choice("Compress Textures", COMPRESS_CHOICES, 0);
  s.render_texture = choice("Terrain Rendering Method", RENDER_METHODS, 0);
  s.use_shader = choice("Use Shader Programs", NO_YES, 1);
  s.roost_density = number("Roost Density", 1000, 10, 0, 1000);
  s.reshade_delay = number("Reshade Delay", 8, 1, 0, 20);
  s.lens_flare = choice("Enable Lens Flares", NO_YES, 1);
  s.reflections = choice("Enable Reflections", NO_YES, 1);
  s.hide_rider = choice("Hide 1st Person Rider", NO_YES, 0);
  s.rigid_camera = choice("Rigid 3rd person camera", NO_YES, 0);
  s.model_detail = number("Model Geometric Detail", 50, 1, 0, 100);
  s.model_texture_detail = number("Model Texture Detail", 9, 1, 0, 10);
  s.fov = number("Field Of View", 110, 1, 10, 170);
  s.first_person_height = number("1st Person Height", 0, 0.03125, 0, 1);
  s.first_person_angle = number("1st Person Angle", 0, 1, 0, 40);
  s.third_person_height = number("3rd Person Height", 5, 1, 0, 20);
  s.third_person_distance = number("3rd Person Distance", 10, 1, 5, 40);
  s.volume = number("Volume", 10, 1, 0, 10);
  s.comp_volume = number("Competitor Volume", 8, 1, 0, 10);
  s.playback_mode = choice("Playback Mode", PLAYBACK_MODES, 0);
  s.billboard_optimize_lookahead = 8;
  s.message_lines = 5;
  s.demo_backups = 0;
  s.map_scale = 1.0;
  bindings_reset();
  stability_apply(s.setup.stability.value);
  graphics_preset_apply(PRESET_COMPATIBILITY);
  build_tables();
}

bool setup_read_line(const char* key, const char* value) {
  build_tables();
  const Key* k = find_key(setup_keys, setup_key_count, key);
  if (!k) return false;
  if (k->target == settings.setup.bike) {
    // Short model names of old files stand for the 2008 models.
    const char* model = bike_model_alias(value);
    if (model != value) {
      snprintf(settings.setup.bike, sizeof settings.setup.bike, "%s", model);
      return true;
    }
  }
  if (apply_key(*k, value) && k->target == &settings.setup.stability)
    stability_apply(settings.setup.stability.value);
  return true;
}

void setup_format(std::string* out) {
  build_tables();
  for (int i = 0; i < setup_key_count; i++) format_key(setup_keys[i], out);
}

namespace {

// Splits "key=value" (trailing CR/LF dropped from the value); false without "=" or with a
// key too long to be one.
bool split_line(const char* line, char (&key)[64], char (&value)[LINE_SIZE]) {
  const char* equals = strchr(line, '=');
  if (!equals) return false;
  size_t key_length = static_cast<size_t>(equals - line);
  if (key_length >= sizeof key) return false;
  memcpy(key, line, key_length);
  key[key_length] = 0;
  set_text(value, sizeof value, equals + 1);
  size_t n = strlen(value);
  while (n > 0 && (value[n - 1] == '\n' || value[n - 1] == '\r')) value[--n] = 0;
  return true;
}

}  // namespace

bool settings_read_line(const char* line) {
  build_tables();
  char key[64];
  char value[LINE_SIZE];
  if (!split_line(line, key, value)) return false;
  if (setup_read_line(key, value)) return true;
  if (strcmp(key, "ground_texture_distance") == 0) return true;
  if (strcmp(key, "use_fbo") == 0) {
    if (strcmp(value, "Yes") == 0) settings.render_texture.index = RENDER_HARDWARE_DIRECT;
    else if (strcmp(value, "No") == 0) settings.render_texture.index = RENDER_HARDWARE_COPY;
    else return false;
    return true;
  }
  const Key* k = find_key(main_keys, main_key_count, key);
  return k && apply_key(*k, value);
}

bool setup_file_line(const char* line) {
  char key[64];
  char value[LINE_SIZE];
  return split_line(line, key, value) && setup_read_line(key, value);
}

void settings_read_lines(SettingsLineSource source, void* context, bool (*apply)(const char* line)) {
  char line[LINE_SIZE];
  bool in_long_line = false;
  while (source(context, line, sizeof line)) {
    size_t n = strlen(line);
    bool complete = n > 0 && line[n - 1] == '\n';
    // A buffer filled without its end of line is an over-long line: drop it and its tail.
    bool full = n + 1 >= sizeof line && !complete;
    if (!in_long_line && !full) apply(line);
    in_long_line = full || (in_long_line && !complete);
  }
}

void settings_format(std::string* out) {
  build_tables();
  for (int i = 0; i < main_key_count; i++) format_key(main_keys[i], out);
}

void recent_server_push(const char* name) {
  if (!name || !name[0] || strlen(name) >= RECENT_SERVER_SIZE - 1) return;
  auto& hist = settings.server_name_hist;
  if (strcmp(hist[0], name) == 0) return;
  memmove(hist[1], hist[0], sizeof hist[0] * (RECENT_SERVER_COUNT - 1));
  set_text(hist[0], sizeof hist[0], name);
}

void render_params_derive() {
  const Settings& s = settings;
  RenderParams& r = render_params;
  r.terrain_detail_scale = 0.125 / s.ground_detail.value;
  r.ground_texture_detail = static_cast<int>(clamp(10 - s.ground_texture_detail.value, 0, 10));
  r.ground_texture_size = 32 << s.ground_texture_dim.index;
  double scale = clamp(100 - s.model_detail.value, 0, 100) * 0.02;
  r.lod_scale = scale > 1 ? scale * scale * scale : scale;
  r.lod_bias = 50 - 50 * clamp((s.model_detail.value - 10) * 0.05, 0, 1);
  r.texture_detail = static_cast<int>(std::lround(clamp(10 - s.model_texture_detail.value, 0, 10)));
  r.roost_frequency = static_cast<int>(std::lround(s.roost_density.value));
  r.texture_compression = s.texture_compress.index;
  r.reflections = s.reflections.index;
}
