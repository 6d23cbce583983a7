// Input events and control names: the event codes, the time-stamped event queue of a window,
// and the names keys are bound by. The window layer fills the queue; the game reads it.
#pragma once

#include <cstdint>

struct VantWindow;
struct InputAxis;
struct VantMutex;

// Event codes.
constexpr int INPUT_KEY_BASE = 4096;   // + set-1 scan code (+ 256 for extended keys)
constexpr int INPUT_KEY_LAST = 4607;
constexpr int INPUT_MOUSE_LEFT = 8192;
constexpr int INPUT_MOUSE_MIDDLE = 8193;
constexpr int INPUT_MOUSE_RIGHT = 8194;
constexpr int INPUT_CLOSE = 57005;     // window close request
// 0..255 are typed characters; device buttons are a device id (bits 16-30) + button index.

// A ring of time-stamped events; a push onto a full ring drops the new event.
constexpr int INPUT_QUEUE_SIZE = 256;
struct InputEventQueue {
  VantMutex* mutex;
  int head;
  int count;
  uint32_t code[INPUT_QUEUE_SIZE];  // bit 31 set for a release
  int32_t seconds[INPUT_QUEUE_SIZE];
  int32_t microseconds[INPUT_QUEUE_SIZE];
};

// 1 when the queue and its mutex are ready.
int input_queue_init(InputEventQueue* queue);
void input_queue_free(InputEventQueue* queue);
void input_queue_push(InputEventQueue* queue, int code, int down, int32_t seconds,
                      int32_t microseconds);
// Takes the oldest event; with a time limit only if its time is not later than the limit.
int input_queue_pop(InputEventQueue* queue, int* code, int* down);
int input_queue_pop_until(InputEventQueue* queue, int* code, int* down, int32_t seconds,
                          int32_t microseconds);

// The window's events: both dispatch pending window messages first.
int input_next_event(VantWindow* window, int* code, int* down);
int input_next_event_until(VantWindow* window, int* code, int* down, int32_t seconds,
                           int32_t microseconds);

// Binds a key or button name: alias, exact name, loose name (case, blanks and "_" ignored),
// then "0x%x" with a scan code up to 511. 1 with the code, 0 when the name is unknown.
int input_key_code(VantWindow* window, const char* name, int* code);
// Display name of an event code, or null.
const char* input_key_name(VantWindow* window, int code);

// Axes by name ("cursor.axis[0]", "cursor-x" ...); null when the name binds nothing.
InputAxis* input_bind_axis(VantWindow* window, const char* name);
int input_read_axis(InputAxis* axis);
void input_release_axis(InputAxis* axis);

// An input device that offers axes (and, later, buttons): the cursor, joysticks, the mouse.
struct InputDevice {
  InputDevice* next;
  const char* name;   // no spaces or dots
  int id;             // bits 16-30
  int use_count;      // live axis handles
  int button_count;
  int axis_count;
  int (*enable)(InputDevice* device);        // first use; 1 on success
  void (*last_release)(InputDevice* device);
  int (*read_axis)(InputDevice* device, int axis);
  void* context;
};
// Adds a device at the head of the device list (the list keeps the pointer).
void input_device_add(InputDevice* device);
// Removes every device from the list, releasing those still in use.
void input_devices_clear();

// The set-1 scan code (+ 256 for extended keys) of a key given by its USB HID usage id,
// 0 for keys without one.
int scan_code_from_usb_usage(int usage);
