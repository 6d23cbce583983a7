// Race rules: running order, race length, finishing, penalties, the results file and board.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "files/vfs.h"
#include "race/race.h"
#include "tests/race/course.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int32_t MINUTE = 60 * TICKS_PER_SECOND;

void add_rider(int32_t slot, int32_t gate_index, std::vector<int32_t> gates, const char* number = "1",
               const char* model = "kx125", SlotKind kind = SLOT_ROBOT) {
  RaceEntrant& e = race_entrant_add(slot, kind, number, model);
  e.timing.gate_index = gate_index;
  e.timing.gates = std::move(gates);
}

std::vector<int32_t> order_slots() {
  std::vector<int32_t> slots;
  for (int i = 0; i < race.order_count; ++i) slots.push_back(race.order[i].slot);
  return slots;
}

class Race : public ::testing::Test {
 protected:
  // Results land in a fresh home directory, never in the user's.
  TempDir home;
  void SetUp() override {
    set_search_dirs(home);
    race_entrants_clear();
    race_reset(0, 2, 100);
  }
  void TearDown() override { vfs_set_search_dirs(nullptr, 0); }
  RaceContext at(int32_t tick) {
    RaceContext context;
    context.sim_tick = tick;
    context.track_name = "rabbithill";
    context.calendar_time = 1700000000;
    return context;
  }
};

TEST_F(Race, OrderByGatesThenLastGateTickThenSlot) {
  course_set_sequential(3, 3);
  add_rider(9, 2, {10, 20, 30});
  add_rider(4, 2, {10, 25, 31});  // same gates, reached index 1 later
  add_rider(7, 2, {10, 20, 40});  // full tie with slot 9 at index 1
  add_rider(2, 3, {10, 20, 30, 35});
  add_rider(1, 0, {});
  // Jumped over index 1: its own index 0 time stands in, it does not count as earliest.
  add_rider(3, 2, {30, -1, 32});
  race_order_update(at(200));
  EXPECT_EQ(order_slots(), (std::vector<int32_t>{2, 7, 9, 4, 3, 1}));
  EXPECT_EQ(race.order[0].tick, 30);
  EXPECT_EQ(race.order[4].tick, 30);
  EXPECT_EQ(race.order[5].tick, 0);
}

// The order is kept from one update to the next and put right in place; after riders move on,
// fall back, skip checkpoints, leave and join it must still be the fully sorted order.
TEST_F(Race, OrderKeptAcrossUpdatesIsTheSortedOrder) {
  course_set_sequential(3, 3);
  uint32_t random = 12345;
  auto next = [&random](uint32_t n) {
    random = random * 1664525u + 1013904223u;
    return (random >> 8) % n;
  };
  for (int32_t slot = 0; slot < 40; slot += 1 + int32_t(slot % 3 == 0)) add_rider(slot, 0, {});
  for (int32_t tick = 1; tick <= 400; ++tick) {
    for (int change = 0; change < 3; ++change) {
      const int32_t slot = int32_t(next(48));
      RiderTiming& rider = race_entrants[slot].timing;
      switch (next(6)) {
        case 0:  // joins, or leaves
          if (race_entrants[slot].present) {
            race_entrants[slot].present = false;
          } else {
            add_rider(slot, 0, {});
          }
          break;
        case 1:  // goes back a few checkpoints
          gate_truncate(rider, std::max(0, rider.gate_index - int32_t(next(3))));
          break;
        default:  // on through the next checkpoint, or over it, or through the same one again
          const int32_t index = rider.gate_index + int32_t(next(3)) - (rider.gate_index > 0 ? 1 : 0);
          if (rider.gates.size() <= size_t(index)) rider.gates.resize(size_t(index) + 1, -1);
          rider.gates[size_t(index)] = tick;
          rider.gate_index = index;
      }
    }
    race_order_update(at(tick));
    std::vector<RaceOrderEntry> expected;
    for (int32_t slot = 0; slot < SLOT_COUNT; ++slot) {
      if (!race_entrants[slot].present) continue;
      const RiderTiming& rider = race_entrants[slot].timing;
      int32_t last = 0;
      for (int32_t i = rider.gate_index - 1; i >= 0 && last == 0; --i) last = std::max(gate_tick(rider, i), 0);
      expected.push_back({slot, rider.gate_index, last});
    }
    std::sort(expected.begin(), expected.end(), [](const RaceOrderEntry& a, const RaceOrderEntry& b) {
      return a.gates != b.gates ? a.gates > b.gates : a.tick != b.tick ? a.tick < b.tick : a.slot < b.slot;
    });
    ASSERT_EQ(race.order_count, int(expected.size())) << "tick " << tick;
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(race.order[i].slot, expected[i].slot) << "tick " << tick << " place " << i;
      ASSERT_EQ(race.order[i].tick, expected[i].tick) << "tick " << tick << " place " << i;
    }
  }
}

TEST_F(Race, LengthOfLapsOnlyAndTimedRaces) {
  race_reset(0, 5, 100);
  EXPECT_EQ(race.race_laps, 5);
  EXPECT_EQ(race.halfway_lap, 3);
  race_reset(5 * MINUTE, 2, 100);
  EXPECT_EQ(race.race_laps, RACE_LAPS_UNDECIDED);
  EXPECT_EQ(race.halfway_lap, RACE_LAPS_UNDECIDED);

  struct Case {
    int32_t duration, laps;
    const char* text;
  } cases[] = {{0, 5, "5 laps"}, {5 * MINUTE, 0, "5 minutes"}, {5 * MINUTE, 2, "5 minutes + 2 laps"},
               {int32_t(2.6 * MINUTE), 1, "3 minutes + 1 laps"}};
  for (const Case& c : cases) {
    race_reset(c.duration, c.laps, 0);
    char text[64];
    race_length_text(text, sizeof text);
    EXPECT_STREQ(text, c.text);
  }
}

// Laps of two checkpoints; lap L ends at index 2L - 1.
TEST_F(Race, TimeRunsOutDuringALapThenTheExtraLaps) {
  course_set_sequential(2, 2);
  const int32_t S = 100, D = 5 * MINUTE;
  race_reset(D, 2, S);
  auto at_seconds = [&](double s) { return S + int32_t(s * TICKS_PER_SECOND); };
  // Laps of 37.25 s: lap 7 ends at 4:58 (index 13), lap 8 at 5:40 (index 15).
  std::vector<int32_t> gates;
  for (int i = 0; i <= 13; ++i) gates.push_back(at_seconds(298.0 * (i + 1) / 14));
  for (double s : {319.0, 340.0, 340.5}) gates.push_back(at_seconds(s));

  add_rider(0, 13, std::vector<int32_t>(gates.begin(), gates.begin() + 14));
  race_order_update(at(at_seconds(150)));
  EXPECT_EQ(race.halfway_lap, 6 + 1);  // index 13 counts 6 laps until the next checkpoint
  race_order_update(at(at_seconds(300)));
  EXPECT_EQ(race.race_laps, RACE_LAPS_UNDECIDED);

  race_entrants[0].timing.gates = gates;
  race_entrants[0].timing.gate_index = 16;
  race_order_update(at(at_seconds(341)));
  EXPECT_EQ(race.race_laps, 10);
  EXPECT_EQ(race_flag_laps(at_seconds(341)), 10);
  race_order_update(at(at_seconds(342)));
  EXPECT_EQ(race.race_laps, 10);
}

// Two laps: a first lap of three checkpoints (lap end 2), normal laps of five (lap end 7).
TEST_F(Race, FinishRules) {
  course_set_sequential(3, 5);
  race_reset(0, 2, 100);
  add_rider(0, 8, {200, 300, 400, 500, 600, 700, 800, 900, 950});
  add_rider(1, 2, {210, 310, 415});  // a lap down, still inside the line checkpoint
  add_rider(2, 7, {220, 320, 420, 520, 620, 720, 820, 880});  // ended lap 2 first, not yet final
  race_order_update(at(960));
  EXPECT_TRUE(rider_finished(0));
  EXPECT_FALSE(rider_finished(1));
  EXPECT_FALSE(rider_finished(2));

  // The lapped rider crosses its line after the leader's finish: done, a lap down.
  race_entrants[1].timing.gates[2] = 915;
  const GateStep step = race_gate_progress(1, course_x(3), 0, 920);
  EXPECT_TRUE(step.advanced);
  EXPECT_TRUE(race_entrants[1].timing.finished);
  EXPECT_TRUE(rider_finished(1));
  EXPECT_FALSE(race_gate_progress(1, course_x(4), 0, 930).accepted);  // no gates after the flag
}

TEST_F(Race, LapEndFinishWithoutALeaderPastTheLine) {
  course_set_sequential(3, 3);
  race_reset(0, 1, 0);
  add_rider(0, 2, {10, 20, 30});
  race_order_update(at(40));
  race_gate_progress(0, course_x(3), 0, 40);  // index 3: one lap completed
  EXPECT_TRUE(race_entrants[0].timing.finished);
}

TEST_F(Race, CutPenaltyAgainstTheRidersAverage) {
  course_set_sequential(4, 4);
  struct Case {
    const char* what;
    std::vector<int32_t> cutter;
    int32_t penalty;
  } cases[] = {
      // Others take 300 ticks from index 0 to 3; the allowance is 300 + 128.
      {"fast over the skipped stretch", {200, -1, -1, 300, 600, 700, 800, 900, 950}, 328},
      {"slow enough over the skipped stretch", {200, -1, -1, 700, 800, 900, 1000, 1100, 1150}, 0},
      // 4 -> 6 takes others 200 ticks on their one complete occurrence.
      {"two stretches add up", {200, -1, -1, 300, 400, -1, 500, 900, 950}, 328 + 228},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    race_entrants_clear();
    race_reset(0, 1, 100);
    add_rider(0, 8, {200, 300, 400, 500, 600, 700, 800, 900, 950});
    add_rider(1, 8, {210, 310, 420, 510, 600, 710, 800, 910, 960});
    add_rider(2, 8, c.cutter, "13");
    for (int s = 0; s < 3; ++s) race_entrants[s].timing.finished = true;
    EXPECT_TRUE(race_order_update(at(2000)));
    EXPECT_EQ(race.penalty[2], c.penalty);
    EXPECT_EQ(race.laps_removed[2], 0);
    EXPECT_EQ(race.penalty[0], 0);
  }
  EXPECT_EQ(race_penalty_text(2), " 13 penalized 4.34 seconds for cutting track");
  EXPECT_EQ(race_penalty_text(0), "");
}

TEST_F(Race, PenaltyLongerThanTheBestLapTakesWholeLaps) {
  // Laps of two checkpoints (lap ends at 1, 3, 5, 7); a four-lap race.
  course_set_sequential(2, 2);
  race_reset(0, 4, 0);
  add_rider(0, 8, {100, 200, 300, 400, 500, 600, 700, 800, 850});
  // Laps 2..4 of 100 ticks, but index 4 skipped twice over with a 1000-tick allowance each.
  add_rider(1, 8, {100, 210, 220, 310, -1, 410, 420, 510, 860});
  add_rider(2, 8, {100, 205, 1200, 2200, 3200, 4200, 5200, 6200, 6300});
  for (int s = 0; s < 3; ++s) race_entrants[s].timing.finished = true;
  race_order_update(at(7000));
  // Index 3 -> 5 averages, per rider over its complete laps: 200, 2000, and rider 1's own
  // 5 -> 7 of 100: 766 + 128 allowed against 100 taken = 794; its best lap is 100.
  EXPECT_EQ(race.laps_removed[1], 3);
  EXPECT_EQ(race.penalty[1], 794 - 3 * 100);
  for (int i = 0; i < race.final_count; ++i) {
    if (race.final_order[i].slot == 1) {
      EXPECT_EQ(race.final_order[i].gates, 2);
    }
  }
  EXPECT_EQ(race_penalty_text(1), "  1 penalized 3 laps 3.86 seconds for cutting track");
}

TEST_F(Race, ResultsFileLayout) {
  course_set_sequential(3, 3);
  race_reset(0, 2, 100);
  add_rider(3, 6, {200, 300, 400, 500, 600, 700, 750}, "7", "yz250f");
  add_rider(5, 6, {210, -1, 420, 510, 620, 710, 760}, "12", "cr125");
  add_rider(8, 2, {230, 330, 430}, "99", "rm125");  // not finished: it keeps the race open
  EXPECT_FALSE(race_order_update(at(800)));
  EXPECT_FALSE(race.results_final);
  race_entrants[8].present = false;  // gone (its bike was removed)
  EXPECT_TRUE(race_order_update(at(800)));
  EXPECT_TRUE(race.results_final);
  EXPECT_EQ(read_file_bytes(home.file("results.txt")),
            "Time=0.00|Laps=2|Track=rabbithill|Date=1700000000\r\n"
            " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
            "   7 |       yz250f |    2 |   0:04.687 |    2 |   0:02.343\r\n"
            "  12 |        cr125 |    2 |   0:05.687 |    2 |   0:02.265\r\n"
            "\r\n7\r\n   0.781    1.562    2.344\r\n   3.125    3.906    4.688\r\n   5.078\r\n"
            "\r\n7\r\n   0.859       -1    2.500\r\n   3.203    4.062    4.766\r\n   5.156\r\n");
  EXPECT_FALSE(race_order_update(at(900)));  // written once

  ResultsBoard board;
  race_results_board(board);
  EXPECT_TRUE(board.shown);
  EXPECT_TRUE(board.final);
  ASSERT_EQ(board.row_count, 2);
  EXPECT_EQ(board.rows[1].slot, 5);
  EXPECT_DOUBLE_EQ(board.rows[1].gap, (828 - 700) * SIM_STEP);
  EXPECT_EQ(board.rows[0].best_number, 2);
  EXPECT_EQ(board.total_race_ticks, 600);
  EXPECT_EQ(race_time_text(board.total_race_ticks), "0:04.687");
}

TEST_F(Race, RaceStaysOpenForRidersThatCanStillFinish) {
  course_set_sequential(3, 3);
  race_reset(0, 1, 0);
  add_rider(0, 3, {10, 20, 30, 40}, "1", "kx125", SLOT_LOCAL);
  add_rider(1, 1, {15, 25}, "2", "kx125", SLOT_REPLAY);
  race_entrants[1].newest_state_tick = 100;
  struct Case {
    const char* what;
    bool connected, has_race_slot;
    int32_t tick, net_tick;
    bool over;
  } cases[] = {
      {"offline, replay history fresh", false, false, 1380, 0, false},
      {"offline, replay history 10 s old", false, false, 1381, 0, true},
      {"online, fresh network state", true, true, 1000, 900, false},
      {"online, network state 1 s old", true, true, 1028, 900, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    race.results_final = false;
    race_entrants[1].net_state_tick = c.net_tick;
    RaceContext context = at(c.tick);
    context.connected = c.connected;
    context.has_race_slot = c.has_race_slot;
    EXPECT_EQ(race_order_update(context), c.over);
  }
}

TEST_F(Race, FalseStartHoldsTheRiderUntil15sAfterTheStart) {
  race_reset(0, 2, 1000);
  race.start_position[0] = 10;
  race.start_position[1] = 2;
  race.start_position[2] = 10;
  FalseStart f = race_false_start_step(10, 2, 12.9f, 900);  // 2.9 ft: allowed
  EXPECT_FALSE(f.penalty_started);
  EXPECT_FALSE(f.hold);
  f = race_false_start_step(10, 2, 13, 900);
  EXPECT_TRUE(f.penalty_started);
  EXPECT_TRUE(f.hold);
  EXPECT_EQ(race.penalty_countdown, 1000 + 15 * 128 - 900 - 1);
  f = race_false_start_step(10, 2, 14, 901);  // still away from the spot: no second message
  EXPECT_FALSE(f.penalty_started);
  EXPECT_TRUE(f.hold);
  int32_t tick = 902;
  while (race_false_start_step(10, 2, 14, tick).hold) ++tick;
  EXPECT_EQ(tick, 1000 + 15 * 128);
  EXPECT_FALSE(race_false_start_step(10, 2, 40, 3000).penalty_started);  // after the start
}

TEST_F(Race, FallenRidersFlagTheirCheckpoint) {
  course_set(4, {0, 1, LAP_ENTRY_UNCOUNTED + 3}, {2, 3});
  add_rider(0, 2, {1, 2, 3});
  add_rider(1, 1, {1, 2});
  add_rider(2, 5, {1, 2, 3, 4, 5, 6});
  race_entrants[0].crashed = true;
  race_entrants[2].crashed = true;
  bool down[CHECKPOINT_MAX];
  race_rider_down_gates(down);
  EXPECT_TRUE(down[3]);   // index 2 is checkpoint 3
  EXPECT_TRUE(down[2]);   // index 5 is the normal lap's first entry again, checkpoint 2
  EXPECT_FALSE(down[1]);  // rider 1 is up
  EXPECT_FALSE(down[0]);
}

}  // namespace
