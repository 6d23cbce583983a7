// Display modes: the mode list offered for full screen and the rule that picks a mode for a
// requested size. Device-free, so the window layer and tests share it.
#pragma once

#include <cstdint>

struct DisplayMode {
  int32_t width;
  int32_t height;
  int32_t bits;  // bits per pixel
};

// A mode as the display system reports it, with its refresh rate.
struct ReportedMode {
  int width, height, bits, refresh;
};

constexpr int DISPLAY_MODE_MAX = 512;

// Builds the list: the desktop's stored mode first (when its depth is usable), then every
// reported mode of depth 8, 15, 16, 24 or 32 not listed yet (refresh rates are not kept),
// logging each as found or ignored; ends with an all-zero entry. stored may be null.
// out holds DISPLAY_MODE_MAX + 1 entries. Returns the number of modes.
int display_mode_list_build(const ReportedMode* stored, const ReportedMode* reported, int count,
                            DisplayMode* out);

// The size to use for full screen at width x height: the listed mode at least that large with
// the smallest excess (the earlier on a tie), else the desktop size; the desktop size also
// when width or height is 0.
void display_mode_choose(const DisplayMode* list, int width, int height, int desktop_width,
                         int desktop_height, int* chosen_width, int* chosen_height);
