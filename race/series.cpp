// Points series: reading series and standings files, round ranks, the next event's lineup,
// recording an event from the race's classification, and the standings table.
#include "race/series.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "core/console.h"
#include "core/lineup.h"
#include "files/replace.h"
#include "files/vfs.h"
#include "platform/vant.h"
#include "race/race.h"
#include "track/track_list.h"

std::vector<Series> series_list;
SeriesProgress series_in_progress;

namespace {

// A cursor over untrusted text: every read stays inside the remaining length.
struct Cursor {
  const char* p;
  size_t left;

  bool space() const { return left > 0 && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f' || *p == '\v'); }
  void skip_space() {
    while (space()) p++, left--;
  }
  // A double-quoted name (up to SERIES_NAME_MAX characters) or one word.
  bool name(std::string* out) {
    skip_space();
    if (left == 0) return false;
    out->clear();
    if (*p == '"') {
      p++, left--;
      while (left > 0 && *p != '"') {
        if (out->size() == size_t(SERIES_NAME_MAX)) return false;
        out->push_back(*p++);
        left--;
      }
      if (left == 0) return false;  // no closing quote
      p++, left--;
      return true;
    }
    while (left > 0 && !space()) {
      if (out->size() == size_t(SERIES_NAME_MAX)) return false;
      out->push_back(*p++);
      left--;
    }
    return true;
  }
  // A decimal integer that fits an int and ends at white space or the end.
  bool integer(int* out) {
    skip_space();
    char digits[24];
    size_t n = 0;
    while (left > 0 && !space()) {
      if (n + 1 == sizeof digits) return false;
      digits[n++] = *p++;
      left--;
    }
    if (n == 0) return false;
    digits[n] = 0;
    char* end = nullptr;
    errno = 0;
    const long value = strtol(digits, &end, 10);
    if (errno || *end || value < -2147483647L - 1 || value > 2147483647L) return false;
    *out = int(value);
    return true;
  }
  // The rest of the line, up to and past its "\n".
  Cursor line() {
    const char* start = p;
    while (left > 0 && *p != '\n') p++, left--;
    Cursor c{start, size_t(p - start)};
    if (left > 0) p++, left--;
    return c;
  }
};

bool fail(std::string* error, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool fail(std::string* error, const char* format, ...) {
  char text[1200];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (error) *error = text;
  return false;
}

int skill_index(const std::string& label) {
  if (label == "Novice") return 0;
  if (label == "Amateur") return 1;
  return 2;
}

bool ends_round(const SeriesEvent& e) { return e.round_points[0] != 0; }

int points_at(const int* table, int index) { return index >= 0 && index < SERIES_POINTS ? table[index] : 0; }

bool read_text(const char* name, std::string* text, size_t limit) {
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return false;
  char buffer[4096];
  bool ok = true;
  for (;;) {
    const int n = vfs_read(file, buffer, sizeof buffer);
    if (n <= 0) break;
    if (text->size() + size_t(n) > limit) {
      ok = false;
      break;
    }
    text->append(buffer, size_t(n));
  }
  vfs_close(file);
  return ok;
}

bool ends_with(const char* text, const char* tail) {
  const size_t n = strlen(text), t = strlen(tail);
  return n >= t && strcasecmp(text + n - t, tail) == 0;
}

// Rounds as ranges of events [first, last].
struct Round {
  int first, last;
};
std::vector<Round> rounds_of(const Series& s) {
  std::vector<Round> rounds;
  int first = 0;
  const int m = int(s.events.size());
  for (int k = 0; k < m; k++) {
    if (ends_round(s.events[k])) {
      rounds.push_back({first, k});
      first = k + 1;
    }
  }
  if (first < m) rounds.push_back({first, m - 1});
  return rounds;
}

std::string cell_text(const Series& s, const Round& r, int rider) {
  const int motos = r.last - r.first + 1;
  const int done = s.completed - r.first;  // motos of this round already run
  char text[64];
  if (done >= motos && ends_round(s.events[r.last])) {
    const SeriesEvent& end = s.events[r.last];
    const int points = points_at(end.round_points, end.round_rank[rider]);
    if (motos == 2) {
      snprintf(text, sizeof text, "%d (%d-%d)", points, s.events[r.first].position[rider] + 1, end.position[rider] + 1);
    } else if (motos == 3) {
      snprintf(text, sizeof text, "%d (%d-%d-%d)", points, s.events[r.first].position[rider] + 1,
               s.events[r.first + 1].position[rider] + 1, end.position[rider] + 1);
    } else {
      snprintf(text, sizeof text, "%d (%d)", points, end.round_rank[rider] + 1);
    }
    return text;
  }
  if (motos == 2 && done == 1) {
    snprintf(text, sizeof text, "- (%d-)", s.events[r.first].position[rider] + 1);
    return text;
  }
  return "-";
}

}  // namespace

bool series_parse(const char* text, size_t size, int (*find_track)(const char* dir), Series* out,
                  std::string* error) {
  Cursor c{text, text ? size : 0};
  Series s;
  s.completed = 0;
  if (!c.name(&s.name)) return fail(error, "missing series name");
  std::string label;
  if (!c.integer(&s.rider_count)) return fail(error, "missing rider count");
  if (s.rider_count < 0 || s.rider_count > SERIES_RIDER_MAX)
    return fail(error, "rider count %d is not 0..%d", s.rider_count, SERIES_RIDER_MAX);
  if (!c.name(&label)) return fail(error, "missing robot skill");
  s.skill = skill_index(label);
  for (int i = 0; i < s.rider_count; i++)
    if (!c.integer(&s.numbers[i])) return fail(error, "missing race number of rider %d", i + 1);
  int m = 0;
  if (!c.integer(&m) || m < 0) return fail(error, "missing event count");
  for (int k = 0; k < m; k++) {
    SeriesEvent e{};
    std::string track;
    if (!c.name(&e.name)) return fail(error, "event %d: missing name", k + 1);
    if (!c.name(&track)) return fail(error, "event %d: missing track", k + 1);
    e.track = find_track ? find_track(track.c_str()) : -1;
    if (e.track < 0) return fail(error, "event %d: track \"%.200s\" is not installed", k + 1, track.c_str());
    if (!c.integer(&e.minutes) || !c.integer(&e.laps))
      return fail(error, "event %d: missing minutes or laps", k + 1);
    // Bounds that keep the race length in ticks inside 32 bits.
    if (e.minutes < 0 || e.minutes > SERIES_MINUTES_MAX || e.laps < 0 || e.laps > SERIES_LAPS_MAX)
      return fail(error, "event %d: %d minutes and %d laps is no race length", k + 1, e.minutes, e.laps);
    for (int& p : e.moto_points)
      if (!c.integer(&p)) return fail(error, "event %d: missing moto points", k + 1);
    for (int& p : e.round_points)
      if (!c.integer(&p)) return fail(error, "event %d: missing round points", k + 1);
    std::fill(std::begin(e.position), std::end(e.position), s.rider_count);
    std::fill(std::begin(e.round_rank), std::end(e.round_rank), 0);
    s.events.push_back(std::move(e));
  }
  *out = std::move(s);
  return true;
}

void series_read_standings(Series* s, const char* text, size_t size) {
  Cursor c{text, text ? size : 0};
  const int riders = s->rider_count + 1;
  int k = 0;
  for (; k < int(s->events.size()) && c.left > 0; k++) {
    Cursor line = c.line();
    int position[SLOT_COUNT];
    bool complete = true;
    for (int i = 0; i < riders && complete; i++) {
      int value = 0;
      complete = line.integer(&value) && value >= 1 && value <= riders;
      position[i] = value - 1;
    }
    line.skip_space();
    if (!complete || line.left > 0) break;
    std::copy(position, position + riders, s->events[k].position);
  }
  s->completed = k;
  series_compute_ranks(s);
}

std::string series_standings_text(const Series& s) {
  std::string text;
  char number[16];
  for (int k = 0; k < s.completed; k++) {
    for (int i = 0; i <= s.rider_count; i++) {
      snprintf(number, sizeof number, "%d ", s.events[k].position[i] + 1);
      text += number;
    }
    text += "\n";
  }
  return text;
}

void series_compute_ranks(Series* s) {
  const int riders = s->rider_count + 1;
  std::vector<int> total(size_t(riders), 0);
  for (int k = 0; k < s->completed; k++) {
    SeriesEvent& e = s->events[k];
    for (int i = 0; i < riders; i++) total[i] += points_at(e.moto_points, e.position[i]);
    if (!ends_round(e)) continue;
    for (int rank = 0; rank < riders; rank++) {
      int best = 0;
      for (int i = 1; i < riders; i++) {
        if (total[i] > total[best] || (total[i] == total[best] && e.position[i] < e.position[best])) best = i;
      }
      e.round_rank[best] = rank;
      total[best] = -1000000;
    }
    std::fill(total.begin(), total.end(), 0);
  }
}

void series_load_all() {
  series_free_all();
  const char* const* names = vfs_file_list();
  for (; names && *names; names++) {
    if (!ends_with(*names, ".series")) continue;
    const std::string file = std::string("@") + *names;
    std::string text, error;
    Series s;
    if (!read_text(file.c_str(), &text, SERIES_FILE_MAX)) {
      if (debug_level > 0) vant_log("series %s skipped: can't read it\n", *names);
      continue;
    }
    if (!series_parse(text.data(), text.size(), track_list_find, &s, &error)) {
      if (debug_level > 0) vant_log("series %s skipped: %s\n", *names, error.c_str());
      continue;
    }
    s.standings_file = file + "_standings";
    if (debug_level > 0) {
      vant_log("series %s (%s)\n", *names, s.name.c_str());
      for (const SeriesEvent& e : s.events)
        vant_log("  event %s (%s)\n", track_dirs[size_t(e.track)].c_str(), e.name.c_str());
    }
    std::string standings;
    if (read_text(s.standings_file.c_str(), &standings, SERIES_FILE_MAX))
      series_read_standings(&s, standings.data(), standings.size());
    series_list.push_back(std::move(s));
  }
}

void series_free_all() {
  series_list.clear();
  series_list.shrink_to_fit();
  series_in_progress = SeriesProgress{};
}

bool series_next_lineup(const Series& s, int lineup[SLOT_COUNT]) {
  std::fill(lineup, lineup + SLOT_COUNT, 0);
  const int n = s.rider_count;
  if (s.completed >= int(s.events.size())) return false;
  auto value = [&](int rider) { return rider == n ? LINEUP_PLAYER : LINEUP_ROBOT_NUMBER + s.numbers[rider]; };
  if (s.completed == 0) {
    for (int i = 0; i <= n; i++) lineup[i] = value(i);
    return true;
  }
  // The riders pick their gates from the last classified of the previous event upwards,
  // robots before the player at an equal position.
  const SeriesEvent& previous = s.events[size_t(s.completed - 1)];
  int j = 0;
  for (int position = n; position >= 0; position--) {
    for (int rider = 0; rider <= n; rider++) {
      if (previous.position[rider] != position) continue;
      int gate;
      if (n <= 14) {
        gate = 6 + 2 * j;
      } else if (j < 20) {
        // 10, 9, 11, 8, 12 ... 19, 0: out from the middle of the first 20 gates.
        gate = j % 2 == 0 ? 10 + j / 2 : 9 - j / 2;
      } else {
        gate = j;  // 20, 21, ...
      }
      lineup[gate] = value(rider);
      j++;
    }
  }
  return true;
}

bool series_mark_in_progress(int index) {
  if (index < 0 || index >= int(series_list.size())) return false;
  const Series& s = series_list[size_t(index)];
  if (s.completed >= int(s.events.size())) return false;
  series_in_progress = SeriesProgress{index, s.completed};
  return true;
}

void series_finish_event() {
  const SeriesProgress progress = series_in_progress;
  if (progress.series < 0 || progress.series >= int(series_list.size())) return;
  Series& s = series_list[size_t(progress.series)];
  series_in_progress = SeriesProgress{};
  if (progress.event != s.completed || s.completed >= int(s.events.size())) return;
  SeriesEvent& e = s.events[size_t(s.completed)];
  const int n = s.rider_count;
  std::fill(e.position, e.position + n + 1, n);
  const bool final = race.results_final;
  const RaceOrderEntry* order = final ? race.final_order : race.order;
  const int count = final ? race.final_count : race.order_count;
  int next = 0;
  for (int i = 0; i < count; i++) {
    const int slot = order[i].slot;
    if (slot < 0 || slot >= SLOT_COUNT || !race_entrants[slot].present) continue;
    const RaceEntrant& entrant = race_entrants[slot];
    if (entrant.kind == SLOT_LOCAL) {
      if (e.position[n] == n && (final || (rider_finished(slot) && race.penalty[slot] == 0))) e.position[n] = next++;
    } else if (entrant.kind == SLOT_ROBOT) {
      char* end = nullptr;
      const long number = strtol(entrant.number.c_str(), &end, 10);
      if (end == entrant.number.c_str()) continue;
      for (int rider = 0; rider < n; rider++) {
        if (s.numbers[rider] == number && e.position[rider] == n) {
          e.position[rider] = next++;
          break;
        }
      }
    }
  }
  s.completed++;
  series_compute_ranks(&s);
  const std::string text = series_standings_text(s);
  // The standings stay recorded in memory when the file cannot be written.
  if (!vfs_replace(s.standings_file.c_str(), text.data(), int(text.size())))
    vant_log("Can't write %s\n", s.standings_file.c_str());
}

void series_reset_points(int index) {
  if (index < 0 || index >= int(series_list.size())) return;
  series_list[size_t(index)].completed = 0;
}

int series_round_count(const Series& s) { return int(rounds_of(s).size()); }

std::vector<SeriesTableBlock> series_standings_table(const Series& s) {
  const std::vector<Round> rounds = rounds_of(s);
  const int riders = s.rider_count + 1;
  std::vector<SeriesTableBlock> blocks;
  for (int first = 0; first < int(rounds.size()); first += SERIES_BLOCK_ROUNDS) {
    const int last = std::min(first + SERIES_BLOCK_ROUNDS, int(rounds.size())) - 1;
    SeriesTableBlock block;
    block.first_round = first;
    // The latest completed round up to the block's end breaks ties.
    int latest = -1;
    for (int r = 0; r <= last; r++) {
      if (rounds[r].last < s.completed && ends_round(s.events[rounds[r].last])) latest = r;
    }
    for (int rider = 0; rider < riders; rider++) {
      SeriesTableRow row{rider, 0, {}};
      for (int r = 0; r <= latest; r++) {
        const SeriesEvent& end = s.events[rounds[r].last];
        if (ends_round(end)) row.total += points_at(end.round_points, end.round_rank[rider]);
      }
      for (int r = first; r <= last; r++) row.cells.push_back(cell_text(s, rounds[r], rider));
      block.rows.push_back(std::move(row));
    }
    const SeriesEvent* tie = latest >= 0 ? &s.events[rounds[latest].last] : nullptr;
    std::stable_sort(block.rows.begin(), block.rows.end(), [&](const SeriesTableRow& a, const SeriesTableRow& b) {
      if (a.total != b.total) return a.total > b.total;
      return tie && tie->round_rank[a.rider] < tie->round_rank[b.rider];
    });
    blocks.push_back(std::move(block));
  }
  return blocks;
}

std::string series_heading(const Series& s) {
  char text[1000];
  if (s.completed < int(s.events.size()))
    snprintf(text, sizeof text, "Next Event: %.900s", s.events[size_t(s.completed)].name.c_str());
  else
    snprintf(text, sizeof text, "%.900s Final Standings", s.name.c_str());
  return text;
}
