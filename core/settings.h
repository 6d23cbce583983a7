// The user's settings: every value stored in "@config", the bike setup stored there and in
// "@setups/" files, the stability and graphics presets, and the rendering parameters
// derived from them.
#pragma once

#include <cstddef>
#include <string>

#include "core/options.h"

struct VfsFile;

constexpr int GATE_SLOT_COUNT = 40;
constexpr int RECENT_SERVER_COUNT = 16;
constexpr int RECENT_SERVER_SIZE = 128;  // a recent server is shorter than 127 characters
constexpr int SETTING_TEXT_SIZE = 256;
constexpr int GRAPHICS_NAME_SIZE = 1024;  // graphics names hold at most 1023 characters
constexpr int VIDEO_MODE_MAX = 256;

enum GateChoice { GATE_EMPTY, GATE_HUMAN, GATE_ROBOT, GATE_ROBOT_2_STROKE, GATE_ROBOT_4_STROKE };
enum VideoModeIndex { VIDEO_DEFAULT_FULLSCREEN = 0, VIDEO_WINDOWED = 1 };

// The player's bike setup: the keys from "bike" to "rider_mass_distribution".
struct BikeSetup {
  char bike[SETTING_TEXT_SIZE];
  char name[SETTING_TEXT_SIZE];
  char number[SETTING_TEXT_SIZE];
  char rider_texture[GRAPHICS_NAME_SIZE];
  char head_texture[GRAPHICS_NAME_SIZE];
  char bike_texture[GRAPHICS_NAME_SIZE];
  char wheel_texture[GRAPHICS_NAME_SIZE];
  NumberOption stability, leveling, roll_damping, roll_limit_angle, roll_limit_factor;
  NumberOption steering_damping, steering_strength, max_steering_force, direct_steering;
  NumberOption slow_damping_speed, slow_damping_factor, land_damping_falloff, land_damping_factor;
  NumberOption full_lock_speed, restricted_lock_speed, restricted_lock;
  ChoiceOption arcade, front_brake, rear_brake, stop_wheelies, auto_shift, auto_dab, auto_align;
  ChoiceOption sticky_dab, reverse_steering, lean_indicator;
  NumberOption auto_clutch_rpms, brake_torque, rear_brake_torque, max_dab_speed;
  NumberOption front_sprocket_adjustment, rear_sprocket_adjustment;
  NumberOption fork_compression, fork_slow_compression, fork_rebound, fork_slow_rebound;
  NumberOption fork_spring_rate, fork_preload, fork_oil_level;
  NumberOption shock_compression, shock_slow_compression, shock_rebound, shock_slow_rebound;
  NumberOption shock_spring_rate, shock_preload;
  NumberOption rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;
  NumberOption rider_mass_distribution;
};

struct Settings {
  int xres, yres;  // window size in windowed mode
  int draw_fps, draw_time, draw_ping, draw_speed;
  int spy;
  char track[SETTING_TEXT_SIZE];
  ChoiceOption record, skill;
  NumberOption minutes, laps;
  ChoiceOption gate[GATE_SLOT_COUNT];  // lineup request per start slot
  NumberOption ghost_fade_distance;
  ChoiceOption time_trial_abort;
  BikeSetup setup;
  ChoiceOption video_mode;
  char server_name[RECENT_SERVER_SIZE];
  char server_name_hist[RECENT_SERVER_COUNT][RECENT_SERVER_SIZE];  // newest first
  NumberOption ground_detail, ground_texture_detail;
  ChoiceOption ground_texture_dim, ground_mipmaps, texture_compress, render_texture, use_shader;
  NumberOption roost_density, reshade_delay;
  ChoiceOption lens_flare, reflections, hide_rider, rigid_camera;
  NumberOption model_detail, model_texture_detail, fov;
  NumberOption first_person_height, first_person_angle, third_person_height, third_person_distance;
  NumberOption volume, comp_volume;
  ChoiceOption playback_mode;
  int billboard_optimize_lookahead;
  int message_lines;
  int demo_backups;
  double map_scale;
};

extern Settings settings;

// The host offered as "server_name" before the player chooses one.
extern const char* const DEFAULT_SERVER_NAME;

// Every setting and binding back to its default, the stability presets applied once with the
// default stability and the Compatibility graphics preset copied in.
void settings_reset();

// Reads "@config" if it exists; no message if it does not. Lines that do not parse leave their
// option unchanged.
void settings_read();
// Writes "@config" through a temporary file renamed over the old one, so a failed write keeps
// the previous settings. No message on failure; returns whether the file was replaced.
bool settings_write();

// Applies one "key=value" line (trailing CR/LF allowed); false when it changed nothing known.
bool settings_read_line(const char* line);
// The same for a line of a bike setup file, where only the setup keys count.
bool setup_file_line(const char* line);
// Reads lines from a source until it ends, handing each to apply. A line longer than the line
// buffer is dropped whole, so its tail never reads as a line of its own.
using SettingsLineSource = bool (*)(void* context, char* buffer, int size);
void settings_read_lines(SettingsLineSource source, void* context,
                         bool (*apply)(const char* line) = settings_read_line);
// The whole "@config" text in write order.
void settings_format(std::string* out);

// Applies one bike setup key; returns whether it was a setup key.
bool setup_read_line(const char* key, const char* value);
// The setup keys in write order, into a string or an open file (false when the write failed).
void setup_format(std::string* out);
bool setup_write(VfsFile* file);

// The bike setup files "@setups/" + name. Reading applies every setup key the file holds and
// posts "Setup updated", or "Error reading setup" when it cannot be opened. Writing goes
// through a temporary file renamed over the old one, so a failed write keeps an earlier file
// whole; it posts "Setup written" or "Error writing setup". A name is one file name: an empty
// one, or one with a "/" or "\\", fails. Each returns whether it worked.
bool setup_file_read(const char* name);
bool setup_file_write(const char* name);

// The stability presets: sets the fifteen steering and damping values for a stability 0..100.
void stability_apply(double stability);

enum GraphicsPreset { PRESET_COMPATIBILITY, PRESET_HIGH_FPS, PRESET_NORMAL, PRESET_HIGH_DETAIL };
constexpr int GRAPHICS_PRESET_COUNT = 4;
void graphics_preset_apply(int preset);

// Pushes a server to the front of the recent-server list unless it is empty, too long or
// already the newest; the oldest drops out.
void recent_server_push(const char* name);

// The video mode choices: "Default Fullscreen", "Windowed", then "%dx%d" for each mode of the
// first mode's colour depth. Modes end with an all-zero entry; null gives only the first two.
struct VideoModeEntry {
  char label[24];
  int width, height;
};
struct DisplayMode;
void video_mode_list_build(const DisplayMode* modes);
extern VideoModeEntry video_mode_list[VIDEO_MODE_MAX];
extern int video_mode_count;
// The window the "video_mode" setting asks for: true for full screen at the chosen mode's size
// (0 x 0 for "Default Fullscreen", which leaves the size to the platform), false for a window
// of xres x yres.
bool video_mode_target(int* width, int* height);

// Rendering parameters computed from the settings at start-up; command-line options
// override some of them afterwards.
struct RenderParams {
  double terrain_detail_scale;
  int ground_texture_detail;
  int ground_texture_size;
  double lod_scale;
  double lod_bias;
  int texture_detail;
  int roost_frequency;
  int texture_compression;
  int reflections;
};
extern RenderParams render_params;
void render_params_derive();

// Strict number reading of a settings value: optional white space, sign, digits, point and
// fraction, exponent (no "inf", "nan" or hex). False when no number starts the text; end, when
// given, receives where the number stopped.
bool parse_real(const char* text, double* out, const char** end = nullptr);
// Decimal integer within the int range.
bool parse_int(const char* text, int* out);
