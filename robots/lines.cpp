// Racing lines: the line table, the recording of riders' paths into candidate lines at counted
// gates, the statistics robots gather while they follow lines, and the "ct03" lines files.
#include "robots/lines.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/console.h"
#include "core/tick.h"
#include "files/memory.h"
#include "files/replace.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/steering.h"
#include "platform/vant.h"
#include "race/race.h"
#include "robots/autopilot.h"

LineTable line_table;
bool lines_learn = true;

namespace {

// A rider's recording: one path per parity of counted gates passed, each with its dirty bit
// (a body part touched the ground while it recorded).
struct LineRecorder {
  std::vector<LinePoint> path[2];
  bool dirty[2];
  bool fall_counted;  // a robot's fall has already counted against its line
};
LineRecorder recorders[SLOT_COUNT];

// Room reserved in a path the first time it records: over a minute of riding, so sampling
// does not allocate on ordinary segments.
constexpr size_t PATH_RESERVE = 512;
// Points within this of each other (ft², ft/s) make two lines the same.
constexpr float DUPLICATE_DISTANCE_SQUARED = 1.0f / 256;
constexpr float DUPLICATE_SPEED = 0.0625f;
// Lines whose first points are closer than this (ft²) share a start.
constexpr float SHARED_START_SQUARED = 4.0f;
// Good lines (failures < tested) are spared from eviction while fewer than this many exist.
constexpr int GOOD_LINES_KEPT = 23;
// A robot is on its line when the frame is this close (ft) to its path ...
constexpr double ON_LINE_DISTANCE = 4.0;
// ... and no faster than the path's speed divided by this.
constexpr double ON_LINE_SPEED_FACTOR = 0.9375;
// Statistics stay below these (file values and long learning alike).
constexpr int32_t SUM_LIMIT = 100000000;
constexpr int32_t COUNT_LIMIT = 65535;
constexpr int NORMALISE_ROUNDS = 16;

// Where each counted lap entry sits in its part of the lap list, and how many counted entries
// precede each position (prefix[i] for positions < i).
std::vector<int32_t> first_positions, normal_positions, first_prefix, normal_prefix;
int32_t next_line_id = 1;

bool debug() { return debug_level != 0; }

void slot_empty(RacingLine& line) {
  std::vector<LinePoint>().swap(line.points);
  line.count = 0;
  line.time_a = line.time_b = 0;
  line.tested = 0;
  line.min_a = line.min_b = LINE_TIME_NONE;
  line.sum_a = line.sum_b = 0;
  line.failures = 0;
  line.last_picked = 0;
  line.line_id = 0;
}

void recorder_clear(LineRecorder& rec) {
  for (int p = 0; p < 2; ++p) {
    rec.path[p].clear();
    rec.dirty[p] = false;
  }
  rec.fall_counted = false;
}

LineRecorder* recorder_of(const Bike* bike) {
  return bike && bike->tag >= 0 && bike->tag < SLOT_COUNT ? &recorders[bike->tag] : nullptr;
}

const RiderTiming& timing_of(const Bike* bike) { return race_entrants[bike->tag].timing; }

// Counted gates the rider has touched (or skipped): the sequence index of the stretch it rides.
int32_t counted_passed(const RiderTiming& rider) {
  return lines_counted_before(static_cast<int32_t>(std::min<size_t>(rider.gates.size(), GATE_INDEX_MAX)));
}

// Tick at counted gate k; gate -1 is the start of the race. -1 when unknown.
int32_t counted_tick(const RiderTiming& rider, int32_t k) {
  if (k == -1) return race_start_tick >= 0 ? race_start_tick : -1;
  if (k < -1) return -1;
  return gate_tick(rider, lines_lap_index(k));
}

// Times of the stretch ending at counted gate g - 1 (a) and of it and the next (b). False when
// a tick is unknown or the times are not positive.
bool segment_times(const RiderTiming& rider, int32_t g, int32_t& time_a, int32_t& time_b) {
  const int32_t t0 = counted_tick(rider, g - 2), t1 = counted_tick(rider, g - 1), t2 = counted_tick(rider, g);
  if (t0 < 0 || t1 < 0 || t2 < 0) return false;
  time_a = t1 - t0;
  time_b = t2 - t0;
  return time_a > 0 && time_b > time_a;
}

// Halves the counts (keeping the mean times) until the sums and counts are in range, then
// clamps them; negative counts from a file become 0 so the score's divisions stay sound.
void statistics_normalise(RacingLine& line) {
  line.tested = std::max(line.tested, 0);
  line.failures = std::max(line.failures, 0);
  for (int round = 0; round < NORMALISE_ROUNDS &&
                      (line.sum_b > SUM_LIMIT || line.tested > COUNT_LIMIT || line.failures > COUNT_LIMIT);
       ++round) {
    const int32_t tested = line.tested / 2;
    if (line.tested > 0) {
      line.sum_a = static_cast<int32_t>(static_cast<int64_t>(line.sum_a) * tested / line.tested);
      line.sum_b = static_cast<int32_t>(static_cast<int64_t>(line.sum_b) * tested / line.tested);
    } else {
      line.sum_a /= 2;
      line.sum_b /= 2;
    }
    line.tested = tested;
    line.failures /= 2;
  }
  line.sum_a = std::min(line.sum_a, SUM_LIMIT);
  line.sum_b = std::min(line.sum_b, SUM_LIMIT);
  line.tested = std::min(line.tested, COUNT_LIMIT);
  line.failures = std::min(line.failures, COUNT_LIMIT);
}

void line_fill(RacingLine& line, const std::vector<LinePoint>& points, int32_t time_a, int32_t time_b) {
  line.points.assign(points.begin(), points.end());
  line.count = static_cast<int32_t>(points.size());
  line.time_a = time_a;
  line.time_b = time_b;
  line.tested = 0;
  line.min_a = line.min_b = LINE_TIME_NONE;
  line.sum_a = line.sum_b = 0;
  line.failures = 0;
  line.last_picked = 0;
  line.line_id = next_line_id++;
}

bool same_path(const RacingLine& line, const std::vector<LinePoint>& path) {
  if (line.count != static_cast<int32_t>(path.size())) return false;
  for (size_t i = 0; i < path.size(); ++i) {
    const LinePoint &a = line.points[i], &b = path[i];
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    if (std::fabs(a.speed - b.speed) > DUPLICATE_SPEED) return false;
    if (dx * dx + dy * dy + dz * dz > DUPLICATE_DISTANCE_SQUARED) return false;
  }
  return true;
}

float start_distance_squared(const RacingLine& a, const RacingLine& b) {
  const float dx = a.points[0].x - b.points[0].x, dy = a.points[0].y - b.points[0].y,
              dz = a.points[0].z - b.points[0].z;
  return dx * dx + dy * dy + dz * dz;
}

// The slot of the row to give up for a new line: the highest score, where a line with a start
// of its own counts 3/4, and good lines are spared while there are few of them. -1 = none.
int eviction_victim(int32_t row) {
  int64_t score[LINE_SLOTS];
  int good = 0;
  for (int i = 0; i < LINE_SLOTS; ++i) {
    const RacingLine& line = lines_slot(row, i);
    if (line.count == 0) continue;
    if (line.failures < line.tested) ++good;
    bool shared = false;
    for (int j = 0; j < LINE_SLOTS && !shared; ++j) {
      const RacingLine& other = lines_slot(row, j);
      shared = j != i && other.count > 0 && start_distance_squared(line, other) < SHARED_START_SQUARED;
    }
    score[i] = shared ? lines_score(line) : lines_score(line) * 3 / 4;
  }
  int victim = -1;
  for (int i = 0; i < LINE_SLOTS; ++i) {
    const RacingLine& line = lines_slot(row, i);
    if (line.count == 0) continue;
    if (good < GOOD_LINES_KEPT && line.failures < line.tested) continue;
    if (victim < 0 || score[i] > score[victim]) victim = i;
  }
  return victim;
}

// The path of the stretch ending at counted gate g - 1 becomes a line of its row, unless it is
// spoilt, already known, or slower than every line it could replace.
void record_candidate(LineRecorder& rec, const RiderTiming& rider, int32_t g) {
  const int parity = (g - 1) & 1;
  std::vector<LinePoint>& path = rec.path[parity];
  const int32_t row = lines_row_of(g - 1);
  int32_t time_a, time_b;
  if (!segment_times(rider, g, time_a, time_b)) {
    // Without the times nothing is recorded.
  } else if (path.empty() || rec.dirty[parity]) {
    if (debug()) vant_log("auto pilot: %d canceled\n", row);
  } else {
    int slot = -1;
    bool duplicate = false;
    for (int i = 0; i < LINE_SLOTS && !duplicate; ++i) {
      const RacingLine& line = lines_slot(row, i);
      if (line.count == 0) {
        if (slot < 0) slot = i;
      } else {
        duplicate = same_path(line, path);
      }
    }
    if (duplicate) {
      if (debug()) vant_log("auto pilot: %d rejected (duplicate)\n", row);
    } else if (slot >= 0) {
      line_fill(lines_slot(row, slot), path, time_a, time_b);
      line_table.changed = true;
    } else {
      slot = eviction_victim(row);
      RacingLine* victim = slot >= 0 ? &lines_slot(row, slot) : nullptr;
      if (!victim || lines_score(*victim) < static_cast<int64_t>(time_b) * 5 / 4) {
        if (debug()) vant_log("auto pilot: %d rejected (too slow)\n", row);
      } else {
        if (debug()) {
          const double mean_a = victim->tested > 0 ? double(victim->sum_a) / victim->tested * SIM_STEP : 0;
          const double mean_b = victim->tested > 0 ? double(victim->sum_b) / victim->tested * SIM_STEP : 0;
          vant_log("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n", row,
                   victim->time_a * SIM_STEP, victim->time_b * SIM_STEP, victim->tested, victim->failures, mean_a,
                   mean_b, time_a * SIM_STEP, time_b * SIM_STEP);
        }
        line_fill(*victim, path, time_a, time_b);
        line_table.changed = true;
      }
    }
  }
  path.clear();
  rec.dirty[parity] = false;
}

void clear_in_use(Bike* bike) {
  for (int32_t& id : bike->lines_in_use) id = 0;
}

void count_failure(int32_t line_id) {
  RacingLine* line = lines_find(line_id);
  if (!line || !lines_learn) return;
  line->failures = std::min(line->failures + 1, COUNT_LIMIT);
  line_table.changed = true;
}

// Distance (ft) from point (x, y, z) to the line through p and q (to p when they coincide).
double distance_to_line(const double x[3], const LinePoint& p, const LinePoint& q) {
  const double d[3] = {double(q.x) - p.x, double(q.y) - p.y, double(q.z) - p.z};
  const double w[3] = {x[0] - p.x, x[1] - p.y, x[2] - p.z};
  const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  const double t = dd > 0 ? (w[0] * d[0] + w[1] * d[1] + w[2] * d[2]) / dd : 0.0;
  const double e[3] = {w[0] - t * d[0], w[1] - t * d[1], w[2] - t * d[2]};
  return std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
}

// A robot reached counted gate g (>= 1): the line of the stretch before is credited when the
// robot arrived on its path at the path's pace, else the stretch just ridden counts a failure.
// The entries used here are cleared; those of the stretches ahead stay for their own gates.
void robot_run_end(Bike* bike, const RiderTiming& rider, int32_t g) {
  const AutoPilot& pilot = *autopilot_of(bike);
  bool on_line = false;
  if (!pilot.path.empty()) {
    const int32_t count = static_cast<int32_t>(pilot.path.size());
    const int32_t i = static_cast<int32_t>(std::floor(autopilot_path_position(bike)));
    const LinePoint& p = pilot.path[size_t(std::clamp(i - 1, 0, count - 1))];
    const LinePoint& q = pilot.path[size_t(std::clamp(i, 0, count - 1))];
    const dReal* pos = dBodyGetPosition(bike->bodies[BODY_FRAME]);
    const double frame[3] = {pos[0], pos[1], pos[2]};
    const double pace = ON_LINE_SPEED_FACTOR * bike_frame_speed(bike);
    on_line = distance_to_line(frame, p, q) <= ON_LINE_DISTANCE &&
              (pace <= std::fabs(p.speed) || pace <= std::fabs(q.speed));
  }
  int32_t time_a, time_b;
  if (on_line && segment_times(rider, g, time_a, time_b)) {
    RacingLine* line = lines_find(bike->lines_in_use[(g - 1) & 3]);
    if (line && lines_learn) {
      line->tested += 1;
      line->min_a = std::min(line->min_a, time_a);
      line->min_b = std::min(line->min_b, time_b);
      line->sum_a = static_cast<int32_t>(std::min<int64_t>(int64_t(line->sum_a) + time_a, INT32_MAX));
      line->sum_b = static_cast<int32_t>(std::min<int64_t>(int64_t(line->sum_b) + time_b, INT32_MAX));
      statistics_normalise(*line);
      line_table.changed = true;
    }
  } else {
    count_failure(bike->lines_in_use[g & 3]);
    bike->lines_in_use[g & 3] = 0;
  }
  bike->lines_in_use[(g - 1) & 3] = 0;
}

// A robot that has finished slows along the rest of its path: speeds fall linearly to a
// quarter at the last point.
void robot_roll_out(Bike* bike) {
  AutoPilot& pilot = *autopilot_of(bike);
  const int32_t count = static_cast<int32_t>(pilot.path.size());
  const int32_t i0 = std::clamp(static_cast<int32_t>(autopilot_path_position(bike)), 0, count);
  for (int32_t i = i0; i < count; ++i) {
    pilot.path[size_t(i)].speed *= 0.25f + 0.75f * float(count - i) / float(count - i0);
  }
}

}  // namespace

void lines_table_create() {
  lines_table_free();
  for (LineRecorder& rec : recorders) recorder_clear(rec);
  if (!timing.present) return;
  line_table.present = true;
  line_table.first_lines = timing.first_lines;
  line_table.normal_lines = timing.normal_lines;
  const int32_t rows = timing.first_lines + timing.normal_lines;
  line_table.slots.resize(static_cast<size_t>(rows) * LINE_SLOTS);
  for (RacingLine& line : line_table.slots) slot_empty(line);
  for (std::vector<int32_t>& plan : line_table.plan) plan.assign(static_cast<size_t>(rows), 0);
  line_table.changed = false;
  first_prefix.assign(1, 0);
  normal_prefix.assign(1, 0);
  for (int32_t i = 0; i < timing.first_count + timing.normal_count; ++i) {
    const bool first = i < timing.first_count;
    const bool counted = timing.lap_list[i] < LAP_ENTRY_UNCOUNTED;
    std::vector<int32_t>& prefix = first ? first_prefix : normal_prefix;
    if (counted) (first ? first_positions : normal_positions).push_back(first ? i : i - timing.first_count);
    prefix.push_back(prefix.back() + (counted ? 1 : 0));
  }
}

void lines_table_free() {
  line_table.present = false;
  line_table.first_lines = line_table.normal_lines = 0;
  std::vector<RacingLine>().swap(line_table.slots);
  for (std::vector<int32_t>& plan : line_table.plan) std::vector<int32_t>().swap(plan);
  line_table.changed = false;
  first_positions.clear();
  normal_positions.clear();
  first_prefix.clear();
  normal_prefix.clear();
}

void lines_clear() {
  for (RacingLine& line : line_table.slots) slot_empty(line);
  for (std::vector<int32_t>& plan : line_table.plan) std::fill(plan.begin(), plan.end(), 0);
  line_table.changed = false;
}

int32_t lines_row_count() { return line_table.present ? line_table.first_lines + line_table.normal_lines : 0; }

int32_t lines_row_of(int32_t n) {
  const int32_t a = line_table.first_lines, l = line_table.normal_lines;
  if (n < a) return std::max(n, 0);
  return a + (n - a) % l;
}

int32_t lines_next_row(int32_t row) {
  const int32_t a = line_table.first_lines;
  return row + 1 < lines_row_count() ? row + 1 : a;
}

RacingLine& lines_slot(int32_t row, int slot) { return line_table.slots[size_t(row) * LINE_SLOTS + size_t(slot)]; }

RacingLine* lines_find(int32_t line_id) {
  if (line_id <= 0) return nullptr;
  for (RacingLine& line : line_table.slots) {
    if (line.line_id == line_id && line.count > 0) return &line;
  }
  return nullptr;
}

void lines_reset_race() {
  for (RacingLine& line : line_table.slots) line.last_picked = 0;
  for (LineRecorder& rec : recorders) recorder_clear(rec);
}

int32_t lines_counted_before(int32_t i) {
  if (!line_table.present || i <= 0) return 0;
  const int32_t f = timing.first_count, n = timing.normal_count;
  if (i <= f) return first_prefix[size_t(i)];
  const int64_t laps = (int64_t(i) - f) / n, rest = (int64_t(i) - f) % n;
  return static_cast<int32_t>(line_table.first_lines + laps * line_table.normal_lines + normal_prefix[size_t(rest)]);
}

int32_t lines_lap_index(int32_t k) {
  if (!line_table.present || k < 0) return -1;
  const int32_t a = line_table.first_lines, l = line_table.normal_lines;
  if (k < a) return first_positions[size_t(k)];
  const int64_t laps = (int64_t(k) - a) / l, rest = (int64_t(k) - a) % l;
  const int64_t index = timing.first_count + laps * timing.normal_count + normal_positions[size_t(rest)];
  return index <= GATE_INDEX_MAX ? static_cast<int32_t>(index) : -1;
}

void lines_record_step(Bike* bike) {
  LineRecorder* rec = recorder_of(bike);
  if (!line_table.present || !rec) return;
  if (bike_is_robot(bike)) {
    // A fall spoils the line the robot follows on its current stretch, once per fall.
    if (!bike->touched_down) {
      rec->fall_counted = false;
    } else if (!rec->fall_counted) {
      rec->fall_counted = true;
      count_failure(bike->lines_in_use[counted_passed(timing_of(bike)) & 3]);
      clear_in_use(bike);
    }
    return;
  }
  if (sim_tick % LINE_SAMPLE_STEPS != 0) return;
  const int parity = counted_passed(timing_of(bike)) & 1;
  std::vector<LinePoint>& path = rec->path[parity];
  if (bike->touched_down) rec->dirty[parity] = true;
  if (path.size() >= size_t(LINE_POINTS_MAX)) {
    rec->dirty[parity] = true;
    return;
  }
  if (path.capacity() == 0) path.reserve(PATH_RESERVE);
  const dReal* pos = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  const bool airborne = bike->front.depth <= 0 && bike->rear.depth <= 0;
  const float speed = bike_frame_speed(bike);
  path.push_back(LinePoint{float(pos[0]), float(pos[1]), float(pos[2]), airborne ? -speed : speed, roll_angle(bike)});
}

void lines_gate_passed(Bike* bike, int32_t gate_index) {
  LineRecorder* rec = recorder_of(bike);
  if (!line_table.present || !rec || gate_index < 0) return;
  if (timing.lap_list[lap_entry_index(gate_index)] >= LAP_ENTRY_UNCOUNTED) return;
  const RiderTiming& rider = timing_of(bike);
  const int32_t g = lines_counted_before(gate_index);
  if (bike_is_robot(bike)) {
    if (g >= 1) robot_run_end(bike, rider, g);
    if (rider.finished) robot_roll_out(bike);
  } else if (g >= 1) {
    record_candidate(*rec, rider, g);
  }
}

int64_t lines_score(const RacingLine& line) {
  const int64_t tested = line.tested, failures = line.failures;
  if (tested >= 1) return failures * LINE_FAILURE_PENALTY / (tested + failures) + int64_t(line.sum_b) / tested;
  return int64_t(line.time_b) * 5 / 4 + (failures >= 1 ? LINE_FAILURE_PENALTY : 0);
}

// ---- Lines files ----

bool lines_write(VfsFile* file) {
  const int32_t rows = lines_row_count();
  bool ok = vfs_printf(file, "ct03 %d\n", rows) >= 0;
  for (int32_t row = 0; row < rows; ++row) {
    int lines = 0;
    for (int i = 0; i < LINE_SLOTS; ++i) lines += lines_slot(row, i).count > 0;
    ok = vfs_printf(file, "%d\n", lines) >= 0 && ok;
    for (int i = 0; i < LINE_SLOTS; ++i) {
      const RacingLine& l = lines_slot(row, i);
      if (l.count == 0) continue;
      ok = vfs_printf(file, "%d %d %d %d %d %d %d %d %d\n", l.count, l.time_a, l.time_b, l.tested, l.min_a, l.min_b,
                      l.sum_a, l.sum_b, l.failures) >= 0 && ok;
      for (const LinePoint& p : l.points) {
        ok = vfs_printf(file, "[%f %f %f] %f %f\n", p.x, p.y, p.z, p.speed, p.roll) >= 0 && ok;
      }
    }
  }
  return vfs_flush(file) == 0 && ok;
}

namespace {

// A recorded point lies on some track and moves at a bike's speed; a value beyond this (ft,
// ft/s, rad) comes from a corrupt file and would overflow the pilot's path arithmetic.
constexpr float LINE_VALUE_MAX = 1e6f;

bool plausible(const LinePoint& p) {
  for (float v : {p.x, p.y, p.z, p.speed, p.roll}) {
    if (!(std::fabs(v) <= LINE_VALUE_MAX)) return false;  // NaN fails too
  }
  return true;
}

}  // namespace

bool lines_read(VfsFile* file) {
  lines_clear();
  const int32_t rows = lines_row_count();
  char magic[81];
  int32_t count = 0;
  if (rows == 0 || vfs_scanf(file, " %80s %d", magic, &count) != 2 || strcmp(magic, "ct03") != 0 || count != rows) {
    return false;
  }
  std::vector<LinePoint> points;
  for (int32_t row = 0; row < rows; ++row) {
    int32_t n = 0;
    if (vfs_scanf(file, " %d", &n) != 1) break;
    int stored = 0;
    for (int32_t k = 0; k < n; ++k) {
      int32_t v[9];
      if (vfs_scanf(file, " %d %d %d %d %d %d %d %d %d ", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7],
                    &v[8]) != 9 ||
          v[0] < 0 || v[0] > LINE_POINTS_MAX) {
        break;
      }
      points.clear();
      bool whole = true;
      for (int32_t i = 0; i < v[0] && whole; ++i) {
        LinePoint p;
        whole = vfs_scanf(file, " [ %f %f %f ] %f %f ", &p.x, &p.y, &p.z, &p.speed, &p.roll) == 5 &&
                plausible(p);
        if (whole) points.push_back(p);
      }
      if (!whole) break;  // a short line is dropped and ends its row
      if (v[0] == 0 || stored == LINE_SLOTS) continue;
      RacingLine& line = lines_slot(row, stored++);
      line_fill(line, points, v[1], v[2]);
      line.tested = v[3];
      line.min_a = v[4];
      line.min_b = v[5];
      line.sum_a = v[6];
      line.sum_b = v[7];
      line.failures = v[8];
      statistics_normalise(line);
    }
    if (debug()) vant_log("%d: %d\n", row, stored);
  }
  return true;
}

namespace {

std::string set_file_name(const char* track, int line_set) {
  return std::string("@") + track + "/" + LINE_SET_NAMES[line_set];
}

}  // namespace

bool lines_load(const char* track, int line_set) {
  lines_clear();
  if (!line_table.present || !track || line_set < 0 || line_set >= LINE_PLAN_TYPES) return false;
  VfsFile* file = vfs_open(set_file_name(track, line_set).c_str(), "rb");
  if (!file) return false;
  const bool ok = lines_read(file);
  vfs_close(file);
  if (!ok) lines_clear();
  line_table.changed = false;
  return ok;
}

bool lines_save(const char* track, int line_set) {
  if (!line_table.present || !track || line_set < 0 || line_set >= LINE_PLAN_TYPES) return false;
  if (!line_table.changed) return true;
  const std::string name = set_file_name(track, line_set);
  ReplaceSet set;
  VfsFile* file = replace_open(set, name.c_str());
  if (!file) return false;
  if (!lines_write(file)) set.ok = false;
  replace_close(set, file);
  if (!replace_finish(set)) return false;
  line_table.changed = false;
  return true;
}
