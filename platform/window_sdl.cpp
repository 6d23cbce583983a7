// The window, GL context and window events over SDL: key, character, mouse button and close
// events with their times go into the window's input queue.
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "files/memory.h"
#include "platform/input.h"
#include "platform/input_sdl.h"
#include "platform/vant.h"
#include "platform/window.h"

struct VantWindow {
  SDL_Window* window;
  SDL_GLContext context;
  VantFrameInfo frame;
  int client_width;
  int client_height;
  int colour_bits;
  char title[256];
  VantMutex* frame_mutex;
  InputEventQueue events;
  bool busy;
  bool close;
  bool resizable;
  bool full_screen;
  // A mode switch asked for by vant_request_mode, done at the next pump.
  bool mode_requested;
  int requested_width, requested_height;
  unsigned requested_flags;
};

namespace {

VantWindow* the_window = nullptr;  // for the out-of-memory closer and the cursor device
bool options_logged = false;
DisplayMode mode_list[DISPLAY_MODE_MAX + 1];
bool modes_listed = false;
int desktop_width = 640, desktop_height = 480;
// SDL stamps events in milliseconds since it started; this turns them into the platform clock.
double sdl_clock_offset = 0;

double platform_now() {
  int32_t s, us;
  vant_time_now(&s, &us);
  return s + us * 1e-6;
}

bool video_init() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    vant_log("Can't start the video system (%s)\n", SDL_GetError());
    return false;
  }
  sdl_clock_offset = platform_now() - SDL_GetTicks() * 0.001;
  return true;
}

void push(VantWindow* w, int code, int down, uint32_t timestamp_ms) {
  double t = sdl_clock_offset + timestamp_ms * 0.001;
  double now = platform_now();
  if (t > now) t = now;
  if (t < 0) t = 0;
  int32_t s = static_cast<int32_t>(t);
  input_queue_push(&w->events, code, down, s, static_cast<int32_t>((t - s) * 1e6));
}

// Keys that type a control character as well as their key code.
int control_character(SDL_Keycode key) {
  switch (key) {
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 13;
    case SDLK_ESCAPE: return 27;
    default: return 0;
  }
}

// Typed text arrives as UTF-8; characters 0-255 become character events.
void push_text(VantWindow* w, const char* text, uint32_t timestamp) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    unsigned c = *p++;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) c &= 0x3F >> extra;
    for (int i = 0; i < extra && (*p & 0xC0) == 0x80; i++) c = (c << 6) | (*p++ & 0x3F);
    if (c < 256) push(w, static_cast<int>(c), 1, timestamp);
  }
}

void handle(VantWindow* w, const SDL_Event& e) {
  switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      int scan = scan_code_from_usb_usage(e.key.keysym.scancode);
      bool down = e.type == SDL_KEYDOWN;
      if (scan) push(w, INPUT_KEY_BASE + scan, down, e.key.timestamp);
      int c = down ? control_character(e.key.keysym.sym) : 0;
      if (c) push(w, c, 1, e.key.timestamp);
      break;
    }
    case SDL_TEXTINPUT:
      push_text(w, e.text.text, e.text.timestamp);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      int b = e.button.button;
      if (b >= SDL_BUTTON_LEFT && b <= SDL_BUTTON_RIGHT)
        push(w, INPUT_MOUSE_LEFT + (b - SDL_BUTTON_LEFT), e.type == SDL_MOUSEBUTTONDOWN,
             e.button.timestamp);
      break;
    }
    case SDL_QUIT:
      // The window manager's close and an interrupt from the terminal: the game decides.
      push(w, INPUT_CLOSE, 1, e.quit.timestamp);
      break;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
        push(w, INPUT_CLOSE, 1, e.window.timestamp);
      } else if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        vant_mutex_lock(w->frame_mutex);
        w->client_width = e.window.data1;
        w->client_height = e.window.data2;
        vant_mutex_unlock(w->frame_mutex);
        vant_log("WM_SIZE message %dx%d\n", w->client_width, w->client_height);
      }
      break;
    default:
      input_sdl_event(e);
      break;
  }
}

// The cursor device: axis 0 and 1 are the pointer's x and y in the window, in pixels.
int cursor_read(InputDevice*, int axis) {
  int x = 0, y = 0;
  SDL_GetMouseState(&x, &y);
  return axis == 0 ? x : y;
}
InputDevice cursor_device;

void error_box(const char* title, const char* text) {
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text,
                           the_window ? the_window->window : nullptr);
}

// Out of memory: the window goes before the message is shown.
void close_on_fatal() {
  if (!the_window) return;
  if (the_window->context) SDL_GL_DeleteContext(the_window->context);
  if (the_window->window) SDL_DestroyWindow(the_window->window);
  the_window->context = nullptr;
  the_window->window = nullptr;
  the_window = nullptr;
}

void set_gl_attributes(int colour_bits, int alpha, int depth, int stencil, int accum) {
  int red = 8, green = 8, blue = 8;
  if (colour_bits <= 16) red = 5, green = 6, blue = 5;
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, red);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, green);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, blue);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum / 4);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum / 4);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum / 4);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum / 4);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

// Full screen at the listed mode that best fits width x height: the desktop's own size keeps
// the desktop mode, any other size changes the display mode while the window has the focus
// (SDL gives the desktop back and minimises when the focus leaves, and changes it again on
// return).
void go_full_screen(VantWindow* w, int width, int height) {
  w->full_screen = false;
  int chosen_width, chosen_height;
  display_mode_choose(mode_list, width, height, desktop_width, desktop_height, &chosen_width,
                      &chosen_height);
  bool desktop = chosen_width == desktop_width && chosen_height == desktop_height;
  if (!desktop) {
    SDL_DisplayMode mode{};
    mode.w = chosen_width;
    mode.h = chosen_height;
    SDL_SetWindowDisplayMode(w->window, &mode);
  }
  SDL_SetWindowFullscreen(w->window, desktop ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_FULLSCREEN);
  w->client_width = chosen_width;
  w->client_height = chosen_height;
  w->full_screen = true;
}

// A window on the desktop with that client size; 0 x 0 takes the desktop's size.
void go_windowed(VantWindow* w, int width, int height) {
  w->full_screen = false;
  SDL_SetWindowFullscreen(w->window, 0);
  if (width == 0 || height == 0) width = desktop_width, height = desktop_height;
  SDL_SetWindowSize(w->window, width, height);
  SDL_SetWindowPosition(w->window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  w->client_width = width;
  w->client_height = height;
}

// Carries out a requested switch; frames are refused meanwhile.
void switch_mode(VantWindow* w) {
  w->mode_requested = false;
  vant_mutex_lock(w->frame_mutex);
  w->busy = true;
  if (w->requested_flags & VANT_WINDOW_FULL_SCREEN)
    go_full_screen(w, w->requested_width, w->requested_height);
  else
    go_windowed(w, w->requested_width, w->requested_height);
  w->busy = false;
  vant_mutex_unlock(w->frame_mutex);
}

void free_window(VantWindow* w) {
  if (w->context) SDL_GL_DeleteContext(w->context);
  if (w->window) SDL_DestroyWindow(w->window);
  if (w->frame_mutex) vant_mutex_destroy(w->frame_mutex);
  input_queue_free(&w->events);
  if (the_window == w) the_window = nullptr;
  mem_free(w);
}

}  // namespace

void vant_install_error_box() { vant_set_error_box_hook(error_box); }

const DisplayMode* vant_display_modes() {
  if (modes_listed) return mode_list;
  if (!video_init()) {
    mode_list[0] = DisplayMode{0, 0, 0};
    return mode_list;
  }
  SDL_DisplayMode desktop;
  ReportedMode stored{};
  bool have_desktop = SDL_GetDesktopDisplayMode(0, &desktop) == 0;
  if (have_desktop) {
    stored = ReportedMode{desktop.w, desktop.h, static_cast<int>(SDL_BITSPERPIXEL(desktop.format)),
                          desktop.refresh_rate};
    desktop_width = desktop.w;
    desktop_height = desktop.h;
  }
  int count = SDL_GetNumDisplayModes(0);
  if (count < 0) count = 0;
  ReportedMode* reported = static_cast<ReportedMode*>(mem_calloc(count ? count : 1, sizeof(ReportedMode)));
  int n = 0;
  for (int i = 0; reported && i < count; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    reported[n++] = ReportedMode{m.w, m.h, static_cast<int>(SDL_BITSPERPIXEL(m.format)), m.refresh_rate};
  }
  display_mode_list_build(have_desktop ? &stored : nullptr, reported, n, mode_list);
  mem_free(reported);
  modes_listed = true;
  return mode_list;
}

VantWindow* vant_window_create(const char* title, int width, int height, unsigned flags,
                               int alpha_bits, int depth_bits, int stencil_bits, int accum_bits) {
  if (!video_init()) return nullptr;
  vant_display_modes();
  if (!options_logged) {
    options_logged = true;
    bool threaded = vant_option_bool("threaded", 0);
    vant_log("Options:\n");
    vant_log("%10s [%s]\n", "threaded:", threaded ? "on" : "off");
    // The window's messages always run on the thread that created it here.
    if (threaded) vant_log("Messages are processed on the main thread\n");
  }
  VantWindow* w = static_cast<VantWindow*>(mem_calloc(1, sizeof(VantWindow)));
  if (!w) return nullptr;
  snprintf(w->title, sizeof w->title, "%s", title);
  w->colour_bits = static_cast<int>(flags & 0xFF);
  w->resizable = !(flags & VANT_WINDOW_FIXED_SIZE);
  w->full_screen = (flags & VANT_WINDOW_FULL_SCREEN) != 0;
  w->frame_mutex = vant_mutex_create();
  if (!w->frame_mutex || !input_queue_init(&w->events)) {
    free_window(w);
    return nullptr;
  }
  // Leaving a changed display mode gives the desktop back and minimises the window.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "1");
  set_gl_attributes(w->colour_bits == 32 ? 24 : w->colour_bits, alpha_bits, depth_bits,
                    stencil_bits, accum_bits);
  Uint32 window_flags = SDL_WINDOW_OPENGL | (w->resizable ? SDL_WINDOW_RESIZABLE : 0);
  int chosen_width = width, chosen_height = height;
  if (w->full_screen) {
    display_mode_choose(mode_list, width, height, desktop_width, desktop_height, &chosen_width,
                        &chosen_height);
    bool desktop = chosen_width == desktop_width && chosen_height == desktop_height;
    window_flags |= desktop ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_FULLSCREEN;
  } else if (width == 0 || height == 0) {
    chosen_width = desktop_width;
    chosen_height = desktop_height;
  }
  w->client_width = chosen_width;
  w->client_height = chosen_height;
  vant_log("Creating window\n");
  w->window = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                               chosen_width, chosen_height, window_flags);
  if (!w->window) {
    vant_set_error("Can't create window!\n");
    vant_log("%s\n", SDL_GetError());
    free_window(w);
    return nullptr;
  }
  the_window = w;
  input_roll_call(&w->events);
  vant_alias_add("cursor-left", "Mouse Left");
  vant_alias_add("cursor-middle", "Mouse Middle");
  vant_alias_add("cursor-right", "Mouse Right");
  vant_alias_add("cursor-x", "cursor.axis[0]");
  vant_alias_add("cursor-y", "cursor.axis[1]");
  cursor_device = InputDevice{};
  cursor_device.name = "cursor";
  cursor_device.axis_count = 2;
  cursor_device.read_axis = cursor_read;
  input_device_add(&cursor_device);
  vant_log("Choosing pixel format\n");
  vant_log("Creating OpenGL context\n");
  w->context = SDL_GL_CreateContext(w->window);
  if (!w->context) {
    vant_set_error("Couldn't create OpenGL context\n");
    vant_log("%s\n", SDL_GetError());
    input_sdl_close();
    free_window(w);
    return nullptr;
  }
  SDL_GL_MakeCurrent(w->window, w->context);
  SDL_GL_GetDrawableSize(w->window, &w->client_width, &w->client_height);
  SDL_StartTextInput();
  SDL_RaiseWindow(w->window);
  vant_install_error_box();
  mem_on_fatal(close_on_fatal);
  return w;
}

void vant_window_destroy(VantWindow* w) {
  if (!w) return;
  w->close = true;
  vant_log("Deleting OpenGL context\n");
  if (w->context) SDL_GL_DeleteContext(w->context);
  w->context = nullptr;
  vant_log("Closing input devices\n");
  input_sdl_close();
  vant_log("Destroying window\n");
  free_window(w);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  vant_log("Window shutdown complete\n");
}

void vant_pump_messages(VantWindow* w) {
  SDL_Event e;
  while (SDL_PollEvent(&e))
    if (w && !w->close) handle(w, e);
  if (w && !w->close && w->mode_requested) switch_mode(w);
}

void vant_request_mode(VantWindow* w, int width, int height, unsigned flags) {
  if (!w || !w->resizable) return;
  w->requested_width = width;
  w->requested_height = height;
  w->requested_flags = flags;
  w->mode_requested = true;
}

int vant_window_full_screen(VantWindow* w) { return w && w->full_screen; }

void* vant_gl_proc_address(const char* name) { return SDL_GL_GetProcAddress(name); }

VantFrameInfo* vant_frame_begin(VantWindow* w) {
  if (!w || !w->context) return nullptr;
  Uint32 state = SDL_GetWindowFlags(w->window);
  if (state & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN)) return nullptr;
  vant_mutex_lock(w->frame_mutex);
  if (w->busy) {
    vant_mutex_unlock(w->frame_mutex);
    return nullptr;
  }
  int width = 0, height = 0;
  SDL_GL_GetDrawableSize(w->window, &width, &height);
  if (width <= 0 || height <= 0) width = w->client_width, height = w->client_height;
  w->frame = VantFrameInfo{nullptr, width, height, 0, 0};
  return &w->frame;
}

int vant_frame_end(VantWindow* w) {
  SDL_GL_SwapWindow(w->window);
  vant_mutex_unlock(w->frame_mutex);
  return 1;
}

int vant_window_size(VantWindow* w, int* width, int* height) {
  if (!w || !w->window) return 0;
  if (SDL_GetWindowFlags(w->window) & SDL_WINDOW_MINIMIZED) return 0;
  SDL_GL_GetDrawableSize(w->window, width, height);
  return *width > 0 && *height > 0;
}

int input_next_event(VantWindow* w, int* code, int* down) {
  vant_pump_messages(w);
  if (input_queue_pop(&w->events, code, down)) return 1;
  input_devices_poll();
  return input_queue_pop(&w->events, code, down);
}

int input_next_event_until(VantWindow* w, int* code, int* down, int32_t seconds,
                           int32_t microseconds) {
  vant_pump_messages(w);
  if (input_queue_pop_until(&w->events, code, down, seconds, microseconds)) return 1;
  input_devices_poll();
  return input_queue_pop_until(&w->events, code, down, seconds, microseconds);
}
