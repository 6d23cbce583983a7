// Arbitrary bytes as a track's timing file, then riders driven over the checkpoints it gave:
// no input may lead to an index outside the tables.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/vfs.h"
#include "race/timing.h"

namespace {

std::string home_dir() {
  static std::string dir;
  if (dir.empty()) {
    char pattern[] = "/tmp/sk_fuzz_timingXXXXXX";
    dir = mkdtemp(pattern) ? pattern : "/tmp";
    const char* dirs[] = {dir.c_str()};
    vfs_set_search_dirs(dirs, 1);
  }
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = home_dir() + "/timing_gates";
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return 0;
  fwrite(data, 1, size, out);
  fclose(out);
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
