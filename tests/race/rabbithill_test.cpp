// Riders scripted along the default track's checkpoints: laps, lap times, the cutting
// penalty and the results file, with the timing file the data set ships.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>

#include "core/constants.h"
#include "files/vfs.h"
#include "race/race.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr float SPEED = 60.0f;  // ft/s along straight lines between checkpoints

// A point moved in straight lines through a list of lap-sequence indices, each aimed just past
// its checkpoint's line.
struct ScriptedRider {
  int32_t slot;
  float x, z;
  int32_t next;  // lap-sequence index aimed at
  int32_t skip;  // every lap, this index within the normal lap is not aimed at (-1: none)

  void target(float& tx, float& tz) const {
    const Checkpoint& c = timing.checkpoints[lap_checkpoint(next)];
    const float length = std::hypot(c.dx, c.dz);
    tx = c.px + 2 * c.dx / length;
    tz = c.pz + 2 * c.dz / length;
  }
  bool skipped(int32_t i) const {
    return skip >= 0 && i >= timing.first_count && (i - timing.first_count) % timing.normal_count == skip;
  }
  void step(int32_t tick) {
    float tx, tz;
    target(tx, tz);
    const float dx = tx - x, dz = tz - z, d = std::hypot(dx, dz), move = SPEED * float(SIM_STEP);
    if (d <= move) {
      x = tx;
      z = tz;
      do ++next; while (skipped(next));
    } else {
      x += dx / d * move;
      z += dz / d * move;
    }
    if (race_gate_progress(slot, x, z, tick).accepted) {
      RaceContext context;
      context.sim_tick = tick;
      context.track_name = "rabbithill";
      race_order_update(context);
    }
  }
};

class Rabbithill : public ::testing::Test {
 protected:
  TempDir home;
  void SetUp() override {
    set_search_dirs(home, SK_TEST_BIN_DIR);
    vfs_file_list();
    ASSERT_TRUE(timing_gates_read("@rabbithill/timing_gates"));
    ASSERT_TRUE(timing.present);
    race_entrants_clear();
  }
  void TearDown() override { vfs_set_search_dirs(nullptr, 0); }

  // Riders leave the first gate piece when the gate drops; runs until the race is final.
  int32_t run(ScriptedRider* riders, int count, int32_t start) {
    int32_t tick = 0;
    for (; !race.results_final && tick < start + 40 * 60 * TICKS_PER_SECOND; ++tick) {
      if (tick < start) continue;
      for (int i = 0; i < count; ++i) riders[i].step(tick);
    }
    return tick;
  }
};

TEST_F(Rabbithill, ThreeLapRaceCountsLapsAndWritesResults) {
  EXPECT_GT(timing.piece_count, 0);
  const int32_t start = race_start_tick_for(0.5);
  race_reset(0, 3, start);
  race_entrant_add(0, SLOT_LOCAL, "19", "yz250f");
  ScriptedRider rider{0, timing.pieces[0].x, timing.pieces[0].z, 0, -1};
  run(&rider, 1, start);
  ASSERT_TRUE(race.results_final);

  const RiderTiming& r = race_entrants[0].timing;
  EXPECT_TRUE(r.finished);
  EXPECT_EQ(laps_completed(r), 3);
  int32_t sum = 0;
  for (int lap = 1; lap <= 3; ++lap) {
    EXPECT_GT(lap_ticks(r, lap, start), 0);
    sum += lap_ticks(r, lap, start);
  }
  EXPECT_EQ(sum, gate_tick(r, lap_end_index(3)) - start);
  EXPECT_EQ(race.final_order[0].tick - start, sum);
  for (int32_t t : r.gates) EXPECT_NE(t, -1);

  const std::string results = read_file_bytes(home.file("results.txt"));
  const std::regex layout(
      "Time=0\\.00\\|Laps=3\\|Track=rabbithill\\|Date=-?[0-9]+\r\n"
      " No\\. \\|         Bike \\| Laps \\| Total Time \\| BLap \\|  Best Time\r\n"
      "  19 \\|       yz250f \\|    3 \\| +[0-9]+:[0-9]{2}\\.[0-9]{3} \\|    [23] \\| +[0-9]+:[0-9]{2}\\.[0-9]{3}\r\n"
      "\r\n[0-9]+\r\n"
      "( +[0-9]+\\.[0-9]{3}( |\r\n))+");
  EXPECT_TRUE(std::regex_match(results, layout)) << results;
  // The gate times: a line per lap, and one for the checkpoint after the line that ended it.
  EXPECT_EQ(r.gates.size(), static_cast<size_t>(lap_end_index(3) + 2));
  const size_t lines = std::count(results.begin(), results.end(), '\n');
  EXPECT_EQ(lines, 2u + 1u + 2u + 4u);
}

TEST_F(Rabbithill, CuttingAcrossTheInfieldIsPenalised) {
  const int32_t start = race_start_tick_for(0.0);
  race_reset(0, 2, start);
  race_entrant_add(0, SLOT_ROBOT, "20", "kx125");
  race_entrant_add(1, SLOT_ROBOT, "21", "kx125");
  // Rider 1 leaves out the tenth checkpoint of every normal lap and rides straight on.
  ScriptedRider riders[2] = {{0, timing.pieces[0].x, timing.pieces[0].z, 0, -1},
                             {1, timing.pieces[1].x, timing.pieces[1].z, 0, 10}};
  run(riders, 2, start);
  ASSERT_TRUE(race.results_final);
  const RiderTiming& cutter = race_entrants[1].timing;
  EXPECT_EQ(gate_tick(cutter, timing.first_count + 10), -1);
  EXPECT_GT(race.penalty[1], TICKS_PER_SECOND);  // at least the second over the average
  EXPECT_EQ(race.penalty[0], 0);
  EXPECT_EQ(race.final_order[1].slot, 1);
  EXPECT_NE(race_penalty_text(1).find("seconds for cutting track"), std::string::npos);
}

}  // namespace
