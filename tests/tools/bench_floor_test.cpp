// Floor samples of a race run in forked copies of the process: the race they sample goes on
// bit for bit as without them, and every copy reports a timed bare step.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <vector>

#include "core/tick.h"
#include "physics/bike.h"
#include "tests/support/session_fixture.h"
#include "tools/bench/floor.h"

namespace {

constexpr int RIDERS = 2;

// A race of robots from the gate until half a second after the drop, then every body's state.
std::vector<dReal> race_end_state(FloorSamples* samples) {
  int lineup[SLOT_COUNT] = {};
  for (int i = 0; i < RIDERS; i++) lineup[i] = LINEUP_ROBOT;
  sim_tick = 0;  // the same shuffle and start time for both races
  EXPECT_TRUE(session_reset(lineup, false, false, 0, 3, 1));
  if (samples) floor_sampling_start(samples, 200, 1);
  while (sim_tick < race_start_tick + TICKS_PER_SECOND / 2) session_step();
  floor_sampling_stop();
  std::vector<dReal> state;
  for (int slot = 0; slot < RIDERS; slot++) {
    for (dBodyID body : game.slot_bike[slot]->bodies) {
      for (const dReal* values : {dBodyGetPosition(body), dBodyGetQuaternion(body), dBodyGetLinearVel(body),
                                  dBodyGetAngularVel(body)}) {
        state.insert(state.end(), values, values + 3);
      }
      state.push_back(dBodyGetQuaternion(body)[3]);
    }
  }
  return state;
}

TEST_F(SessionFixture, FloorSamplesLeaveTheRaceAsItWas) {
  const std::vector<dReal> plain = race_end_state(nullptr);
  FloorSamples samples;
  const std::vector<dReal> sampled = race_end_state(&samples);
  ASSERT_EQ(plain.size(), sampled.size());
  for (size_t i = 0; i < plain.size(); i++) ASSERT_EQ(plain[i], sampled[i]) << "value " << i;
  EXPECT_GT(samples.samples, 5);
  EXPECT_EQ(samples.failed, 0);
  EXPECT_EQ(samples.solver_messages, 0);
  EXPECT_GT(floor_step_seconds(samples), 0);
  EXPECT_GT(floor_apart_step_seconds(samples), 0);
}

}  // namespace
