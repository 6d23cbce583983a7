// A points series run headless: each event starts as the series page starts it, races until
// its results are final or the time given runs out (the player's bike gets no input, so it
// stays unclassified), and is recorded by the next reset.
#include "tools/sim/series_run.h"

#include <cstdio>
#include <string>

#include "core/series_session.h"
#include "core/session.h"
#include "core/tick.h"
#include "race/race.h"
#include "race/series.h"
#include "track/track_list.h"

namespace {

void print_standings(const Series& s) {
  printf("%s\n", series_heading(s).c_str());
  for (const SeriesTableBlock& block : series_standings_table(s)) {
    printf("  No.  Total");
    for (size_t r = 0; r < block.rows[0].cells.size(); r++) printf("  %-14s", ("Rd " + std::to_string(block.first_round + int(r) + 1)).c_str());
    printf("\n");
    for (const SeriesTableRow& row : block.rows) {
      if (row.rider == s.rider_count) printf("  you  %5d", row.total);
      else printf("  %-3d  %5d", s.numbers[row.rider], row.total);
      for (const std::string& cell : row.cells) printf("  %-14s", cell.c_str());
      printf("\n");
    }
  }
}

}  // namespace

int run_series(int index, double seconds) {
  series_load_all();
  if (index < 0 || index >= int(series_list.size())) {
    fprintf(stderr, "no series %d (%zu loaded)\n", index, series_list.size());
    return 1;
  }
  const Series& s = series_list[size_t(index)];
  printf("series \"%s\": %d robots, %zu events, %d rounds, %d done\n", s.name.c_str(), s.rider_count,
         s.events.size(), series_round_count(s), s.completed);
  while (s.completed < int(s.events.size())) {
    const int event = s.completed;
    if (!series_enter_next(index, false)) {
      fprintf(stderr, "can't start event %d\n", event + 1);
      return 1;
    }
    const int32_t limit = sim_tick + int32_t(seconds * TICKS_PER_SECOND);
    while (sim_tick < limit && !race.results_final) session_step();
    // A race that did not end is recorded from its running order by the next reset.
    if (!race.results_final) series_finish_event();
    printf("\nevent %d \"%s\" on %s, %.0f s simulated, results %s; places:", event + 1,
           s.events[size_t(event)].name.c_str(), track_dirs[size_t(s.events[size_t(event)].track)].c_str(),
           (sim_tick - race_start_tick) * SIM_STEP, race.results_final ? "final" : "from the running order");
    for (int rider = 0; rider <= s.rider_count; rider++) {
      const int p = s.events[size_t(event)].position[rider];
      if (rider == s.rider_count) printf(" you:%s", p == s.rider_count ? "-" : std::to_string(p + 1).c_str());
      else printf(" %d:%s", s.numbers[rider], p == s.rider_count ? "-" : std::to_string(p + 1).c_str());
    }
    printf("\n");
    print_standings(s);
  }
  return 0;
}
