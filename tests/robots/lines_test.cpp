// Recording racing lines from scripted riders: one line per counted segment, the candidate
// rules (spoilt, duplicate, too slow, eviction), and the statistics robots leave on lines.
#include <functional>
#include <set>

#include "tests/robots/lines_fixture.h"

TEST_F(LinesTest, TwoLapsRoundTheCircleGiveOneLinePerSegment) {
  circle_course_set(6);
  lines_table_create();
  ASSERT_EQ(lines_row_count(), 12);
  // From just before the first checkpoint to the first checkpoint of the third lap: the last
  // segment's line is recorded once the gate after it is passed.
  ride_circle(bikes[0], -0.3, 4 * M_PI + 0.1, 0, 60);

  const RiderTiming& rider = race_entrants[0].timing;
  std::set<int32_t> ids;
  for (int32_t row = 0; row < 12; ++row) {
    SCOPED_TRACE(row);
    ASSERT_EQ(row_lines(row), 1);
    const RacingLine& line = lines_slot(row, 0);
    const int32_t before = row == 0 ? race_start_tick : gate_tick(rider, row - 1);
    EXPECT_EQ(line.time_a, gate_tick(rider, row) - before);
    // The later gate's tick is taken when it is first touched; it moves on while the wheel
    // stays within its radius.
    EXPECT_NEAR(line.time_b, gate_tick(rider, row + 1) - before, 50);
    // One point every 32 steps of the stretch, each on the circle at the riding speed.
    EXPECT_NEAR(line.count, line.time_a / 32.0, 2.5);
    for (const LinePoint& p : line.points) {
      ASSERT_NEAR(std::hypot(p.x - CIRCLE_X, p.z - CIRCLE_Z), CIRCLE_RADIUS, 0.01);
      ASSERT_FLOAT_EQ(p.speed, 60);
    }
    EXPECT_EQ(line.tested, 0);
    EXPECT_EQ(line.min_a, LINE_TIME_NONE);
    ids.insert(line.line_id);
  }
  EXPECT_EQ(ids.size(), 12u);
  EXPECT_EQ(ids.count(0), 0u);
  // The first stretch starts where the rider stood at the start.
  EXPECT_NEAR(lines_slot(0, 0).points[0].z, CIRCLE_Z + CIRCLE_RADIUS * std::sin(-0.3), 0.5);
  EXPECT_TRUE(line_table.changed);
}

TEST_F(LinesTest, AirborneSamplesCarryNegativeSpeed) {
  course_set_sequential(3, 2);
  lines_table_create();
  for (double x = -50; x < 150; x += 50 * SIM_STEP) {
    pose(bikes[0], x, 0, 50, 0);
    if (x > -30 && x < -20) bikes[0]->front.depth = bikes[0]->rear.depth = 0;  // a jump
    step_rider(bikes[0]);
    ++sim_tick;
  }
  ASSERT_EQ(row_lines(0), 1);
  int airborne = 0;
  for (const LinePoint& p : lines_slot(0, 0).points) {
    EXPECT_FLOAT_EQ(std::fabs(p.speed), 50);
    airborne += p.speed < 0;
    EXPECT_EQ(p.speed < 0, p.x > -30 && p.x < -20) << p.x;
  }
  EXPECT_GT(airborne, 0);
}

TEST_F(LinesTest, UncountedGatesDoNotSplitASegment) {
  // Checkpoint 1 is timed but not counted: the second segment runs from checkpoint 0 to 2.
  course_set(5, {0, LAP_ENTRY_UNCOUNTED + 1, 2}, {3, LAP_ENTRY_UNCOUNTED + 4});
  lines_table_create();
  ASSERT_EQ(lines_row_count(), 3);
  const int32_t counted_before[] = {0, 1, 1, 2, 3, 3, 4, 4};
  for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(lines_counted_before(i), counted_before[i]) << i;
  const int32_t lap_index[] = {0, 2, 3, 5, 7};
  for (int32_t k = 0; k < 5; ++k) EXPECT_EQ(lines_lap_index(k), lap_index[k]) << k;
  const int32_t row_of[] = {0, 1, 2, 2, 2};
  for (int32_t n = 0; n < 5; ++n) EXPECT_EQ(lines_row_of(n), row_of[n]) << n;

  ride_straight(bikes[0], -50, course_x(3, 5), 0, 50);
  ASSERT_EQ(row_lines(0), 1);
  ASSERT_EQ(row_lines(1), 1);
  const RacingLine& second = lines_slot(1, 0);
  EXPECT_NEAR(second.points.front().x, 0, 15);
  EXPECT_NEAR(second.points.back().x, 200, 15);
  const RiderTiming& rider = race_entrants[0].timing;
  EXPECT_EQ(second.time_a, gate_tick(rider, 2) - gate_tick(rider, 0));
  EXPECT_NEAR(second.time_b, gate_tick(rider, 3) - gate_tick(rider, 0), 30);
}

TEST_F(LinesTest, SamePathTwiceKeepsOneLine) {
  course_set_sequential(3, 2);
  lines_table_create();
  // Two riders on exactly the same path in the same steps.
  for (double x = -50; x < 150; x += 50 * SIM_STEP) {
    for (Bike* bike : bikes) {
      pose(bike, x, 0, 50, 0);
      step_rider(bike);
    }
    ++sim_tick;
  }
  EXPECT_EQ(row_lines(0), 1);
  EXPECT_NE(log_text().find("auto pilot: 0 rejected (duplicate)\n"), std::string::npos) << log_text();
}

TEST_F(LinesTest, DebugLinesOnlyAtDebugLevel) {
  course_set_sequential(3, 2);
  lines_table_create();
  debug_level = 0;
  bikes[0]->touched_down = true;
  ride_straight(bikes[0], -50, 150, 0, 50);
  EXPECT_EQ(row_lines(0), 0);
  EXPECT_EQ(log_text(), "");
}

// The first segment of the straight course (50 ft to checkpoint 0) ridden at 50 ft/s gives a
// candidate of 5 points with time_b of 384 ticks (a score of 480) against a row prepared by
// each case.
TEST_F(LinesTest, CandidateRules) {
  struct Case {
    const char* name;
    std::function<void()> prepare;  // fills row 0
    bool touched;                   // the rider touched the ground with its body
    int expect_slot;                // slot that takes the candidate, -1 none
    const char* log;                // expected debug line ("" none)
  };
  // A full row of untested lines, each with a start of its own, of the given time_b.
  auto full_row = [](int32_t time_b) {
    for (int i = 0; i < LINE_SLOTS; ++i) put_line(0, i, -50, 3.0 * i, 20, time_b);
  };
  auto good = [](RacingLine& line, int32_t mean_b) {
    line.tested = 3;
    line.failures = 0;
    line.sum_b = 3 * mean_b;
  };
  const Case cases[] = {
      {"empty row", [] {}, false, 0, ""},
      {"first empty slot", [] { put_line(0, 0, -50, 0, 20, 100); put_line(0, 2, -50, 10, 20, 100); }, false, 1, ""},
      {"body touched the ground", [] {}, true, -1, "auto pilot: 0 canceled\n"},
      {"every line faster", [&] { full_row(100); }, false, -1, "auto pilot: 0 rejected (too slow)\n"},
      {"slowest line evicted", [&] { full_row(2000); put_line(0, 7, -50, 21, 20, 3000); }, false, 7,
       "auto pilot: evicting 0 (times: 11.72 23.44 tested (0 0): 0.00 0.00 repl: "},
      {"many good lines: the worst goes",
       [&] {
         full_row(2000);
         for (int i = 0; i < LINE_SLOTS; ++i) good(lines_slot(0, i), 1000);
         good(lines_slot(0, 9), 1500);
       },
       false, 9, "auto pilot: evicting 0 (times: 7.81 15.62 tested (3 0): 0.00 11.72 repl: "},
      {"few good lines are spared",
       [&] {
         full_row(1000);
         for (int i = 0; i < 22; ++i) good(lines_slot(0, i), 3000);
         for (int i = 22; i < LINE_SLOTS; ++i) lines_slot(0, i).failures = 1;
         put_line(0, 30, -50, 90, 20, 1200).failures = 1;
       },
       false, 30, "auto pilot: evicting 0 "},
      {"a shared start goes first",
       [&] {
         full_row(1500);
         put_line(0, 4, -50, 3.0 * 3 + 0.5, 20, 1500);  // starts beside slot 3
         put_line(0, 20, -50, 60, 20, 1900);            // slower, but its start is its own
       },
       false, 3, "auto pilot: evicting 0 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    course_set_sequential(3, 2);
    lines_table_create();
    c.prepare();
    std::vector<int32_t> ids;
    for (int i = 0; i < LINE_SLOTS; ++i) ids.push_back(lines_slot(0, i).line_id);
    bikes[0]->touched_down = c.touched;
    ride_straight(bikes[0], -50, 150, 0, 50);

    for (int i = 0; i < LINE_SLOTS; ++i) {
      const RacingLine& line = lines_slot(0, i);
      if (i != c.expect_slot) {
        EXPECT_EQ(line.line_id, ids[size_t(i)]) << "slot " << i;
        continue;
      }
      EXPECT_NE(line.line_id, ids[size_t(i)]);
      EXPECT_EQ(line.count, 5);
      EXPECT_EQ(line.time_b, 384);
      EXPECT_EQ(line.tested, 0);
      EXPECT_EQ(line.failures, 0);
      EXPECT_EQ(line.min_b, LINE_TIME_NONE);
    }
    if (c.log[0]) {
      EXPECT_NE(log_text().find(c.log), std::string::npos) << log_text();
    } else {
      EXPECT_EQ(log_text(), "");
    }
  }
}

TEST_F(LinesTest, ScoreRule) {
  struct Case {
    int32_t time_b, tested, failures, sum_b;
    int64_t score;
  } cases[] = {
      {1000, 0, 0, 0, 1250},           // untested: 5/4 of its recorded time
      {1000, 0, 2, 0, 1250 + 640},     // untested with failures: plus the penalty
      {1000, 4, 0, 3000, 750},         // tested: the mean time
      {1000, 3, 1, 3000, 160 + 1000},  // tested with failures: the penalty's share
      {2000000000, 0, 0, 0, 2500000000},  // no overflow with times from a file
  };
  for (const Case& c : cases) {
    RacingLine line{};
    line.time_b = c.time_b;
    line.tested = c.tested;
    line.failures = c.failures;
    line.sum_b = c.sum_b;
    EXPECT_EQ(lines_score(line), c.score) << c.time_b << " " << c.tested << " " << c.failures;
  }
}

// A robot follows a path along the straight course with the lines of rows 0 .. 3 in use.
struct RobotLinesTest : LinesTest {
  AutoPilot& pilot = autopilots[0];
  void SetUp() override {
    LinesTest::SetUp();
    course_set_sequential(3, 2);
    lines_table_create();
    pilot.personality = 1;
    for (int row = 0; row < 4; ++row) {
      put_line(row, 0, 100.0 * row - 100, 0, 10, 300);
      bikes[0]->lines_in_use[row] = lines_slot(row, 0).line_id;
    }
    for (int i = 0; i <= 60; ++i) pilot.path.push_back(LinePoint{float(-100 + 10 * i), 0, 0, 40, 0});
  }
  // Rides along +x at lateral z, keeping the path target on the first point ahead.
  void ride(double x0, double x1, double z, double speed) {
    for (double x = x0; x < x1; x += speed * SIM_STEP) {
      pose(bikes[0], x, z, speed, 0);
      pilot.path_target = std::clamp(int32_t(std::floor((x + 100) / 10)) + 1, 0, int32_t(pilot.path.size()) - 1);
      // The frame faces +x: its -z axis turned a quarter to the right.
      dMatrix3 r;
      dRFromAxisAndAngle(r, 0, 1, 0, -M_PI / 2);
      dBodySetRotation(bikes[0]->bodies[BODY_FRAME], r);
      step_rider(bikes[0]);
      ++sim_tick;
    }
  }
};

TEST_F(RobotLinesTest, RunsOnThePathAtItsPaceCreditTheLine) {
  ride(-50, course_x(2), 0, 38);
  // At checkpoint 1 the line of row 0 was credited with the start-to-0 and start-to-1 times,
  // at checkpoint 2 the line of row 1.
  const RiderTiming& rider = race_entrants[0].timing;
  const RacingLine& first = lines_slot(0, 0);
  EXPECT_EQ(first.tested, 1);
  EXPECT_EQ(first.failures, 0);
  EXPECT_EQ(first.sum_a, gate_tick(rider, 0) - race_start_tick);
  EXPECT_NEAR(first.min_b, gate_tick(rider, 1) - race_start_tick, 40);
  EXPECT_EQ(lines_slot(1, 0).tested, 1);
  EXPECT_NEAR(lines_slot(1, 0).sum_b, gate_tick(rider, 2) - gate_tick(rider, 0), 40);
  EXPECT_EQ(lines_slot(2, 0).tested, 0);
  // A credited line leaves the robot's lines in use; those of the stretches ahead stay.
  EXPECT_EQ(bikes[0]->lines_in_use[0], 0);
  EXPECT_EQ(bikes[0]->lines_in_use[1], 0);
  EXPECT_EQ(bikes[0]->lines_in_use[2], lines_slot(2, 0).line_id);
  EXPECT_EQ(bikes[0]->lines_in_use[3], lines_slot(3, 0).line_id);
  // Robots record no candidates of their own.
  EXPECT_EQ(row_lines(0), 1);
  EXPECT_EQ(lines_slot(0, 0).count, 10);
}

TEST_F(RobotLinesTest, ArrivingOffThePathOrTooFastIsAFailure) {
  struct Case {
    const char* name;
    double z, speed;
  } cases[] = {{"five feet beside its path", 5, 38}, {"faster than the path", 0, 45}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    ride(-50, course_x(1), c.z, c.speed);
    // Checkpoint 1 ends the stretch of row 1, whose line takes the failure.
    EXPECT_EQ(lines_slot(0, 0).tested, 0);
    EXPECT_EQ(lines_slot(1, 0).failures, 1);
    EXPECT_EQ(lines_slot(1, 0).tested, 0);
  }
}

TEST_F(RobotLinesTest, AFallCountsOnceAgainstTheCurrentLine) {
  ride(-50, course_x(0, 20), 0, 38);  // past checkpoint 0: on the stretch of row 1
  bikes[0]->touched_down = true;
  ride(course_x(0, 20), course_x(0, 50), 0, 38);
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(lines_slot(row, 0).failures, row == 1 ? 1 : 0) << row;
  }
  for (int32_t id : bikes[0]->lines_in_use) EXPECT_EQ(id, 0);
}

TEST_F(RobotLinesTest, WithoutLearningTheStatisticsStay) {
  lines_learn = false;
  ride(-50, course_x(2), 0, 38);
  bikes[0]->touched_down = true;
  ride(course_x(2), course_x(2, 40), 0, 38);
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(lines_slot(row, 0).tested, 0);
    EXPECT_EQ(lines_slot(row, 0).failures, 0);
  }
  EXPECT_FALSE(line_table.changed);
}

TEST_F(RobotLinesTest, AFinishedRobotSlowsAlongTheRestOfItsPath) {
  ride(-50, 95, 0, 38);
  const float position = autopilot_path_position(bikes[0]);
  EXPECT_FLOAT_EQ(position, 20);  // the target, with the point before it behind the frame
  race_entrants[0].timing.finished = true;
  lines_gate_passed(bikes[0], 1);
  const int32_t count = int32_t(pilot.path.size()), i0 = int32_t(position);
  for (int32_t i = 0; i < count; ++i) {
    const float expected = i < i0 ? 40 : 40 * (0.25f + 0.75f * float(count - i) / float(count - i0));
    EXPECT_FLOAT_EQ(pilot.path[size_t(i)].speed, expected) << i;
  }
}
