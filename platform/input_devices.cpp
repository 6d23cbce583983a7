// The list of input devices and the axis handles bound by name.
#include <cstdio>
#include <cstring>

#include "files/memory.h"
#include "platform/input.h"
#include "platform/vant.h"

struct InputAxis {
  InputDevice* device;
  int index;
};

namespace {

InputDevice* device_list = nullptr;

InputDevice* find_device(const char* name) {
  for (InputDevice* d = device_list; d; d = d->next)
    if (strcmp(d->name, name) == 0) return d;
  return nullptr;
}

}  // namespace

void input_device_add(InputDevice* device) {
  device->next = device_list;
  device_list = device;
}

void input_devices_clear() {
  for (InputDevice* d = device_list; d; d = d->next)
    if (d->use_count > 0 && d->last_release) d->last_release(d);
  device_list = nullptr;
}

InputAxis* input_bind_axis(VantWindow*, const char* name) {
  if (!name) return nullptr;
  name = vant_alias_lookup(name);
  char device_name[64];
  int index = -1;
  char tail;
  bool parsed = sscanf(name, "%63[^.].axis[%d%c", device_name, &index, &tail) == 3 && tail == ']';
  if (!parsed) parsed = sscanf(name, "%63s axis %d", device_name, &index) == 2;
  if (!parsed || index < 0) return nullptr;
  InputDevice* device = find_device(device_name);
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
