// Fixture for the racing-line tests: scripted riders (bikes in a fresh world whose frame is
// placed step by step, never simulated) on small synthetic courses, and the debug log they write.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "core/console.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "platform/vant.h"
#include "race/race.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "tests/race/course.h"
#include "tests/support/temp_dir.h"

// The log of this test process, opened once so the debug lines can be read back.
inline const std::string& test_log_path() {
  static const std::string path = [] {
    const char* base = getenv("SK_TEST_TMP");
    std::string dir = base ? base : "/tmp";
    std::filesystem::create_directories(dir);
    std::string p = dir + "/lines-log-" + std::to_string(getpid()) + ".txt";
    vant_log("VANT_LOGFILE=%s", p.c_str());
    return p;
  }();
  return path;
}

// The circle course: checkpoints round a circle of radius CIRCLE_RADIUS, each facing the way
// riders go round (angle growing); every entry counted, both laps all checkpoints. Gate
// progress looks back three gates, so a lap needs at least five checkpoints.
constexpr double CIRCLE_X = 1000, CIRCLE_Z = 1000, CIRCLE_RADIUS = 300;
inline void circle_course_set(int checkpoints) {
  timing_clear();
  timing.checkpoint_count = checkpoints;
  for (int i = 0; i < checkpoints; ++i) {
    const double a = 2 * M_PI * i / checkpoints;
    timing.checkpoints[i] = Checkpoint{20.0f, float(CIRCLE_X + CIRCLE_RADIUS * std::cos(a)), 0.0f,
                                       float(CIRCLE_Z + CIRCLE_RADIUS * std::sin(a)), float(-std::sin(a)), 0.0f,
                                       float(std::cos(a))};
    timing.lap_list[i] = i;
    timing.lap_list[checkpoints + i] = i;
  }
  timing.first_count = timing.normal_count = checkpoints;
  timing_normalise();
}

struct LinesTest : ::testing::Test {
  static constexpr int RIDERS = 2;
  Bike* bikes[RIDERS] = {};
  size_t log_start = 0;

  void SetUp() override {
    physics_world_create();
    sim_tick = 0;
    race_start_tick = 0;
    debug_level = 1;
    lines_learn = true;
    race_entrants_clear();
    for (int s = 0; s < RIDERS; ++s) {
      bikes[s] = bike_create("450sxf(2018)", s, "1", nullptr, nullptr, nullptr, nullptr);
      race_entrants[s].present = true;
      autopilot_reset(autopilots[s]);
    }
    log_start = read_file_bytes(test_log_path()).size();
  }
  void TearDown() override {
    for (Bike* bike : bikes) bike_destroy(bike);
    lines_table_free();
    timing_clear();
    debug_level = 0;
  }

  // The racing-line lines the log gained since the test began.
  std::string log_text() const {
    std::string text = read_file_bytes(test_log_path()).substr(log_start), lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
      end = std::min(text.find('\n', at), text.size());
      if (text.find("auto pilot:", at) < end) lines += text.substr(at, end - at + 1);
    }
    return lines;
  }

  // Places a rider's frame at (x, z) moving at (vx, vz) ft/s with both wheels on the ground.
  static void pose(Bike* bike, double x, double z, double vx, double vz) {
    dBodySetPosition(bike->bodies[BODY_FRAME], x, 0, z);
    dBodySetLinearVel(bike->bodies[BODY_FRAME], vx, 0, vz);
    bike->front.depth = bike->rear.depth = 0.1f;
  }
  // One step of a rider's line bookkeeping and gate progress (its frame stands in for the wheel).
  static void step_rider(Bike* bike) {
    lines_record_step(bike);
    const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
    const GateStep step = gate_progress(race_entrants[bike->tag].timing, float(p[0]), float(p[2]), sim_tick);
    if (step.advanced && step.counted) lines_gate_passed(bike, step.index);
  }
  // Rides straight along +x at lateral z from x0 until x1 at the given speed (ft/s).
  void ride_straight(Bike* bike, double x0, double x1, double z, double speed) {
    for (double x = x0; x < x1; x += speed * SIM_STEP) {
      pose(bike, x, z, speed, 0);
      step_rider(bike);
      ++sim_tick;
    }
  }
  // Rides round the circle course (offset ft outside its radius) from angle a0 to a1 (rad).
  void ride_circle(Bike* bike, double a0, double a1, double offset, double speed) {
    const double r = CIRCLE_RADIUS + offset;
    for (double a = a0; a < a1; a += speed * SIM_STEP / r) {
      pose(bike, CIRCLE_X + r * std::cos(a), CIRCLE_Z + r * std::sin(a), -speed * std::sin(a), speed * std::cos(a));
      step_rider(bike);
      ++sim_tick;
    }
  }

  // The lines of a row that are not empty.
  static int row_lines(int32_t row) {
    int n = 0;
    for (int i = 0; i < LINE_SLOTS; ++i) n += lines_slot(row, i).count > 0;
    return n;
  }
  // Puts a line of `points` points from (x, z) along +x into a slot directly.
  static RacingLine& put_line(int32_t row, int slot, double x, double z, int points, int32_t time_b) {
    RacingLine& line = lines_slot(row, slot);
    line.points.clear();
    for (int i = 0; i < points; ++i) line.points.push_back(LinePoint{float(x + 10 * i), 0, float(z), 40, 0});
    line.count = points;
    line.time_a = time_b / 2;
    line.time_b = time_b;
    line.tested = line.failures = line.sum_a = line.sum_b = 0;
    line.min_a = line.min_b = LINE_TIME_NONE;
    line.line_id = 1000 + row * LINE_SLOTS + slot;
    return line;
  }
};
