// View-mode rules, event dispatch and the fixed-step loop.
#include "core/game.h"

#include <cmath>

#include "core/command_line.h"
#include "core/controls.h"
#include "core/settings.h"
#include "physics/bike.h"

GameState game;
GameHooks game_hooks;

void game_reset() {
  game = GameState{};
  game.view_mode = VIEW_NO_TRACK;
  game.menu_page = MENU_MAIN;
  game.tv_camera = -1;
  for (SlotKind& kind : game.slot_kind) kind = SLOT_REPLAY;
}

bool game_riding() {
  return game.slot_kind[game.viewed_slot] == SLOT_LOCAL &&
         !(settings.spy && game.view_mode == VIEW_TV);
}

void game_update_view_mode() {
  if (game.track_loaded && game.view_mode == VIEW_NO_TRACK) game.view_mode = VIEW_RIDER;
  if (game_riding() && game.view_mode != VIEW_RIDER && game.view_mode != VIEW_CHASE &&
      game.view_mode != VIEW_EDITOR)
    game.view_mode = VIEW_RIDER;
  if (!game.slot_bike[game.viewed_slot]) game.view_mode = VIEW_TV;
  if (!game.track_loaded) game.view_mode = VIEW_NO_TRACK;
}

namespace {

bool is_key(int code, BindingId id) { return code != 0 && bindings[id].key_code == code; }

void change_view() {
  switch (game.view_mode) {
    case VIEW_EDITOR:
      if (game_hooks.settle_bikes) game_hooks.settle_bikes();
      game.view_mode = VIEW_CHASE;
      break;
    case VIEW_RIDER:
      game.view_mode = start_options.editor ? VIEW_EDITOR : VIEW_CHASE;
      break;
    case VIEW_CHASE:
      game.view_mode = VIEW_TV;
      break;
    case VIEW_TV:
      game.view_mode = VIEW_RIDER;
      break;
  }
}

void run_session_step() {
  if (game_hooks.session_step) game_hooks.session_step();
}

}  // namespace

void game_dispatch_event(int code, int down) {
  if (code == menu_keys.close && code != 0) {
    game.quit = true;
    return;
  }
  for (BindingRow& row : binding_table)
    if (row.binding->key_code == code && code != 0) row.value = down ? 1.0 : 0.0;
  if (code == menu_keys.cursor_left && code != 0) game.mouse_held = down;
  if (game.binding_capture) {
    // The controls menu owns keys until it has captured one or Esc ends it.
    if (down && code == menu_keys.esc) game.binding_capture = false;
    return;
  }
  if (!down) {
    // The editor follows its buttons being let go.
    if (game.menu_page == MENU_NONE && game.view_mode == VIEW_EDITOR && game_hooks.editor_key)
      game_hooks.editor_key(code, false);
    return;
  }
  if (code == menu_keys.esc) game.menu_page = game.menu_page == MENU_NONE ? MENU_MAIN : MENU_NONE;
  if (game.menu_page != MENU_NONE) {
    if (game_hooks.menu_key) game_hooks.menu_key(code);
    if (!game.track_loaded) game.view_mode = VIEW_NO_TRACK;
    return;
  }
  if (code == menu_keys.esc) return;
  if (is_key(code, BIND_CHAT) && game.view_mode != VIEW_EDITOR) {
    game.menu_page = MENU_CHAT;
    return;
  }
  if (game.view_mode == VIEW_NO_TRACK) return;
  if (game.view_mode == VIEW_EDITOR && game_hooks.editor_key && game_hooks.editor_key(code, true)) return;
  if (is_key(code, BIND_PAUSE) && !game.net.connected) game.paused = !game.paused;
  if (is_key(code, BIND_STEP) && game.paused) run_session_step();
  if (code == KEY_TAB) change_view();
  if (is_key(code, BIND_SKIP) && game_hooks.time_skip) game_hooks.time_skip(1);
  if (is_key(code, BIND_REWIND) && game_hooks.time_skip) game_hooks.time_skip(-1);
  // Previous / Next Bike walk the race order, which arrives with the race session.
  if (is_key(code, BIND_SCREENSHOT) && game.view_mode != VIEW_EDITOR && game_hooks.take_screenshot)
    game_hooks.take_screenshot();
  if (code >= '0' && code <= '9') {
    int digit = code - '0';
    if (digit > game.camera_count) digit = game.camera_count;
    game.tv_camera = digit - 1;
  }
}

int game_run_steps(double frame_end, double advance, const EventSource& events) {
  game.target_time += advance;
  game.game_clock += advance;
  int steps = 0;
  while (game.stepped_time < game.target_time) {
    game.stepped_time += SIM_STEP;
    steps++;
    double real_time = frame_end - (game.target_time - game.stepped_time);
    int32_t seconds = static_cast<int32_t>(std::floor(real_time));
    int32_t microseconds = static_cast<int32_t>((real_time - seconds) * 1e6);
    int code, down;
    while (events.next_until(events.context, &code, &down, seconds, microseconds))
      game_dispatch_event(code, down);
    controls_gather();
    if (game.menu_page == MENU_NONE || game.net.connected) {
      if (game.view_mode == VIEW_EDITOR) {
        if (game_hooks.editor_update) game_hooks.editor_update();
      } else if (game_riding()) {
        if (Bike* bike = game.slot_bike[game.viewed_slot]) controls_apply_to_rider(bike);
      } else if (game.view_mode == VIEW_CHASE) {
        controls_apply_to_chase_camera();
      } else if (game.view_mode == VIEW_TV) {
        bool high = control_inputs[CONTROL_SIT_DAB] >= 0.5;
        if (high && !game.tv_auto_was_high) game.tv_auto = !game.tv_auto;
        game.tv_auto_was_high = high;
      }
      if (game.net.connected) game.paused = false;
    }
    if (game_hooks.net_poll) game_hooks.net_poll();
    bool may_step = !game.paused && game.view_mode != VIEW_NO_TRACK &&
                    (!game.net.connected || game.net.tick_received);
    if (may_step) run_session_step();
    if (game_hooks.record_audio_step) game_hooks.record_audio_step();
  }
  return steps;
}
