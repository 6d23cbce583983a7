// Recording races and playing them back through the session: positions, lap times and order,
// rewind and skip, and the time trial with its fastest lap and ghost. The riders are puppets
// moved round a ring of checkpoints on a small flat field, so every run is short and repeats
// exactly.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/game.h"
#include "core/session.h"
#include "core/session_replay.h"
#include "core/settings.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "race/race.h"
#include "replay/bike_state.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "tests/support/session_fixture.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double CENTRE = 128;  // ft, the ring's centre in x and z on a 256 ft field
constexpr double RING = 50;     // ft from the centre to the checkpoints
// Evenly round the ring; a lap is all of them. Gate progress looks three checkpoints back and
// two ahead, so a lap needs more than five.
constexpr int CHECKPOINTS = 8;
constexpr int RIDERS = 3;
// One step of a packed position on the ring field: x and z over 256 ft, the frame height over
// the flat field's headroom.
constexpr double QUANTUM = 256.0 / 16777215;

// A flat 256 ft field at height 0 with checkpoints round a ring, no start gate.
void write_ring_track(const TempDir& home) {
  std::string gates = "checkpoints:\n";
  for (int k = 0; k < CHECKPOINTS; k++) {
    const double a = k * 2 * PI / CHECKPOINTS;
    gates += std::to_string(12.0) + " [" + std::to_string(CENTRE + RING * std::cos(a)) + " 0 " +
             std::to_string(CENTRE + RING * std::sin(a)) + "] [" + std::to_string(-std::sin(a)) + " 0 " +
             std::to_string(std::cos(a)) + "]\n";
  }
  std::string lap;
  for (int k = 0; k < CHECKPOINTS; k++) lap += std::to_string(k) + " ";
  gates += "firstlap:\n" + lap + "\nnormallap:\n" + lap + "\n";
  home.write("ring/terrain.hf", "3 16 0 0\n");
  home.write("ring/shadingx2.ppm", "P6\n17 17\n255\n" + std::string(17 * 17 * 3, char(128)));
  home.write("ring/texturelist", "dirt.png\n");
  home.write("ring/tilemap", "");
  home.write("ring/timing_gates", gates);
}

void quat_multiply(const double* a, const double* b, double* out) {
  const double r[4] = {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
                       a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
                       a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
                       a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
  std::copy(r, r + 4, out);
}

PackRanges ranges_of(int slot) { return bike_pack_ranges(*game.slot_bike[slot], track_pack_ground); }

// A bike moved round the ring at a given speed, its bodies kinematic so they go exactly where
// they are sent.
struct Puppet {
  int slot;
  BikePose base;  // as placed, with its frame over the origin
  double lane;    // ft from the ring's centre
  double angle;   // rad round the ring; checkpoint k stands at k * 2 pi / CHECKPOINTS

  Puppet(int slot_, double lane_, double angle_) : slot(slot_), lane(lane_), angle(angle_) {
    Bike* bike = game.slot_bike[slot];
    for (dBodyID body : bike->bodies) dBodySetKinematic(body);
    PackedBikeState state;
    EXPECT_TRUE(session_pack_slot(slot, &state));
    packed_state_unpack(state, ranges_of(slot), &base);
    for (int i : {0, 2}) {
      base.rider_pos[i] -= base.frame_pos[i];
      base.frame_pos[i] = 0;
    }
  }

  // Facing along the ring: a bike turned by yaw a faces (-sin a, -cos a).
  BikePose pose_at(double at) const {
    const double yaw = PI - at;
    const double turn[4] = {std::cos(yaw / 2), 0, std::sin(yaw / 2), 0};
    BikePose pose = base;
    pose.frame_pos[0] = CENTRE + lane * std::cos(at);
    pose.frame_pos[2] = CENTRE + lane * std::sin(at);
    const double dx = base.rider_pos[0], dz = base.rider_pos[2];
    pose.rider_pos[0] = pose.frame_pos[0] + dx * std::cos(yaw) + dz * std::sin(yaw);
    pose.rider_pos[2] = pose.frame_pos[2] - dx * std::sin(yaw) + dz * std::cos(yaw);
    quat_multiply(turn, base.frame_quat, pose.frame_quat);
    quat_multiply(turn, base.rider_quat, pose.rider_quat);
    return pose;
  }

  // Before a step: the bike where it is, moving on at speed (ft/s) during the step.
  void move(double speed) {
    const double step = speed * SIM_STEP / lane;
    const BikePose from = pose_at(angle), to = pose_at(angle + step);
    BikeMotion motion;
    bike_pose_motion(from, to, 1, &motion);
    bike_set_pose(game.slot_bike[slot], from, &motion);
    angle += step;
  }
};

using Frame = std::array<double, 3>;

Frame frame_of(int slot) {
  const dReal* p = dBodyGetPosition(game.slot_bike[slot]->bodies[BODY_FRAME]);
  return {p[0], p[1], p[2]};
}

// What a race did, as the tests compare it.
struct RaceFacts {
  int32_t lap_ticks[RIDERS][2];
  std::vector<int32_t> order;  // slots of the final classification
};

RaceFacts facts() {
  RaceFacts f{};
  for (int slot = 0; slot < RIDERS; slot++) {
    for (int lap = 1; lap <= 2; lap++) f.lap_ticks[slot][lap - 1] = lap_ticks(race_entrants[slot].timing, lap, race.start_tick);
  }
  return f;
}

void expect_same(const RaceFacts& played, const RaceFacts& recorded) {
  for (int slot = 0; slot < RIDERS; slot++) {
    for (int lap = 0; lap < 2; lap++) {
      EXPECT_GT(recorded.lap_ticks[slot][lap], 0) << slot << " " << lap;
      EXPECT_EQ(played.lap_ticks[slot][lap], recorded.lap_ticks[slot][lap]) << slot << " " << lap;
    }
  }
  EXPECT_EQ(played.order, recorded.order);
}

class SessionReplay : public SessionFixture {
 protected:
  void SetUp() override {
    write_ring_track(home);
    SessionFixture::SetUp();
    snprintf(settings.track, sizeof settings.track, "ring");
    session_set_demo(nullptr);
    session_set_record_file(nullptr);
  }

  // frames[slot][tick]: where each frame was after the step that ended at tick.
  std::vector<Frame> frames[RIDERS];
  RaceFacts recorded;
  int32_t last_tick = 0;
  int32_t first_lap_tick = -1;  // when the first rider had completed a lap

  // A race of two laps, recorded: three puppets in lanes at different speeds from just before
  // the first checkpoint, off when the gate drops, on until every rider has finished.
  void record_race() {
    int lineup[SLOT_COUNT] = {};
    for (int slot = 0; slot < RIDERS; slot++) lineup[slot] = LINEUP_ROBOT;
    ASSERT_TRUE(session_reset(lineup, false, true, 0, 2, 1));
    ASSERT_TRUE(demo_recording());
    std::vector<Puppet> puppets;
    for (int slot = 0; slot < RIDERS; slot++) puppets.emplace_back(slot, RING - 6 + 6 * slot, -0.3);
    const double speeds[RIDERS] = {47, 55, 51};
    for (int slot = 0; slot < RIDERS; slot++) frames[slot].assign(size_t(sim_tick) + 1, frame_of(slot));
    while (!race.results_final && sim_tick < race_start_tick + 30 * TICKS_PER_SECOND) {
      for (int i = 0; i < RIDERS; i++) puppets[size_t(i)].move(sim_tick >= race_start_tick ? speeds[i] : 0);
      session_step();
      for (int slot = 0; slot < RIDERS; slot++) {
        frames[slot].push_back(frame_of(slot));
        if (first_lap_tick < 0 && laps_completed(race_entrants[slot].timing) == 1) first_lap_tick = sim_tick;
      }
    }
    ASSERT_TRUE(race.results_final);
    recorded = facts();
    last_tick = sim_tick;
    session_demos_close();
  }

  void play() {
    const int lineup[SLOT_COUNT] = {};
    ASSERT_TRUE(session_reset(lineup, true, false, 0, 0, 1));
    ASSERT_TRUE(demo_playing());
  }

  // Poses the riders from the history at a recorded tick, as the step does, and returns the
  // largest distance of a frame from where it was recorded, per axis.
  double frame_error() {
    double worst = 0;
    for (int slot = 0; slot < RIDERS; slot++) {
      history_apply(slot, game.slot_bike[slot], ranges_of(slot), sim_tick);
      const Frame at = frame_of(slot), was = frames[slot][size_t(sim_tick)];
      for (int i = 0; i < 3; i++) worst = std::max(worst, std::fabs(at[size_t(i)] - was[size_t(i)]));
    }
    return worst;
  }
};

TEST_F(SessionReplay, RecordedRaceReplaysWithItsPositionsLapTimesAndOrder) {
  record_race();
  const int32_t start = race_start_tick;
  play();
  EXPECT_EQ(race_start_tick, start);
  EXPECT_EQ(sim_tick, 0);
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    EXPECT_EQ(game.slot_kind[slot], SLOT_REPLAY);
    EXPECT_EQ(game.slot_bike[slot] != nullptr, slot < RIDERS) << slot;
  }
  double worst = 0;
  while (sim_tick < last_tick) {
    // The recorder keeps a state every 4 ticks; between them poses are interpolated.
    if (sim_tick % 4 == 0) worst = std::max(worst, frame_error());
    session_step();
  }
  EXPECT_LE(worst, QUANTUM);
  EXPECT_TRUE(race.results_final);
  expect_same(facts(), recorded);
}

TEST_F(SessionReplay, RewindAndSkipLandOnTheirTicksAndRewindForgetsLaterGates) {
  record_race();
  play();
  // Just after the first rider completed its first lap.
  while (sim_tick < first_lap_tick + 20) session_step();
  int first = -1;
  for (int slot = 0; slot < RIDERS; slot++) {
    if (laps_completed(race_entrants[slot].timing) == 1) first = slot;
  }
  ASSERT_GE(first, 0);

  const int32_t before = sim_tick;
  session_time_skip(-1);
  const int32_t target = before - TICKS_PER_SECOND - 1;
  EXPECT_EQ(sim_tick, target + 1);
  EXPECT_EQ(laps_completed(race_entrants[first].timing), 0);
  for (int slot = 0; slot < RIDERS; slot++) {
    for (int32_t tick : race_entrants[slot].timing.gates) EXPECT_LE(tick, target) << slot;
    // Reading restarted at least one read-ahead before the target.
    int32_t oldest = INT32_MAX;
    for (const HistoryEntry& e : history_rings[slot].entries)
      if (e.tick != HISTORY_EMPTY) oldest = std::min(oldest, e.tick);
    EXPECT_LE(oldest, target - DEMO_READ_AHEAD) << slot;
  }
  while (sim_tick % 4 != 0) session_step();
  EXPECT_LE(frame_error(), QUANTUM);

  const int32_t skip_from = sim_tick;
  session_time_skip(1);
  EXPECT_EQ(sim_tick, skip_from + TICKS_PER_SECOND);
  EXPECT_LE(frame_error(), QUANTUM);
  while (sim_tick < last_tick) session_step();
  expect_same(facts(), recorded);
}

std::string home_file(const TempDir& home, const char* name) { return read_file_bytes(home.file(name)); }

// Laps round the ring at 50 (the run-up), 50, 40 and 60 ft/s: the first timed lap becomes the
// fastest, the slower one leaves it, the faster one replaces it; the ghost rides the fastest.
TEST_F(SessionReplay, TimeTrialKeepsTheFastestLapAndItsGhostRidesIt) {
  ASSERT_TRUE(session_reset(nullptr, false, false, 0, 0, 1));
  ASSERT_TRUE(session.time_trial);
  ASSERT_TRUE(game.slot_bike[0]);
  // The run-up starts three checkpoints before the end of the first lap.
  RiderTiming& rider = race_entrants[0].timing;
  const int run_up = CHECKPOINTS - 3;
  EXPECT_EQ(gates_passed(rider), run_up);
  const Frame placed = frame_of(0);
  const double at = run_up * 2 * PI / CHECKPOINTS;
  EXPECT_NEAR(std::hypot(placed[0] - CENTRE - RING * std::cos(at), placed[2] - CENTRE - RING * std::sin(at)), 0, 6);
  session_put_down(game.slot_bike[0], float(placed[0]), float(placed[2]), 0);
  Puppet puppet(0, RING, std::atan2(placed[2] - CENTRE, placed[0] - CENTRE));

  const double speeds[] = {50, 50, 40, 60};
  int lap_ends = 0;
  int32_t lap_start[4] = {};
  std::vector<Frame> first_lap;  // the rider's frames through the first timed lap, by tick from its start
  int32_t first_timed = 0, compared = 0;
  double ghost_error = 0;
  const int32_t limit = sim_tick + 60 * TICKS_PER_SECOND;
  while (lap_ends < 4 && sim_tick < limit) {
    // During the slower lap the ghost rides the first timed lap, tick for tick.
    Bike* ghost = game.slot_bike[1];
    const int32_t k = sim_tick - lap_start[1];
    if (lap_ends == 2 && ghost && (k + lap_start[0]) % 4 == 0 && k < int32_t(first_lap.size())) {
      history_apply(1, ghost, ranges_of(1), sim_tick);
      const Frame at = frame_of(1), was = first_lap[size_t(k)];
      for (int i = 0; i < 3; i++) ghost_error = std::max(ghost_error, std::fabs(at[size_t(i)] - was[size_t(i)]));
      compared++;
    }
    const int32_t gate_before = gates_passed(rider);
    puppet.move(speeds[lap_ends]);
    session_step();
    if (lap_ends == 1) first_lap.push_back(frame_of(0));
    if (gates_passed(rider) != timing.first_count || gate_before == timing.first_count) continue;

    // A lap ended: "lastlap" holds it whole.
    SCOPED_TRACE(lap_ends);
    lap_start[lap_ends] = sim_tick;
    const std::string last = home_file(home, "ring/lastlap.skdemo"), fast = home_file(home, "ring/fastlap.skdemo");
    switch (lap_ends++) {
      case 0:  // the run-up has no time and does not become the fastest lap
        EXPECT_EQ(race.last_lap, 0);
        EXPECT_EQ(fast, "");
        first_lap.push_back(frame_of(0));  // the next lap's frames from its start tick on
        break;
      case 1:  // the first timed lap
        first_timed = race.last_lap;
        EXPECT_GT(first_timed, 0);
        EXPECT_EQ(race.best_lap, first_timed);
        EXPECT_EQ(fast, last);
        EXPECT_GT(fast.size(), size_t(100));
        break;
      case 2:  // slower
        EXPECT_GT(race.last_lap, first_timed);
        EXPECT_EQ(race.best_lap, first_timed);
        EXPECT_NE(fast, last);
        break;
      case 3:  // faster
        EXPECT_LT(race.last_lap, first_timed);
        EXPECT_EQ(race.best_lap, race.last_lap);
        EXPECT_EQ(fast, last);
        break;
    }
    // The ghost of the fastest lap waits in slot 1 from the second lap end on.
    EXPECT_EQ(game.slot_bike[1] != nullptr, lap_ends >= 2);
    EXPECT_EQ(game.slot_kind[1], SLOT_REPLAY);
    EXPECT_EQ(game.slot_bike[2], nullptr);
  }
  EXPECT_EQ(lap_ends, 4);
  EXPECT_GT(compared, 100);
  EXPECT_LE(ghost_error, QUANTUM);
}

}  // namespace
