// Binding capture: while the player chooses a control on the controls page, every axis the
// input devices offer is watched and the next key pressed is noted; a stick pushed well away
// from where it rested, or the key, becomes the binding.
#pragma once

#include <vector>

#include "core/bindings.h"

struct VantWindow;

// How long the winning input must stay unchallenged (s), and how far (raw / 32768) an axis
// must move from its rest to count.
constexpr double CAPTURE_SETTLE_SECONDS = 0.25;
constexpr double CAPTURE_AXIS_TRAVEL = 0.5;

struct CapturedAxis {
  const char* name;  // device name list entry, "Joystick1 axis 0"
  InputAxis* axis;   // null when it could not be opened
  double rest;       // raw / 32768 when the capture began
  double extreme;    // farthest value from rest seen so far
};

struct BindingCapture {
  bool active;
  ControlBinding* binding;
  VantWindow* window;
  double timer;  // time of the last new extreme or key press (s)
  int key_code;  // key pressed during the capture, 0 for none
  std::vector<CapturedAxis> axes;
};
extern BindingCapture binding_capture;

// Starts capturing for a binding: opens every axis of the device name list and notes its rest.
void binding_capture_start(VantWindow* window, ControlBinding* binding, double now);
// A key press during the capture: Esc ends it without change; any other key restarts the timer
// and waits to become the binding.
void binding_capture_key(int code, double now);
// Once per frame: follows the axes and binds the winner once the timer has run out. False when
// no capture runs (any more).
bool binding_capture_update(double now);
// Ends the capture and releases the watched axes.
void binding_capture_end();
// The range an axis binding takes from a watched axis: 1/16 and 15/16 of the way from rest to
// extreme, so a stick's slack at either end still reads 0 and 1.
void capture_axis_range(double rest, double extreme, double* minimum, double* maximum);
