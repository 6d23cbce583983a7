// Frame pacing: how much simulated time one drawn frame adds, so that the session follows real
// time (or a locked frame rate, or the server's clock), and the frame-time statistics.
#pragma once

#include <cstdint>

constexpr double FRAME_ADVANCE_CAP = 0.125;  // most simulated time per frame, s
constexpr int WARP_STEPS = 100;              // steps per frame with --warp
constexpr int FRAME_CLASS_COUNT = 8;

// Frame k counts in class k, the smallest k in 0..6 with time < SIM_STEP * 2^k, else class 7.
struct FrameTimeHistogram {
  int count[FRAME_CLASS_COUNT];
};
void frame_histogram_count(FrameTimeHistogram* histogram, double frame_time);

// The clock the pacer reads and sleeps on; tests inject their own.
struct PacingClock {
  double (*now)(void* context);                   // s
  void (*sleep)(void* context, double seconds);
  void* context;
};
// The platform's monotonic clock and precise sleep.
PacingClock pacing_real_clock();

struct PacingInputs {
  bool connected = false;
  double lock_fps = 0;      // frames per second when offline, 0 = off
  bool warp = false;
  int64_t server_tick = 0;  // latest tick the server sent
  uint32_t sim_tick = 0;
  bool race_started = false;
};

struct FramePacer {
  double frame_clock;  // real time at the end of the last frame, s
  FrameTimeHistogram histogram;
  double shortest_advance;  // starts at 1 s
  double longest_advance;
};

void frame_pacer_start(FramePacer* pacer, double now);
// Waits as needed and returns this frame's advance in seconds; frame_clock becomes the end
// time of this frame.
double frame_pace(FramePacer* pacer, const PacingClock& clock, const PacingInputs& inputs);
// The connected client's advance factor for a lag of g seconds behind the server.
double clock_follow_factor(double g, bool race_started);
