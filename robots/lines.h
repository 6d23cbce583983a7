// Racing lines learnt from riders' laps: one row of line slots per counted gate segment, the
// recording of every non-robot rider's path, statistics from robot runs, the per-skill plans
// and the "ct03" lines files.
#pragma once

#include <cstdint>
#include <vector>

#include "core/constants.h"

struct Bike;
struct VfsFile;

// One sample of a path (20 bytes): frame position (ft), speed (ft/s, negative while both wheels
// are off the ground) and roll (rad, positive leaning left).
struct LinePoint {
  float x, y, z;
  float speed;
  float roll;
};
static_assert(sizeof(LinePoint) == 20);

constexpr int LINE_SLOTS = 45;           // lines kept per segment row
constexpr int LINE_SAMPLE_STEPS = 32;    // steps between two samples of a path (0.25 s)
constexpr int32_t LINE_FAILURE_PENALTY = 640;  // ticks (5 s) a failure adds to a line's score
constexpr int32_t LINE_TIME_NONE = 1000000;    // min_a and min_b of a line never tested
// Longest path a line may hold (about 4.5 h of riding); longer recordings are no racing line,
// and lines files asking for more are corrupt.
constexpr int32_t LINE_POINTS_MAX = 65536;
constexpr int LINE_PLAN_TYPES = 3;  // the planned skill types: novice, amateur, expert
constexpr int LINE_TYPE_EXPLORE = 3;  // the cost type of the "tester" robots
// The lines file of each skill (the robot skill index), in the track's directory.
constexpr const char* LINE_SET_NAMES[LINE_PLAN_TYPES] = {"lines_novice", "lines_amateur", "lines_expert"};

// One line slot. count 0 = empty.
struct RacingLine {
  std::vector<LinePoint> points;
  int32_t count;
  int32_t time_a;  // ticks of the segment itself when it was recorded
  int32_t time_b;  // ticks through this segment and the next one
  int32_t tested;  // successful robot runs
  int32_t min_a, min_b;  // best tested times (LINE_TIME_NONE until tested)
  int32_t sum_a, sum_b;  // sums of the tested times
  int32_t failures;      // robot runs that ended in a fall or off the line
  int32_t last_picked;   // tick a robot last chose the line; not saved
  int32_t line_id;       // unique in the session, from 1
};

// The line table of the loaded track: A = first_lines rows for the first lap, then
// L = normal_lines rows for the repeating lap. Row s holds the lines of the stretch that ends
// at the counted gate of gate-sequence index s (the start for row 0).
struct LineTable {
  bool present;  // the track has timing; false = no table
  int32_t first_lines, normal_lines;
  std::vector<RacingLine> slots;  // (A + L) * LINE_SLOTS, row by row
  // LinePlan: per skill type and row the line_id of the planned line, 0 = none.
  std::vector<int32_t> plan[LINE_PLAN_TYPES];
  bool changed;  // lines or statistics changed since the table was created or read
};
extern LineTable line_table;

// Robots leave the statistics alone when this is off ("--nolearn").
extern bool lines_learn;

// Builds the empty table for the loaded timing data (no table without timing) and resets the
// per-rider recordings. Called when a track with timing gates loads.
void lines_table_create();
// Frees the table (track unload).
void lines_table_free();
// Empties every slot and plan of the table; the table itself stays.
void lines_clear();
// Rows A + L of the table (0 without one).
int32_t lines_row_count();
// Row of gate-sequence index n (counted gates only): n below A, else A + (n - A) mod L.
int32_t lines_row_of(int32_t n);
// The row after `row` in lap order (the last row of either lap continues into row A).
int32_t lines_next_row(int32_t row);
RacingLine& lines_slot(int32_t row, int slot);
// The line with this id, null when there is none.
RacingLine* lines_find(int32_t line_id);

// Per race: last_picked of every line back to 0 and every rider's recording emptied.
void lines_reset_race();

// Counted gates among lap-sequence indices below i (a negative i counts 0), and the
// lap-sequence index of counted gate k (k >= 0).
int32_t lines_counted_before(int32_t i);
int32_t lines_lap_index(int32_t k);

// Per step for every bike that runs gate progress, before the checkpoint test: samples the
// path of a non-robot every LINE_SAMPLE_STEPS steps and turns a robot's fall into a failure of
// the line it follows. The bike's tag is its slot.
void lines_record_step(Bike* bike);
// When the bike's gate index advanced to the counted lap-sequence index `gate_index`: the
// candidate line of a non-robot, the statistics of a robot's line, and a finished robot's
// roll-out along the rest of its path.
void lines_gate_passed(Bike* bike, int32_t gate_index);

// The integer score the eviction rule ranks a line by (lower is better).
int64_t lines_score(const RacingLine& line);

// Connection and cost matrices over row_count consecutive rows in lap order from first_row.
// Row k of the range is row k of the arrays below; lines are slot indices 0..44.
struct LineCosts {
  int32_t first_row = 0, row_count = 0;
  std::vector<int32_t> rows;          // [k]: the table row
  std::vector<double> cost;           // [k][i]: own cost of line i
  std::vector<uint8_t> connected;     // [k][i][j]: line i of row k continues into j of row k+1
  std::vector<double> total;          // [k][i][e]: cheapest cost from line i of row k to e of the last row
  std::vector<int8_t> choice;         // [k][i][e]: the line of row k+1 on that way, -1 = none
  double total_at(int k, int i, int e) const { return total[(k * LINE_SLOTS + i) * LINE_SLOTS + e]; }
  int choice_at(int k, int i, int e) const { return choice[(k * LINE_SLOTS + i) * LINE_SLOTS + e]; }
  bool connected_at(int k, int i, int j) const { return connected[(k * LINE_SLOTS + i) * LINE_SLOTS + j] != 0; }
};
// A total at or above this has no way through the rows.
constexpr double LINE_COST_UNREACHABLE = 1e30;

// Own cost of a line under a cost type (0-2 the skills, 3 exploration).
double lines_cost(const RacingLine& line, int type);
// True when the path of `from` (its last three points) continues into `to` (its first two).
bool lines_connected(const RacingLine& from, const RacingLine& to);
// Centre of the circle through three points in the x-z plane; far out along the bisector
// when they lie on a line.
void lines_circle_centre(const LinePoint& p1, const LinePoint& p2, const LinePoint& p3, double& kx, double& kz);
// Fills `out` for row_count (>= 1) rows from first_row. The caller keeps `out` for reuse, so
// repeated calls do not allocate.
void lines_connectivity_cost(int32_t first_row, int32_t row_count, int type, LineCosts& out);
// For each line i of first_row, the cheapest total over every end line of the run of
// row_count rows: out[i] = min over e of the total at (0, i, e) that lines_connectivity_cost
// gives, LINE_COST_UNREACHABLE when none. out holds LINE_SLOTS values.
void lines_cheapest_totals(int32_t first_row, int32_t row_count, int type, double* out);
// Plans the line of every row for the three skill types (LinePlan); logs the expected first
// and normal lap times.
void lines_analyze();

// The "ct03" text format. lines_read fills the table (after emptying it) and returns false,
// leaving it empty, when the header is not "ct03" with this table's row count.
bool lines_read(VfsFile* file);
// Writes the whole table; false when a write failed.
bool lines_write(VfsFile* file);
// "@" + track + "/" + LINE_SET_NAMES[line_set]: read into the table (false when missing or not
// for this table), and written back through a temporary file that replaces it only once
// complete, so a failed write keeps the previous file. lines_save writes only a changed table.
bool lines_load(const char* track, int line_set);
bool lines_save(const char* track, int line_set);
