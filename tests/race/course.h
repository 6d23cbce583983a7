// A straight test course: checkpoint i at x = 100 i, z = 0, radius 10, facing +x.
#pragma once

#include <initializer_list>

#include "race/timing.h"

constexpr float COURSE_SPACING = 100.0f;

// Sets the track's timing to `checkpoints` checkpoints and the given lap lists.
inline void course_set(int checkpoints, std::initializer_list<int> first, std::initializer_list<int> normal) {
  timing_clear();
  timing.checkpoint_count = checkpoints;
  for (int i = 0; i < checkpoints; ++i) {
    timing.checkpoints[i] = Checkpoint{10.0f, COURSE_SPACING * i, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
  }
  int n = 0;
  for (int entry : first) timing.lap_list[n++] = entry;
  timing.first_count = n;
  for (int entry : normal) timing.lap_list[n++] = entry;
  timing.normal_count = n - timing.first_count;
  timing_normalise();
}

// A course whose lap list is 0 .. first-1 then first .. first+normal-1, all counted.
inline void course_set_sequential(int first, int normal) {
  timing_clear();
  timing.checkpoint_count = first + normal;
  for (int i = 0; i < first + normal; ++i) {
    timing.checkpoints[i] = Checkpoint{10.0f, COURSE_SPACING * i, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
    timing.lap_list[i] = i;
  }
  timing.first_count = first;
  timing.normal_count = normal;
  timing_normalise();
}

// x of the wheel just past (or, with a negative offset, just before) checkpoint c.
inline float course_x(int c, float offset = 1.0f) { return COURSE_SPACING * c + offset; }
