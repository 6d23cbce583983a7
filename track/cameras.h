// Trackside TV cameras and the timing gates that hand the view from one camera to the next,
// read from the track's "cameras" file.
#pragma once

#include <vector>

struct Terrain;
struct VfsFile;

constexpr int GATE_CAMERA_COUNT = 256;

struct TvCamera {
  float position[3];  // ft; y is the ground height under x, z plus the height in the file
  float work[4];      // the TV view's working values, 0 when loaded
  float fov;          // degrees
  float autofovsize;  // 0 = fixed field of view, else the size the view keeps filling (ft)
};

extern std::vector<TvCamera> tv_cameras;
// Camera that takes over when the followed rider reaches timing gate n; -1 = no change.
extern int gate_camera[GATE_CAMERA_COUNT];

// Reads a "cameras" file (path or "@" name), placing each camera on the ground of terrain.
// A missing file means no cameras.
void cameras_read(const Terrain* terrain, const char* path);
// The same from an open file (null: no file).
void cameras_read_file(const Terrain* terrain, VfsFile* file);
