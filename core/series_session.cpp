// Starting a points series event on the session.
#include "core/series_session.h"

#include <cstdio>

#include "core/constants.h"
#include "core/game.h"
#include "core/net_session.h"
#include "core/session.h"
#include "core/settings.h"
#include "race/series.h"
#include "track/track_list.h"

bool series_enter_next(int index, bool practice) {
  if (index < 0 || index >= int(series_list.size())) return false;
  const Series& s = series_list[size_t(index)];
  if (!practice && series_in_progress.series == index) return false;
  int lineup[SLOT_COUNT];
  if (!series_next_lineup(s, lineup)) return false;
  const SeriesEvent& event = s.events[size_t(s.completed)];
  if (event.track < 0 || event.track >= track_count) return false;
  game.menu_page = MENU_NONE;
  snprintf(settings.track, sizeof settings.track, "%s", track_dirs[size_t(event.track)].c_str());
  if (net_client.target[0]) {
    net_leave(net_client);
    net_session_sync(net_client);
  }
  const int32_t duration = int32_t(event.minutes * 60 * TICKS_PER_SECOND);
  if (!session_reset(lineup, false, settings.record.index != 0, duration, event.laps, s.skill)) return false;
  if (!practice) series_mark_in_progress(index);
  return true;
}
