// The session clock: the step counter every simulated part reads, and the tick at which the
// start gate drops. The session step advances sim_tick by one per SIM_STEP.
#pragma once

#include <cstdint>

inline int32_t sim_tick = 0;         // steps taken in this session
inline int32_t race_start_tick = 0;  // the race clock is (sim_tick - race_start_tick) * SIM_STEP
