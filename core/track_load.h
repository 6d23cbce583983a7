// The loaded track: loading a track directory in its fixed order (ground, timing gates, objects,
// cameras) with the track digest, and freeing it again.
#pragma once

#include <cstdint>

#include "files/digest.h"
#include "replay/bike_state.h"
#include "race/timing.h"
#include "track/terrain.h"

constexpr int TRACK_NAME_SIZE = 256;

extern Terrain track_terrain;                     // the loaded ground; grid_size 0 when none
extern PackGround track_pack_ground;              // where bike states pack on it, as loaded
extern char track_current[TRACK_NAME_SIZE];       // directory of the loaded track, "" when none
extern char track_display_name[TRACK_NAME_SIZE];  // its name from the track list
extern uint8_t track_digest[DIGEST_SIZE];         // fingerprint of the track's contents
// The track object of each start gate piece (statue index), upright.
extern int32_t track_gate_statues[START_GATE_PIECE_MAX];
// Ground texture rendering method handed to the terrain loader (1-3).
extern int track_render_method;

// Loads the track in directory dir (as spelled in the file index). False when the ground could
// not be loaded; the current track name is then cleared and nothing of the track is kept.
bool track_load(const char* dir);
// Releases the loaded track: timing, objects, cameras and the ground.
void track_free();
