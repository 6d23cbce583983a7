// Frame pacing and the frame-time histogram.
#include "core/frame_pacing.h"

#include <algorithm>
#include <cmath>

#include "core/constants.h"
#include "platform/vant.h"

namespace {

double real_now(void*) {
  int32_t s, us;
  vant_time_now(&s, &us);
  return s + us * 1e-6;
}

void real_sleep(void*, double seconds) {
  if (seconds <= 0) return;
  int32_t s = static_cast<int32_t>(seconds);
  vant_sleep(s, static_cast<int32_t>((seconds - s) * 1e6));
}

}  // namespace

PacingClock pacing_real_clock() { return PacingClock{real_now, real_sleep, nullptr}; }

void frame_histogram_count(FrameTimeHistogram* histogram, double frame_time) {
  int k = 0;
  while (k < FRAME_CLASS_COUNT - 1 && !(frame_time < SIM_STEP * (1 << k))) k++;
  histogram->count[k]++;
}

void frame_pacer_start(FramePacer* pacer, double now) {
  *pacer = FramePacer{};
  pacer->frame_clock = now;
  pacer->shortest_advance = 1.0;
}

double clock_follow_factor(double g, bool race_started) {
  if (g < 0) return 0.5 + 0.5 * std::clamp(g + 1, 0.0, 1.0);
  if (race_started) return 1 + 0.125 * std::clamp(8 * g, 0.0, 1.0);
  return 1 + 3 * std::min(g, 1.0);
}

double frame_pace(FramePacer* pacer, const PacingClock& clock, const PacingInputs& inputs) {
  double now = clock.now(clock.context);
  double e = now - pacer->frame_clock;
  frame_histogram_count(&pacer->histogram, e);
  double advance;
  for (;;) {
    if (!inputs.connected && inputs.lock_fps > 0) {
      double frame_time = 1 / inputs.lock_fps;
      if (e < frame_time) {
        clock.sleep(clock.context, frame_time - e);
        now = clock.now(clock.context);
      }
      advance = frame_time;
      break;
    }
    if (!inputs.connected && inputs.warp) {
      advance = WARP_STEPS * SIM_STEP;
      break;
    }
    if (e >= SIM_STEP) {
      advance = std::min(e, FRAME_ADVANCE_CAP);
      break;
    }
    clock.sleep(clock.context, SIM_STEP - e);
    now = clock.now(clock.context);
    e = now - pacer->frame_clock;
  }
  pacer->shortest_advance = std::min(pacer->shortest_advance, advance);
  pacer->longest_advance = std::max(pacer->longest_advance, advance);
  if (inputs.connected) {
    double g = static_cast<double>(inputs.server_tick - static_cast<int64_t>(inputs.sim_tick) - 1) *
               SIM_STEP;
    advance *= clock_follow_factor(g, inputs.race_started);
  }
  pacer->frame_clock = now;
  return advance;
}
