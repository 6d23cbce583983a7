// Starting a points series' next event as a race on the session: what the series page's
// "Enter Next Event" and "Practice Next Event" do.
#pragma once

// Starts the next event of series_list[series]: closes the menu, leaves any server, selects
// the event's track and resets the session with the series' lineup, the "Record Demo" setting,
// the event's minutes and laps and the series' robot skill. A practice start leaves the
// standings alone; otherwise the event is marked in progress once the reset succeeded, and
// nothing at all happens while this series already has an event in progress. False when no
// race was started.
bool series_enter_next(int series, bool practice);
