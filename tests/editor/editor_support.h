// Driving the editor as the game does, without a window: the pointer placed over world points,
// button presses, releases and updates.
#pragma once

#include <cmath>

#include "editor/editor.h"
#include "platform/input.h"
#include "track/terrain.h"

inline int key_code(const char* name) {
  int code = 0;
  input_key_code(nullptr, name, &code);
  return code;
}

inline void editor_test_keys() {
  editor_keys = {INPUT_MOUSE_LEFT,  INPUT_MOUSE_RIGHT, key_code("left"),  key_code("right"),
                 key_code("up"),    key_code("down"),  key_code("enter"), key_code("keypad enter")};
}

// The pixel over a world point in the current view (rounded to the nearest pixel).
inline void pointer_at(float x, float z) {
  float view = editor.terrain->extent / editor_zoom_scale();
  float px = float(editor.width / 2) + (x - editor.centre_x) / view * float(editor.height);
  float py = float(editor.height / 2) + (z - editor.centre_z) / view * float(editor.height);
  editor_set_pointer(int(std::lround(px)), int(std::lround(py)));
}

inline bool press(int code) { return editor_key(code, true); }
inline bool release(int code) { return editor_key(code, false); }
inline void click_down() { press(INPUT_MOUSE_LEFT); }
inline void click_up() { release(INPUT_MOUSE_LEFT); }
inline void updates(int n) {
  for (int i = 0; i < n; i++) editor_update();
}
// One brush application at the pointer: press, the update that applies it, release.
inline void stroke_at(float x, float z) {
  pointer_at(x, z);
  click_down();
  updates(1);
  click_up();
}
