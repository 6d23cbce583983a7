// Recording and playing demos: the recorder writes the states of the recorded bikes and the
// messages of a race; the player feeds a demo's states into the state history.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/constants.h"
#include "replay/demo_format.h"

constexpr int DEMO_STATE_EVERY = 4;        // ticks between recorded states
constexpr int DEMO_BLOCK_EVERY = 16;       // ticks between written blocks
constexpr int DEMO_MAX_BACKUPS = 100;
constexpr int DEMO_READ_BLOCKS = 128;      // blocks read per read-ahead call at most
constexpr int32_t DEMO_READ_AHEAD = 64;    // ticks a version-6 demo is read ahead of the session
constexpr int32_t DEMO_RECORD_AHEAD = 8;   // ticks an older demo is read ahead
// Entries more than this many ticks from their block's tick cannot come from a recorder and
// are skipped.
constexpr int32_t DEMO_ENTRY_TICK_SPREAD = 16 * TICKS_PER_SECOND;

// Packs the current state of the bike in slot; false when there is no bike.
using DemoPackFn = bool (*)(int slot, PackedBikeState* out);

// Whether a bike of this kind is recorded: offline the bikes ridden here and robots;
// connected with a race slot every bike; connected without one the others' bikes and robots.
bool demo_records_kind(SlotKind kind, bool connected, bool has_race_slot);

struct DemoRecordSetup {
  const DemoHeader* header;   // riders in slot order, one per recorded slot
  const int* slots;           // the recorded slots, ascending
  int slot_count;
  DemoPackFn pack;
  const char* time_trial_track;  // records "@<track>/lastlap.skdemo" when set
  int backups;                // the demo_backups setting
  const char* file;           // records into this file instead, without backups (tools); null = not
};

// Begins a recording. The bytes go to a side file that replaces the demo (after the backups
// are rotated) only when the recording is finished whole, so a recording that cannot be
// written leaves the previous demo and its backups as they were. False when the side file
// cannot be opened; nothing is recorded then.
bool demo_record_start(const DemoRecordSetup& setup);

// Each step after sim_tick advanced: every DEMO_STATE_EVERY ticks the recorded bikes' states
// enter their histories, every DEMO_BLOCK_EVERY ticks the pending ones are written. force
// does both now. No allocation.
void demo_record_step(int32_t sim_tick, bool force);

// Writes a console line (type 2), a command text (type 3) or erosion data (type 5) now.
void demo_record_block(uint8_t type, int32_t sim_tick, const void* payload, uint32_t length);

// Closes the recording and puts it in place; then applies a name given by the console.
// False when the recording failed and the previous files were left alone.
bool demo_record_finish();

bool demo_recording();

// A byte copy of one demo over another (the time trial's fastest lap). The target changes
// only when the whole copy was written.
bool demo_copy_file(const char* from, const char* to);

// The console's "namedemo": the finished default demo is renamed to "@demos/" + name.
void demo_set_pending_name(const char* name);

// Where played-back commands and erosion data go; the session points these at its erosion
// rate and the erosion decoder. Either may be null. Console lines go to the console.
struct DemoPlaybackHandlers {
  void (*erosion_rate)(int rate);
  void (*erosion)(const uint8_t* data, uint32_t length);
};
void demo_set_playback_handlers(const DemoPlaybackHandlers& handlers);

// Opens a demo to play: loads it and reads its header. In the time trial, demo ticks are
// shifted onto the session's ticks. False when the file cannot be read or the header is not
// accepted. Rider i goes to slot i until demo_play_map_rider says otherwise.
bool demo_play_open(const char* name, bool time_trial);
// The same on bytes already in memory (copied).
bool demo_play_open_bytes(const uint8_t* data, size_t size, bool time_trial);
void demo_play_close();
bool demo_playing();
// True once every block or record of the playback demo has been read.
bool demo_play_ended();
const DemoHeader* demo_play_header();
void demo_play_map_rider(int rider, int slot);  // slot -1: the rider is not played

// Reads blocks or records into the state histories up to a little ahead of sim_tick. The
// first states block of a demo not played in the time trial sets sim_tick to its tick.
void demo_read_ahead(int32_t* sim_tick);

// Skipping during playback. A forward skip of a version-6 demo, or any forward skip when
// every step is to be simulated, is done by running the session: demo_skip_by_stepping says
// so. Otherwise demo_skip_seek moves the demo to the target tick c = max(0, sim_tick +
// seconds / SIM_STEP - 1), sets sim_tick to c, clears the histories and reads ahead; it
// returns c. The caller then truncates the gate lists when c lies before the old tick,
// recomputes the race order and runs one session step.
bool demo_skip_by_stepping(double seconds, bool accurate_skip);
int32_t demo_skip_seek(int32_t* sim_tick, double seconds);

// The demo list of the playback menu: every file-index name under "demos/" ending in ".skdemo",
// as the "@" name to open and the base name without directory and extension to show.
struct DemoListEntry {
  std::string file;
  std::string display;
};
extern std::vector<DemoListEntry> demo_list;
// Builds demo_list from the file index.
void demo_list_build();
