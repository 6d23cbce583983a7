// The installed tracks: every directory of the game data that holds a height field, with the
// display name from its "desc" file, sorted by that name.
#pragma once

#include <string>
#include <vector>

extern std::vector<std::string> track_dirs;   // as spelled in the file index, no trailing '/'
extern std::vector<std::string> track_names;  // display names
extern int track_count;

// Builds the list from the data file index; false (and an empty list) when there is no track.
bool track_list_scan();
// Index of the track with this directory (case-insensitive), -1 when not listed.
int track_list_find(const char* dir);
