// Preparing and ending a session without a window.
#include "tools/sim/headless.h"

#include <cstdio>

#include "core/command_line.h"
#include "core/console.h"
#include "core/game.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/track_load.h"
#include "files/vfs.h"
#include "physics/world.h"
#include "track/track_list.h"

namespace {

void console_to_stderr(const char* text) { fprintf(stderr, "%s\n", text); }

}  // namespace

void headless_prepare(const char* track) {
  console_set_display_hook(console_to_stderr);
  vfs_file_list();
  track_list_scan();
  settings_reset();
  render_params_derive();  // the roost frequency and the other values the settings give
  start_options_reset();
  snprintf(settings.track, sizeof settings.track, "%s", track);
  physics_world_create();
  game_reset();
}

void headless_finish() {
  session_remember_lines();
  session_free_bikes();
  track_free();
  physics_world_destroy();
}
