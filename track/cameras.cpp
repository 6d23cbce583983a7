// Reading a track's "cameras" file: TV camera positions and the gate hand-overs.
#include "track/cameras.h"

#include <cmath>
#include <cstring>

#include "core/console.h"
#include "files/vfs.h"
#include "platform/vant.h"
#include "track/line_scan.h"
#include "track/terrain.h"

std::vector<TvCamera> tv_cameras;
int gate_camera[GATE_CAMERA_COUNT];

void cameras_read(const Terrain* terrain, const char* path) {
  VfsFile* file = vfs_open(path, "rb");
  cameras_read_file(terrain, file);
  if (file) vfs_close(file);
}

void cameras_read_file(const Terrain* terrain, VfsFile* file) {
  tv_cameras.clear();
  for (int& camera : gate_camera) camera = -1;
  if (!file) return;
  float fov = 90, autofovsize = 0;
  char line[1024];
  while (vfs_gets(file, line, sizeof line)) {
    float v, x, height, z;
    if (line_scanf(line, "fov %f", &v) == 1) {
      fov = std::fabs(v);
    } else if (line_scanf(line, "autofovsize %f", &v) == 1) {
      autofovsize = std::fabs(v);
    } else if (!strncmp(line, "gate", 4)) {
      const char* p = line + 4;
      int gate;
      while (line_scan_int(&p, &gate) && gate >= 0 && gate < GATE_CAMERA_COUNT)
        gate_camera[gate] = static_cast<int>(tv_cameras.size());
    } else if (line_scanf(line, "addcamera %f %f %f", &x, &height, &z) == 3) {
      TvCamera camera{};
      float ground = terrain && terrain->heights ? terrain_height_at(terrain, x, z) : 0;
      camera.position[0] = x;
      camera.position[1] = ground + height;
      camera.position[2] = z;
      camera.fov = fov;
      camera.autofovsize = autofovsize;
      tv_cameras.push_back(camera);
      fov = 90;
      autofovsize = 0;
    }
  }
  if (debug_level >= 1) vant_log("%d cameras found\n", static_cast<int>(tv_cameras.size()));
}
