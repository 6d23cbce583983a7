// The race session's rules: start and length, the running order, finishing, the cutting and
// false-start penalties, the final classification with "@results.txt", and what the flaggers
// and the results board show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/constants.h"
#include "race/timing.h"

// race_laps and the halfway lap before a timed race has decided them.
constexpr int32_t RACE_LAPS_UNDECIDED = 1000000;
// The online false-start penalty holds the rider until this long after the start (s).
constexpr int32_t FALSE_START_SECONDS = 15;
// Squared distance (ft²) from the start position that counts as a false start.
constexpr float FALSE_START_DISTANCE_SQUARED = 9.0f;
constexpr const char* FALSE_START_MESSAGE = "15 second false start penalty";

// One line of the running order (12 bytes).
struct RaceOrderEntry {
  int32_t slot;
  int32_t gates;  // gates passed
  int32_t tick;   // tick of the last passed checkpoint (index gates - 1), 0 before the first
};

// A bike in the race, by slot. The session fills it when it creates the bike and keeps the
// last three fields current.
struct RaceEntrant {
  bool present = false;  // a bike stands in this slot
  SlotKind kind = SLOT_LOCAL;
  RiderTiming timing;
  std::string number;  // race number as shown
  std::string model;   // bike model name
  // SLOT_REPLAY: tick of the newest state history entry, -1 when the history is empty.
  int32_t newest_state_tick = -1;
  // Connected: tick at which the last network state of this slot arrived.
  int32_t net_state_tick = 0;
  bool crashed = false;  // the rider is down (for the course flaggers)
};

struct RaceState {
  int32_t start_tick;  // the gate drops at this tick
  int32_t duration;    // ticks; 0 = a race by laps only
  int32_t laps;        // laps setting: the whole race, or the laps after the time
  int32_t race_laps;   // total laps, RACE_LAPS_UNDECIDED until the time has run out
  int32_t halfway_lap;  // the flaggers' designated lap, RACE_LAPS_UNDECIDED until decided
  bool results_final;
  int32_t order_count;
  RaceOrderEntry order[SLOT_COUNT];
  // The final classification (cut penalties applied), valid once results_final is set.
  int32_t final_count;
  RaceOrderEntry final_order[SLOT_COUNT];
  int32_t penalty[SLOT_COUNT];       // per slot: cutting penalty in ticks
  int32_t laps_removed[SLOT_COUNT];  // per slot: whole laps taken away for cutting
  int32_t penalty_countdown;         // ticks the local rider is still held (online)
  float start_position[3];           // where the local rider was placed on the start
  int32_t best_lap, last_lap;        // time trial, ticks; 0 = none
};

extern RaceState race;
extern RaceEntrant race_entrants[SLOT_COUNT];

// The session around the race rules, passed by the caller.
struct RaceContext {
  int32_t sim_tick = 0;
  bool connected = false;      // online
  bool has_race_slot = false;  // online and the server gave this client a slot in the race
  const char* track_name = "";
  int64_t calendar_time = 0;   // seconds since the epoch, for the results file
};

// Gate ticks each entrant has room for before its list grows: about 75 laps of 13 checkpoints.
constexpr size_t GATE_LIST_RESERVE = 1024;

// Offline start tick: 13 to 15 s after tick 0 for a uniform u in [0, 1).
int32_t race_start_tick_for(double u);
// A new race on the loaded track: stores its length and start, decides race_laps and the
// halfway lap where the length allows, clears order, results and penalties.
void race_reset(int32_t duration_ticks, int32_t laps, int32_t start_tick);
// Removes every entrant; adds one in a slot with an empty gate record.
void race_entrants_clear();
RaceEntrant& race_entrant_add(int32_t slot, SlotKind kind, const char* number, const char* model);

// The per-step checkpoint test of one rider (session step): gate progress, then the finish
// test when the rider reaches a lap end. The caller runs the racing-line bookkeeping on
// step.advanced && step.counted and then race_order_update when step.accepted.
GateStep race_gate_progress(int32_t slot, float wheel_x, float wheel_z, int32_t sim_tick);

// Recomputes the running order, the race length and, once the race is over, the final
// classification and "@results.txt". True when the results became final in this call (the
// points series then records the event).
bool race_order_update(const RaceContext& context);
// True once the rider in this slot has taken the chequered flag; sets its finished flag.
bool rider_finished(int32_t slot);
// "%d laps", "%d minutes" or "%d minutes + %d laps".
void race_length_text(char* buffer, size_t size);

// Online, each step for the local rider: the false-start test before the start (posting
// FALSE_START_MESSAGE once when it strikes) and the penalty countdown. hold: keep the rider on
// both brakes this step.
struct FalseStart {
  bool penalty_started;
  bool hold;
};
FalseStart race_false_start_step(float frame_x, float frame_y, float frame_z, int32_t sim_tick);

// Laps the leader has completed (0 without riders).
int32_t race_leader_laps();
// Laps the finish flagger counts towards: race_laps, or, once the time has run out and the
// leader stands exactly at the end of a lap, no more than that lap plus the extra laps.
int32_t race_flag_laps(int32_t sim_tick);
// Per checkpoint: a rider is down whose last touched checkpoint it is.
void race_rider_down_gates(bool down[CHECKPOINT_MAX]);

// Ticks by which `behind` trails `ahead` (negative when it does not): at the last gate when
// both passed as many gates, else at the last gate index both passed; 0 when a tick is
// missing.
int32_t race_gap_ticks(const RaceOrderEntry& ahead, const RaceOrderEntry& behind);

// One row of the results board.
struct BoardRow {
  int32_t position;  // 1-based
  int32_t slot;
  int32_t laps;
  double gap;           // s behind the row above; 0 for the first and when not behind
  int32_t best_ticks;   // best lap time, 0 without one
  int32_t best_number;  // best lap number, 0 with fewer than two laps
};
struct ResultsBoard {
  bool shown;  // the leader has finished
  bool final;  // "Final Results", else "Unofficial Results" (finished riders only)
  int32_t row_count;
  BoardRow rows[SLOT_COUNT];
  int32_t total_race_ticks;  // final: the winner's last-gate tick - start tick
};
void race_results_board(ResultsBoard& board);
// The red line under the final board for a penalised rider, empty when it has none.
std::string race_penalty_text(int32_t slot);
// "%d:%02d.%03d" of a tick count (minutes, seconds, milliseconds; negative counts as 0).
std::string race_time_text(int32_t ticks, int minute_width = 1);
