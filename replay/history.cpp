// The state history: insertion in tick order, lookup with interpolation, clearing.
#include "replay/history.h"

#include <algorithm>
#include <cstring>

#include "core/console.h"

HistoryRing history_rings[SLOT_COUNT];
bool history_interpolation = true;

namespace {

struct RingsInit {
  RingsInit() { history_clear_all(); }
} rings_init;

// The entry `back` places older than the head.
HistoryEntry& entry_back(HistoryRing& ring, int back) {
  return ring.entries[((ring.head - back) % HISTORY_LENGTH + HISTORY_LENGTH) % HISTORY_LENGTH];
}

// The two entries around tick t, as indices back from the head. False without history.
bool bracket(HistoryRing& ring, int32_t t, int* older, int* newer) {
  int at_or_after = 0;
  while (at_or_after < HISTORY_LENGTH && entry_back(ring, at_or_after).tick >= t) ++at_or_after;
  if (at_or_after == 0) {
    if (entry_back(ring, 0).tick == HISTORY_EMPTY) return false;
    *newer = 0;
    *older = entry_back(ring, 1).tick != HISTORY_EMPTY ? 1 : 0;
    return true;
  }
  if (at_or_after < HISTORY_LENGTH && entry_back(ring, at_or_after).tick != HISTORY_EMPTY) {
    *older = at_or_after;
    *newer = at_or_after - 1;
    return true;
  }
  *older = at_or_after - 1;
  *newer = at_or_after > 1 ? at_or_after - 2 : *older;
  return true;
}

}  // namespace

bool history_add(int slot, const PackedBikeState& state, int32_t tick) {
  if (slot < 0 || slot >= SLOT_COUNT) {
    console_print("add_state_to_history: slot out of range");
    return false;
  }
  // Negative ticks would read as empty entries.
  if (tick < 0) return false;
  HistoryRing& ring = history_rings[slot];
  int newer = 0;
  while (newer < HISTORY_LENGTH && entry_back(ring, newer).tick > tick) ++newer;
  // In a full ring of later states the new one would be the oldest and dropped at once.
  if (newer == HISTORY_LENGTH) return false;
  if (entry_back(ring, newer).tick == tick) return false;
  // Move the newer entries one place towards the new head; the oldest entry is overwritten.
  for (int back = 0; back < newer; ++back) entry_back(ring, back - 1) = entry_back(ring, back);
  HistoryEntry& slot_entry = entry_back(ring, newer - 1);
  slot_entry.tick = tick;
  slot_entry.state = state;
  ring.head = (ring.head + 1) % HISTORY_LENGTH;
  ring.pending = std::min(ring.pending + 1, HISTORY_LENGTH);
  return true;
}

bool history_sample(int slot, int32_t tick, HistorySample* out) {
  if (slot < 0 || slot >= SLOT_COUNT) return false;
  int32_t t = std::max(tick, 0);
  HistoryRing& ring = history_rings[slot];
  int older, newer;
  if (!bracket(ring, t, &older, &newer)) return false;
  const HistoryEntry& a = entry_back(ring, older);
  const HistoryEntry& b = entry_back(ring, newer);
  out->from = a.state;
  out->to = b.state;
  out->state = a.state;
  // Velocities come from the real spacing of the two states, also before the first one.
  out->ticks = a.tick != b.tick ? b.tick - a.tick : 1;
  if (a.tick < t && a.tick != b.tick) {
    if (b.tick == t) {
      out->state = b.state;
    } else if (history_interpolation) {
      int32_t until = std::min<int64_t>(int64_t(b.tick) + HISTORY_EXTRAPOLATE, t);
      double w = double(until - a.tick) / out->ticks;
      packed_state_interpolate(a.state, b.state, w, &out->state);
    }
  }
  return true;
}

bool history_bracket(int slot, int32_t tick, int32_t* older_tick, int32_t* newer_tick) {
  if (slot < 0 || slot >= SLOT_COUNT) return false;
  HistoryRing& ring = history_rings[slot];
  int older, newer;
  if (!bracket(ring, std::max(tick, 0), &older, &newer)) return false;
  *older_tick = entry_back(ring, older).tick;
  *newer_tick = entry_back(ring, newer).tick;
  return true;
}

void history_clear_all() {
  for (HistoryRing& ring : history_rings) {
    for (HistoryEntry& e : ring.entries) {
      e.tick = HISTORY_EMPTY;
      std::memset(e.state.bytes, 0, sizeof e.state.bytes);
    }
    ring.head = 0;
    ring.pending = 0;
  }
}

bool history_out_of_reach(int slot, int32_t sim_tick) {
  int32_t older, newer;
  if (!history_bracket(slot, sim_tick, &older, &newer)) return true;
  int64_t t = sim_tick;
  return t < int64_t(older) - TICKS_PER_SECOND || t > int64_t(newer) + TICKS_PER_SECOND;
}

bool replay_hidden(const ReplayVisibility& v) {
  if (!v.has_bike) return true;
  if (v.connected && !v.has_race_slot && v.kind == SLOT_LOCAL && !v.viewed) return true;
  if (v.kind != SLOT_REPLAY) return false;
  if (history_out_of_reach(v.slot, v.sim_tick)) return true;
  if (!v.connected || !v.own_bike) return false;
  const HistoryRing& ring = history_rings[v.slot];
  if (int64_t(v.sim_tick) - ring.last_network_tick >= TICKS_PER_SECOND) return true;
  if (v.race_order_count <= 1 || !v.grace_passed) return false;
  // While the own rider is racing at pace, riders who are out of the running are not shown.
  if (v.own_finished || v.own_no_checkpoint || v.own_off_pace) return false;
  return v.finished || v.no_checkpoint || v.off_pace;
}
