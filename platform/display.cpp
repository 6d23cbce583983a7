// The display mode list and the full-screen mode choice.
#include "platform/display.h"

#include "platform/vant.h"

namespace {

bool usable_depth(int bits) {
  return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

int display_mode_list_build(const ReportedMode* stored, const ReportedMode* reported, int count,
                            DisplayMode* out) {
  int n = 0;
  if (stored) {
    if (usable_depth(stored->bits)) {
      vant_log("Registry mode is %dx%dx%d@%dhz\n", stored->width, stored->height, stored->bits,
               stored->refresh);
      out[n++] = DisplayMode{stored->width, stored->height, stored->bits};
    } else {
      vant_log("Registry mode is %dx%dx%d@%dhz (ignored)\n", stored->width, stored->height,
               stored->bits, stored->refresh);
    }
  }
  for (int i = 0; i < count && n < DISPLAY_MODE_MAX; i++) {
    const ReportedMode& m = reported[i];
    if (!usable_depth(m.bits)) {
      vant_log("Found mode %dx%dx%d@%dhz (ignored)\n", m.width, m.height, m.bits, m.refresh);
      continue;
    }
    bool listed = false;
    for (int j = 0; j < n && !listed; j++)
      listed = out[j].width == m.width && out[j].height == m.height && out[j].bits == m.bits;
    if (listed) continue;
    out[n++] = DisplayMode{m.width, m.height, m.bits};
    vant_log("Found mode %dx%dx%d@%dhz\n", m.width, m.height, m.bits, m.refresh);
  }
  out[n] = DisplayMode{0, 0, 0};
  return n;
}

void display_mode_choose(const DisplayMode* list, int width, int height, int desktop_width,
                         int desktop_height, int* chosen_width, int* chosen_height) {
  *chosen_width = desktop_width;
  *chosen_height = desktop_height;
  if (width == 0 || height == 0 || !list) return;
  long best = -1;
  for (const DisplayMode* m = list; m->width || m->height || m->bits; m++) {
    if (m->width < width || m->height < height) continue;
    long excess = static_cast<long>(m->width) + m->height - width - height;
    if (best < 0 || excess < best) {
      best = excess;
      *chosen_width = m->width;
      *chosen_height = m->height;
    }
  }
}
