// The auto pilot on the default track with its shipped racing lines: personalities by name,
// standing on both brakes without lines, the scripted start, and finding the way back to the
// course after being knocked off it.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "core/command_line.h"
#include "core/game.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/steering.h"
#include "physics/world.h"
#include "race/race.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "tests/support/session_fixture.h"
#include "tools/sim/knock.h"
#include "track/terrain.h"

namespace {

class AutoPilotTest : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    start_options.learn = false;  // the shipped lines stay as they are
  }

  // One robot in slot 0 on the lines of a skill.
  Bike* one_robot(int skill) {
    int lineup[SLOT_COUNT] = {};
    lineup[0] = LINEUP_ROBOT;
    sim_tick = 7;
    EXPECT_TRUE(session_reset(lineup, false, false, 0, 3, skill));
    return game.slot_bike[0];
  }
  // Steps until the tick (exclusive), calling check after each step.
  template <typename Check>
  void run_until(int32_t tick, Check check) {
    while (sim_tick < tick) {
      session_step();
      check();
    }
  }
};

TEST_F(AutoPilotTest, PersonalitiesAreFoundByTheirExactName) {
  Bike* bike = one_robot(1);
  ASSERT_NE(bike, nullptr);
  struct Case {
    const char* name;
    int personality;
  };
  const Case cases[] = {{"wren", 1}, {"rook", 2}, {"finch", 3}, {"tester", 4},
                        {"Tester", 1}, {"empty", 1}, {"", 1}};
  for (const Case& c : cases) {
    autopilot_set_personality(bike, c.name);
    EXPECT_EQ(autopilots[0].personality, c.personality) << c.name;
  }
}

// Every skill's lines file of the data set is read for this track and starts at the gate.
TEST_F(AutoPilotTest, ShippedLinesFilesFitTheTrack) {
  for (int skill = 0; skill < LINE_PLAN_TYPES; ++skill) {
    one_robot(skill);
    ASSERT_TRUE(line_table.present);
    bool at_gate = false;
    for (int i = 0; i < LINE_SLOTS; ++i) at_gate = at_gate || lines_slot(0, i).count > 0;
    EXPECT_TRUE(at_gate) << LINE_SET_NAMES[skill];
  }
}

TEST_F(AutoPilotTest, WithoutLinesTheRobotStandsOnBothBrakes) {
  Bike* bike = one_robot(1);
  lines_clear();
  run_until(race_start_tick + 64, [&] {
    const RiderControls& c = bike->controls;
    ASSERT_EQ(c.front_brake, 1.0f);
    ASSERT_EQ(c.rear_brake, 1.0f);
    ASSERT_EQ(c.throttle, 0.0f);
  });
  EXPECT_TRUE(autopilots[0].path.empty());
}

// Before the ready tick the engine is blipped on both brakes; from a little after it the robot
// holds full throttle on the brakes until its reaction time after the gate drops.
TEST_F(AutoPilotTest, StartSequenceBlipsThenHoldsThenLaunches) {
  Bike* bike = one_robot(1);
  bool blipped = false, idled = false;
  run_until(session.start_ready_tick, [&] {
    const RiderControls& c = bike->controls;
    ASSERT_EQ(c.front_brake, 1.0f);
    ASSERT_EQ(c.clutch, 0.0f);
    blipped = blipped || c.throttle == 1;
    idled = idled || c.throttle == 0;
  });
  EXPECT_TRUE(blipped);
  EXPECT_TRUE(idled);
  const int32_t holding = session.start_ready_tick + int32_t(0.5 / SIM_STEP);
  run_until(holding, [] {});
  run_until(race_start_tick, [&] {
    const RiderControls& c = bike->controls;
    ASSERT_EQ(c.throttle, 1.0f);
    ASSERT_EQ(c.front_brake, 1.0f);
    ASSERT_EQ(c.rear_brake, 1.0f);
    ASSERT_EQ(c.clutch, 0.0f);
  });
  // A wren reacts within 0.4 s: then the brakes are off and the clutch is coming in.
  run_until(race_start_tick + int32_t(0.5 / SIM_STEP), [] {});
  EXPECT_EQ(bike->controls.front_brake, 0.0f);
  EXPECT_GT(bike->controls.clutch, 0.0f);
}

// A robot moved 30 ft sideways off its line, to either side, rides back to the course and passes
// its next two gates. Knocked just after the first gate it turns back hard, slows right down and
// ends up leaning on the rider's foot at walking pace, from where it has to get going again.
TEST_F(AutoPilotTest, KnockedOffItsLineRidesBackThroughTheNextGates) {
  constexpr double KNOCK_AT = 8;  // s after the gate drops
  constexpr double WITHIN = 40;   // s to pass two more gates
  for (double feet : {-30.0, 30.0}) {
    one_robot(1);
    KnockWatch watch;
    watch.knock_tick = race_start_tick + int32_t(KNOCK_AT / SIM_STEP);
    watch.feet = feet;
    const int32_t limit = watch.knock_tick + int32_t(WITHIN / SIM_STEP);
    while (sim_tick < limit && watch.two_gates_tick < 0) {
      session_step();
      knock_watch_step(watch);
    }
    ASSERT_TRUE(watch.knocked);
    EXPECT_GE(watch.two_gates_tick, 0) << feet << " ft: still " << gates_passed(race_entrants[0].timing)
                                       << " gates after " << WITHIN << " s";
  }
}

// A robot whose path starts out of its reach at the gate (here the path is moved away; so it
// was for robots far from every line's start) and that gets nowhere after the launch, as one
// lying on its side, is sent into recovery a few seconds after the start, not only once the
// session is 30 s old, some 18 s after the gate dropped.
TEST_F(AutoPilotTest, RobotGettingNowhereAfterTheLaunchRecovers) {
  one_robot(1);
  session_step();  // the path is filled
  AutoPilot& pilot = autopilots[0];
  ASSERT_FALSE(pilot.path.empty());
  for (LinePoint& p : pilot.path) p.x += 2000;
  const int32_t deadline = race_start_tick + int32_t(9 / SIM_STEP);
  while (sim_tick < deadline && pilot.ap_mode == 0) session_step();
  EXPECT_NE(pilot.ap_mode, 0) << "still riding normally " << (sim_tick - race_start_tick) * SIM_STEP
                              << " s after the gate dropped";
  EXPECT_GE(sim_tick, race_start_tick + int32_t(8 / SIM_STEP)) << "stuck before the start was over";
}

// A robot that has not reached its target for 40 s picks another one by the clock; whatever the
// tick, the new target lies further along its path, never among the points behind it, which
// would send it back against the field.
TEST_F(AutoPilotTest, RobotStuckForLongPicksATargetAhead) {
  Bike* bike = one_robot(1);
  run_until(race_start_tick + int32_t(8 / SIM_STEP), [] {});
  AutoPilot& pilot = autopilots[0];
  const int32_t count = int32_t(pilot.path.size());
  const int32_t target = pilot.path_target;
  ASSERT_GT(target, 10);
  ASSERT_GT(count - target, 2);
  const int32_t now = sim_tick;
  for (int32_t tick = now; tick < now + count; ++tick) {
    sim_tick = tick;
    pilot.path_target = target;
    pilot.ap_mode = 3;
    pilot.last_progress_tick = tick - int32_t(41 / SIM_STEP);
    autopilot_drive(bike, pilot, true);
    EXPECT_GT(pilot.path_target, target) << "at tick " << tick;
    EXPECT_LT(pilot.path_target, count) << "at tick " << tick;
  }
}

// A robot its path brings to a standstill, as in a queue of bikes, stays upright with a foot
// down instead of falling onto its side at walking pace.
TEST_F(AutoPilotTest, RobotBroughtToAStandstillStaysUpright) {
  Bike* bike = one_robot(1);
  run_until(race_start_tick + int32_t(8 / SIM_STEP), [] {});
  AutoPilot& pilot = autopilots[0];
  ASSERT_EQ(pilot.ap_mode, 0);
  ASSERT_GT(bike_frame_speed(bike), 15.0f);
  for (LinePoint& p : pilot.path) p.speed = 0;
  double worst_roll = 0;
  run_until(sim_tick + int32_t(2.75 / SIM_STEP), [&] { worst_roll = std::max(worst_roll, std::fabs(double(roll_angle(bike)))); });
  EXPECT_LT(bike_frame_speed(bike), 1.0f);
  EXPECT_LT(worst_roll, 0.6);
}

// A robot finding its way back keeps its distance as on its line: riding at 8 ft/s towards -z
// (so its footprint points that way) with a bike standing just ahead it does not open the
// throttle; with that bike moved well aside it rides on. At rest its direction of travel means
// nothing, and two robots standing side by side must not wait for each other: it sets off.
TEST_F(AutoPilotTest, RecoveringRobotWaitsBehindABikeJustAhead) {
  int lineup[SLOT_COUNT] = {};
  lineup[0] = lineup[1] = LINEUP_ROBOT;
  sim_tick = 7;
  ASSERT_TRUE(session_reset(lineup, false, false, 0, 3, 1));
  run_until(session.start_ready_tick, [] {});  // on the gate, paths filled
  Bike* robot = game.slot_bike[0];
  Bike* other = game.slot_bike[1];
  ASSERT_FALSE(autopilots[0].path.empty());
  struct Case {
    double dx, dz;  // ft from the robot's frame to where the other bike's frame is put
    double speed;   // ft/s of the robot towards -z
    bool waits;
  };
  const Case cases[] = {{0, -7, 8, true}, {30, 0, 8, false}, {0, -7, 0, false}};
  for (const Case& c : cases) {
    const dReal* own = dBodyGetPosition(robot->bodies[BODY_FRAME]);
    const dReal* at = dBodyGetPosition(other->bodies[BODY_FRAME]);
    const float x = float(own[0] + c.dx), z = float(own[2] + c.dz);
    const float dy = terrain_height_at(&track_terrain, x, z) - terrain_height_at(&track_terrain, float(at[0]), float(at[2]));
    const float offset[3] = {float(x - at[0]), float(own[1] - at[1]) + dy, float(z - at[2])};
    bike_translate(other, offset);
    for (Bike* b : {robot, other})
      for (dBodyID body : b->bodies) {
        dBodySetLinearVel(body, 0, 0, b == robot ? -c.speed : 0);
        dBodySetAngularVel(body, 0, 0, 0);
      }
    autopilot_field_forget();
    autopilots[0].ap_mode = 3;
    autopilots[0].last_progress_tick = sim_tick;
    autopilot_drive(robot, autopilots[0], true);
    if (c.waits)
      EXPECT_EQ(robot->controls.throttle, 0.0f) << c.dx << ", " << c.dz << " at " << c.speed;
    else
      EXPECT_GT(robot->controls.throttle, 0.5f) << c.dx << ", " << c.dz << " at " << c.speed;
  }
}

}  // namespace

// Footprints of two bikes meet when their rectangles overlap, whichever edges cross, and also
// when no edges cross at all: bikes in one lane (parallel sides) or a short footprint inside a
// long one. Bikes ride towards -z unless the case turns them; back = (sin a, cos a) for yaw a.
TEST(FootprintTest, MeetWhenTheRectanglesOverlap) {
  struct Case {
    const char* name;
    double x, z, yaw, speed;  // the other bike; this one stands at the origin
    double own_speed;
    bool meet;
  };
  const double quarter = 1.5707963267948966;
  const Case cases[] = {
      {"same lane, 20 ft ahead", 0, -20, 0, 20, 20, true},
      {"same lane, 27 ft ahead, footprints overlap by 1 ft", 0, -27, 0, 20, 20, true},
      {"same lane, 29 ft ahead, 1 ft apart", 0, -29, 0, 20, 20, false},
      {"slow bike inside a fast bike's footprint", 0.5, -15, 0, 0, 40, true},
      {"side by side on the gate, 3.25 ft apart", 3.25, 0, 0, 0, 0, true},
      {"side by side, 4.5 ft apart", 4.5, 0, 0, 0, 0, false},
      {"crossing from the right", 10, -10, quarter, 15, 15, true},
      {"20 ft behind, 2 ft short of this bike", 0, 20, 0, 10, 10, false},
      {"head on", 0, -50, 2 * quarter, 25, 25, true},
  };
  for (const Case& c : cases) {
    const Footprint own = autopilot_footprint(0, 0, 0, 1, c.own_speed);
    const Footprint other = autopilot_footprint(c.x, c.z, std::sin(c.yaw), std::cos(c.yaw), c.speed);
    EXPECT_EQ(autopilot_footprints_meet(own, other), c.meet) << c.name;
    EXPECT_EQ(autopilot_footprints_meet(other, own), c.meet) << c.name << " (other way round)";
  }
}

// The ground's limit on the lean target skips the slope's arctangent when the target is well
// inside the grip; it must give the plain clamp's value to the bit, including targets at and
// just past the bounds, steep and overturned normals and grips of 0 or less.
TEST(GroundClampTest, SameAsThePlainClamp) {
  std::mt19937 random(15);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
  int skipped = 0;
  for (int i = 0; i < 200000; ++i) {
    const double roll = uniform(-1.6, 1.6);
    const double nx = i % 7 == 0 ? uniform(-1, 1) : uniform(-0.3, 0.3);
    const double ny = i % 11 == 0 ? uniform(-1, 0.05) : uniform(0.5, 1);
    const double psi = i % 13 == 0 ? uniform(-0.2, 0.1) : std::min(std::atan(uniform(0, 3)), 1.1780972);
    const double phi = std::atan2(nx, ny);
    double theta;
    switch (i % 4) {
      case 0: theta = uniform(-1.6, 1.6); break;
      case 1: theta = roll + uniform(-0.2, 0.2); break;
      case 2: theta = roll - phi + psi; break;  // on the upper bound
      default: theta = std::nextafter(roll - phi - psi, -10.0); break;  // just below the lower one
    }
    const double plain = std::clamp(theta, roll - phi - psi, roll - phi + psi);
    const double got = autopilot_ground_clamp(theta, roll, nx, ny, psi);
    ASSERT_EQ(std::memcmp(&plain, &got, sizeof got), 0)
        << "theta " << theta << " roll " << roll << " n " << nx << ", " << ny << " psi " << psi;
    skipped += plain == theta && ny > 0 && std::fabs(theta - roll) + std::fabs(nx) / ny + 1e-9 <= psi;
  }
  EXPECT_GT(skipped, 10000);  // the quick answer was taken often enough to be tested
}
