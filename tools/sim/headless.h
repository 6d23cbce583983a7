// The start and end of a session without a window, shared by the headless runner, the lap
// teacher and the benchmarks.
#pragma once

// The data set's file list, the track list, default settings and start options with `track` as
// the track, the physics world and a fresh game; console lines go to standard error. Call
// session_reset next.
void headless_prepare(const char* track);
// Writes back the racing lines learnt, then frees the bikes, the track and the physics world.
void headless_finish();
