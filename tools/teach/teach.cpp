// skorvan-teach: rides a track's first laps so its robots have racing lines. A rider of our
// own rides the player's slot through its controls only, along the course (the generator's
// description where there is one, else the line through the checkpoints), varying its line
// and pace from lap to lap; the game's own line recording keeps what it rides, exactly as for
// a human, and the three lines files are written at the end.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <ode/ode.h>

#include "core/console.h"
#include "core/game.h"
#include "core/session.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/steering.h"
#include "physics/world.h"
#include "race/race.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "tools/data/course.h"
#include "tools/sim/headless.h"
#include "track/terrain.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double POINT_SECONDS = 0.25;  // the recording's spacing, which the rider's path keeps
constexpr double GRAVITY = 32;
constexpr double FRAME_HEIGHT = 2.5;   // ft of the frame above the ground
constexpr double EDGE_MARGIN = 5;      // ft kept from the track's edge
constexpr double BRAKING = 14;         // ft/s² the planned speeds slow down at
constexpr double ACCELERATION = 9;     // ft/s² they speed up at
// ft/s over jumps and bumps at every pace: slow enough to roll the triple's mounds, where a
// faster bike that cannot clear the gaps lands its frame on their faces (a touch-down).
constexpr double JUMP_SPEED = 14;
constexpr int32_t LAUNCH_TICKS = 256;  // straight ahead off the gate
constexpr double GATE_MERGE = 250;     // ft from the gate to the rider's own line
constexpr double LOOP_SPEED = 70;      // ft/s top speed on the loop at pace 1
constexpr int RIDES_PER_LAP = 8;       // rides from the gate allowed per lap asked for
constexpr double START_SPEED = 50;     // ft/s top speed of the start straight at pace 1
// After its laps the rider also starts from these other gate places and rides the first
// START_ROWS segments, so a robot finds a line beginning near its own place on the gate instead
// of crossing the gate to the one place the laps started from.
constexpr int GATE_PLACES[] = {5, 10, 15, 20, 25, 30, 35, 39};
constexpr int32_t START_ROWS = 4;

// One point of the course's centre line.
struct Centre {
  double x, z;
  double dx, dz;     // unit direction of travel
  double curvature;  // 1/ft, > 0 turning left
  double width;      // ft
  double lift;       // ft of a jump or bump above the natural ground
};

// The centre line: the start stretch, then the loop that repeats.
struct CentreLine {
  std::vector<Centre> start, loop;
  double step;  // ft between samples
};

struct TeachOptions {
  const char* track = "rabbithill";
  int laps = 6;
  const char* out = nullptr;
  const char* check = nullptr;  // folder of lines files the rides must reproduce exactly
  unsigned seed = 1;
  bool verbose = false;
  bool trace = false;
};

// Pace range of the laps recorded for each skill (novice, amateur, expert).
constexpr double PACE_MIN[LINE_PLAN_TYPES] = {0.5, 0.62, 0.74};
constexpr double PACE_MAX[LINE_PLAN_TYPES] = {0.6, 0.72, 0.84};

void usage() {
  fprintf(stderr, "usage: skorvan-teach [--track NAME] [--laps N] [--seed N] [--out DIR] [--check DIR] [--verbose] [--debug] [--trace]\n");
}

bool parse(int argc, char** argv, TeachOptions* o) {
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    const bool has = value != nullptr;
    if (!strcmp(a, "--track") && has) {
      o->track = argv[++i];
    } else if (!strcmp(a, "--laps") && has) {
      o->laps = atoi(argv[++i]);
    } else if (!strcmp(a, "--seed") && has) {
      o->seed = unsigned(strtoul(argv[++i], nullptr, 10));
    } else if (!strcmp(a, "--out") && has) {
      o->out = argv[++i];
    } else if (!strcmp(a, "--check") && has) {
      o->check = argv[++i];
    } else if (!strcmp(a, "--debug")) {
      debug_level = 1;
    } else if (!strcmp(a, "--trace")) {
      o->trace = true;
    } else if (!strcmp(a, "--verbose")) {
      o->verbose = true;
    } else {
      usage();
      return false;
    }
  }
  if (o->laps < 1) {
    fprintf(stderr, "laps must be at least 1\n");
    return false;
  }
  return true;
}

Centre centre_of(const CourseSample& q) { return {q.x, q.z, q.dx, q.dz, q.curvature, q.width, q.lift}; }

// The generator's own description of its default track.
CentreLine course_centre_line() {
  Course course;
  course_build(&course);
  CentreLine line;
  line.step = COURSE_SAMPLE_STEP;
  for (const CourseSample& q : course.start) line.start.push_back(centre_of(q));
  const size_t n = course.loop.size();
  for (size_t k = 0; k < n; ++k) line.loop.push_back(centre_of(course.loop[(size_t(course.merge_index) + k) % n]));
  return line;
}

// Any other track: straight lines through the checkpoints in lap order, from the gate.
CentreLine checkpoint_centre_line(double gate_x, double gate_z) {
  CentreLine line;
  line.step = 1;
  auto walk = [&](std::vector<Centre>& out, double x0, double z0, const int32_t* list, int count, bool closed) {
    std::vector<std::pair<double, double>> corners;
    if (!closed) corners.push_back({x0, z0});
    for (int i = 0; i < count; ++i) {
      const Checkpoint& c = timing.checkpoints[list[i] % LAP_ENTRY_UNCOUNTED];
      corners.push_back({c.px, c.pz});
    }
    if (closed && !corners.empty()) corners.push_back(corners.front());
    for (size_t i = 0; i + 1 < corners.size(); ++i) {
      const double dx = corners[i + 1].first - corners[i].first, dz = corners[i + 1].second - corners[i].second;
      const double len = std::hypot(dx, dz);
      for (double s = 0; s < len; s += line.step) {
        const Checkpoint& c = timing.checkpoints[list[std::min<int>(int(i), count - 1)] % LAP_ENTRY_UNCOUNTED];
        out.push_back({corners[i].first + dx * s / len, corners[i].second + dz * s / len, dx / len, dz / len, 0,
                       2 * c.radius, 0});
      }
    }
  };
  walk(line.start, gate_x, gate_z, timing.lap_list, timing.first_count, false);
  walk(line.loop, 0, 0, timing.lap_list + timing.first_count, timing.normal_count, true);
  // Curvature from the turn of the direction over a few samples, smoothed by the spacing.
  for (std::vector<Centre>* part : {&line.start, &line.loop}) {
    std::vector<Centre>& c = *part;
    const int span = 10;
    for (size_t i = 0; i < c.size(); ++i) {
      const Centre& a = c[i >= span ? i - span : 0];
      const Centre& b = c[std::min(i + span, c.size() - 1)];
      const double turn = std::atan2(a.dx * b.dz - a.dz * b.dx, a.dx * b.dx + a.dz * b.dz);
      c[i].curvature = -turn / (2 * span * line.step);
    }
  }
  return line;
}

// One lap's way along the centre line: a lateral offset that wanders across the track and a
// pace that scales every planned speed.
struct LapStyle {
  double pace;
  double offset_bias, offset_amplitude, wavelength, phase;
};

LapStyle lap_style(std::mt19937& random, int skill) {
  std::uniform_real_distribution<double> u(0, 1);
  LapStyle style;
  style.pace = PACE_MIN[skill] + (PACE_MAX[skill] - PACE_MIN[skill]) * u(random);
  style.offset_bias = (u(random) - 0.5) * 0.6;
  style.offset_amplitude = u(random) * 0.5;
  style.wavelength = 300 + 600 * u(random);
  style.phase = 2 * PI * u(random);
  return style;
}

// Points of one stretch of the centre line, 0.25 s apart at the planned speed: the fastest
// speed the bend's grip allows, slowed for jumps, then limited by braking and acceleration.
void plan_points(const std::vector<Centre>& centre, double step, const LapStyle& style, double top_speed,
                 double entry_speed, const double* from_offset, std::vector<LinePoint>& out) {
  const size_t n = centre.size();
  if (n == 0) return;
  std::vector<double> speed(n);
  for (size_t i = 0; i < n; ++i) {
    const Centre& c = centre[i];
    const double grip = 0.8;
    double v = top_speed;
    if (std::fabs(c.curvature) > 1e-6) v = std::min(v, std::sqrt(grip * GRAVITY / std::fabs(c.curvature)));
    speed[i] = v * style.pace;
    if (c.lift > 0.25) speed[i] = std::min(speed[i], JUMP_SPEED);
  }
  for (size_t i = n - 1; i-- > 0;)
    speed[i] = std::min(speed[i], std::sqrt(speed[i + 1] * speed[i + 1] + 2 * BRAKING * step));
  speed[0] = std::min(speed[0], std::max(entry_speed, 15.0));
  for (size_t i = 1; i < n; ++i)
    speed[i] = std::min(speed[i], std::sqrt(speed[i - 1] * speed[i - 1] + 2 * ACCELERATION * step));
  double s = 0;
  const double length = step * double(n - 1);
  while (s <= length) {
    const size_t i = std::min(size_t(s / step), n - 1);
    const Centre& c = centre[i];
    const double half = std::max(c.width * 0.5 - EDGE_MARGIN, 0.0);
    const double wander = style.offset_bias + style.offset_amplitude * std::sin(2 * PI * s / style.wavelength + style.phase);
    double offset = std::clamp(wander, -1.0, 1.0) * half;
    // From the gate the rider drifts over to its line within the first stretch.
    if (from_offset) offset += (*from_offset - offset) * std::max(0.0, 1 - s / GATE_MERGE);
    // Left of the direction of travel (dx, dz) is (dz, -dx).
    const double x = c.x + c.dz * offset, z = c.z - c.dx * offset;
    const double y = terrain_height_at(&track_terrain, float(x), float(z)) + FRAME_HEIGHT;
    out.push_back({float(x), float(y), float(z), float(speed[i]), 0});
    s += std::max(speed[i], 5.0) * POINT_SECONDS;
  }
}

struct LapRecord {
  double seconds;
  int crashes;
  int added;  // candidate lines the lap added to the table
};

int line_count() {
  int lines = 0;
  for (const RacingLine& l : line_table.slots) lines += l.count > 0;
  return lines;
}

struct SkillResult {
  std::vector<LapRecord> laps;
  int touchdowns = 0;  // rides that ended because a body part touched the ground
};

// One ride from the gate place of `slot`: until the laps are done, or with rows > 0 until that
// many segments are recorded, or until a body part touches the ground (from then on the
// recording of this rider no longer counts, so the teacher starts over).
void ride(const TeachOptions& o, const CentreLine& line, int skill, std::mt19937& random, SkillResult& result,
          int slot = 0, int32_t rows = 0) {
  Bike* bike = game.slot_bike[slot];
  AutoPilot& pilot = autopilots[slot];
  autopilot_reset(pilot);
  pilot.path.reserve(4096);
  pilot.last_progress_tick = sim_tick;

  LapStyle style = lap_style(random, skill);
  const dReal* at = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  const Centre& first = line.start.front();
  const double gate_offset = (at[0] - first.x) * first.dz - (at[2] - first.z) * first.dx;
  plan_points(line.start, line.step, style, START_SPEED, 0, &gate_offset, pilot.path);
  bool on_loop = false;
  const RiderTiming& timing_record = race_entrants[slot].timing;
  int32_t laps_done = 0, crashes_before = 0, lines_before = line_count();
  const int32_t limit = race_start_tick + int32_t(o.laps * 600 / SIM_STEP);
  while (int(result.laps.size()) < o.laps && sim_tick < limit) {
    if (rows > 0 && lines_counted_before(timing_record.gate_index) >= rows) return;
    if (pilot.path_target + 40 >= int32_t(pilot.path.size())) {
      // Keep 30 points behind the target and add the next lap of the loop in a new style.
      if (pilot.path_target > 30) {
        pilot.path.erase(pilot.path.begin(), pilot.path.begin() + (pilot.path_target - 30));
        pilot.path_target = 30;
      }
      if (on_loop) style = lap_style(random, skill);
      on_loop = true;
      const float entry = pilot.path.empty() ? 0 : std::fabs(pilot.path.back().speed);
      plan_points(line.loop, line.step, style, LOOP_SPEED, entry, nullptr, pilot.path);
    }
    RiderControls& c = bike->controls;
    if (sim_tick < race_start_tick) {
      c = {};
      c.front_brake = c.rear_brake = 1;
      c.sit_dab = 1;  // a foot down on the gate
      pilot.last_progress_tick = sim_tick;
    } else if (sim_tick < race_start_tick + LAUNCH_TICKS && bike_frame_speed(bike) < 15) {
      // Launch straight ahead, letting the clutch out over a quarter second.
      c = {};
      c.throttle = 1;
      c.clutch = std::min(1.0f, float(sim_tick - race_start_tick) * float(SIM_STEP) * 4);
      pilot.last_progress_tick = sim_tick;
    } else {
      autopilot_drive(bike, pilot, false);
    }
    if (o.trace && sim_tick % 32 == 0) {
      const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
      fprintf(stderr, "t %.2f pos %.1f %.1f %.1f v %.1f roll %.2f target %d/%zu mode %d steer %.2f thr %.2f brk %.2f clutch %.2f gear %d crash %d\n",
              sim_tick * SIM_STEP, p[0], p[1], p[2], bike_frame_speed(bike), roll_angle(bike), pilot.path_target,
              pilot.path.size(), pilot.ap_mode, c.steer, c.throttle, c.front_brake, c.clutch, bike->gear, bike->crash_timer);
    }
    session_step();
    const int32_t laps_now = laps_completed(timing_record);
    if (laps_now > laps_done) {
      const int32_t ticks = lap_ticks(timing_record, laps_now, race_start_tick);
      result.laps.push_back({ticks * SIM_STEP, bike->crash_count - crashes_before, line_count() - lines_before});
      crashes_before = bike->crash_count;
      lines_before = line_count();
      laps_done = laps_now;
      if (o.verbose) fprintf(stderr, "%s lap %d: %.3f s\n", LINE_SET_NAMES[skill], laps_now, ticks * SIM_STEP);
    }
    if (bike->touched_down) {
      result.touchdowns++;
      if (o.verbose)
        fprintf(stderr, "%s: touched down at %.1f s into the race at x %.0f z %.0f, starting over\n",
                LINE_SET_NAMES[skill], (sim_tick - race_start_tick) * SIM_STEP,
                dBodyGetPosition(bike->bodies[BODY_FRAME])[0], dBodyGetPosition(bike->bodies[BODY_FRAME])[2]);
      return;
    }
  }
}

// Rides laps for one skill, starting over from the gate after every touch-down; the line table
// carries over from ride to ride through the home directory's lines file.
SkillResult teach_skill(const TeachOptions& o, const CentreLine& line, int skill, std::mt19937& random) {
  int lineup[SLOT_COUNT] = {};
  lineup[0] = LINEUP_PLAYER;
  SkillResult result;
  for (int attempt = 0; attempt < RIDES_PER_LAP * o.laps && int(result.laps.size()) < o.laps; ++attempt) {
    sim_tick = int32_t(o.seed + attempt);
    if (!session_reset(lineup, false, false, 0, o.laps + 1, skill)) break;
    if (attempt == 0) lines_clear();  // each skill learns only from this teacher's own rides
    line_table.changed = true;
    ride(o, line, skill, random, result);
  }
  // Rides from other gate places, with a generator of their own so the laps above stay as
  // they are.
  std::mt19937 start_random(o.seed + 1000u * unsigned(skill + 1));
  for (int place : GATE_PLACES) {
    int start_lineup[SLOT_COUNT] = {};
    start_lineup[place] = LINEUP_PLAYER;
    sim_tick = int32_t(o.seed + place);
    if (!session_reset(start_lineup, false, false, 0, o.laps + 1, skill)) break;
    line_table.changed = true;
    SkillResult start;
    ride(o, line, skill, start_random, start, place, START_ROWS);
    result.touchdowns += start.touchdowns;
  }
  return result;
}

bool write_lines(const char* dir, int skill) {
  const std::string path = std::string(dir) + "/" + LINE_SET_NAMES[skill];
  VfsFile* file = vfs_open(path.c_str(), "wb");
  if (!file) {
    fprintf(stderr, "can't write '%s'\n", path.c_str());
    return false;
  }
  const bool ok = lines_write(file);
  vfs_close(file);
  return ok;
}

// The whole text of a file (its ".gz" variant too), empty when it can't be read.
std::string read_text(const std::string& path) {
  std::string text;
  VfsFile* file = vfs_open(path.c_str(), "rb");
  if (!file) return text;
  char buffer[65536];
  int got;
  while ((got = vfs_read(file, buffer, int(sizeof buffer))) > 0) text.append(buffer, size_t(got));
  vfs_close(file);
  return text;
}

// The rides are deterministic, so a track's shipped lines files must be exactly what they write.
bool check_lines(const char* dir, int skill) {
  char scratch[] = "/tmp/skorvan-teach-XXXXXX";
  if (!mkdtemp(scratch)) return false;
  const bool written = write_lines(scratch, skill);
  const std::string ours = std::string(scratch) + "/" + LINE_SET_NAMES[skill];
  const std::string made = read_text(ours);
  std::remove(ours.c_str());
  rmdir(scratch);
  const std::string shipped_path = std::string(dir) + "/" + LINE_SET_NAMES[skill];
  const std::string shipped = read_text(shipped_path);
  if (written && !made.empty() && made == shipped) return true;
  size_t at = 0;
  while (at < made.size() && at < shipped.size() && made[at] == shipped[at]) ++at;
  fprintf(stderr, "%s differs from what the teacher rides (first difference at byte %zu of %zu)\n",
          shipped_path.c_str(), at, made.size());
  return false;
}

// Lines per row, ten rows to a printed line.
void print_rows() {
  const int32_t rows = lines_row_count();
  for (int32_t row = 0; row < rows; ++row) {
    int lines = 0;
    for (int i = 0; i < LINE_SLOTS; ++i) lines += lines_slot(row, i).count > 0;
    printf(row % 10 == 0 ? "  rows %3d-:" : "", row);
    printf(" %2d", lines);
    if (row % 10 == 9 || row + 1 == rows) printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  TeachOptions o;
  if (!parse(argc, argv, &o)) return 1;
  headless_prepare(o.track);

  std::mt19937 random(o.seed);
  CentreLine line;
  int status = 0;
  for (int skill = 0; skill < LINE_PLAN_TYPES; ++skill) {
    if (skill == 0 || line.loop.empty()) {
      int lineup[SLOT_COUNT] = {};
      lineup[0] = LINEUP_PLAYER;
      if (!session_reset(lineup, false, false, 0, 1, skill) || !timing.present) {
        fprintf(stderr, "can't load track '%s' with timing gates\n", o.track);
        status = 1;
        break;
      }
      const dReal* p = dBodyGetPosition(game.slot_bike[0]->bodies[BODY_FRAME]);
      line = strcmp(o.track, "rabbithill") == 0 ? course_centre_line() : checkpoint_centre_line(p[0], p[2]);
    }
    const SkillResult result = teach_skill(o, line, skill, random);
    const std::vector<LapRecord>& laps = result.laps;
    printf("%s: %d lines in %d rows (first lap %d, repeating lap %d), %d rides ended by a touch-down\n",
           LINE_SET_NAMES[skill], line_count(), lines_row_count(), line_table.first_lines, line_table.normal_lines,
           result.touchdowns);
    for (size_t i = 0; i < laps.size(); ++i)
      printf("  lap %zu  %8.3f s  crashes %d  lines added %d\n", i + 1, laps[i].seconds, laps[i].crashes,
             laps[i].added);
    print_rows();
    if (int(laps.size()) < o.laps) {
      fprintf(stderr, "%s: only %zu of %d laps completed\n", LINE_SET_NAMES[skill], laps.size(), o.laps);
      status = 1;
    }
    if (o.out && !write_lines(o.out, skill)) status = 1;
    if (o.check && !check_lines(o.check, skill)) status = 1;
  }
  session_free_bikes();
  track_free();
  physics_world_destroy();
  return status;
}
