// Start-up in its fixed order, the frame loop (draw, present, pace, step) and the shutdown
// stages. Parts of the game that are not present yet have their place marked where they join.
#include "core/game_main.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/command_line.h"
#include "core/console.h"
#include "core/controls.h"
#include "core/game.h"
#include "core/game_sound.h"
#include "core/loading.h"
#include "core/net_session.h"
#include "core/session.h"
#include "core/session_replay.h"
#include "core/settings.h"
#include "core/track_load.h"
#include "editor/editor.h"
#include "files/fixed_files.h"
#include "files/memory.h"
#include "files/vfs.h"
#include "net/net.h"
#include "platform/audio.h"
#include "physics/world.h"
#include "race/series.h"
#include "platform/input.h"
#include "platform/vant.h"
#include "platform/window.h"
#include "render/gl_caps.h"
#include "render/gl_ext.h"
#include "render/image.h"
#include "render/shaders.h"
#include "render/textures.h"
#include "replay/demo.h"
#include "track/textures.h"
#include "track/track_list.h"
#include "tools/data/game_data.h"

namespace {

const char* const VERSION = "2018-07-28-1418 snapshot";

VantWindow* window = nullptr;
int next_screenshot = -1;  // -1 until the file index has been scanned

int window_next_event(void* context, int* code, int* down, int32_t seconds, int32_t microseconds) {
  return input_next_event_until(static_cast<VantWindow*>(context), code, down, seconds,
                                microseconds);
}

// Draws an empty frame; the scene, HUD and 2D screens draw into it once they exist.
void clear_frame() {
  glClearColor(0.196078f, 0.6f, 0.8f, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// The loading screen: keeps the window alive, forgets pending input and presents a frame. A close
// request is kept, so a window closed while a track loads still ends the game.
void loading_display(const char*) {
  if (!window) return;
  int code, down;
  while (input_next_event(window, &code, &down)) {
    if (code == menu_keys.close && down) game_dispatch_event(code, down);
  }
  controls_clear_values();
  if (VantFrameInfo* frame = vant_frame_begin(window)) {
    glViewport(0, 0, frame->width, frame->height);
    clear_frame();
    vant_frame_end(window);
  }
}

// Frame buffer as RGB rows, bottom row first as GL reads it.
std::vector<uint8_t> read_frame(int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  return rgb;
}

void record_video_frame(int width, int height) {
  std::vector<uint8_t> rgb = read_frame(width, height);
  printf("P6\n%d %d\n255\n", width, height);
  for (int y = height - 1; y >= 0; y--) fwrite(&rgb[static_cast<size_t>(y) * width * 3], 1, width * 3, stdout);
  fflush(stdout);
}

void apply_connect_option() {
  if (!start_options.connect_given) return;
  start_options.track[0] = 0;
  size_t length = strlen(start_options.connect);
  if (length >= sizeof settings.server_name) return;  // too long to keep as a setting
  memcpy(settings.server_name, start_options.connect, length + 1);
  recent_server_push(settings.server_name);
}

VantWindow* open_window() {
  unsigned flags = static_cast<unsigned>(start_options.depth) & 0xFF;
  int width, height;
  if (video_mode_target(&width, &height)) flags |= VANT_WINDOW_FULL_SCREEN;
  return vant_window_create("Skorvan", width, height, flags, 0, start_options.zdepth, 0, 0);
}

// The driver's capabilities, its strings in the log, and the shader programs built and chosen.
void gl_start() {
  gl_caps_query();
  vant_log("GL_VENDOR: %s\n", gl_caps.vendor);
  vant_log("GL_RENDERER: %s\n", gl_caps.renderer);
  vant_log("GL_VERSION: %s\n", gl_caps.version);
  vant_log("GL_EXTENSIONS: %s\n", gl_caps.extensions);
  const bool built = shaders_build();
  shaders_decide(settings.use_shader.index == 1, built, settings.render_texture.index);
}

// The texture manager serves the track's readers and keeps its generations with track loads.
int64_t texture_memory_used() { return texture_memory; }
void textures_purge_stale() { textures_purge(false); }
const TrackTextureCache TEXTURE_CACHE = {textures_new_generation, texture_memory_used, textures_purge_stale};

void textures_start() {
  texture_reduction = render_params.texture_detail;
  texture_compress = render_params.texture_compression;
  track_set_texture_loader(texture_load);
  track_set_texture_cache(&TEXTURE_CACHE);
}

void gl_defaults() {
  glClearColor(0.196078f, 0.6f, 0.8f, 0);
  glEnable(GL_CULL_FACE);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (start_options.fugly) glShadeModel(GL_FLAT);
}

// The track editor takes keys first in its view and updates instead of the rider's controls.
void attach_editor() {
  const MenuKeys& m = menu_keys;
  editor_keys = {m.cursor_left, m.cursor_right, m.left, m.right, m.up, m.down, m.enter, m.keypad_enter};
  game_hooks.editor_key = editor_key;
  game_hooks.editor_update = editor_update;
  game_hooks.settle_bikes = session_settle_bikes;
}

// The pointer and window size the editor works with this frame.
void editor_follow_pointer(int width, int height) {
  if (game.view_mode != VIEW_EDITOR || !editor_active()) return;
  editor_set_window(width, height);
  if (menu_keys.cursor_x && menu_keys.cursor_y)
    editor_set_pointer(input_read_axis(menu_keys.cursor_x), input_read_axis(menu_keys.cursor_y));
}

// Returns the exit code, or -1 to go on into the loop.
int start_up(int argc, const char* const* argv) {
  vant_install_error_box();
  if (argc == 2 && strcmp(argv[1], "--open-home") == 0) {
    vfs_open_home();
    return 0;
  }
  if (!vfs_find_game_data(game_data_digest())) {
    vant_error_box("Problem starting Skorvan", "Can't find game data\n");
    return 0;
  }
  vant_log("Skorvan version %s\n", VERSION);
  video_mode_list_build(vant_display_modes());
  if (!cpu_has_mmx()) vant_log("This CPU does not have MMX!\n");
  settings_reset();
  settings_read();
  render_params_derive();
  start_options_reset();
  if (!command_line_parse(argc, argv)) return 1;
  if (start_options.open_home) {
    vfs_open_home();
    return 0;
  }
  apply_connect_option();

  window = open_window();
  if (!window) return 1;
  loading_set_display_hook(loading_display);
  loading_display("");

  vfs_file_list();
  demo_list_build();
  // The bike part shapes, graphics families, track list ("No tracks found"), points series and
  // the start track choice join here with their parts.

  // The recording mixes each step offline; otherwise the sound device plays, unless "--nosound".
  if (start_options.record_audio[0]) {
    if (game_sound_record_open(start_options.record_audio)) game_hooks.record_audio_step = game_sound_record_step;
  } else if (!start_options.nosound) {
    audio_open(window);
  }

  int width = 0, height = 0;
  while (!vant_window_size(window, &width, &height)) {
    vant_pump_messages(window);
    vant_sleep(0, 62500);
  }
  gl_start();
  gl_defaults();
  textures_start();
  controls_resolve(window);

  game_reset();
  // A demo named on the command line is played, its track replacing the chosen one; without
  // one the player rides in slot 0.
  const bool playback = start_options.demo_file[0] != 0;
  if (playback)
    session_set_demo(start_options.demo_file);
  else
    game.lineup_request[0] = GATE_HUMAN;
  track_list_scan();
  series_load_all();
  physics_world_create();
  if (start_options.track[0]) snprintf(settings.track, sizeof settings.track, "%s", start_options.track);
  session_reset(game.lineup_request, playback, false,
                static_cast<int32_t>(settings.minutes.value * 60 * TICKS_PER_SECOND),
                static_cast<int32_t>(settings.laps.value), settings.skill.index);
  game_hooks.session_step = session_step;
  game_hooks.time_skip = session_time_skip;
  // The connection: polled before every step; "--connect" opens it at the first poll.
  net_client_init(net_client);
  net_session_attach(net_client);
  // Joining a server needs the standard shape files as the build made them.
  const char* accepted[] = {fixed_files_accepted_digest()};
  net_client.fixed_files_ok = fixed_files_check(accepted, 1);
  net_client.hooks.gl_renderer = gl_caps.renderer;
  net_client.hooks.gl_version = gl_caps.version;
  game_hooks.net_poll = [] { net_session_poll(net_client); };
  if (start_options.connect_given && start_options.connect[0])
    net_session_connect(net_client, start_options.connect, start_options.password, start_options.fake_lag,
                        start_options.fake_loss);
  game.menu_page = start_options.connect_given ? MENU_NONE : MENU_MAIN;
  game_hooks.take_screenshot = take_screenshot;
  attach_editor();
  int32_t s, us;
  vant_time_now(&s, &us);
  frame_pacer_start(&game.pacer, s + us * 1e-6);
  return -1;
}

void main_loop() {
  PacingClock clock = pacing_real_clock();
  while (!game.quit) {
    game_update_view_mode();
    if (VantFrameInfo* frame = vant_frame_begin(window)) {
      if (settings.video_mode.index == VIDEO_WINDOWED) {
        settings.xres = frame->width;
        settings.yres = frame->height;
      }
      glViewport(0, 0, frame->width, frame->height);
      clear_frame();
      editor_follow_pointer(frame->width, frame->height);
      if (start_options.record_video && !game.paused && game.view_mode != VIEW_NO_TRACK)
        record_video_frame(frame->width, frame->height);
      if (start_options.glfinish) glFinish();
      if (!vant_frame_end(window)) break;
    }
    game_sound_update();
    PacingInputs inputs;
    inputs.connected = game.net.connected;
    inputs.lock_fps = start_options.lock_fps;
    inputs.warp = start_options.warp;
    inputs.server_tick = game.net.server_tick;
    inputs.sim_tick = game.sim_tick;
    inputs.race_started = game.race_started;
    double advance = frame_pace(&game.pacer, clock, inputs);
    game_run_steps(game.pacer.frame_clock, advance, EventSource{window_next_event, window});
  }
}

void stage(const char* name) { loading_message_logged(name); }

void shut_down() {
  net_leave(net_client);
  net_session_sync(net_client);
  mem_free(net_client.delay_queue);
  net_client.delay_queue = nullptr;
  series_finish_event();
  session_remember_lines();
  // The recording's last states are packed from the bikes, so it ends before they are freed.
  session_demos_close();
  game_sound_free_all();
  session_free_bikes();
  track_free();
  physics_world_destroy();
  stage("Freeing memory (1)");
  stage("Closing input devices");
  controls_release_axes();
  stage("Closing audio");
  game_sound_close();
  stage("Writing config files");
  settings_write();
  stage("Freeing memory (2)");
  series_free_all();
  stage("Freeing memory (3)");
  stage("Freeing file list");
  stage("Freeing memory (4)");
  stage("Deleting textures");
  textures_purge(true);
  track_set_texture_loader(nullptr);
  track_set_texture_cache(nullptr);
  stage("Deleting models");
  loading_set_display_hook(nullptr);
  shaders_delete();
  vant_window_destroy(window);
  window = nullptr;
  vfs_shutdown();
  vant_log(nullptr);
  vant_sleep(1, 0);
}

// The highest n of the index names "screenshot<n>..." in the home directory's files.
int highest_screenshot_number() {
  int highest = 0;
  for (const char* const* name = vfs_file_list(); name && *name; name++) {
    unsigned n;
    if (sscanf(*name, "screenshot%u", &n) == 1 && static_cast<int>(n) > highest) highest = static_cast<int>(n);
  }
  return highest;
}

}  // namespace

void video_mode_apply() {
  if (!window) return;
  int width, height;
  const bool full_screen = video_mode_target(&width, &height);
  vant_request_mode(window, width, height, full_screen ? VANT_WINDOW_FULL_SCREEN : 0);
}

void take_screenshot() {
  if (!window) return;
  if (next_screenshot < 0) next_screenshot = highest_screenshot_number() + 1;
  int width, height;
  if (!vant_window_size(window, &width, &height)) return;
  std::vector<uint8_t> rgb = read_frame(width, height);
  std::vector<uint8_t> top_first(rgb.size());
  size_t row = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; y++) memcpy(&top_first[y * row], &rgb[(height - 1 - y) * row], row);
  int n = next_screenshot++;
  char name[64];
  snprintf(name, sizeof name, "@screenshot%03d.png", n);
  if (image_save_png(name, top_first.data(), width, height, 3))
    console_printf("Saved \"screenshot%03d.png\"", n);
}

int game_main(int argc, const char* const* argv) {
  int code = start_up(argc, argv);
  if (code >= 0) return code;
  main_loop();
  shut_down();
  return 0;
}
