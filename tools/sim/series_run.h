// skorvan-sim --series: runs every remaining event of a points series headless and prints the
// standings after each.
#pragma once

// Runs the events of series_list[index] (loaded from the data set and the home directory),
// each for at most `seconds` of simulated time, and prints the positions and the standings.
// Returns the exit code.
int run_series(int index, double seconds);
