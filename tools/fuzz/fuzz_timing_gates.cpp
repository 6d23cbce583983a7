// Arbitrary bytes as a track's timing file, then riders driven over the checkpoints it gave:
// no input may lead to an index outside the tables.
#include <cstddef>
#include <cstdint>

#include "race/timing.h"
#include "tools/fuzz/fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz_write_input("timing_gates", data, size)) return 0;
  timing_gates_read("@timing_gates");

  // Ride every checkpoint in lap order for a few laps, with one skipped now and then.
  RiderTiming rider;
  int32_t tick = 0;
  for (int32_t i = 0; timing.present && i < 3 * (timing.first_count + timing.normal_count); ++i) {
    if (i % 5 == 3) continue;
    const Checkpoint& c = timing.checkpoints[lap_checkpoint(i)];
    gate_progress(rider, c.px + 0.5f * c.dx, c.pz + 0.5f * c.dz, ++tick);
  }
  const RiderTiming* riders[] = {&rider};
  for (int32_t lap = 0; lap <= laps_completed(rider) + 1; ++lap) lap_ticks(rider, lap, 0);
  best_lap(rider);
  lap_in_progress_gate(rider);
  segment_average_ticks(riders, 1, -1, rider.gate_index);
  segment_average_ticks(riders, 1, timing.first_count, rider.gate_index + 3);
  gate_truncate(rider, rider.gate_index / 2);
  return 0;
}
