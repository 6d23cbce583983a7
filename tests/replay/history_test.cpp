// The state history: insertion order, the ring's bounds, lookup with interpolation and
// extrapolation, and the visibility of replayed bikes.
#include "replay/history.h"

#include "core/console.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A state whose frame x byte-encodes a value: the 24-bit field holds value exactly.
PackedBikeState marked(uint32_t value) {
  PackedBikeState s{};
  s.bytes[0] = uint8_t(value);
  s.bytes[1] = uint8_t(value >> 8);
  s.bytes[2] = uint8_t(value >> 16);
  for (int at : {9, 26}) s.bytes[at + 1] = 0xff, s.bytes[at] = 0xff;  // quaternion w = 1
  for (int at : {11, 13, 15, 28, 30, 32}) s.bytes[at + 1] = 0x80;    // other components ~0
  return s;
}

uint32_t mark_of(const PackedBikeState& s) { return s.bytes[0] | s.bytes[1] << 8 | s.bytes[2] << 16; }

// Entries whose mark is 1000 times their tick, so a sample's mark tells the tick it stands for.
void fill(int slot, const std::vector<int32_t>& ticks) {
  for (int32_t t : ticks) history_add(slot, marked(uint32_t(t) * 1000), t);
}

std::vector<int32_t> ticks_of(int slot) {
  std::vector<int32_t> out;
  const HistoryRing& ring = history_rings[slot];
  for (int back = HISTORY_LENGTH - 1; back >= 0; --back) {
    int32_t t = ring.entries[(ring.head - back + HISTORY_LENGTH) % HISTORY_LENGTH].tick;
    if (t != HISTORY_EMPTY) out.push_back(t);
  }
  return out;
}

class History : public ::testing::Test {
 protected:
  void SetUp() override { history_clear_all(); }
  void TearDown() override { console_set_display_hook(nullptr); }
};

TEST_F(History, AddKeepsTicksInOrderAndIgnoresRepeats) {
  fill(3, {8, 4, 16, 12, 12, 0, -5});
  EXPECT_EQ(ticks_of(3), (std::vector<int32_t>{0, 4, 8, 12, 16}));
  EXPECT_EQ(history_rings[3].pending, 5);
  // The repeat did not replace the first state at 12.
  HistorySample s;
  ASSERT_TRUE(history_sample(3, 12, &s));
  EXPECT_EQ(mark_of(s.state), 12000u);
}

TEST_F(History, FullRingDropsTheOldest) {
  for (int32_t t = 0; t < HISTORY_LENGTH + 10; ++t) history_add(7, marked(t), t * 2);
  std::vector<int32_t> ticks = ticks_of(7);
  ASSERT_EQ(ticks.size(), size_t(HISTORY_LENGTH));
  EXPECT_EQ(ticks.front(), 20);
  EXPECT_EQ(ticks.back(), (HISTORY_LENGTH + 9) * 2);
  EXPECT_EQ(history_rings[7].pending, HISTORY_LENGTH);
  // Older than everything in a full ring: it would be dropped at once, so nothing changes.
  EXPECT_FALSE(history_add(7, marked(1), 3));
  // Between entries in a full ring: goes in, and the oldest leaves.
  EXPECT_TRUE(history_add(7, marked(1), 41));
  ticks = ticks_of(7);
  EXPECT_EQ(ticks.front(), 22);
  EXPECT_TRUE(std::is_sorted(ticks.begin(), ticks.end()));
}

std::string last_message;

TEST_F(History, SlotOutOfRangeIsReported) {
  console_set_display_hook([](const char* text) { last_message = text; });
  for (int slot : {-1, SLOT_COUNT, 100000}) {
    last_message.clear();
    EXPECT_FALSE(history_add(slot, marked(1), 5));
    EXPECT_EQ(last_message, "add_state_to_history: slot out of range");
  }
  HistorySample s;
  EXPECT_FALSE(history_sample(SLOT_COUNT, 5, &s));
}

TEST_F(History, SampleInterpolatesAndExtrapolates) {
  struct Case {
    std::vector<int32_t> ticks;
    int32_t at;
    double expected_tick;  // the tick whose pose the sample shows
    int ticks_between;
  };
  const Case cases[] = {
      {{100, 104, 108}, 102, 102, 4},      // between two entries
      {{100, 104, 108}, 104, 104, 4},      // exactly on an entry
      {{100, 104, 108}, 120, 120, 4},      // past the newest: extrapolated
      {{100, 104, 108}, 500, 172, 4},      // at most 64 ticks past the newest
      {{100, 104, 108}, 50, 100, 4},       // before the oldest: the oldest
      {{100}, 50, 100, 1},
      {{100}, 300, 100, 1},                // one entry: nothing to extrapolate with
      {{0, 4}, -20, 0, 4},                 // negative ticks count as 0
  };
  for (const Case& c : cases) {
    history_clear_all();
    fill(0, c.ticks);
    HistorySample s;
    ASSERT_TRUE(history_sample(0, c.at, &s));
    EXPECT_NEAR(mark_of(s.state) / 1000.0, c.expected_tick, 0.002) << "at " << c.at;
    EXPECT_EQ(s.ticks, c.ticks_between) << "at " << c.at;
  }
  history_clear_all();
  HistorySample s;
  EXPECT_FALSE(history_sample(0, 10, &s));
}

TEST_F(History, WithoutInterpolationPosesJumpFromStateToState) {
  fill(0, {100, 104});
  history_interpolation = false;
  HistorySample s;
  ASSERT_TRUE(history_sample(0, 103, &s));
  history_interpolation = true;
  EXPECT_EQ(mark_of(s.state), 100000u);
}

TEST_F(History, ReplayedBikesOutOfReachAreHidden) {
  fill(5, {1000, 1004});
  struct Case {
    int32_t tick;
    bool hidden;
  };
  const Case cases[] = {{1002, false}, {1004 + 128, false}, {1004 + 129, true}, {1000 - 128, false}, {1000 - 129, true}};
  ReplayVisibility v{};
  v.slot = 5;
  v.has_bike = true;
  v.kind = SLOT_REPLAY;
  for (const Case& c : cases) {
    v.sim_tick = c.tick;
    EXPECT_EQ(replay_hidden(v), c.hidden) << c.tick;
  }
  v.slot = 6;  // no history at all
  v.sim_tick = 1002;
  EXPECT_TRUE(replay_hidden(v));
}

TEST_F(History, VisibilityRules) {
  fill(5, {1000, 1004});
  history_rings[5].last_network_tick = 990;
  ReplayVisibility base{};
  base.slot = 5;
  base.has_bike = true;
  base.kind = SLOT_REPLAY;
  base.sim_tick = 1002;
  base.connected = true;
  base.has_race_slot = true;
  base.own_bike = true;
  base.race_order_count = 4;
  base.grace_passed = true;
  struct Case {
    const char* what;
    void (*change)(ReplayVisibility*);
    bool hidden;
  };
  const Case cases[] = {
      {"racing at pace", [](ReplayVisibility*) {}, false},
      {"no bike", [](ReplayVisibility* v) { v->has_bike = false; }, true},
      {"robot", [](ReplayVisibility* v) { v->kind = SLOT_ROBOT; v->slot = 9; }, false},
      {"spectator sees other local slot", [](ReplayVisibility* v) { v->kind = SLOT_LOCAL; v->has_race_slot = false; }, true},
      {"spectator sees the viewed slot", [](ReplayVisibility* v) { v->kind = SLOT_LOCAL; v->has_race_slot = false; v->viewed = true; }, false},
      {"network state a second old", [](ReplayVisibility* v) { v->sim_tick = 990 + 128; }, true},
      {"finished rider", [](ReplayVisibility* v) { v->finished = true; }, true},
      {"off pace rider", [](ReplayVisibility* v) { v->off_pace = true; }, true},
      {"off pace, own rider off pace too", [](ReplayVisibility* v) { v->off_pace = v->own_off_pace = true; }, false},
      {"finished, before the grace time", [](ReplayVisibility* v) { v->finished = true; v->grace_passed = false; }, false},
      {"finished, alone in the race", [](ReplayVisibility* v) { v->finished = true; v->race_order_count = 1; }, false},
      {"finished, offline demo", [](ReplayVisibility* v) { v->finished = true; v->connected = false; }, false},
  };
  for (const Case& c : cases) {
    ReplayVisibility v = base;
    c.change(&v);
    EXPECT_EQ(replay_hidden(v), c.hidden) << c.what;
  }
}

}  // namespace
