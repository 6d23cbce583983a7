// Joysticks and the mouse over SDL. Each joystick is named "Joystick N" by its place in SDL's
// list; its hats count as four buttons each (up, right, down, left) after its own buttons.
#include "platform/input_sdl.h"

#include <cstdio>

#include "platform/input.h"
#include "platform/vant.h"

namespace {

constexpr int JOYSTICK_MAX = 16;
struct Joystick {
  SDL_Joystick* joystick;
  SDL_JoystickID instance;
  InputPlatformDevice* device;
  int first_hat_button;
};
Joystick joysticks[JOYSTICK_MAX];
int joystick_count = 0;
bool subsystem_started = false;
// SDL stamps events in milliseconds since it started; this turns them into the platform clock.
int64_t sdl_clock_offset_ms = 0;

constexpr Uint8 HAT_DIRECTIONS[4] = {SDL_HAT_UP, SDL_HAT_RIGHT, SDL_HAT_DOWN, SDL_HAT_LEFT};

int32_t axis_value(Sint16 raw) { return raw < -32767 ? -32767 : raw; }

Joystick* find_joystick(SDL_JoystickID instance) {
  for (int i = 0; i < joystick_count; i++)
    if (joysticks[i].instance == instance && joysticks[i].device) return &joysticks[i];
  return nullptr;
}

void joystick_state(InputPlatformDevice* device, int32_t* axes, uint8_t* buttons) {
  const Joystick& j = *static_cast<Joystick*>(device->handle);
  for (int i = 0; i < device->device.axis_count; i++) axes[i] = axis_value(SDL_JoystickGetAxis(j.joystick, i));
  for (int i = 0; i < j.first_hat_button && i < device->device.button_count; i++)
    buttons[i] = SDL_JoystickGetButton(j.joystick, i) ? 0x80 : 0;
  for (int b = j.first_hat_button; b < device->device.button_count; b++) {
    const int hat = (b - j.first_hat_button) / 4;
    buttons[b] = (SDL_JoystickGetHat(j.joystick, hat) & HAT_DIRECTIONS[(b - j.first_hat_button) % 4]) ? 0x80 : 0;
  }
}

void joystick_close(InputPlatformDevice* device) {
  Joystick& j = *static_cast<Joystick*>(device->handle);
  if (j.joystick) SDL_JoystickClose(j.joystick);
  j = Joystick{};
}

// The mouse: motion since the last read on axes 0 and 1; buttons left, right, middle, and the
// two side buttons.
void mouse_state(InputPlatformDevice*, int32_t* axes, uint8_t* buttons) {
  int dx = 0, dy = 0;
  const Uint32 held = SDL_GetRelativeMouseState(&dx, &dy);
  axes[0] = dx;
  axes[1] = dy;
  const Uint32 masks[5] = {SDL_BUTTON_LMASK, SDL_BUTTON_RMASK, SDL_BUTTON_MMASK, SDL_BUTTON_X1MASK,
                           SDL_BUTTON_X2MASK};
  for (int i = 0; i < 5; i++) buttons[i] = (held & masks[i]) ? 0x80 : 0;
}

void add_joystick(int index, InputEventQueue* queue) {
  char instance[32];
  snprintf(instance, sizeof instance, "Joystick %d", index + 1);
  if (joystick_count == JOYSTICK_MAX) return;
  SDL_Joystick* stick = SDL_JoystickOpen(index);
  if (!stick) {
    vant_log("Can't create \"%s\"\n", instance);
    return;
  }
  const int buttons = SDL_JoystickNumButtons(stick);
  const int hats = SDL_JoystickNumHats(stick);
  const int axes = SDL_JoystickNumAxes(stick);
  InputPlatformDevice* device = input_platform_device_create(
      instance, SDL_JoystickName(stick), axes < 0 ? 0 : axes,
      (buttons < 0 ? 0 : buttons) + 4 * (hats < 0 ? 0 : hats), nullptr, true, queue);
  if (!device) {
    SDL_JoystickClose(stick);
    return;
  }
  Joystick& j = joysticks[joystick_count++];
  j = Joystick{stick, SDL_JoystickInstanceID(stick), device, buttons < 0 ? 0 : buttons};
  device->handle = &j;
  device->read_state = joystick_state;
  device->close = joystick_close;
  // The device starts from the state it is in, so held buttons give no events.
  joystick_state(device, device->axes, device->buttons);
}

void push_record(Joystick* j, const SDL_Event& e, bool axis, int index, int32_t value) {
  input_record_push(j->device, InputRecord{int64_t(e.common.timestamp) + sdl_clock_offset_ms, axis, index, value});
}

}  // namespace

void input_roll_call(InputEventQueue* queue) {
  if (!vant_option_bool("dinput", 1)) {
    vant_log("DirectInput disabled\n");
    return;
  }
  if (!SDL_WasInit(SDL_INIT_JOYSTICK)) {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
      vant_log("Can't open direct input library\n");
      return;
    }
    subsystem_started = true;
  }
  vant_log("Creating DirectInput object\n");
  sdl_clock_offset_ms = input_clock_ms() - int64_t(SDL_GetTicks());
  SDL_JoystickEventState(SDL_ENABLE);
  vant_log("DirectInput roll call...\n");
  const int count = SDL_NumJoysticks();
  for (int i = 0; i < count; i++) add_joystick(i, queue);
  if (!vant_option_bool("dinputsticksonly", 1)) {
    const bool relative[2] = {true, true};
    if (InputPlatformDevice* mouse =
            input_platform_device_create("Mouse", "Mouse", 2, 5, relative, false, queue)) {
      mouse->read_state = mouse_state;
      int32_t axes[2];
      mouse_state(mouse, axes, mouse->buttons);
    }
  }
  vant_log("End of DirectInput roll call\n");
  input_register_device_aliases();
}

bool input_sdl_event(const SDL_Event& e) {
  switch (e.type) {
    case SDL_JOYAXISMOTION:
      if (Joystick* j = find_joystick(e.jaxis.which)) push_record(j, e, true, e.jaxis.axis, axis_value(e.jaxis.value));
      return true;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
      if (Joystick* j = find_joystick(e.jbutton.which))
        push_record(j, e, false, e.jbutton.button, e.jbutton.state == SDL_PRESSED);
      return true;
    case SDL_JOYHATMOTION:
      // Each direction is a button; directions that did not change are ignored when polled.
      if (Joystick* j = find_joystick(e.jhat.which)) {
        for (int d = 0; d < 4; d++)
          push_record(j, e, false, j->first_hat_button + 4 * e.jhat.hat + d, (e.jhat.value & HAT_DIRECTIONS[d]) != 0);
      }
      return true;
    case SDL_JOYBALLMOTION:
    case SDL_JOYDEVICEADDED:
    case SDL_JOYDEVICEREMOVED:
      // Devices are found once, when the window opens.
      return true;
    default:
      return false;
  }
}

void input_sdl_close() {
  input_devices_clear();
  joystick_count = 0;
  if (subsystem_started) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  subsystem_started = false;
}
