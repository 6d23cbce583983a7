// Joysticks and the mouse as input devices over SDL: the roll call when the window opens,
// their change records from SDL's events, and closing them with the window.
#pragma once

#include <SDL.h>

struct InputEventQueue;

// Finds the attached joysticks (and, with the option dinputsticksonly off, the mouse) and
// adds them to the device list, their button events going into queue. With no device, or
// with the option dinput off, nothing is added; the game runs on without them.
void input_roll_call(InputEventQueue* queue);
// Takes a joystick event into its device's records; false for any other event.
bool input_sdl_event(const SDL_Event& event);
// Closes every input device (the window is closing) and the joystick subsystem.
void input_sdl_close();
