// The session's demos: recording a race, playing one back with skip and rewind, and the time
// trial's attempts, lap ends and ghost.
#pragma once

#include <cstdint>

#include "replay/packed_state.h"

// The demo the next reset with the playback flag plays: a path or an "@" name; null or ""
// plays "@demos/default.skdemo".
void session_set_demo(const char* name);
const char* session_demo_name();
// Where the next recording goes instead of "@demos/default.skdemo" (tools); null = there.
void session_set_record_file(const char* name);

// Reset: closes the demo being played and finishes the recording with its pending states.
void session_demos_close();
// Reset with the playback flag: opens the demo; false when it cannot be read. The header then
// gives the track, the race length and the start tick.
bool session_demo_open();
// No demo rider has a slot yet; the next one asked for is the first.
void session_demo_riders_unmapped();
// Reset: the next demo rider for a slot of lineup value 0, mapped to that slot; -1 when the
// demo has no more riders.
int session_next_demo_rider(int slot);
// Starts recording the bikes now in their slots (time_trial: into the track's "lastlap").
void session_record_start(bool time_trial);
// Packs the state of the bike in slot; false without a bike.
bool session_pack_slot(int slot, PackedBikeState* out);
// Reset, last: the initial states into the recording, the playback demo read ahead.
void session_demos_begin();

// Skip (+) and Rewind (-) during playback, by seconds.
void session_time_skip(double seconds);

// The time trial. An attempt starts at a checkpoint shortly before the finish; each lap end
// saves the lap as "lastlap.skdemo", keeps it as "fastlap.skdemo" when it beat the ghost and
// sends the ghost round the fastest lap again.
void time_trial_attempt_start();
// Each step: laps completed by the rider (slot 0) and the ghost (slot 1) before the step.
void time_trial_step(int32_t rider_laps_before, int32_t ghost_laps_before);
// Laps completed by the bike in a slot, 0 without one.
int32_t session_laps_completed(int slot);
