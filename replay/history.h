// Per-slot rings of time-stamped packed bike states, from which replayed bikes are posed and
// from which the demo recorder takes the states it writes.
#pragma once

#include <cstdint>

#include "core/constants.h"
#include "replay/packed_state.h"

constexpr int HISTORY_LENGTH = 128;            // entries per slot
constexpr int32_t HISTORY_EXTRAPOLATE = 64;    // ticks a pose may run past the newest state
constexpr int32_t HISTORY_EMPTY = -1;          // tick of an unused entry

struct HistoryEntry {
  int32_t tick;
  PackedBikeState state;
};

// Entries run oldest to newest by increasing tick, the newest at head.
struct HistoryRing {
  HistoryEntry entries[HISTORY_LENGTH];
  int head;
  int pending;                 // entries added since the recorder last wrote them, 0..128
  int32_t last_network_tick;   // tick of the last state a server sent for this slot
};

// What a slot's bike is posed from at one tick: the state to take and the two history
// entries around it, whose difference over `ticks` gives the bodies' velocities.
struct HistorySample {
  PackedBikeState state;
  PackedBikeState from;
  PackedBikeState to;
  int ticks;
};

// The rings of the session, indexed by slot.
extern HistoryRing history_rings[SLOT_COUNT];

// Playing a demo of the oldest version turns interpolation off: poses then jump from
// state to state.
extern bool history_interpolation;

// Inserts a state at its sorted place; a tick already held changes nothing. Returns whether
// the state was added.
bool history_add(int slot, const PackedBikeState& state, int32_t tick);

// The state a slot takes at tick (below 0 counts as 0), interpolated between the entries
// around it and extrapolated at most HISTORY_EXTRAPOLATE ticks past the newest. False when
// the slot has no history. Walks at most HISTORY_LENGTH entries, no allocation.
bool history_sample(int slot, int32_t tick, HistorySample* out);

// The two entries around tick as history_sample picks them: false when there is no valid
// one. Gives their ticks.
bool history_bracket(int slot, int32_t tick, int32_t* older_tick, int32_t* newer_tick);

// Every entry empty, heads and pending counts 0.
void history_clear_all();

// The visibility rule for a replayed slot from its history alone: hidden when there is no
// state, or the tick lies more than a second outside the entries around it.
bool history_out_of_reach(int slot, int32_t sim_tick);

// What decides whether a slot's bike is drawn and heard; the session fills one per slot.
struct ReplayVisibility {
  int slot;
  bool has_bike;
  SlotKind kind;
  bool viewed;              // the slot the camera follows
  int32_t sim_tick;
  bool connected;           // to a game server
  bool has_race_slot;       // connected and riding in the race
  bool own_bike;            // connected with a bike of this computer's
  int race_order_count;     // riders in the race order
  bool grace_passed;        // at least the grace time has passed since the start
  bool own_finished, own_no_checkpoint, own_off_pace;  // of the own bike
  bool finished, no_checkpoint, off_pace;              // of this slot's rider
};

// True when the slot's bike must not be drawn or heard.
bool replay_hidden(const ReplayVisibility& v);
