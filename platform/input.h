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

// An input device with axes and buttons: the cursor, joysticks, the mouse. Devices are found
// once, when the window opens; nothing is hot-plugged.
struct InputDevice {
  InputDevice* next;
  const char* name;     // no spaces or dots
  int id;               // bits 16-30, never 0 for a device with buttons
  int use_count;        // live axis handles
  bool buttons_active;  // a button has been bound: the device is polled for events
  int button_count;
  int axis_count;
  int (*enable)(InputDevice* device);        // first button binding or axis use; 1 on success
  void (*last_release)(InputDevice* device);
  int (*read_axis)(InputDevice* device, int axis);
  void (*poll)(InputDevice* device);         // queues the device's button events
  void (*destroy)(InputDevice* device);      // at window close
  void* context;
};
// Adds a device at the head of the device list (the list keeps the pointer).
void input_device_add(InputDevice* device);
// The device with this name, or null.
InputDevice* input_device_find(const char* name);
// Polls every device whose buttons are active (the event reads do so when nothing is queued).
void input_devices_poll();
// Window close: releases the devices still in use, destroys every device and empties the
// device list and the device name list.
void input_devices_clear();

// Device naming. The name is the instance name without spaces and dots, made unique with
// "#2", "#3" ...; false when it does not fit the buffer.
bool input_device_unique_name(const char* instance, char* name, int size);
// The device id of a name: byte sums over the name taken in pairs, moved on past ids in use;
// 0 when every id is taken.
int input_device_id(const char* name);

// The device name list: one interned "%.200s axis %d" per absolute axis of every platform
// device, null-terminated; the control assignment screen watches every entry.
const char* const* vant_device_names(VantWindow* window);

// A device read through the platform's joystick or mouse interface. Records of axis and
// button changes arrive in a buffer of INPUT_BUFFER_SIZE with their times; polling turns them
// into axis values and button events. A device without a buffer is read by whole states.
constexpr int INPUT_AXIS_MAX = 100;
constexpr int INPUT_BUTTON_MAX = 500;
constexpr int INPUT_BUFFER_SIZE = 25;
constexpr int INPUT_BUTTON_CODE_MAX = 255;  // highest button number an event code carries

struct InputRecord {
  int64_t time_ms;  // platform clock (vant_time_now) in milliseconds
  bool axis;        // an axis value (else a button state)
  int index;
  int32_t value;    // axis: position or motion; button: non-zero when down
};

struct InputPlatformDevice {
  InputDevice device;  // first, so the device's operations can reach the rest
  InputEventQueue* queue;
  bool buffered;
  bool relative;       // axes report motion, not position
  int64_t timestamp_adjustment;  // ms taken off record times that ran ahead of the clock
  int32_t axes[INPUT_AXIS_MAX];
  uint8_t buttons[INPUT_BUTTON_MAX];
  InputRecord records[INPUT_BUFFER_SIZE];
  int record_head, record_count;
  bool overflowed;  // records were lost: the next poll reads the whole state as well
  // The whole current state: axis positions (or motion since the last call for a relative
  // device) and button bytes.
  void (*read_state)(InputPlatformDevice* device, int32_t* axes, uint8_t* buttons);
  void (*close)(InputPlatformDevice* device);
  void* handle;
};

// Sets up one device as the roll call finds it: logs, names it, checks its counts, lists its
// absolute axes in the device name list and puts it at the head of the device list. Null
// (logged) for a device with neither axes nor buttons or when out of memory. product may be
// null.
InputPlatformDevice* input_platform_device_create(const char* instance, const char* product,
                                                  int axis_count, int button_count,
                                                  const bool* relative_axes, bool buffered,
                                                  InputEventQueue* queue);
// Stores a change record; when the buffer is full the record is dropped and the next poll
// reads the whole state. False when dropped.
bool input_record_push(InputPlatformDevice* device, const InputRecord& record);
// Polling: takes the buffered records (or the whole state) into axis values and button events
// stamped with their times, clamped to now_ms.
void input_platform_poll(InputPlatformDevice* device, int64_t now_ms);
// The platform clock in milliseconds.
int64_t input_clock_ms();

// Device buttons by name ("Joystick1.key[3]", "Joystick1 button 3"): the code, enabling the
// device's buttons, or 0; and the name "%s button %d" of a device button code, or null.
int input_device_button_code(const char* name);
const char* input_device_button_name(int code);

// Registers the control-name aliases of the mouse and the first two joysticks.
void input_register_device_aliases();

// The set-1 scan code (+ 256 for extended keys) of a key given by its USB HID usage id,
// 0 for keys without one.
int scan_code_from_usb_usage(int usage);
