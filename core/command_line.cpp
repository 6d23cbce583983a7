// Command-line parsing: every option takes its value joined with "=" or as the next argument.
#include "core/command_line.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "core/settings.h"
#include "platform/vant.h"

StartOptions start_options;

namespace {

enum ValueKind { NONE, INT, REAL, TEXT, POINT };

struct Parsed {
  const char* text;
  int integer;
  double real;
  double point[3];
};

using Action = void (*)(const Parsed& value);

enum OptionFlags {
  POSITIVE = 1,        // the value must be above 0 (a frame rate: 1/f is the frame time)
  VALUE_OPTIONAL = 2,  // a missing value at the end of the line is no error
};

struct Option {
  const char* name;
  ValueKind kind;
  Action action;
  int flags = 0;
};

double clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }
int clamp_int(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

void copy_text(char* target, const char* text) {
  snprintf(target, COMMAND_TEXT_SIZE, "%s", text);
}

StartOptions& o = start_options;

const Option OPTIONS[] = {
    {"--open-home", NONE, [](const Parsed&) { o.open_home = true; }},
    {"--fugly", NONE, [](const Parsed&) { o.fugly = true; }},
    {"--nosound", NONE, [](const Parsed&) { o.nosound = true; }},
    {"--novertexarrays", NONE, [](const Parsed&) { o.novertexarrays = true; }},
    {"--learn", NONE, [](const Parsed&) { o.learn = true; }},
    {"--nolearn", NONE, [](const Parsed&) { o.learn = false; }},
    {"--nommx", NONE,
     [](const Parsed&) {
       o.nommx = true;
       if (cpu_has_mmx()) vant_log("Ignoring MMX\n");
     }},
    {"--debug", NONE, [](const Parsed&) { debug_level = 1; }},
    {"--super-debug", NONE, [](const Parsed&) { debug_level = 2; }},
    {"--practice", NONE, [](const Parsed&) { o.practice = true; }},
    {"--warp", NONE, [](const Parsed&) { o.warp = true; }},
    {"--texture-detail", INT,
     [](const Parsed& v) { render_params.texture_detail = clamp_int(v.integer, 0, 4); }},
    {"--ground-texture-detail", INT,
     [](const Parsed& v) { render_params.ground_texture_detail = clamp_int(v.integer, 0, 4); }},
    {"--roostfrequency", INT,
     [](const Parsed& v) { render_params.roost_frequency = clamp_int(v.integer, 0, 1000); }},
    {"--erode", REAL,
     [](const Parsed& v) {
       o.erode_rate = static_cast<int>(std::floor(clamp(v.real, 0, 100) * 1024));
     }},
    {"--detail", REAL, [](const Parsed& v) { render_params.terrain_detail_scale = v.real; }},
    {"--max-detail-distance", REAL,
     [](const Parsed& v) {
       o.max_detail_distance = v.real;
       o.detail_fade_end = v.real + 5;
       o.max_detail_set = true;
     }},
    {"--lod-scale", REAL,
     [](const Parsed& v) { render_params.lod_scale = clamp(v.real, 1e-6, 1e6); }},
    {"--lod-bias", REAL, [](const Parsed& v) { render_params.lod_bias = v.real; }},
    {"--lock-fps", REAL, [](const Parsed& v) { o.lock_fps = v.real; }, POSITIVE},
    {"--fake-lag", REAL, [](const Parsed& v) { o.fake_lag = clamp(v.real / 1000, 0, 1); }},
    {"--fake-loss", INT, [](const Parsed& v) { o.fake_loss = clamp_int(v.integer, 0, 100); }},
    {"--record-audio", TEXT, [](const Parsed& v) { copy_text(o.record_audio, v.text); }},
    {"--record-video", NONE, [](const Parsed&) { o.record_video = true; }},
    {"--rotate-lineup", INT, [](const Parsed& v) { o.rotate_lineup = v.integer; }},
    {"--editor", NONE, [](const Parsed&) { o.editor = true; }},
    {"--hidden-pause", NONE, [](const Parsed&) { o.hidden_pause = true; }},
    {"--hidden-hud", NONE, [](const Parsed&) { o.hidden_hud = true; }},
    {"--bikes", TEXT,
     [](const Parsed&) { fputs("--bikes doesn't do anything anymore\n", stderr); },
     VALUE_OPTIONAL},
    {"--width", INT, [](const Parsed& v) { settings.xres = v.integer; }},
    {"--height", INT, [](const Parsed& v) { settings.yres = v.integer; }},
    {"--depth", INT, [](const Parsed& v) { o.depth = v.integer; }},
    {"--zdepth", INT, [](const Parsed& v) { o.zdepth = v.integer; }},
    {"--draw-fps", INT, [](const Parsed& v) { settings.draw_fps = v.integer; }},
    {"--draw-time", INT, [](const Parsed& v) { settings.draw_time = v.integer; }},
    {"--draw-ping", INT, [](const Parsed& v) { settings.draw_ping = v.integer; }},
    {"--draw-speed", INT, [](const Parsed& v) { settings.draw_speed = v.integer; }},
    {"--draw-render-stats", INT, [](const Parsed& v) { o.draw_render_stats = v.integer; }},
    {"--accurate-skip", NONE, [](const Parsed&) { o.accurate_skip = true; }},
    {"--track", TEXT, [](const Parsed& v) { copy_text(o.track, v.text); }},
    {"--connect", TEXT,
     [](const Parsed& v) {
       const char* server = v.text;
       if (strncmp(server, "skorvan:", 8) == 0) server += 8;
       copy_text(o.connect, server);
       o.connect_given = true;
     }},
    {"--password", TEXT, [](const Parsed& v) { copy_text(o.password, v.text); }},
    {"--chase-center", POINT,
     [](const Parsed& v) {
       for (int i = 0; i < 3; i++) o.chase_center[i] = v.point[i];
     }},
    {"--glfinish", NONE, [](const Parsed&) { o.glfinish = true; }},
    {"--print-orientation", NONE, [](const Parsed&) { o.print_orientation = true; }},
};

// Reads a value of the option's kind; false when it does not parse.
bool parse_value(const Option& option, const char* text, Parsed* out) {
  out->text = text;
  switch (option.kind) {
    case NONE:
    case TEXT:
      return true;
    case INT:
      return parse_int(text, &out->integer);
    case REAL:
      return parse_real(text, &out->real) && (!(option.flags & POSITIVE) || out->real > 0);
    case POINT: {
      const char* p = text;
      for (int i = 0; i < 3; i++) {
        if (i > 0) {
          if (*p != ',') return false;
          p++;
        }
        if (!parse_real(p, &out->point[i], &p)) return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace

void start_options_reset() {
  o = StartOptions{};
  o.learn = true;
  o.depth = 16;
  o.zdepth = 16;
  o.chase_center[0] = 0;
  o.chase_center[1] = 2.52;
  o.chase_center[2] = 0.52;
}

bool command_line_parse(int argc, const char* const* argv) {
  bool options_ended = false;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (!options_ended && strcmp(arg, "--") == 0) {
      options_ended = true;
      continue;
    }
    if (options_ended || arg[0] != '-') {
      if (o.demo_file[0]) {
        fputs("Too many files!\n", stderr);
        return false;
      }
      copy_text(o.demo_file, arg);
      continue;
    }
    const char* equals = strchr(arg, '=');
    size_t name_length = equals ? static_cast<size_t>(equals - arg) : strlen(arg);
    const Option* option = nullptr;
    for (const Option& candidate : OPTIONS) {
      if (strlen(candidate.name) == name_length && strncmp(candidate.name, arg, name_length) == 0)
        option = &candidate;
    }
    if (!option || (equals && option->kind == NONE)) {
      fprintf(stderr, "bad option '%s'\n", arg);
      return false;
    }
    Parsed value{};
    if (option->kind != NONE) {
      const char* text = equals ? equals + 1 : (i + 1 < argc ? argv[++i] : nullptr);
      if (!text && (option->flags & VALUE_OPTIONAL)) text = "";
      if (!text || !parse_value(*option, text, &value)) {
        fprintf(stderr, "Bad arg for %s\n", option->name);
        return false;
      }
    }
    option->action(value);
  }
  return true;
}

bool cpu_has_mmx() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("mmx");
#else
  return false;
#endif
}
