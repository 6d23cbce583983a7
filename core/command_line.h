// The game's command line: options that override the settings for one run, and the demo
// file to play at start.
#pragma once

constexpr int COMMAND_TEXT_SIZE = 256;

struct StartOptions {
  bool open_home;
  bool fugly;            // flat shading and the cheap drawing paths
  bool nosound;
  bool novertexarrays;
  bool learn;            // robots update their racing lines
  bool nommx;
  bool practice;         // every robot uses the "tester" personality
  bool warp;             // 100 steps per frame, rotating lineup
  int erode_rate;        // ground erosion rate x 1024
  double max_detail_distance;
  double detail_fade_end;
  bool max_detail_set;
  double lock_fps;       // frames per second when offline, 0 = off
  double fake_lag;       // added network delay, s
  int fake_loss;         // percent of received datagrams dropped
  char record_audio[COMMAND_TEXT_SIZE];  // empty = off
  bool record_video;
  int rotate_lineup;
  bool editor;
  bool hidden_pause;
  bool hidden_hud;
  int depth;             // colour bits of the window
  int zdepth;            // depth-buffer bits
  int draw_render_stats;
  bool accurate_skip;
  char track[COMMAND_TEXT_SIZE];     // empty = the "track" setting
  char connect[COMMAND_TEXT_SIZE];   // empty = stay offline
  bool connect_given;
  char password[COMMAND_TEXT_SIZE];
  double chase_center[3];            // point on the frame the chase camera looks at, ft
  bool glfinish;
  bool print_orientation;
  char demo_file[COMMAND_TEXT_SIZE];  // empty = none
};

extern StartOptions start_options;

// Defaults before the command line is read.
void start_options_reset();

// Parses the arguments after the program name (argv[0] is skipped). Options change
// start_options, the settings they name and the derived rendering parameters. On an error the
// message is written to standard error ("Bad arg for --x", "bad option '-x'", "Too many files!")
// and the result is false: the program ends with exit code 1.
bool command_line_parse(int argc, const char* const* argv);

// True when the processor offers the MMX instructions.
bool cpu_has_mmx();
