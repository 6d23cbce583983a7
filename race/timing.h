// Timing gates of the loaded track (start gate pieces, checkpoints, the lap list) and the
// per-rider gate record: which checkpoint a rider touched when, laps and lap times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int START_GATE_PIECE_MAX = 160;
constexpr int CHECKPOINT_MAX = 256;
// Entries of each part of the lap list (first lap, normal lap).
constexpr int LAP_PART_MAX = 256;
// A lap entry of this value plus n is checkpoint n, timed but left out of the racing lines.
constexpr int32_t LAP_ENTRY_UNCOUNTED = 100000;
// Highest lap-sequence index a rider's gate list may reach (about 4 MB of ticks), so a
// corrupt count from a stream can never make the list grow without bound.
constexpr int32_t GATE_INDEX_MAX = 1 << 20;
// Where a start gate piece's object stands: this far (ft) ahead of its stored position.
constexpr float START_GATE_OBJECT_OFFSET = 3.0f;

struct StartGatePiece {
  float x, y, z;  // stored position, as in the file
  float angle;    // rad, within -pi..pi; the riders behind it face (-sin, -cos)
  float object_x, object_y, object_z;  // where the piece's track object stands
  // Names of the object's model, texture and collision shape; empty = none.
  std::string model, texture, shape;
};

struct Checkpoint {
  float radius;      // ft
  float px, py, pz;  // centre; only x and z are used
  float dx, dy, dz;  // direction of travel; only x and z are used
};

struct TimingGates {
  int32_t piece_count;
  StartGatePiece pieces[START_GATE_PIECE_MAX];
  int32_t checkpoint_count;
  Checkpoint checkpoints[CHECKPOINT_MAX];
  // First-lap entries followed by normal-lap entries; each n or LAP_ENTRY_UNCOUNTED + n.
  int32_t lap_list[2 * LAP_PART_MAX];
  int32_t first_count, normal_count;  // lengths of the two parts
  int32_t first_lines, normal_lines;  // entries of each part below LAP_ENTRY_UNCOUNTED
  bool present;  // checkpoints and both laps with a counted entry: laps are timed
};

// The loaded track's timing data (one track at a time).
extern TimingGates timing;

// One rider's progress through the lap sequence. Lap-sequence index i is the i-th checkpoint
// the rider must pass in the race (first lap, then the normal lap repeated).
struct RiderTiming {
  // Lap-sequence index of the checkpoint touched last. As a count ("gates passed") it says
  // that the ticks of indices 0 .. gate_index - 1 are final.
  int32_t gate_index = 0;
  // Tick per lap-sequence index: the last step the front wheel was through that checkpoint
  // before the next one was reached; -1 = skipped.
  std::vector<int32_t> gates;
  bool finished = false;  // has taken the chequered flag; its gates are no longer tested
};

// Empties the timing data: no pieces, no checkpoints, no laps.
void timing_clear();

// Reads a timing file (the track loader passes "@" + track directory + "/timing_gates").
// Resets the timing data first; false when the file cannot be opened (no timing, no gate).
bool timing_gates_read(const char* path);
// Writes "@" + track_dir + "/timing_gates" into the home directory. False (after posting
// "Can't open 'timing_gates'") when the file cannot be created.
bool timing_gates_write(const char* track_dir);
// Checks the raw lists against the limits and the checkpoints, wraps the piece angles and
// works out the counts and the present flag; the reader calls it, and so may an editor after
// changing the lists. Entries: negative -> 0, checkpoint number clamped to the last one.
void timing_normalise();

// The lap-list position of lap-sequence index i (>= 0) and the checkpoint it names.
int32_t lap_entry_index(int32_t i);
int32_t lap_checkpoint(int32_t i);
// True when index i ends a lap (the last entry of the first or of a normal lap).
bool is_lap_end(int32_t i);
// Lap-sequence index of the checkpoint that ends lap `lap` (>= 1).
int32_t lap_end_index(int32_t lap);

// What one step of gate progress did.
struct GateStep {
  bool accepted;  // a checkpoint was credited (the same one again, or another)
  bool advanced;  // gate_index moved on to a higher index
  bool counted;   // the new checkpoint's lap entry is below LAP_ENTRY_UNCOUNTED
  int32_t index;  // gate_index after the step
};

// The per-step checkpoint test for one rider (skipped without timing or once finished).
// wheel_x, wheel_z: the front wheel body's horizontal position (ft); tick: the current step.
GateStep gate_progress(RiderTiming& rider, float wheel_x, float wheel_z, int32_t tick);
// Rewinding and lap restarts: gate_index = n, the gate list cut to at most n entries;
// clears the finished flag when n is below the old gate_index.
void gate_truncate(RiderTiming& rider, int32_t n);

// Tick stored at index i, -1 when absent or out of range.
int32_t gate_tick(const RiderTiming& rider, int32_t i);
// The rider's gate_index as the race order counts it.
int32_t gates_passed(const RiderTiming& rider);
// Laps completed for a count of gates passed, and for a rider.
int32_t laps_for_gates(int32_t gates);
int32_t laps_completed(const RiderTiming& rider);
// Checkpoint number within the current lap, for the HUD.
int32_t lap_in_progress_gate(const RiderTiming& rider);
// Length of lap `lap` in ticks (lap 1 from start_tick), 0 when not completed or not known.
int32_t lap_ticks(const RiderTiming& rider, int32_t lap, int32_t start_tick);
// The same in seconds.
double lap_time(const RiderTiming& rider, int32_t lap, int32_t start_tick);
// The fastest lap from lap 2 on (lap 1 starts from the gate), earlier lap on ties;
// 0 with fewer than two laps completed.
int32_t best_lap(const RiderTiming& rider);

// Mean ticks riders took from lap-sequence index s to e (s < e): every rider that knows all
// ticks from s to e contributes; from the first normal lap on every lap's occurrence of the
// segment counts, averaged per rider first. 60 s when nobody contributes.
int32_t segment_average_ticks(const RiderTiming* const* riders, int count, int32_t s, int32_t e);
