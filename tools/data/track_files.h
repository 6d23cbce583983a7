// The text and binary files of the default track "rabbithill": height field, tiles, lighting,
// cameras, timing gates and the objects that stand around the course.
#pragma once

#include <string>
#include <vector>

#include "tools/data/course.h"
#include "tools/data/dataset.h"
#include "tools/data/ground.h"

constexpr const char* TRACK_DIR = "rabbithill";

// The track's light; the sun vector points toward the sun and is of unit length.
struct TrackLight {
  float sun[3];
  float sun_color[3];
  float ambient[3];
};
const TrackLight& track_light();

// A checkpoint as written to the timing file.
struct TrackCheckpoint {
  float radius, x, y, z, dx, dz;
};

struct TrackTiming {
  std::vector<TrackCheckpoint> checkpoints;
  std::vector<int> first_lap, normal_lap;  // checkpoint indices in riding order
};

// Checkpoints along the start straight and the loop; both laps end on the finish line.
TrackTiming track_timing(const Course& course, const Ground& ground);

// Adds every file of the track directory except its pictures' shading (see track_add_shading).
void track_add_files(const Course& course, const Ground& ground, DataSet* set);

// Adds the shading baked from the sun, slope and cast shadows, and the shadow image; returns
// the shading bytes (P x P RGB, half scale) for pictures of the track.
std::vector<uint8_t> track_add_shading(const Ground& ground, DataSet* set);
