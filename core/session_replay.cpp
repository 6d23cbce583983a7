// The session's demos: the recording of a race, playback with skip and rewind, and the time
// trial with its lap demos and ghost.
#include "core/session_replay.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/command_line.h"
#include "core/console.h"
#include "core/game.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/tick.h"
#include "core/track_load.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "race/race.h"
#include "replay/bike_state.h"
#include "replay/demo.h"
#include "replay/history.h"

namespace {

constexpr const char* DEFAULT_DEMO = "@demos/default.skdemo";
constexpr int NAME_SIZE = 512;

char play_name[NAME_SIZE];
char record_file[NAME_SIZE];
int next_demo_rider;

// The header of the running recording and its slots; static because a header holds every slot.
DemoHeader record_header;
int record_slots[SLOT_COUNT];

std::string track_demo(const char* name) { return std::string("@") + track_current + "/" + name; }

bool file_exists(const char* name) {
  VfsFile* file = vfs_open(name, "rb");
  if (file) vfs_close(file);
  return file != nullptr;
}

void free_slot(int slot) {
  if (game.slot_bike[slot]) bike_destroy(game.slot_bike[slot]);
  game.slot_bike[slot] = nullptr;
  game.slot_kind[slot] = SLOT_REPLAY;
  race_entrants[slot] = RaceEntrant{};
}

// The time trial's lap: from the finish at the end of the first lap to the finish at the end
// of the next; 0 when a checkpoint between was skipped or is not reached yet.
int32_t time_trial_lap_ticks(const RiderTiming& rider) {
  const int32_t from = timing.first_count - 1, to = timing.first_count + timing.normal_count - 1;
  if (from < 0) return 0;
  for (int32_t i = from; i <= to; i++) {
    if (gate_tick(rider, i) < 0) return 0;
  }
  return gate_tick(rider, to) - gate_tick(rider, from);
}

// A lap has just ended (the rider reached the first checkpoint after the finish): the record
// is moved back so that this finish is the end of the first lap, and the next lap end is timed
// from it again.
void rebase_onto_first_lap(RiderTiming& rider) {
  const int32_t first = timing.first_count;
  const int32_t g = rider.gate_index;
  if (first <= 0 || g < first) return;
  const int32_t finish = gate_tick(rider, g - 1), now = gate_tick(rider, g);
  gate_truncate(rider, first - 1);
  rider.gates.resize(size_t(first) + 1, -1);
  rider.gates[size_t(first) - 1] = finish;
  rider.gates[size_t(first)] = now;
  rider.gate_index = first;
}

bool every_bike_replayed() {
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    if (game.slot_bike[slot] && game.slot_kind[slot] != SLOT_REPLAY) return false;
  }
  return true;
}

}  // namespace

void session_set_demo(const char* name) { snprintf(play_name, sizeof play_name, "%s", name ? name : ""); }

const char* session_demo_name() { return play_name[0] ? play_name : DEFAULT_DEMO; }

void session_set_record_file(const char* name) {
  snprintf(record_file, sizeof record_file, "%s", name ? name : "");
}

void session_demos_close() {
  demo_play_close();
  if (!demo_recording()) return;
  // The states since the last block would be lost otherwise.
  demo_record_step(sim_tick, true);
  demo_record_finish();
}

bool session_demo_open() {
  if (demo_play_open(session_demo_name(), false)) {
    session_demo_riders_unmapped();
    return true;
  }
  console_printf("Can't play demo '%.400s'", session_demo_name());
  return false;
}

void session_demo_riders_unmapped() {
  next_demo_rider = 0;
  const DemoHeader* header = demo_play_header();
  for (int rider = 0; header && rider < header->rider_count; rider++) demo_play_map_rider(rider, -1);
}

int session_next_demo_rider(int slot) {
  const DemoHeader* header = demo_play_header();
  if (!header || next_demo_rider >= header->rider_count) return -1;
  const int rider = next_demo_rider++;
  demo_play_map_rider(rider, slot);
  return rider;
}

bool session_pack_slot(int slot, PackedBikeState* out) {
  const Bike* bike = game.slot_bike[slot];
  if (!bike) return false;
  bike_pack(*bike, bike_pack_ranges(*bike, track_pack_ground), out);
  return true;
}

void session_record_start(bool time_trial) {
  const bool has_race_slot = session.connected && session.race_slot != NO_RACE_SLOT;
  record_header = DemoHeader{};
  record_header.version = DEMO_VERSION;
  record_header.duration = race.duration;
  record_header.laps = race.laps;
  record_header.race_start_tick = race_start_tick;
  record_header.track = track_current;
  int count = 0;
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    const Bike* bike = game.slot_bike[slot];
    if (!bike || !demo_records_kind(game.slot_kind[slot], session.connected, has_race_slot)) continue;
    DemoRider& rider = record_header.riders[count];
    rider.model = bike->info.name;
    rider.rider_graphics = session.graphics[slot][0];
    rider.helmet_graphics = session.graphics[slot][1];
    rider.bike_graphics = session.graphics[slot][2];
    rider.wheel_graphics = session.graphics[slot][3];
    snprintf(rider.number, sizeof rider.number, "%.3s", bike->number);
    rider.name = session.player_name[slot];
    record_slots[count++] = slot;
  }
  record_header.rider_count = count;
  DemoRecordSetup setup{};
  setup.header = &record_header;
  setup.slots = record_slots;
  setup.slot_count = count;
  setup.pack = session_pack_slot;
  setup.time_trial_track = time_trial ? track_current : nullptr;
  setup.file = !time_trial && record_file[0] ? record_file : nullptr;
  setup.backups = settings.demo_backups;
  demo_record_start(setup);
}

void session_demos_begin() {
  if (demo_recording()) demo_record_step(sim_tick, true);
  if (!demo_playing()) return;
  demo_read_ahead(&sim_tick);
  // Replayed riders with states are still in the race: the order taken next must not see
  // them as gone and declare the results final before the first step.
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    const HistoryRing& ring = history_rings[slot];
    if (game.slot_bike[slot] && game.slot_kind[slot] == SLOT_REPLAY)
      race_entrants[slot].newest_state_tick = ring.entries[ring.head].tick;
  }
}

void session_time_skip(double seconds) {
  if (!demo_playing() || demo_recording() || !every_bike_replayed() || !track_current[0]) return;
  if (demo_skip_by_stepping(seconds, start_options.accurate_skip)) {
    const int roost = render_params.roost_frequency;
    render_params.roost_frequency = 0;
    const int32_t target = sim_tick + int32_t(std::floor(seconds / SIM_STEP));
    while (sim_tick < target && track_current[0]) session_step();
    render_params.roost_frequency = roost;
    return;
  }
  const int32_t before = sim_tick;
  const int32_t c = demo_skip_seek(&sim_tick, seconds);
  if (c < before) {
    // Gates passed after the new tick have not been passed yet.
    for (RaceEntrant& entrant : race_entrants) {
      if (!entrant.present) continue;
      RiderTiming& rider = entrant.timing;
      size_t n = rider.gates.size();
      while (n > 0 && (rider.gates[n - 1] > c || rider.gates[n - 1] == -1)) n--;
      gate_truncate(rider, int32_t(n));
    }
    race.results_final = false;
    race_order_update(session_race_context());
  }
  session_step();
}

int32_t session_laps_completed(int slot) {
  return game.slot_bike[slot] ? laps_completed(race_entrants[slot].timing) : 0;
}

void time_trial_attempt_start() {
  session_demos_close();
  for (int slot = 1; slot < SLOT_COUNT; slot++) free_slot(slot);
  history_clear_all();
  Bike* bike = game.slot_bike[0];
  if (!bike) return;
  int32_t c = 0;
  if (timing.present) {
    // A short run-up: three checkpoints before the end of the first lap, facing along it.
    c = std::max(timing.first_count - 3, 0);
    const Checkpoint& k = timing.checkpoints[lap_checkpoint(c)];
    session_put_down(bike, k.px, k.pz, float(std::atan2(-k.dx, -k.dz)));
  }
  gate_truncate(race_entrants[0].timing, c);
  race.last_lap = 0;
  race_order_update(session_race_context());
}

void time_trial_step(int32_t rider_laps_before, int32_t ghost_laps_before) {
  if (game.slot_bike[1] && session_laps_completed(1) != ghost_laps_before) {
    const int32_t lap = time_trial_lap_ticks(race_entrants[1].timing);
    if (lap > 0 && (race.best_lap == 0 || lap < race.best_lap)) race.best_lap = lap;
  }
  // Only a lap gained ends a lap: going back to a skipped checkpoint can lower the count.
  if (!game.slot_bike[0] || session_laps_completed(0) <= rider_laps_before) return;

  RiderTiming& rider = race_entrants[0].timing;
  const int32_t rider_gates = gates_passed(rider);
  const int32_t ghost_gates = game.slot_bike[1] ? gates_passed(race_entrants[1].timing) : -1;
  session_demos_close();
  for (int slot = 1; slot < SLOT_COUNT; slot++) free_slot(slot);

  const int32_t lap = time_trial_lap_ticks(rider);
  race.last_lap = lap;
  if (lap > 0 && (race.best_lap == 0 || lap < race.best_lap)) race.best_lap = lap;
  const std::string last = track_demo("lastlap.skdemo"), fast = track_demo("fastlap.skdemo");
  // A lap without a time (the run-up, or one that skipped a checkpoint) never becomes the
  // fastest, even on a track without one yet.
  if (lap > 0 && (!file_exists(fast.c_str()) || ghost_gates < rider_gates))
    demo_copy_file(last.c_str(), fast.c_str());

  rebase_onto_first_lap(rider);
  if (demo_play_open(fast.c_str(), true)) {
    session_demo_riders_unmapped();
    for (int slot = 1; slot < SLOT_COUNT && next_demo_rider < demo_play_header()->rider_count; slot++) {
      session.lineup[slot] = LINEUP_DEMO;
      session_load_slot(slot);
      if (game.slot_bike[slot]) race_entrants[slot].timing = rider;
    }
    demo_read_ahead(&sim_tick);
  }
  session_record_start(true);
  demo_record_step(sim_tick, true);
  race_order_update(session_race_context());
}
