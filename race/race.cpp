// Race rules over the riders' gate records: running order, race length, finishing, the
// cutting and false-start penalties, the final classification and the results file.
#include "race/race.h"
#include "race/series.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/console.h"
#include "files/vfs.h"

RaceState race;
RaceEntrant race_entrants[SLOT_COUNT];

namespace {

constexpr int32_t TICKS_10_S = 10 * TICKS_PER_SECOND;

bool order_before(const RaceOrderEntry& a, const RaceOrderEntry& b) {
  if (a.gates != b.gates) return a.gates > b.gates;
  if (a.tick != b.tick) return a.tick < b.tick;
  return a.slot < b.slot;
}

// Tick of the last passed checkpoint (index gates - 1). A checkpoint that was jumped over
// has no time of its own; the latest known one before it stands in, so a skip never looks
// like the earliest arrival.
int32_t last_gate_tick(const RiderTiming& rider) {
  for (int32_t i = rider.gate_index - 1; i >= 0; --i) {
    const int32_t t = gate_tick(rider, i);
    if (t != -1) return t;
  }
  return 0;
}

const RiderTiming* leader_timing() {
  return race.order_count > 0 ? &race_entrants[race.order[0].slot].timing : nullptr;
}

// Lap-end index of lap `lap`, in 64 bits: with race_laps undecided it lies far beyond any list.
int64_t lap_end_index_wide(int32_t lap) {
  return timing.first_count + static_cast<int64_t>(timing.normal_count) * (lap - 1) - 1;
}

int32_t gate_tick_wide(const RiderTiming& rider, int64_t i) {
  return i >= 0 && i < static_cast<int64_t>(rider.gates.size()) ? rider.gates[i] : -1;
}

// The lap-end finish test when a rider's gate index advances onto the start of a lap.
void finish_at_lap_end(RiderTiming& rider, int32_t g) {
  const int32_t first = timing.first_count, normal = timing.normal_count;
  if (rider.finished || normal == 0 || g < first || (g - first) % normal != 0) return;
  const RiderTiming* leader = leader_timing();
  const int64_t end = race.race_laps == 0 ? 0 : lap_end_index_wide(race.race_laps);
  if ((leader && leader->gate_index > end) || laps_for_gates(g) >= race.race_laps) {
    rider.finished = true;
  }
}

void update_race_length(int32_t sim_tick) {
  const RiderTiming* leader = leader_timing();
  if (!leader) return;
  const int64_t start = race.start_tick, duration = race.duration;
  if (race.halfway_lap == RACE_LAPS_UNDECIDED && sim_tick >= start + duration / 2) {
    race.halfway_lap = laps_completed(*leader) + 1;
  }
  if (duration <= 0 || sim_tick < start + duration) return;
  const int32_t h = laps_completed(*leader) - 1;
  for (int32_t o = h < 1 ? 1 : std::min(race.race_laps, h); o < RACE_LAPS_UNDECIDED; ++o) {
    // The first rider to end lap o.
    const int64_t end = lap_end_index_wide(o);
    int32_t earliest = -1;
    for (int i = 0; i < race.order_count; ++i) {
      const int32_t t = gate_tick_wide(race_entrants[race.order[i].slot].timing, end);
      if (t != -1 && (earliest == -1 || t < earliest)) earliest = t;
    }
    if (earliest == -1) break;
    if (earliest >= start + duration) {
      race.race_laps = std::min(race.race_laps, o + race.laps);
      break;
    }
    race.race_laps = std::max(race.race_laps, o + race.laps + 1);
  }
}

// An unfinished rider holds the race open unless it can no longer be waited for.
bool keeps_race_open(int32_t slot, const RaceContext& context) {
  const RaceEntrant& e = race_entrants[slot];
  if (rider_finished(slot)) return false;
  if (!context.connected) {
    return !(e.kind == SLOT_REPLAY &&
             (e.newest_state_tick == -1 || context.sim_tick - e.newest_state_tick > TICKS_10_S));
  }
  if (e.kind == SLOT_LOCAL) return context.has_race_slot;
  return context.sim_tick - e.net_state_tick < TICKS_PER_SECOND;
}

// Riders whose times make the average of a segment.
int counting_riders(const RaceContext& context, const RiderTiming* riders[SLOT_COUNT]) {
  int count = 0;
  for (int i = 0; i < race.order_count; ++i) {
    const RaceEntrant& e = race_entrants[race.order[i].slot];
    if (context.connected && e.kind == SLOT_LOCAL && !context.has_race_slot) continue;
    riders[count++] = &e.timing;
  }
  return count;
}

// Cutting penalty (ticks): every run of skipped checkpoints ridden faster than the riders'
// average for that stretch plus one second costs the difference.
int32_t cut_penalty(const RiderTiming& rider, const RiderTiming* const* riders, int count) {
  int64_t penalty = 0;
  const int32_t size = static_cast<int32_t>(rider.gates.size());
  int32_t a = -1;  // last touched index
  for (int32_t i = 0; i < size; ++i) {
    if (rider.gates[i] == -1) continue;
    if (a >= 0 && i > a + 1) {
      const int64_t allowed = static_cast<int64_t>(segment_average_ticks(riders, count, a, i)) +
                              TICKS_PER_SECOND;
      const int64_t taken = static_cast<int64_t>(rider.gates[i]) - rider.gates[a];
      if (taken < allowed) penalty += allowed - taken;
    }
    a = i;
  }
  return static_cast<int32_t>(std::min<int64_t>(penalty, INT32_MAX / 2));
}

void build_final_order(const RaceContext& context) {
  const RiderTiming* riders[SLOT_COUNT];
  const int count = counting_riders(context, riders);
  race.final_count = race.order_count;
  for (int i = 0; i < race.order_count; ++i) {
    RaceOrderEntry entry = race.order[i];
    const RiderTiming& rider = race_entrants[entry.slot].timing;
    int32_t penalty = cut_penalty(rider, riders, count);
    int32_t removed = 0;
    const int32_t best = best_lap(rider);
    if (best >= 2) {
      const int32_t lap = lap_ticks(rider, best, race.start_tick);
      while (lap > 0 && lap < penalty && entry.gates > timing.first_count) {
        entry.gates -= timing.normal_count;
        penalty -= lap;
        ++removed;
      }
    }
    entry.tick += penalty;
    race.penalty[entry.slot] = penalty;
    race.laps_removed[entry.slot] = removed;
    race.final_order[i] = entry;
  }
  std::sort(race.final_order, race.final_order + race.final_count, order_before);
}

void write_gate_times(VfsFile* file, const RiderTiming& rider) {
  const int32_t n = static_cast<int32_t>(rider.gates.size());
  vfs_printf(file, "\r\n");
  vfs_printf(file, "%d\r\n", n);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t t = rider.gates[i];
    if (t == -1) {
      vfs_printf(file, "%8d", -1);
    } else {
      vfs_printf(file, "%8.3f", (t - race.start_tick) * SIM_STEP);
    }
    vfs_printf(file, "%s", is_lap_end(i) || i == n - 1 ? "\r\n" : " ");
  }
}

void write_results(const RaceContext& context) {
  VfsFile* file = vfs_open("@results.txt", "wb");
  if (!file) return;
  vfs_printf(file, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", race.duration * SIM_STEP, race.laps,
             context.track_name, static_cast<long>(context.calendar_time));
  vfs_printf(file, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time",
             "BLap", "Best Time");
  for (int i = 0; i < race.final_count; ++i) {
    const RaceOrderEntry& entry = race.final_order[i];
    if (!rider_finished(entry.slot)) continue;
    const RaceEntrant& e = race_entrants[entry.slot];
    const int32_t best = best_lap(e.timing);
    vfs_printf(file, "%4s | %12s | %4d | %s | ", e.number.c_str(), e.model.c_str(),
               laps_for_gates(entry.gates), race_time_text(entry.tick - race.start_tick, 3).c_str());
    vfs_printf(file, "%4d | %s\r\n", best,
               race_time_text(lap_ticks(e.timing, best, race.start_tick), 3).c_str());
  }
  for (int i = 0; i < race.order_count; ++i) {
    const int32_t slot = race.order[i].slot;
    if (rider_finished(slot)) write_gate_times(file, race_entrants[slot].timing);
  }
  vfs_close(file);
}

}  // namespace

int32_t race_start_tick_for(double u) { return static_cast<int32_t>(std::floor((2 * u + 13) / SIM_STEP)); }

void race_reset(int32_t duration_ticks, int32_t laps, int32_t start_tick) {
  race.start_tick = start_tick;
  race.duration = std::max(duration_ticks, 0);
  race.laps = std::max(laps, 0);
  if (race.duration > 0) {
    race.race_laps = race.halfway_lap = RACE_LAPS_UNDECIDED;
  } else {
    race.race_laps = race.laps;
    race.halfway_lap = (race.laps + 1) / 2;
  }
  race.results_final = false;
  race.order_count = race.final_count = 0;
  std::fill(std::begin(race.penalty), std::end(race.penalty), 0);
  std::fill(std::begin(race.laps_removed), std::end(race.laps_removed), 0);
  race.penalty_countdown = 0;
  race.best_lap = race.last_lap = 0;
}

void race_entrants_clear() {
  for (RaceEntrant& e : race_entrants) e = RaceEntrant{};
  race.order_count = race.final_count = 0;
}

RaceEntrant& race_entrant_add(int32_t slot, SlotKind kind, const char* number, const char* model) {
  RaceEntrant& e = race_entrants[slot];
  e = RaceEntrant{};
  // Room for the gate ticks of a long race, so passing gates does not allocate in the step.
  e.timing.gates.reserve(GATE_LIST_RESERVE);
  e.present = true;
  e.kind = kind;
  e.number = number ? number : "";
  e.model = model ? model : "";
  return e;
}

GateStep race_gate_progress(int32_t slot, float wheel_x, float wheel_z, int32_t sim_tick) {
  RaceEntrant& e = race_entrants[slot];
  if (!e.present) return GateStep{false, false, false, 0};
  const GateStep step = gate_progress(e.timing, wheel_x, wheel_z, sim_tick);
  if (step.advanced) finish_at_lap_end(e.timing, step.index);
  return step;
}

bool race_order_update(const RaceContext& context) {
  // It runs whenever a rider passes through a checkpoint, many times a step in a big field, and
  // between two runs few riders move: the previous order with fresh keys (riders who left
  // dropped, new ones appended) is put right by an insertion sort in a few moves. The order is
  // total, so this is the order a full sort gives.
  bool listed[SLOT_COUNT] = {};
  int count = 0;
  auto entry = [](int32_t slot) {
    const RiderTiming& timing = race_entrants[slot].timing;
    return RaceOrderEntry{slot, gates_passed(timing), last_gate_tick(timing)};
  };
  for (int i = 0; i < race.order_count; ++i) {
    const int32_t slot = race.order[i].slot;
    if (slot < 0 || slot >= SLOT_COUNT || listed[slot] || !race_entrants[slot].present) continue;
    listed[slot] = true;
    race.order[count++] = entry(slot);
  }
  for (int32_t slot = 0; slot < SLOT_COUNT; ++slot) {
    if (race_entrants[slot].present && !listed[slot]) race.order[count++] = entry(slot);
  }
  race.order_count = count;
  for (int i = 1; i < count; ++i) {
    const RaceOrderEntry moving = race.order[i];
    int j = i;
    for (; j > 0 && order_before(moving, race.order[j - 1]); --j) race.order[j] = race.order[j - 1];
    race.order[j] = moving;
  }
  update_race_length(context.sim_tick);

  if (race.results_final) return false;
  for (int i = 0; i < race.order_count; ++i) {
    if (keeps_race_open(race.order[i].slot, context)) return false;
  }
  build_final_order(context);
  if (race.final_count > 0 && rider_finished(race.final_order[0].slot)) write_results(context);
  race.results_final = true;
  series_finish_event();
  return true;
}

bool rider_finished(int32_t slot) {
  RiderTiming& rider = race_entrants[slot].timing;
  if (rider.finished) return true;
  const RiderTiming* leader = leader_timing();
  const int32_t first = timing.first_count, normal = timing.normal_count;
  if (!leader || normal == 0) return false;
  const int64_t end = lap_end_index_wide(race.race_laps);
  if (leader->gate_index <= end) return false;
  const int32_t leader_end_tick = gate_tick_wide(*leader, end);
  if (leader_end_tick == -1) return false;
  const int32_t g = rider.gate_index;
  if (g < first) return false;
  const int32_t own_end_tick = gate_tick(rider, first + normal * ((g - first) / normal) - 1);
  if (own_end_tick == -1 || own_end_tick < leader_end_tick) return false;
  rider.finished = true;
  return true;
}

void race_length_text(char* buffer, size_t size) {
  const int minutes = static_cast<int>(std::lround(race.duration * SIM_STEP / 60.0));
  if (race.duration <= 0) {
    snprintf(buffer, size, "%d laps", race.laps);
  } else if (race.laps <= 0) {
    snprintf(buffer, size, "%d minutes", minutes);
  } else {
    snprintf(buffer, size, "%d minutes + %d laps", minutes, race.laps);
  }
}

FalseStart race_false_start_step(float frame_x, float frame_y, float frame_z, int32_t sim_tick) {
  FalseStart result{false, false};
  if (sim_tick < race.start_tick && race.penalty_countdown <= 0) {
    const float dx = frame_x - race.start_position[0], dy = frame_y - race.start_position[1],
                dz = frame_z - race.start_position[2];
    if (dx * dx + dy * dy + dz * dz >= FALSE_START_DISTANCE_SQUARED) {
      race.penalty_countdown = race.start_tick + FALSE_START_SECONDS * TICKS_PER_SECOND - sim_tick;
      result.penalty_started = true;
      console_print(FALSE_START_MESSAGE);
    }
  }
  if (race.penalty_countdown > 0) {
    --race.penalty_countdown;
    result.hold = true;
  }
  return result;
}

int32_t race_leader_laps() {
  const RiderTiming* leader = leader_timing();
  return leader ? laps_completed(*leader) : 0;
}

int32_t race_flag_laps(int32_t sim_tick) {
  int32_t laps = race.race_laps;
  const RiderTiming* leader = leader_timing();
  const int32_t first = timing.first_count, normal = timing.normal_count;
  if (leader && race.duration > 0 && sim_tick >= static_cast<int64_t>(race.start_tick) + race.duration &&
      normal > 0 && leader->gate_index >= first && (leader->gate_index - first) % normal == 0) {
    laps = std::min(laps, laps_completed(*leader) + race.laps);
  }
  return laps;
}

void race_rider_down_gates(bool down[CHECKPOINT_MAX]) {
  std::fill(down, down + CHECKPOINT_MAX, false);
  if (!timing.present) return;
  for (const RaceEntrant& e : race_entrants) {
    if (e.present && e.crashed) down[lap_checkpoint(e.timing.gate_index)] = true;
  }
}

int32_t race_gap_ticks(const RaceOrderEntry& ahead, const RaceOrderEntry& behind) {
  int32_t ahead_tick = ahead.tick, behind_tick = behind.tick;
  if (ahead.gates != behind.gates) {
    const int32_t index = std::min(ahead.gates, behind.gates) - 1;
    ahead_tick = gate_tick(race_entrants[ahead.slot].timing, index);
    behind_tick = gate_tick(race_entrants[behind.slot].timing, index);
  }
  if (ahead_tick < 1 || behind_tick < 1) return 0;
  return behind_tick - ahead_tick;
}

void race_results_board(ResultsBoard& board) {
  board.shown = race.order_count > 0 && rider_finished(race.order[0].slot);
  board.final = race.results_final;
  board.row_count = 0;
  board.total_race_ticks = 0;
  if (!board.shown) return;
  const RaceOrderEntry* list = board.final ? race.final_order : race.order;
  const int count = board.final ? race.final_count : race.order_count;
  const RaceOrderEntry* above = nullptr;
  for (int i = 0; i < count; ++i) {
    const RaceOrderEntry& entry = list[i];
    if (!board.final && !rider_finished(entry.slot)) continue;
    const RiderTiming& rider = race_entrants[entry.slot].timing;
    BoardRow& row = board.rows[board.row_count++];
    row.position = i + 1;
    row.slot = entry.slot;
    row.laps = laps_for_gates(entry.gates);
    row.gap = above ? std::max(race_gap_ticks(*above, entry), 0) * SIM_STEP : 0.0;
    row.best_number = best_lap(rider);
    row.best_ticks = lap_ticks(rider, row.best_number, race.start_tick);
    above = &entry;
  }
  if (board.final && count > 0) board.total_race_ticks = list[0].tick - race.start_tick;
}

std::string race_penalty_text(int32_t slot) {
  if (!race.results_final || race.penalty[slot] <= 0) return std::string();
  char text[256];
  int used = snprintf(text, sizeof text, "%3s penalized ", race_entrants[slot].number.c_str());
  used = std::clamp(used, 0, static_cast<int>(sizeof text) - 1);
  const int32_t removed = race.laps_removed[slot];
  if (removed > 0) {
    used += snprintf(text + used, sizeof text - used, "%d %s ", removed, removed == 1 ? "lap" : "laps");
    used = std::clamp(used, 0, static_cast<int>(sizeof text) - 1);
  }
  snprintf(text + used, sizeof text - used, "%.2f seconds for cutting track", race.penalty[slot] * SIM_STEP);
  return text;
}

std::string race_time_text(int32_t ticks, int minute_width) {
  const int64_t ms = std::max<int64_t>(ticks, 0) * 1000 / TICKS_PER_SECOND;
  char text[48];
  snprintf(text, sizeof text, "%*d:%02d.%03d", minute_width, static_cast<int>(ms / 60000),
           static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  return text;
}
