// Gate progress, truncation, lap counting and lap times over small straight courses.
#include <gtest/gtest.h>

#include <vector>

#include "core/constants.h"
#include "race/timing.h"
#include "tests/race/course.h"

namespace {

RiderTiming rider_with(int32_t gate_index, std::vector<int32_t> gates, bool finished = false) {
  RiderTiming r;
  r.gate_index = gate_index;
  r.gates = std::move(gates);
  r.finished = finished;
  return r;
}

struct ProgressCase {
  const char* what;
  int32_t gate_index;
  std::vector<int32_t> gates;
  float wheel_x, wheel_z;
  bool accepted;
  int32_t index_after;
  std::vector<int32_t> gates_after;
};

// First lap 0..4 (lap end 4), normal lap 5..8 (lap end 8); the step's tick is 50.
TEST(GateProgress, OffsetsGapsAndLapEnds) {
  const ProgressCase cases[] = {
      {"first checkpoint from the grid", 0, {}, course_x(0), 0, true, 0, {50}},
      {"inside the radius but behind the line", 0, {}, course_x(0, -1), 0, false, 0, {}},
      {"outside the radius", 0, {}, course_x(0), 11, false, 0, {}},
      {"staying in the last checkpoint moves its tick on", 1, {10, 20}, course_x(1), 0, true, 1,
       {10, 50}},
      {"next checkpoint", 1, {10, 20}, course_x(2), 0, true, 2, {10, 20, 50}},
      {"jumping g to g+2 leaves -1 for g+1", 1, {10, 20}, course_x(3), 0, true, 3, {10, 20, -1, 50}},
      {"a lap end just ahead cannot be skipped", 3, {10, 20, 30, 40}, course_x(5), 0, false, 3,
       {10, 20, 30, 40}},
      {"a touched lap end may be passed", 4, {10, 20, 30, 40, 45}, course_x(6), 0, true, 6,
       {10, 20, 30, 40, 45, -1, 50}},
      {"back to a touched checkpoint is refused", 3, {10, 20, 30, 40}, course_x(1), 0, false, 3,
       {10, 20, 30, 40}},
      {"back to a skipped checkpoint is taken", 3, {10, -1, 30, 40}, course_x(1), 0, true, 1,
       {10, 50, 30, 40}},
      {"three back to a skipped one", 4, {10, -1, 30, 40, 45}, course_x(1), 0, true, 1,
       {10, 50, 30, 40, 45}},
      {"one back is never tested", 2, {10, -1, 30}, course_x(1), 0, false, 2, {10, -1, 30}},
  };
  course_set_sequential(5, 4);
  for (const ProgressCase& c : cases) {
    SCOPED_TRACE(c.what);
    RiderTiming r = rider_with(c.gate_index, c.gates);
    GateStep step = gate_progress(r, c.wheel_x, c.wheel_z, 50);
    EXPECT_EQ(step.accepted, c.accepted);
    EXPECT_EQ(step.index, c.index_after);
    EXPECT_EQ(r.gate_index, c.index_after);
    EXPECT_EQ(r.gates, c.gates_after);
  }
}

TEST(GateProgress, SecondLapWrapsOntoTheNormalLap) {
  course_set_sequential(5, 5);
  // Index 10 starts lap 3 at checkpoint 5 again; index 9 ended lap 2.
  RiderTiming r = rider_with(9, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  EXPECT_EQ(laps_completed(r), 1);
  GateStep step = gate_progress(r, course_x(5), 0, 60);
  EXPECT_TRUE(step.advanced);
  EXPECT_EQ(r.gate_index, 10);
  EXPECT_EQ(laps_completed(r), 2);
}

TEST(GateProgress, NothingWithoutTimingOrOnceFinished) {
  course_set_sequential(5, 4);
  RiderTiming finished = rider_with(0, {}, true);
  EXPECT_FALSE(gate_progress(finished, course_x(0), 0, 5).accepted);
  timing_clear();
  RiderTiming free_rider;
  EXPECT_FALSE(gate_progress(free_rider, course_x(0), 0, 5).accepted);
  EXPECT_TRUE(free_rider.gates.empty());
}

TEST(GateProgress, UncountedEntryNamesItsCheckpoint) {
  // The second first-lap entry is checkpoint 5, left out of the racing lines.
  course_set(6, {0, LAP_ENTRY_UNCOUNTED + 5, 1}, {2, 1});
  RiderTiming r = rider_with(0, {10});
  GateStep step = gate_progress(r, course_x(5), 0, 20);
  EXPECT_TRUE(step.accepted);
  EXPECT_TRUE(step.advanced);
  EXPECT_FALSE(step.counted);
  EXPECT_EQ(lap_checkpoint(1), 5);
  step = gate_progress(r, course_x(1), 0, 30);
  EXPECT_TRUE(step.counted);
  EXPECT_EQ(r.gate_index, 2);
}

TEST(GateProgress, HugeIndexFromAStreamNeverGrowsTheListBeyondTheLimit) {
  course_set_sequential(1, 1);
  RiderTiming r;
  gate_truncate(r, INT32_MAX);
  EXPECT_EQ(r.gate_index, GATE_INDEX_MAX);
  gate_progress(r, course_x(0), 0, 7);
  EXPECT_LE(r.gates.size(), static_cast<size_t>(GATE_INDEX_MAX) + 1);
}

TEST(GateTruncate, CutsTheListAndReopensTheRace) {
  struct Case {
    int32_t n;
    int32_t index_after;
    size_t size_after;
    bool finished_after;
  } cases[] = {{3, 3, 3, false}, {5, 5, 5, true}, {8, 8, 6, true}, {-2, 0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    RiderTiming r = rider_with(5, {1, 2, 3, 4, 5, 6}, true);
    gate_truncate(r, c.n);
    EXPECT_EQ(r.gate_index, c.index_after);
    EXPECT_EQ(r.gates.size(), c.size_after);
    EXPECT_EQ(r.finished, c.finished_after);
  }
}

TEST(LapCounting, TenAndEightGateLaps) {
  course_set_sequential(10, 8);
  struct Case {
    int32_t gate_index, laps, in_lap;
  } cases[] = {{0, 0, 0}, {9, 0, 9}, {10, 1, 1}, {17, 1, 8}, {18, 2, 1}, {26, 3, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gate_index);
    RiderTiming r = rider_with(c.gate_index, {});
    EXPECT_EQ(laps_completed(r), c.laps);
    EXPECT_EQ(lap_in_progress_gate(r), c.in_lap);
  }
  EXPECT_EQ(lap_end_index(1), 9);
  EXPECT_EQ(lap_end_index(2), 17);
  EXPECT_TRUE(is_lap_end(9));
  EXPECT_TRUE(is_lap_end(25));
  EXPECT_FALSE(is_lap_end(10));
}

TEST(LapCounting, LapTimesAndBestLap) {
  course_set_sequential(10, 8);
  // Tick 1000 + 100 i at index i; the gate dropped at tick 100.
  std::vector<int32_t> gates;
  for (int i = 0; i <= 26; ++i) gates.push_back(1000 + 100 * i);
  gates[25] -= 100;  // lap 3 is 100 ticks faster than lap 2
  RiderTiming r = rider_with(26, gates);
  EXPECT_EQ(lap_ticks(r, 1, 100), 1900 - 100);
  EXPECT_EQ(lap_ticks(r, 2, 100), 800);
  EXPECT_EQ(lap_ticks(r, 3, 100), 700);
  EXPECT_EQ(lap_ticks(r, 4, 100), 0);  // not completed
  EXPECT_EQ(lap_ticks(r, 0, 100), 0);
  EXPECT_DOUBLE_EQ(lap_time(r, 2, 100), 800 * SIM_STEP);
  EXPECT_EQ(best_lap(r), 3);

  r.gates[25] = 3500;  // equal laps: the earlier one stays best
  EXPECT_EQ(best_lap(r), 2);
  r.gates[17] = -1;  // lap 2 and 3 lose a boundary
  EXPECT_EQ(lap_ticks(r, 2, 100), 0);
  EXPECT_EQ(lap_ticks(r, 3, 100), 0);
  EXPECT_EQ(best_lap(r), 0);
  EXPECT_EQ(best_lap(rider_with(17, gates)), 0);  // one lap: lap 1 never counts
}

TEST(LapCounting, GateTickOutOfRange) {
  RiderTiming r = rider_with(2, {5, -1, 7});
  EXPECT_EQ(gate_tick(r, -1), -1);
  EXPECT_EQ(gate_tick(r, 1), -1);
  EXPECT_EQ(gate_tick(r, 2), 7);
  EXPECT_EQ(gate_tick(r, 3), -1);
}

TEST(SegmentAverage, FirstLapAndRepeatedLaps) {
  course_set_sequential(2, 2);  // lap ends at 1, 3, 5, ...
  RiderTiming a = rider_with(7, {100, 200, 300, 400, 500, 600, 720, 800});
  RiderTiming b = rider_with(7, {110, -1, 330, 430, 530, 650, 730, 870});
  const RiderTiming* both[] = {&a, &b};
  // First lap: only a knows every tick from 0 to 2.
  EXPECT_EQ(segment_average_ticks(both, 2, 0, 2), 200);
  // A start before the first index is measured from index 0.
  EXPECT_EQ(segment_average_ticks(both, 2, -1, 1), 100);
  // 5 -> 7 is 3 -> 5 and 5 -> 7 of the repeating lap: a (200 + 200) / 2, b (220 + 220) / 2.
  EXPECT_EQ(segment_average_ticks(both, 2, 5, 7), 210);
  // Nobody knows the stretch: a minute.
  RiderTiming c = rider_with(3, {1, -1, -1, 4});
  const RiderTiming* only_c[] = {&c};
  EXPECT_EQ(segment_average_ticks(only_c, 1, 0, 3), 60 * 128);
  EXPECT_EQ(segment_average_ticks(only_c, 0, 0, 3), 60 * 128);
}

TEST(TimingNormalise, EntriesAndPresence) {
  struct Case {
    const char* what;
    int checkpoints;
    std::vector<int> first, normal;
    bool present;
    std::vector<int> list_after;
  } cases[] = {
      {"negative entry becomes 0", 5, {-4, 2}, {3}, true, {0, 2, 3}},
      {"too high is the last checkpoint", 5, {7, 1}, {2}, true, {4, 1, 2}},
      {"uncounted entry clamped too", 5, {1, 100009}, {2, 100003}, true, {1, 100004, 2, 100003}},
      {"far beyond the uncounted range", 5, {250000, 1}, {2}, true, {100004, 1, 2}},
      {"no checkpoints", 0, {0}, {0}, false, {}},
      {"no counted first-lap entry", 5, {100001}, {2}, false, {}},
      {"empty normal lap", 5, {1}, {}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    timing_clear();
    timing.checkpoint_count = c.checkpoints;
    int n = 0;
    for (int e : c.first) timing.lap_list[n++] = e;
    timing.first_count = n;
    for (int e : c.normal) timing.lap_list[n++] = e;
    timing.normal_count = n - timing.first_count;
    timing_normalise();
    EXPECT_EQ(timing.present, c.present);
    std::vector<int> list(timing.lap_list, timing.lap_list + timing.first_count + timing.normal_count);
    EXPECT_EQ(list, c.list_after);
  }
}

}  // namespace
