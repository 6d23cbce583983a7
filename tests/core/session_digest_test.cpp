// A short race of robots from the gate, recorded to a demo: its bytes and the exact final state
// of every body must not change when the step is made faster. Speed work that reorders
// floating-point sums or skips a contact shows up here as a different digest.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <string>

#include "core/session.h"
#include "core/session_replay.h"
#include "core/settings.h"
#include "core/tick.h"
#include "files/digest.h"
#include "physics/bike.h"
#include "tests/support/session_fixture.h"

namespace {

// RIPEMD-160 of every body's position, rotation and velocities, then of the demo bytes.
// Behaviour changes (robots, rider, data set) legitimately change it: regenerate by running
// this test at a commit without the change under test and copying the digest it prints.
constexpr const char* RACE_DIGEST = "b1c601e627c3b2edbf93c2cbb59bad4d838715b2";

constexpr int RIDERS = 4;
constexpr int RACE_TICKS = 3 * TICKS_PER_SECOND;  // after the gate drops: the field bunches up

void digest_body(Digest* state, dBodyID body) {
  digest_update(state, dBodyGetPosition(body), 3 * sizeof(dReal));
  digest_update(state, dBodyGetRotation(body), 12 * sizeof(dReal));
  digest_update(state, dBodyGetLinearVel(body), 3 * sizeof(dReal));
  digest_update(state, dBodyGetAngularVel(body), 3 * sizeof(dReal));
}

// Runs a race of `riders` robots from the gate for RACE_TICKS after the drop and returns the
// digest of its bodies and demo.
std::string race_digest(const TempDir& home, int riders) {
  int lineup[SLOT_COUNT] = {};
  for (int i = 0; i < riders; i++) lineup[i] = LINEUP_ROBOT;
  sim_tick = 0;  // the roster shuffle and start time follow the tick
  session_set_demo(nullptr);
  session_set_record_file(nullptr);
  if (!session_reset(lineup, false, true, 0, 3, 1)) return "no track";
  while (sim_tick < race_start_tick + RACE_TICKS) session_step();
  Digest state;
  digest_init(&state);
  for (int slot = 0; slot < riders; slot++) {
    for (dBodyID body : game.slot_bike[slot]->bodies) digest_body(&state, body);
  }
  session_demos_close();
  const std::string demo = read_file_bytes(home.file("demos/default.skdemo"));
  if (demo.empty()) return "no demo";
  digest_update(&state, demo.data(), demo.size());
  char hex[2 * DIGEST_SIZE + 1];
  digest_to_hex(digest_final(&state), hex);
  return hex;
}

TEST_F(SessionFixture, ARecordedRaceKeepsItsDigest) {
  EXPECT_EQ(race_digest(home, RIDERS), RACE_DIGEST);
}

// A session resets everything a race depends on: the same race after another one in the same
// process (here a lone rider that ruts the ground its own way) gives the same digest. Roost is
// on, as in the game, since its particles draw from the session's random numbers.
TEST_F(SessionFixture, ARaceAfterAnotherRaceKeepsItsDigest) {
  const RenderParams saved = render_params;
  render_params_derive();
  EXPECT_GT(render_params.roost_frequency, 0);
  const std::string first = race_digest(home, RIDERS);
  race_digest(home, 1);
  EXPECT_EQ(race_digest(home, RIDERS), first);
  render_params = saved;
}

}  // namespace
