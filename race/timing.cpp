// Timing gates: the track's checkpoints and lap list, the per-step checkpoint test and the
// values derived from a rider's gate list (laps, lap times, segment averages).
#include "race/timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "core/constants.h"
#include "files/replace.h"
#include "files/vfs.h"
#include "platform/vant.h"
#include "track/line_scan.h"

TimingGates timing;

namespace {

constexpr const char* DEFAULT_MODEL = "@startgate.vm";
constexpr const char* DEFAULT_TEXTURE = "@startgate.ppm";
constexpr const char* DEFAULT_SHAPE = "@startgate.shp";
constexpr double PI = 3.14159265358979323846;

bool finite_all(std::initializer_list<float> values) {
  for (float v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// "null" in a file stands for an absent name.
std::string name_or_none(const char* name) { return strcmp(name, "null") == 0 ? std::string() : name; }

bool known(const RiderTiming& rider, int64_t i) {
  return i >= 0 && i < static_cast<int64_t>(rider.gates.size()) && rider.gates[i] != -1;
}

// True when every tick from a to b (inclusive) is known.
bool all_known(const RiderTiming& rider, int64_t a, int64_t b) {
  for (int64_t i = a; i <= b; ++i) {
    if (!known(rider, i)) return false;
  }
  return true;
}

}  // namespace

void timing_clear() {
  timing.piece_count = 0;
  for (StartGatePiece& piece : timing.pieces) piece = StartGatePiece{};
  timing.checkpoint_count = 0;
  memset(timing.checkpoints, 0, sizeof timing.checkpoints);
  memset(timing.lap_list, 0, sizeof timing.lap_list);
  timing.first_count = timing.normal_count = 0;
  timing.first_lines = timing.normal_lines = 0;
  timing.present = false;
}

void timing_normalise() {
  timing.piece_count = std::clamp(timing.piece_count, 0, START_GATE_PIECE_MAX);
  for (int i = 0; i < timing.piece_count; ++i) {
    StartGatePiece& piece = timing.pieces[i];
    // remainder() keeps the angle within -pi..pi for any finite input.
    if (piece.angle < -PI || piece.angle > PI) {
      piece.angle = static_cast<float>(std::remainder(static_cast<double>(piece.angle), 2 * PI));
    }
    piece.object_x = piece.x - START_GATE_OBJECT_OFFSET * std::sin(piece.angle);
    piece.object_y = piece.y;
    piece.object_z = piece.z - START_GATE_OBJECT_OFFSET * std::cos(piece.angle);
  }
  timing.checkpoint_count = std::clamp(timing.checkpoint_count, 0, CHECKPOINT_MAX);
  timing.first_count = std::clamp(timing.first_count, 0, LAP_PART_MAX);
  timing.normal_count = std::clamp(timing.normal_count, 0, LAP_PART_MAX);
  const int32_t last = timing.checkpoint_count - 1;
  timing.first_lines = timing.normal_lines = 0;
  for (int i = 0; i < timing.first_count + timing.normal_count; ++i) {
    int32_t& entry = timing.lap_list[i];
    const bool uncounted = entry >= LAP_ENTRY_UNCOUNTED;
    int32_t n = uncounted ? entry - LAP_ENTRY_UNCOUNTED : std::max(entry, 0);
    n = std::max(std::min(n, last), 0);
    entry = uncounted ? LAP_ENTRY_UNCOUNTED + n : n;
    if (!uncounted) ++(i < timing.first_count ? timing.first_lines : timing.normal_lines);
  }
  timing.present = timing.checkpoint_count > 0 && timing.first_lines > 0 && timing.normal_lines > 0;
  if (timing.present && debug_level > 0) {
    vant_log("Found %d timing gates, first lap has %d gates, normal lap has %d\n", timing.checkpoint_count,
             timing.first_count, timing.normal_count);
  }
  if (!timing.present) {
    // Pieces stay: a track may have a start gate without lap timing.
    timing.checkpoint_count = 0;
    timing.first_count = timing.normal_count = 0;
    timing.first_lines = timing.normal_lines = 0;
  }
}

namespace {

// Start gate lines up to the line "checkpoints:". True when that line was found.
bool read_start_gate(VfsFile* file) {
  char line[4096];
  static char model[1024], texture[1024], shape[1024];
  while (vfs_gets(file, line, sizeof line)) {
    char first[81];
    if (line_scanf(line, "%80s", first) != 1) continue;  // a blank line
    if (strcmp(first, "checkpoints:") == 0) return true;
    float x, y, z, angle;
    model[0] = texture[0] = shape[0] = 0;
    const int n = line_scanf(line, " [ %f %f %f ] %f %1023s %1023s %1023s", &x, &y, &z, &angle,
                             model, texture, shape);
    if (n < 4) return false;
    if (timing.piece_count >= START_GATE_PIECE_MAX) continue;  // further pieces are ignored
    StartGatePiece& piece = timing.pieces[timing.piece_count++];
    piece.x = x;
    piece.y = y;
    piece.z = z;
    piece.angle = angle;
    piece.model = name_or_none(n >= 5 ? model : DEFAULT_MODEL);
    piece.texture = name_or_none(n >= 6 ? texture : DEFAULT_TEXTURE);
    piece.shape = name_or_none(n >= 7 ? shape : DEFAULT_SHAPE);
  }
  return false;
}

void read_checkpoints(VfsFile* file) {
  Checkpoint c;
  while (vfs_scanf(file, "%f [ %f %f %f ] [ %f %f %f ] ", &c.radius, &c.px, &c.py, &c.pz, &c.dx,
                   &c.dy, &c.dz) == 7) {
    if (!finite_all({c.radius, c.px, c.py, c.pz, c.dx, c.dy, c.dz})) return;
    // Records beyond the limit are read past, so the lap lists after them still count.
    if (timing.checkpoint_count < CHECKPOINT_MAX) timing.checkpoints[timing.checkpoint_count++] = c;
  }
}

// Integers into the lap list from position `at`; returns how many were kept.
int32_t read_lap_part(VfsFile* file, int32_t at) {
  int32_t count = 0, entry;
  while (vfs_scanf(file, "%d", &entry) == 1) {
    if (count < LAP_PART_MAX) timing.lap_list[at + count++] = entry;
  }
  return count;
}

bool read_token(VfsFile* file, char (&token)[81]) {
  token[0] = 0;
  return vfs_scanf(file, " %80s", token) == 1;
}

}  // namespace

bool timing_gates_read(const char* path) {
  timing_clear();
  VfsFile* file = vfs_open(path, "rb");
  if (!file) return false;
  char token[81];
  read_token(file, token);
  if (strcmp(token, "startinggate:") == 0) {
    vfs_scanf(file, "%*[ \t\r]");  // the rest of the section line
    if (vfs_peekc(file) == '\n') vfs_getc(file);
    if (read_start_gate(file)) strcpy(token, "checkpoints:");
  }
  if (strcmp(token, "checkpoints:") == 0) read_checkpoints(file);
  read_token(file, token);
  if (strcmp(token, "firstlap:") == 0) {
    timing.first_count = read_lap_part(file, 0);
    read_token(file, token);
  }
  if (strcmp(token, "normallap:") == 0) timing.normal_count = read_lap_part(file, timing.first_count);
  vfs_close(file);
  timing_normalise();
  return true;
}

bool timing_gates_write(const char* track_dir) {
  std::string name = std::string("@") + track_dir + "/timing_gates";
  ReplaceSet set;
  VfsFile* file = replace_open(set, name.c_str());
  if (!file) {
    console_print("Can't open 'timing_gates'\n");
    return false;
  }
  if (timing.piece_count > 0) {
    vfs_printf(file, "startinggate:\n");
    for (int i = 0; i < timing.piece_count; ++i) {
      const StartGatePiece& p = timing.pieces[i];
      vfs_printf(file, "[%f %f %f]", p.x, p.y, p.z);
      vfs_printf(file, " %f", p.angle);
      if (p.model == DEFAULT_MODEL && p.texture == DEFAULT_TEXTURE && p.shape == DEFAULT_SHAPE) {
        vfs_printf(file, "\n");
      } else {
        auto shown = [](const std::string& s) { return s.empty() ? "null" : s.c_str(); };
        vfs_printf(file, " %s %s %s\n", shown(p.model), shown(p.texture), shown(p.shape));
      }
    }
  }
  if (timing.checkpoint_count > 0) {
    vfs_printf(file, "checkpoints:\n");
    for (int i = 0; i < timing.checkpoint_count; ++i) {
      const Checkpoint& c = timing.checkpoints[i];
      vfs_printf(file, "%f ", c.radius);
      vfs_printf(file, "[%f %f %f]", c.px, c.py, c.pz);
      vfs_printf(file, " ");
      vfs_printf(file, "[%f %f %f]", c.dx, c.dy, c.dz);
      vfs_printf(file, "\n");
    }
  }
  if (timing.first_count > 0) {
    vfs_printf(file, "firstlap:\n");
    for (int i = 0; i < timing.first_count; ++i) vfs_printf(file, "%d ", timing.lap_list[i]);
    vfs_printf(file, "\n");
  }
  if (timing.normal_count > 0) {
    vfs_printf(file, "normallap:\n");
    for (int i = 0; i < timing.normal_count; ++i) {
      vfs_printf(file, "%d ", timing.lap_list[timing.first_count + i]);
    }
    vfs_printf(file, "\n");
  }
  replace_close(set, file);
  if (replace_finish(set)) return true;
  console_print("Error writing 'timing_gates'\n");
  return false;
}

int32_t lap_entry_index(int32_t i) {
  const int32_t first = timing.first_count, normal = timing.normal_count;
  if (normal > 0 && i >= first) return first + (i - first) % normal;
  return normal > 0 ? i : 0;
}

int32_t lap_checkpoint(int32_t i) {
  const int32_t entry = timing.lap_list[lap_entry_index(i)];
  return entry >= LAP_ENTRY_UNCOUNTED ? entry - LAP_ENTRY_UNCOUNTED : entry;
}

bool is_lap_end(int32_t i) {
  const int32_t k = i - timing.first_count + 1;
  return timing.normal_count > 0 && k >= 0 && k % timing.normal_count == 0;
}

int32_t lap_end_index(int32_t lap) { return timing.first_count + timing.normal_count * (lap - 1) - 1; }

GateStep gate_progress(RiderTiming& rider, float wheel_x, float wheel_z, int32_t tick) {
  GateStep step{false, false, false, rider.gate_index};
  if (!timing.present || rider.finished) return step;
  static constexpr int32_t OFFSETS[] = {-3, -2, 0, 1, 2};  // -1 is never tested
  const int32_t g = rider.gate_index;
  bool gap = false;
  for (int32_t k : OFFSETS) {
    const int64_t d = static_cast<int64_t>(g) + k;
    if (d < 0) continue;
    if (d > GATE_INDEX_MAX) break;
    const bool untouched = !known(rider, d);
    if (untouched) gap = true;
    const Checkpoint& c = timing.checkpoints[lap_checkpoint(static_cast<int32_t>(d))];
    const float ox = wheel_x - c.px, oz = wheel_z - c.pz;
    const bool through = ox * ox + oz * oz <= c.radius * c.radius && ox * c.dx + oz * c.dz >= 0;
    if (through) {
      if (k < 0 && !gap) break;
      const int32_t index = static_cast<int32_t>(d);
      rider.gate_index = index;
      if (rider.gates.size() <= static_cast<size_t>(index)) rider.gates.resize(index + 1, -1);
      rider.gates[index] = tick;
      step.accepted = true;
      step.advanced = index > g;
      step.counted = timing.lap_list[lap_entry_index(index)] < LAP_ENTRY_UNCOUNTED;
      step.index = index;
      break;
    }
    if (is_lap_end(static_cast<int32_t>(d)) && untouched) break;  // a lap end cannot be skipped
  }
  return step;
}

void gate_truncate(RiderTiming& rider, int32_t n) {
  n = std::clamp(n, 0, GATE_INDEX_MAX);
  if (n < rider.gate_index) rider.finished = false;
  rider.gate_index = n;
  if (rider.gates.size() > static_cast<size_t>(n)) rider.gates.resize(n);
}

int32_t gate_tick(const RiderTiming& rider, int32_t i) {
  return i >= 0 && static_cast<size_t>(i) < rider.gates.size() ? rider.gates[i] : -1;
}

int32_t gates_passed(const RiderTiming& rider) { return rider.gate_index; }

int32_t laps_for_gates(int32_t gates) {
  if (timing.normal_count == 0 || gates < timing.first_count) return 0;
  return (gates - timing.first_count) / timing.normal_count + 1;
}

int32_t laps_completed(const RiderTiming& rider) { return laps_for_gates(rider.gate_index); }

int32_t lap_in_progress_gate(const RiderTiming& rider) {
  const int32_t g = rider.gate_index;
  if (timing.normal_count > 0 && g >= timing.first_count) {
    return (g - timing.first_count) % timing.normal_count + 1;
  }
  return g;
}

int32_t lap_ticks(const RiderTiming& rider, int32_t lap, int32_t start_tick) {
  if (lap <= 0 || lap > laps_completed(rider)) return 0;
  const int32_t end = gate_tick(rider, lap_end_index(lap));
  const int32_t begin = lap == 1 ? start_tick : gate_tick(rider, lap_end_index(lap - 1));
  if (end == -1 || begin == -1) return 0;
  return end - begin;
}

double lap_time(const RiderTiming& rider, int32_t lap, int32_t start_tick) {
  return lap_ticks(rider, lap, start_tick) * SIM_STEP;
}

int32_t best_lap(const RiderTiming& rider) {
  const int32_t laps = laps_completed(rider);
  int32_t best = 0, best_ticks = 0;
  for (int32_t lap = 2; lap <= laps; ++lap) {
    const int32_t t = lap_ticks(rider, lap, 0);  // laps from 2 on never use the start tick
    if (t > 0 && (best == 0 || t < best_ticks)) {
      best = lap;
      best_ticks = t;
    }
  }
  return best;
}

int32_t segment_average_ticks(const RiderTiming* const* riders, int count, int32_t s, int32_t e) {
  const int32_t first = timing.first_count, normal = timing.normal_count;
  int64_t total = 0;
  int contributors = 0;
  if (e < std::max(s, 0)) count = 0;  // an empty stretch has no time
  for (int r = 0; r < count; ++r) {
    const RiderTiming& rider = *riders[r];
    if (s < first || normal == 0) {
      const int32_t from = std::max(s, 0);
      if (!all_known(rider, from, e)) continue;
      total += rider.gates[e] - rider.gates[from];
      ++contributors;
      continue;
    }
    const int64_t length = static_cast<int64_t>(e) - s;
    int64_t sum = 0;
    int laps = 0;
    for (int64_t b = first + (s - first) % normal; b + length < static_cast<int64_t>(rider.gates.size());
         b += normal) {
      if (!all_known(rider, b, b + length)) continue;
      sum += rider.gates[b + length] - rider.gates[b];
      ++laps;
    }
    if (laps == 0) continue;
    total += sum / laps;
    ++contributors;
  }
  if (contributors == 0) return static_cast<int32_t>(60 * TICKS_PER_SECOND);
  return static_cast<int32_t>(total / contributors);
}
