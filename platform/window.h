// The game window with its GL context: creation, frames, message pumping, display modes.
// Events from the window land in its input queue (platform/input.h) with their times.
#pragma once

#include "platform/display.h"

struct VantWindow;

// What vant_frame_begin hands out; a GL window has no pixel pointer.
struct VantFrameInfo {
  void* pixels;
  int width;
  int height;
  int pitch;
  int format;
};

// Creation flags: bits 0-7 colour bits, plus these.
constexpr unsigned VANT_WINDOW_FIXED_SIZE = 256;  // no resizing, no full-screen switching
constexpr unsigned VANT_WINDOW_FULL_SCREEN = 512;

// Creates the window and its GL context; null on failure (logged, nothing left behind).
VantWindow* vant_window_create(const char* title, int width, int height, unsigned flags,
                               int alpha_bits, int depth_bits, int stencil_bits, int accum_bits);
// Deletes the GL context and closes the window.
void vant_window_destroy(VantWindow* window);
// The display modes, enumerated once; ends with an all-zero entry.
const DisplayMode* vant_display_modes();
// Dispatches the pending window messages into the window's event queue.
void vant_pump_messages(VantWindow* window);
// Starts a frame: null when nothing can be drawn now (no context, hidden, busy); otherwise the
// frame's size, and the caller draws and then calls vant_frame_end.
VantFrameInfo* vant_frame_begin(VantWindow* window);
// Presents the frame; 1 on success.
int vant_frame_end(VantWindow* window);
// Shows error boxes as desktop message boxes from now on (also before any window exists).
void vant_install_error_box();

// The current client size; 0 when the window has none (e.g. minimised).
int vant_window_size(VantWindow* window, int* width, int* height);

// Asks the window to go full screen at the listed mode that best fits width x height (flags
// hold VANT_WINDOW_FULL_SCREEN; 0 x 0 is the desktop size) or to become a window with that
// client size (0 x 0: the desktop's size). Returns at once; the switch happens while the
// window's messages are pumped, and no frame is drawn during it. A fixed-size window ignores it.
void vant_request_mode(VantWindow* window, int width, int height, unsigned flags);
// Whether the window is full screen now.
int vant_window_full_screen(VantWindow* window);

// Address of a GL entry point of the current context, null when the driver has none.
void* vant_gl_proc_address(const char* name);
