// The game-wide state of one run (view, menu, pause, viewed slot, slot tables, session clocks)
// and the per-frame work that needs no window: view-mode rules, input event dispatch and the
// fixed-step loop that follows real time.
#pragma once

#include <cstdint>

#include "core/constants.h"
#include "core/frame_pacing.h"

struct Bike;

enum ViewMode { VIEW_RIDER = 0, VIEW_EDITOR = 2, VIEW_CHASE = 3, VIEW_TV = 4, VIEW_NO_TRACK = 5 };
constexpr int MENU_NONE = -1;
constexpr int MENU_MAIN = 0;
constexpr int MENU_CHAT = 16;
constexpr int KEY_TAB = 9;  // the character code of Tab

// What the connection tells the frame loop; the network client keeps it current.
struct NetStatus {
  bool connected;
  bool tick_received;   // the server has sent its first tick
  int64_t server_tick;  // latest server tick
  bool in_race;         // the server gave this client a race slot
};

struct GameState {
  int view_mode;
  int menu_page;  // MENU_NONE, MENU_MAIN or a page of the menus
  bool paused;
  bool quit;
  int viewed_slot;
  Bike* slot_bike[SLOT_COUNT];   // null for an empty slot
  SlotKind slot_kind[SLOT_COUNT];
  int lineup_request[SLOT_COUNT];
  bool track_loaded;
  bool mouse_held;       // "cursor-left" is down
  bool binding_capture;  // the controls menu is waiting for a key or axis
  bool race_started;
  int tv_camera;         // -1 = the free camera
  int camera_count;      // TV cameras of the track
  bool tv_auto;
  bool tv_auto_was_high;
  // Session clocks, s.
  double target_time;   // where the session should be
  double stepped_time;  // where it is; behind while below target_time
  double game_clock;    // grows by each frame advance; times messages and menu key repeat
  uint32_t sim_tick;
  uint32_t race_start_tick;
  NetStatus net;
  FramePacer pacer;
};

extern GameState game;

// Calls into parts that plug into the loop; each is null until its part is present.
struct GameHooks {
  void (*session_step)();                 // one simulation step of the session
  void (*net_poll)();                     // the network poll before each step
  void (*menu_key)(int code);             // a key press for the open menu
  // A key event for the editor, first in line (presses and releases); true when consumed.
  bool (*editor_key)(int code, bool down);
  void (*editor_update)();                // the editor's update, instead of the controls
  void (*settle_bikes)();                 // puts the bikes back on the ground the editor changed
  void (*time_skip)(double seconds);      // skip (+) or rewind (-) playback
  void (*take_screenshot)();
  void (*record_audio_step)();            // appends one step of recorded audio
};
extern GameHooks game_hooks;

// Start of run: no menu, offline, every slot replayed, clocks at zero.
void game_reset();

// True when the viewed slot is driven by this computer (and spy mode is not watching on TV).
bool game_riding();
// The view mode rules applied at the start of each frame.
void game_update_view_mode();
// One input event: close, binding values, menu, pause, step, view change, skip, bikes, cameras.
void game_dispatch_event(int code, int down);

// Where the step loop takes its time-stamped events from.
struct EventSource {
  // Next event whose time is not later than the given time; 1 when one was taken.
  int (*next_until)(void* context, int* code, int* down, int32_t seconds, int32_t microseconds);
  void* context;
};

// Adds advance to the target time and the game clock, then runs whole steps of SIM_STEP until
// the session catches up. Each step's real time is frame_end - (target - stepped); the events
// up to that time are dispatched before the step's controls are applied to the viewed bike
// while riding. Returns the number of steps run.
int game_run_steps(double frame_end, double advance, const EventSource& events);
