// Points series: championships against a fixed field of robots over a list of events (motos)
// grouped into rounds. The ".series" files that define them, the standings files that record
// the finishing positions of the events run, round ranks, the lineup of the next event, and
// the standings table the series page shows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/constants.h"

constexpr int SERIES_POINTS = 40;               // points for positions / round ranks 1..40
constexpr int SERIES_RIDER_MAX = SLOT_COUNT - 1;  // robots in a series; the player makes one more
constexpr int SERIES_NAME_MAX = 1023;
constexpr int SERIES_MINUTES_MAX = 100000;
constexpr int SERIES_LAPS_MAX = 100000;
// Series files are small text; anything longer is not one.
constexpr size_t SERIES_FILE_MAX = 1 << 20;

struct SeriesEvent {
  std::string name;
  int track;  // index into the track list
  int minutes;
  int laps;
  int moto_points[SERIES_POINTS];   // for finishing positions 1..40
  int round_points[SERIES_POINTS];  // for round ranks 1..40; first 0 = the event ends no round
  // Per rider (robots in series order, the player last): finishing position 0.., the rider
  // count n meaning not classified; and the round rank, valid for events that end a round.
  int position[SLOT_COUNT];
  int round_rank[SLOT_COUNT];
};

struct Series {
  std::string name;
  std::string standings_file;  // "@" + series file name + "_standings"
  int skill;                   // robot skill: 0 Novice, 1 Amateur, 2 Expert
  int rider_count;             // robots; the player is rider rider_count
  int numbers[SERIES_RIDER_MAX];  // robots' race numbers
  std::vector<SeriesEvent> events;
  int completed;  // events run, 0..events.size()
};

extern std::vector<Series> series_list;
// The event being raced for the standings: series index and event index, -1 when none.
struct SeriesProgress {
  int series = -1;
  int event = -1;
};
extern SeriesProgress series_in_progress;

// Reads one series definition from text. The track lookup gives a track list index for a
// directory name, -1 when there is none. False with the reason in *error for a field that is
// missing or does not parse, a rider count of 160 or more, or a track not in the list.
bool series_parse(const char* text, size_t size, int (*find_track)(const char* dir), Series* out,
                  std::string* error);
// Reads the standings text: one line of rider count + 1 integers (position + 1) per completed
// event; stops at the first incomplete or out-of-range line. Sets the completed count and the
// round ranks.
void series_read_standings(Series* series, const char* text, size_t size);
// The standings text of the completed events.
std::string series_standings_text(const Series& series);
// Round ranks of every completed event that ends a round, from the moto points.
void series_compute_ranks(Series* series);

// Start-up: every ".series" file of the file index with its standings; unreadable or
// malformed ones are skipped (logged at debug level).
void series_load_all();
// Shutdown: forgets every series.
void series_free_all();

// The lineup request for the series' next event (values of core/lineup.h per slot, 0 for an
// empty slot). False when every event is done.
bool series_next_lineup(const Series& series, int lineup[SLOT_COUNT]);
// Marks the series' next event as the one in progress; false when it has none.
bool series_mark_in_progress(int series);
// Records the event in progress, if it is still its series' next event: finishing positions
// from the final classification (or the running order when the race did not end), round
// ranks, and the standings file. Runs at every reset, when the results become final and at
// shutdown.
void series_finish_event();
// "Reset Points": no event completed; the standings file stays until the next recorded event.
void series_reset_points(int series);

// The standings table of the series page, in blocks of eight rounds.
constexpr int SERIES_BLOCK_ROUNDS = 8;
struct SeriesTableRow {
  int rider;  // series rider index (rider_count = the player)
  int total;  // round points up to the block's last round
  std::vector<std::string> cells;  // one per round of the block
};
struct SeriesTableBlock {
  int first_round;  // 0-based; the header shows "Rd %d" with first_round + 1 ...
  std::vector<SeriesTableRow> rows;
};
// The number of rounds: each event that ends a round closes one, and events after the last
// such event make one more.
int series_round_count(const Series& series);
std::vector<SeriesTableBlock> series_standings_table(const Series& series);
// The heading above the table: "Next Event: %.900s" or "%.900s Final Standings".
std::string series_heading(const Series& series);
