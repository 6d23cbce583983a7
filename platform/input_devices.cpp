// The list of input devices: their names and ids, the device name list, axis handles bound by
// name, device buttons as event codes, and polling the platform devices' change records.
#include <cstdio>
#include <cstring>
#include <vector>

#include "files/memory.h"
#include "platform/input.h"
#include "platform/vant.h"

struct InputAxis {
  InputDevice* device;
  int index;
};

namespace {

InputDevice* device_list = nullptr;
// Interned "name axis n" entries, kept null-terminated.
std::vector<const char*> device_names = {nullptr};

constexpr int ID_STEP = 65536;
constexpr int ID_MASK = 0x7fff0000;

bool id_in_use(int id) {
  for (InputDevice* d = device_list; d; d = d->next)
    if (d->id == id) return true;
  return false;
}

void device_names_add(const char* name) {
  device_names.back() = name;
  device_names.push_back(nullptr);
}

// Parses "Device.key[n]" / "Device button n" (or the axis forms) into a device and a number.
InputDevice* parse_device_part(const char* name, const char* dotted, const char* spaced,
                               int* number) {
  char device_name[64];
  char tail = 0;
  int n = -1;
  char dotted_format[32];
  snprintf(dotted_format, sizeof dotted_format, "%%63[^.].%s[%%d%%c", dotted);
  bool parsed = sscanf(name, dotted_format, device_name, &n, &tail) == 3 && tail == ']';
  if (!parsed) {
    char spaced_format[32];
    snprintf(spaced_format, sizeof spaced_format, "%%63s %s %%d", spaced);
    parsed = sscanf(name, spaced_format, device_name, &n) == 2;
  }
  if (!parsed || n < 0) return nullptr;
  *number = n;
  return input_device_find(device_name);
}

void queue_event(InputPlatformDevice* p, int button, bool down, int64_t time_ms) {
  // Codes carry the button number in their low 8 bits; higher buttons cannot be bound.
  if (button > INPUT_BUTTON_CODE_MAX || !p->queue) return;
  if (time_ms < 0) time_ms = 0;
  input_queue_push(p->queue, p->device.id + button, down ? 1 : 0, int32_t(time_ms / 1000),
                   int32_t(time_ms % 1000) * 1000);
}

// Reads the whole state: axis values, and an event stamped now for every changed button.
void read_whole_state(InputPlatformDevice* p, int64_t now_ms) {
  if (!p->read_state) return;
  int32_t axes[INPUT_AXIS_MAX] = {};
  uint8_t buttons[INPUT_BUTTON_MAX] = {};
  p->read_state(p, axes, buttons);
  // Motion read now adds to motion not yet taken by an axis read.
  for (int i = 0; i < p->device.axis_count; i++) p->axes[i] = p->relative ? p->axes[i] + axes[i] : axes[i];
  for (int i = 0; i < p->device.button_count; i++) {
    if (buttons[i] == p->buttons[i]) continue;
    p->buttons[i] = buttons[i];
    queue_event(p, i, buttons[i] != 0, now_ms);
  }
}

int platform_enable(InputDevice*) { return 1; }

void platform_poll(InputDevice* d) {
  input_platform_poll(reinterpret_cast<InputPlatformDevice*>(d), input_clock_ms());
}

int platform_read_axis(InputDevice* d, int axis) {
  InputPlatformDevice* p = reinterpret_cast<InputPlatformDevice*>(d);
  input_platform_poll(p, input_clock_ms());
  int32_t value = p->axes[axis];
  if (p->relative) p->axes[axis] = 0;
  return value;
}

void platform_destroy(InputDevice* d) {
  InputPlatformDevice* p = reinterpret_cast<InputPlatformDevice*>(d);
  vant_log("Killing %s\n", d->name);
  if (p->timestamp_adjustment > 0) vant_log("Timestamp adjustment was %d\n", int(p->timestamp_adjustment));
  if (p->close) p->close(p);
  mem_free(const_cast<char*>(d->name));
  mem_free(p);
}

}  // namespace

void input_device_add(InputDevice* device) {
  device->next = device_list;
  device_list = device;
}

InputDevice* input_device_find(const char* name) {
  for (InputDevice* d = device_list; d; d = d->next)
    if (strcmp(d->name, name) == 0) return d;
  return nullptr;
}

void input_devices_poll() {
  for (InputDevice* d = device_list; d; d = d->next)
    if (d->buttons_active && d->poll) d->poll(d);
}

void input_devices_clear() {
  for (InputDevice* d = device_list; d; d = d->next)
    if (d->use_count > 0 && d->last_release) d->last_release(d);
  InputDevice* d = device_list;
  device_list = nullptr;
  while (d) {
    InputDevice* next = d->next;
    d->next = nullptr;
    d->use_count = 0;
    d->buttons_active = false;
    if (d->destroy) d->destroy(d);
    d = next;
  }
  device_names.assign(1, nullptr);
}

bool input_device_unique_name(const char* instance, char* name, int size) {
  char base[256];
  int n = 0;
  for (const char* c = instance; *c && n + 1 < int(sizeof base); c++)
    if (*c != ' ' && *c != '.') base[n++] = *c;
  base[n] = 0;
  if (snprintf(name, size, "%s", base) >= size) return false;
  for (int k = 2; input_device_find(name); k++)
    if (snprintf(name, size, "%s#%d", base, k) >= size) return false;
  return true;
}

int input_device_id(const char* name) {
  unsigned sum16 = 0, sum8 = 0;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; c += 2) {
    sum16 = (sum16 + c[0]) & 0xffff;
    if (!c[1]) break;
    sum8 = (sum8 + c[1]) & 0xff;
  }
  int id = int(((sum16 + 256 * sum8) % 32768) * ID_STEP);
  for (int tries = 0; tries < 65535; tries++) {
    if (id != 0 && !id_in_use(id)) return id;
    id = (id + ID_STEP) & ID_MASK;
  }
  return 0;
}

const char* const* vant_device_names(VantWindow*) { return device_names.data(); }

InputAxis* input_bind_axis(VantWindow*, const char* name) {
  if (!name) return nullptr;
  int index = 0;
  InputDevice* device = parse_device_part(vant_alias_lookup(name), "axis", "axis", &index);
  if (!device || index >= device->axis_count) return nullptr;
  if (device->use_count == 0 && device->enable && !device->enable(device)) return nullptr;
  InputAxis* axis = static_cast<InputAxis*>(mem_alloc(sizeof(InputAxis)));
  if (!axis) return nullptr;
  device->use_count++;
  *axis = InputAxis{device, index};
  return axis;
}

int input_read_axis(InputAxis* axis) {
  InputDevice* d = axis->device;
  return d->read_axis ? d->read_axis(d, axis->index) : 0;
}

void input_release_axis(InputAxis* axis) {
  InputDevice* d = axis->device;
  if (--d->use_count == 0 && d->last_release) d->last_release(d);
  mem_free(axis);
}

int input_device_button_code(const char* name) {
  int button = 0;
  InputDevice* device = parse_device_part(name, "key", "button", &button);
  if (!device || button > INPUT_BUTTON_CODE_MAX || button >= device->button_count) return 0;
  device->buttons_active = device->enable ? device->enable(device) != 0 : true;
  return device->id + button;
}

const char* input_device_button_name(int code) {
  const int id = code & ID_MASK;
  if (id == 0) return nullptr;
  for (InputDevice* d = device_list; d; d = d->next) {
    if (d->id != id) continue;
    char name[1100];
    snprintf(name, sizeof name, "%.1000s button %d", d->name, code & 0xff);
    return vant_intern(name);
  }
  return nullptr;
}

InputPlatformDevice* input_platform_device_create(const char* instance, const char* product,
                                                  int axis_count, int button_count,
                                                  const bool* relative_axes, bool buffered,
                                                  InputEventQueue* queue) {
  vant_log("%s (%s)\n", instance, product ? product : "");
  char name[300];
  if (!input_device_unique_name(instance, name, sizeof name)) return nullptr;
  const int id = input_device_id(name);
  if (axis_count <= 0 && button_count <= 0) {
    vant_log("Ignoring Dunsel device\n");
    return nullptr;
  }
  vant_log("%d axes, %d keys\n", axis_count, button_count);
  if (axis_count > INPUT_AXIS_MAX) {
    vant_log("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"Axis %d\"\n",
             INPUT_AXIS_MAX);
    axis_count = INPUT_AXIS_MAX;
  }
  if (button_count > INPUT_BUTTON_MAX) {
    vant_log("Wow! This thing has a lot of buttons!\nThe first ignored button is called \"Button %d\"\n",
             INPUT_BUTTON_MAX);
    button_count = INPUT_BUTTON_MAX;
  }
  if (axis_count < 0) axis_count = 0;
  if (button_count < 0) button_count = 0;
  auto* p = static_cast<InputPlatformDevice*>(mem_calloc(1, sizeof(InputPlatformDevice)));
  char* stored_name = static_cast<char*>(mem_alloc(strlen(name) + 1));
  if (!p || !stored_name) {
    vant_log("Out of memory\n");
    mem_free(p);
    mem_free(stored_name);
    return nullptr;
  }
  strcpy(stored_name, name);
  // The device's axes count as relative when its first one is.
  p->relative = axis_count > 0 && relative_axes && relative_axes[0];
  bool mixed = false;
  for (int i = 0; i < axis_count; i++) {
    const bool relative = relative_axes && relative_axes[i];
    vant_log("axis %d is %s\n", i, relative ? "relative" : "absolute");
    mixed = mixed || relative != p->relative;
  }
  if (mixed) vant_log("'%s' has both absolute and relative axes\n", name);
  if (!p->relative) {
    for (int i = 0; i < axis_count; i++) {
      char entry[300];
      snprintf(entry, sizeof entry, "%.200s axis %d", name, i);
      vant_log("Adding axis \"%s\"\n", entry);
      if (const char* interned = vant_intern(entry)) device_names_add(interned);
    }
  }
  InputDevice& d = p->device;
  d.name = stored_name;
  d.id = id;
  d.axis_count = axis_count;
  d.button_count = button_count;
  d.enable = platform_enable;
  d.read_axis = platform_read_axis;
  d.poll = platform_poll;
  d.destroy = platform_destroy;
  d.context = p;
  p->queue = queue;
  p->buffered = buffered;
  input_device_add(&d);
  return p;
}

bool input_record_push(InputPlatformDevice* p, const InputRecord& record) {
  if (p->record_count == INPUT_BUFFER_SIZE) {
    p->overflowed = true;
    return false;
  }
  p->records[(p->record_head + p->record_count) % INPUT_BUFFER_SIZE] = record;
  p->record_count++;
  return true;
}

void input_platform_poll(InputPlatformDevice* p, int64_t now_ms) {
  if (!p->buffered) {
    read_whole_state(p, now_ms);
    return;
  }
  for (; p->record_count > 0; p->record_count--) {
    const InputRecord r = p->records[p->record_head];
    p->record_head = (p->record_head + 1) % INPUT_BUFFER_SIZE;
    if (r.index < 0) continue;
    if (r.axis) {
      if (r.index >= p->device.axis_count) continue;
      p->axes[r.index] = p->relative ? p->axes[r.index] + r.value : r.value;
      continue;
    }
    if (r.index >= p->device.button_count) continue;
    const uint8_t byte = r.value ? 0x80 : 0;
    if (byte == p->buttons[r.index]) continue;
    p->buttons[r.index] = byte;
    // Record times that run ahead of the clock move the adjustment on, so events are never
    // stamped in the future.
    int64_t time = r.time_ms - p->timestamp_adjustment;
    if (time > now_ms) {
      p->timestamp_adjustment = r.time_ms - now_ms;
      time = now_ms;
    }
    queue_event(p, r.index, byte != 0, time);
  }
  p->record_head = 0;
  // Lost records may hide a button change: the whole state puts it right.
  if (p->overflowed) {
    p->overflowed = false;
    read_whole_state(p, now_ms);
  }
}

int64_t input_clock_ms() {
  int32_t s, us;
  vant_time_now(&s, &us);
  return int64_t(s) * 1000 + us / 1000;
}

void input_register_device_aliases() {
  static const char* const ALIASES[][2] = {
      {"mouse-x", "Mouse.axis[0]"},        {"mouse-y", "Mouse.axis[1]"},
      {"mouse-left", "Mouse.key[0]"},      {"mouse-right", "Mouse.key[1]"},
      {"mouse-middle", "Mouse.key[2]"},    {"joystick-a-x", "Joystick1.axis[0]"},
      {"joystick-a-y", "Joystick1.axis[1]"}, {"joystick-a-1", "Joystick1.key[0]"},
      {"joystick-a-2", "Joystick1.key[1]"}, {"joystick-b-x", "Joystick2.axis[0]"},
      {"joystick-b-y", "Joystick2.axis[1]"}, {"joystick-b-1", "Joystick2.key[0]"},
      {"joystick-b-2", "Joystick2.key[1]"},
  };
  for (const auto& a : ALIASES) vant_alias_add(a[0], a[1]);
}
