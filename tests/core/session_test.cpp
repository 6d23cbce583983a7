// The session on the default track: riders placed on the start gate, the lineup rules, bikes
// standing still on the gate, the start gate's fall and its contacts, a statue stopping a bike.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <cmath>
#include <cstring>
#include <string>

#include "core/command_line.h"
#include "core/game.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "files/memory.h"
#include "files/vfs.h"
#include "core/controls.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/rider.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "race/race.h"
#include "race/timing.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "track/objects.h"
#include "tests/support/session_fixture.h"

namespace {

class Session : public SessionFixture {
 protected:
  bool reset(const int* lineup) { return session_reset(lineup, false, false, 0, 3, 1); }
  // n robots from slot 0.
  bool reset_robots(int n) {
    int lineup[SLOT_COUNT] = {};
    for (int i = 0; i < n; i++) lineup[i] = LINEUP_ROBOT;
    return reset(lineup);
  }
};

const dReal* frame(int slot) { return dBodyGetPosition(game.slot_bike[slot]->bodies[BODY_FRAME]); }
// The frame's up axis, y component: 1 standing, 0 on its side.
double uprightness(int slot) { return dBodyGetRotation(game.slot_bike[slot]->bodies[BODY_FRAME])[5]; }
double length3(const dReal* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Where slot s's frame stands relative to its piece, along the piece's rear direction (sin a,
// cos a) and across it.
void gate_offsets(int slot, int pieces, double* along, double* across) {
  const StartGatePiece& piece = timing.pieces[slot % pieces];
  const double dx = frame(slot)[0] - piece.x, dz = frame(slot)[2] - piece.z;
  const double s = std::sin(piece.angle), c = std::cos(piece.angle);
  *along = dx * s + dz * c;
  *across = dx * c - dz * s;
}

TEST_F(Session, DefaultLineupStandsBehindItsPiecesInRows) {
  int lineup[SLOT_COUNT] = {};
  for (int i = 0; i < GATE_SLOT_COUNT; i++) lineup[i] = settings.gate[i].index;
  ASSERT_TRUE(reset(lineup));
  const int pieces = session.piece_count;
  ASSERT_GT(pieces, 4);
  EXPECT_EQ(game.viewed_slot, 19);
  EXPECT_EQ(game.slot_kind[19], SLOT_LOCAL);
  double along0 = 0, across0 = 0;
  gate_offsets(19, pieces, &along0, &across0);
  for (int slot : {17, 18, 20, 21, 22}) {
    SCOPED_TRACE(slot);
    ASSERT_NE(game.slot_bike[slot], nullptr);
    EXPECT_EQ(game.slot_kind[slot], SLOT_ROBOT);
    double along, across;
    gate_offsets(slot, pieces, &along, &across);
    // Every rider of the first row stands the same way behind its own piece.
    EXPECT_NEAR(along, along0, 0.05);
    EXPECT_NEAR(across, across0, 0.05);
  }
  for (int slot : {0, 16, 23, 39}) EXPECT_EQ(game.slot_bike[slot], nullptr) << slot;
}

TEST_F(Session, TenRidersOnFourPiecesStartInRowsOfFourFourTwo) {
  // Load the track, then keep only four of its pieces.
  ASSERT_TRUE(reset_robots(1));
  timing.piece_count = 4;
  session.piece_count = 4;
  ASSERT_TRUE(reset_robots(10));
  for (int slot = 0; slot < 10; slot++) ASSERT_NE(game.slot_bike[slot], nullptr) << slot;
  EXPECT_EQ(game.slot_bike[10], nullptr);
  for (int slot = 4; slot < 10; slot++) {
    SCOPED_TRACE(slot);
    double along, across, along_front, across_front;
    gate_offsets(slot, 4, &along, &across);
    gate_offsets(slot - 4, 4, &along_front, &across_front);
    EXPECT_NEAR(along - along_front, 10.0, 0.05);
    EXPECT_NEAR(across, across_front, 0.05);
  }
  // Put the whole gate back for the other tests.
  session.reload_requested = true;
}

TEST_F(Session, LineupRules) {
  struct Case {
    const char* name;
    int values[8];
    int viewed;
    SlotKind kinds[8];
    bool present[8];
  };
  const Case cases[] = {
      {"only the first player counts", {0, 0, 0, 1, 0, 0, 0, 1}, 3,
       {SLOT_REPLAY, SLOT_REPLAY, SLOT_REPLAY, SLOT_LOCAL, SLOT_REPLAY, SLOT_REPLAY, SLOT_REPLAY, SLOT_REPLAY},
       {false, false, false, true, false, false, false, false}},
      {"an empty lineup brings one robot", {0, 0, 0, 0, 0, 0, 0, 0}, 0,
       {SLOT_ROBOT, SLOT_REPLAY, SLOT_REPLAY, SLOT_REPLAY, SLOT_REPLAY, SLOT_REPLAY, SLOT_REPLAY, SLOT_REPLAY},
       {true, false, false, false, false, false, false, false}},
      {"the first rider is viewed", {0, 0, 2, 3, 4, 0, 1025, 0}, 2,
       {SLOT_REPLAY, SLOT_REPLAY, SLOT_ROBOT, SLOT_ROBOT, SLOT_ROBOT, SLOT_REPLAY, SLOT_ROBOT, SLOT_REPLAY},
       {false, false, true, true, true, false, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int lineup[SLOT_COUNT] = {};
    std::copy(c.values, c.values + 8, lineup);
    ASSERT_TRUE(reset(lineup));
    EXPECT_EQ(game.viewed_slot, c.viewed);
    for (int slot = 0; slot < 8; slot++) {
      EXPECT_EQ(game.slot_kind[slot], c.kinds[slot]) << slot;
      EXPECT_EQ(game.slot_bike[slot] != nullptr, c.present[slot]) << slot;
    }
  }
  // The last case: a 125, a 250 four-stroke, and number 25 on its yz125 with personality rook.
  EXPECT_STREQ(game.slot_bike[6]->number, "25");
  EXPECT_STREQ(session.personality[6], "rook");
  EXPECT_STREQ(session.player_name[6], "Roborider");
  EXPECT_STREQ(robot_roster(5).model, "yz125");
  for (int i = 0; i < ROSTER_SIZE; i++) {
    if (std::atoi(game.slot_bike[3]->number) == robot_roster(i).number) {
      EXPECT_NE(strstr(robot_roster(i).model, "125"), nullptr);
    }
    if (std::atoi(game.slot_bike[4]->number) == robot_roster(i).number) {
      EXPECT_NE(strstr(robot_roster(i).model, "250"), nullptr);
    }
  }
}

TEST_F(Session, ThePlayersBikeTakesThePlayersSetupAndRobotsKeepTheirOwn) {
  settings.setup.brake_torque.value = 120;
  int lineup[SLOT_COUNT] = {LINEUP_ROBOT, LINEUP_PLAYER};
  ASSERT_TRUE(reset(lineup));
  ASSERT_EQ(game.viewed_slot, 1);
  EXPECT_EQ(game.slot_bike[1]->setup.front_brake_torque, 120);
  EXPECT_EQ(game.slot_bike[0]->setup.front_brake_torque, 250);
}

TEST_F(Session, RosterShuffleFollowsTheClockSeed) {
  int first[ROSTER_SIZE];
  sim_tick = 7;
  ASSERT_TRUE(reset_robots(1));
  std::copy(session.roster_order, session.roster_order + ROSTER_SIZE, first);
  sim_tick = 7;
  ASSERT_TRUE(reset_robots(1));
  EXPECT_TRUE(std::equal(first, first + ROSTER_SIZE, session.roster_order));
  int seen[ROSTER_SIZE] = {};
  for (int p : first) seen[p]++;
  for (int n : seen) EXPECT_EQ(n, 1);
  sim_tick = 8;
  ASSERT_TRUE(reset_robots(1));
  EXPECT_FALSE(std::equal(first, first + ROSTER_SIZE, session.roster_order));
  // The gate drops 13 to 15 s in.
  EXPECT_GE(race_start_tick, 13 * TICKS_PER_SECOND);
  EXPECT_LT(race_start_tick, 15 * TICKS_PER_SECOND);
}

// The full 20 s with 40 bikes runs in skorvan-sim; here one second keeps the test quick.
TEST_F(Session, FortyBikesStandStillOnTheGate) {
  ASSERT_TRUE(reset_robots(40));
  double start[40][3];
  for (int s = 0; s < 40; s++) std::copy(frame(s), frame(s) + 3, start[s]);
  for (int i = 0; i < TICKS_PER_SECOND; i++) session_step();
  for (int s = 0; s < 40; s++) {
    SCOPED_TRACE(s);
    const dReal* p = frame(s);
    EXPECT_GT(uprightness(s), 0.95);
    EXPECT_NEAR(p[0], start[s][0], 0.25);
    EXPECT_NEAR(p[2], start[s][2], 0.25);
    const float ground = terrain_height_at(&track_terrain, float(p[0]), float(p[2]));
    EXPECT_GT(p[1], ground + 0.5);
    EXPECT_LT(p[1], start[s][1] + 0.1);
    EXPECT_EQ(game.slot_bike[s]->crash_count, 0);
  }
}

TEST_F(Session, GatePiecesStandUntilTheStartThenFallUnlessTouched) {
  ASSERT_TRUE(reset_robots(1));
  // Piece 0 gets a ball 3 ft across at its foot; the bike in slot 0, held still like a
  // replayed bike, stands in it.
  Statue& statue = track_objects.statues[size_t(session.pieces[0].statue)];
  ShapeSphere ball{{0, 0, 0}, 3, 1, {0, 0, 0}};
  shape_free(static_cast<Shape*>(const_cast<void*>(statue.shape)));
  statue.shape = shape_make(&ball, 1);
  Bike* bike = game.slot_bike[0];
  game.slot_kind[0] = SLOT_REPLAY;
  for (dBodyID body : bike->bodies) dBodySetKinematic(body);
  const dReal* p = frame(0);
  const float into[3] = {float(statue.x - p[0]), float(statue.y + 1 - p[1]), float(statue.z - p[2])};
  bike_translate(bike, into);

  // An early start keeps the test short.
  race_start_tick = race.start_tick = sim_tick + 64;
  while (sim_tick < race_start_tick) {
    session_step();
    for (int k = 0; k < session.piece_count; k++) ASSERT_EQ(session.pieces[k].angle, 1.0f);
  }
  for (int i = 0; i < TICKS_PER_SECOND / 2; i++) session_step();
  EXPECT_EQ(session.pieces[0].angle, 1.0f);
  for (int k = 1; k < session.piece_count; k++) EXPECT_EQ(session.pieces[k].angle, 0.0f) << k;

  // Moved away, the piece falls from rest.
  const float away[3] = {0, 50, 0};
  bike_translate(bike, away);
  session_step();
  EXPECT_FLOAT_EQ(session.pieces[0].angle, 1.0f - float(SIM_STEP * 32 * SIM_STEP));
  for (int i = 0; i < TICKS_PER_SECOND; i++) session_step();
  EXPECT_EQ(session.pieces[0].angle, 0.0f);
  // Past the first 10 s the gate is neither moved nor tested.
  session.reload_requested = true;
}

TEST_F(Session, ABikePushedIntoAStatueStops) {
  int target = -1;
  // Rolling at the statue it stops in front of it; with the statues out of the object grid the
  // same roll goes on past it.
  for (bool statues : {true, false}) {
    SCOPED_TRACE(statues);
    ASSERT_TRUE(reset_robots(1));
    autopilots[0].personality = 0;  // pushed by the test, not ridden by the auto pilot
    if (!statues) {
      for (auto& row : track_objects.statue_buckets) {
        for (auto& cell : row) cell.clear();
      }
    }
    for (size_t i = 0; i < track_objects.statues.size() && target < 0; i++) {
      if (track_objects.statues[i].shape) target = int(i);
    }
    ASSERT_GE(target, 0);
    const Statue& statue = track_objects.statues[size_t(target)];
    // 12 ft in front of the statue, facing it (a bike faces -z at yaw 0), rolling at 20 ft/s.
    Bike* bike = game.slot_bike[0];
    const float distance = 12 + statue.shape_radius;
    session_put_down(bike, statue.x, statue.z + distance, 0);
    for (dBodyID body : bike->bodies) dBodySetLinearVel(body, 0, 0, -20);
    for (const WheelState* wheel : {&bike->front, &bike->rear})
      dBodySetAngularVel(wheel->body, -20 / (wheel->ring_radius + wheel->tread_radius), 0, 0);
    double nearest = 1e9;
    for (int i = 0; i < 2 * TICKS_PER_SECOND; i++) {
      session_step();
      nearest = std::min(nearest, double(frame(0)[2]) - statue.z);
    }
    if (statues) {
      EXPECT_GT(nearest, statue.shape_radius);
      EXPECT_LT(nearest, distance - 4);
    } else {
      EXPECT_LT(nearest, -statue.shape_radius);
    }
  }
  session.reload_requested = true;
}

// Turns every body of a bike by angle (rad) about a world axis through a world point.
void turn_bike(Bike* bike, const double axis[3], double angle, const double pivot[3]) {
  dMatrix3 r;
  dRFromAxisAndAngle(r, axis[0], axis[1], axis[2], angle);
  for (dBodyID body : bike->bodies) {
    const dReal* p = dBodyGetPosition(body);
    const dVector3 d = {p[0] - pivot[0], p[1] - pivot[1], p[2] - pivot[2], 0};
    dVector3 turned;
    dMultiply0_331(turned, r, d);
    dBodySetPosition(body, pivot[0] + turned[0], pivot[1] + turned[1], pivot[2] + turned[2]);
    dMatrix3 rotation;
    dMultiply0_333(rotation, r, dBodyGetRotation(body));
    dBodySetRotation(body, rotation);
  }
}

// The frame's heading about the vertical (rad).
double frame_yaw(const Bike* bike) {
  const dReal* rot = dBodyGetRotation(bike->bodies[BODY_FRAME]);
  return std::atan2(-rot[2], -rot[10]);
}

// The angle (rad, 0..pi) between the frame's heading and the way to a point, horizontally.
double heading_error(const Bike* bike, const float target[3]) {
  const dReal* rot = dBodyGetRotation(bike->bodies[BODY_FRAME]);
  const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  const double fx = -rot[2], fz = -rot[10];  // the frame's -z axis
  const double tx = target[0] - p[0], tz = target[2] - p[2];
  return std::fabs(std::atan2(fx * tz - fz * tx, fx * tx + fz * tz));
}

// A rider lying over at rest in a running race, on the start stretch with the best racing line
// of that stretch leading on. Before passing a gate (or behind the leader) the bike is turned back
// towards the line; the race leader's fall is marked for the race rules instead.
TEST_F(Session, AFallenBikeIsTurnedTowardsItsLineUnlessItsRiderLeads) {
  const struct {
    const char* what;
    int gates;
    bool leading;
  } cases[] = {{"no gate passed yet", 0, false}, {"leading after two gates", 2, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    settings.setup.arcade.index = 0;  // the arcade aids leave a fallen bike alone
    int lineup[SLOT_COUNT] = {LINEUP_PLAYER};
    ASSERT_TRUE(reset(lineup));
    ASSERT_NE(rider_hooks.leading_in_race, nullptr);
    ASSERT_NE(rider_hooks.realign_target, nullptr);
    Bike* bike = game.slot_bike[0];
    race_start_tick = race.start_tick = sim_tick;  // the race is under way
    RiderTiming& timing_record = race_entrants[0].timing;
    timing_record.gate_index = c.gates;
    timing_record.gates.assign(size_t(c.gates), 0);
    session_race_order_update();
    EXPECT_EQ(rider_hooks.leading_in_race(bike), c.leading);

    // Half way along the start stretch's best line, facing along it.
    const RacingLine* line = nullptr;
    for (int i = 0; i < LINE_SLOTS; i++) {
      const RacingLine& l = lines_slot(0, i);
      if (l.count > 0 && (!line || lines_score(l) < lines_score(*line))) line = &l;
    }
    ASSERT_NE(line, nullptr);
    const LinePoint& at = line->points[size_t(line->count) * 3 / 4];
    const LinePoint& on = line->points[size_t(line->count) * 3 / 4 + 1];
    session_put_down(bike, at.x, at.z, float(std::atan2(at.x - on.x, at.z - on.z)));

    float target[3];
    ASSERT_TRUE(rider_hooks.realign_target(bike, target));
    // Turned 80 degrees off its course and laid over 45 degrees, at rest.
    const dReal* p = frame(0);
    const double up[3] = {0, 1, 0};
    const double ground[3] = {p[0], terrain_height_at(&track_terrain, float(p[0]), float(p[2])), p[2]};
    turn_bike(bike, up, 80 * M_PI / 180, ground);
    const dReal* rot = dBodyGetRotation(bike->bodies[BODY_FRAME]);
    const double forward[3] = {-rot[2], -rot[6], -rot[10]};
    turn_bike(bike, forward, 45 * M_PI / 180, ground);
    const double before = heading_error(bike, target);
    if (!c.leading) {
      ASSERT_GT(before, 1.0);
    }
    const double yaw = frame_yaw(bike);
    // It turns while it lies over; the push back to upright ends the turn after about half a
    // second.
    for (int i = 0; i < 2 * TICKS_PER_SECOND; i++) session_step();
    EXPECT_EQ(bike->fell_while_leading, c.leading);
    EXPECT_EQ(bike->crash_count, 0);
    EXPECT_GT(uprightness(0), 0.95);
    if (c.leading)
      EXPECT_NEAR(std::remainder(frame_yaw(bike) - yaw, 2 * M_PI), 0, 0.1);
    else
      EXPECT_LT(heading_error(bike, target), before - 0.4);
  }
}

// Thrown off sideways, the rider's body lands on the ground beside the bike and stays on it:
// the rider's collision shape from the data set holds it up.
TEST_F(Session, ACrashedRiderLiesOnTheGround) {
  int lineup[SLOT_COUNT] = {LINEUP_PLAYER};
  ASSERT_TRUE(reset(lineup));
  Bike* bike = game.slot_bike[0];
  ASSERT_NE(bike->shapes[BODY_RIDER], nullptr);
  crash_start(bike);
  dBodySetLinearVel(bike->bodies[BODY_RIDER], 12, 4, 0);
  double lowest = 1e9;
  for (int i = 0; i < 3 * TICKS_PER_SECOND / 2; i++) {
    session_step();
    const dReal* r = dBodyGetPosition(bike->bodies[BODY_RIDER]);
    lowest = std::min(lowest, r[1] - terrain_height_at(&track_terrain, float(r[0]), float(r[2])));
  }
  ASSERT_TRUE(bike_crashed(bike));
  const dReal* r = dBodyGetPosition(bike->bodies[BODY_RIDER]);
  const double height = r[1] - terrain_height_at(&track_terrain, float(r[0]), float(r[2]));
  EXPECT_GT(lowest, 0.2);  // never into the ground
  EXPECT_LT(height, 2.0);  // lying, not sitting (the seat is about 4.5 ft up)
  EXPECT_LT(length3(dBodyGetLinearVel(bike->bodies[BODY_RIDER])), 2.0);
}

// The player's bike with the player's own setup, the idle controls applied every step as the
// game's step loop does, stands on the gate until the start: upright, in place, and settled on
// its suspension and tyres without sinking further.
TEST_F(Session, ThePlayerStandsOnTheGateForTenSeconds) {
  int lineup[SLOT_COUNT] = {};
  lineup[19] = LINEUP_PLAYER;  // the player's place on the default gate
  ASSERT_TRUE(reset(lineup));
  const int slot = game.viewed_slot;
  ASSERT_EQ(game.slot_kind[slot], SLOT_LOCAL);
  ASSERT_GT(race_start_tick, 10 * TICKS_PER_SECOND);
  Bike* bike = game.slot_bike[slot];
  double start[3];
  std::copy(frame(slot), frame(slot) + 3, start);
  game.menu_page = MENU_NONE;
  game_update_view_mode();
  ASSERT_TRUE(game_riding());
  game_hooks.session_step = session_step;
  controls_clear_values();
  const EventSource no_events{[](void*, int*, int*, int32_t, int32_t) { return 0; }, nullptr};
  auto height = [](dBodyID body) {
    const dReal* p = dBodyGetPosition(body);
    return p[1] - terrain_height_at(&track_terrain, float(p[0]), float(p[2]));
  };
  double settled = 0;
  for (int second = 1; second <= 10; second++) {
    for (int i = 0; i < 8; i++) game_run_steps(0, 0.125, no_events);
    if (second == 1) settled = height(bike->bodies[BODY_FRAME]);
  }
  game_hooks = GameHooks{};
  EXPECT_EQ(sim_tick, 10 * TICKS_PER_SECOND);
  EXPECT_EQ(bike->controls.clutch, 1);  // the idle controls reached the bike
  const dReal* p = frame(slot);
  EXPECT_GT(uprightness(slot), 0.95);
  EXPECT_NEAR(p[0], start[0], 0.25);
  EXPECT_NEAR(p[2], start[2], 0.25);
  EXPECT_NEAR(height(bike->bodies[BODY_FRAME]), settled, 0.02);
  for (const WheelState* wheel : {&bike->front, &bike->rear}) EXPECT_GT(height(wheel->body), wheel->ring_radius);
  EXPECT_EQ(bike->crash_count, 0);
}

// Once a race is under way its steps allocate nothing: the step budget leaves no room for the
// allocator, and a long race must not grow the heap.
TEST_F(Session, ARunningRaceAllocatesNothingPerStep) {
  ASSERT_TRUE(reset_robots(3));
  while (sim_tick < race_start_tick + TICKS_PER_SECOND) session_step();
  const unsigned long long before = mem_allocation_count();
  for (int i = 0; i < 1000; i++) session_step();
  EXPECT_EQ(mem_allocation_count(), before);
}

}  // namespace

namespace {

// Leaving the editor after raising the ground under a bike puts the bike back on top of it.
TEST_F(Session, SettlingLiftsABikeOutOfRaisedGround) {
  ASSERT_TRUE(reset_robots(1));
  const double y0 = frame(0)[1];
  const Terrain& t = track_terrain;
  const int col = int(frame(0)[0] / t.spacing), row = int(frame(0)[2] / t.spacing);
  for (int r = row - 8; r <= row + 8; r++)
    for (int c = col - 8; c <= col + 8; c++)
      terrain_set_height(&track_terrain, c, r, t.heights[size_t(r) * t.grid_size + c] + 3);
  session_settle_bikes();
  Bike* bike = game.slot_bike[0];
  EXPECT_GT(frame(0)[1], y0 + 2.5);
  EXPECT_LT(frame(0)[1], y0 + 3.5);
  // Back on the ground, at most the last lowering step into it.
  EXPECT_TRUE(wheel_ground_probe(&track_terrain, &bike->front) || wheel_ground_probe(&track_terrain, &bike->rear));
  EXPECT_LE(bike->front.depth, 0.125f + 1e-3f);
  EXPECT_LE(bike->rear.depth, 0.125f + 1e-3f);
  session.reload_requested = true;  // the next test loads the ground afresh
}

}  // namespace
