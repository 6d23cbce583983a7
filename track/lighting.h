// The track's light and sky: sun, ambient light, sky box and reflection textures, lens flares,
// fog, clipping planes and per-pixel lighting, read from the track's "lighting" file.
#pragma once

#include <vector>

constexpr int FLARE_ELEMENT_MAX = 8;
constexpr int SKY_FACES = 5;
enum SkyFace { SKY_NORTH, SKY_EAST, SKY_SOUTH, SKY_WEST, SKY_UP };

// One halo or ghost sprite of a flare.
struct FlareElement {
  float offset[2];
  float color[3];
  float size;
  int texture;               // texture id, 0 when none is loaded
  const char* texture_name;  // interned
};

struct LensFlare {
  float position[3];  // a world point (ft), or a direction when is_vector
  bool is_vector;
  FlareElement elements[FLARE_ELEMENT_MAX];
  int element_count;
};

struct Lighting {
  float sun_vector[3];  // unit vector towards the sun
  float sun_color[3];
  float ambient[3];
  float global_ambient[3];
  float near_plane;  // ft
  float far_plane;   // ft
  bool dynamic_lighting;
  int sky[SKY_FACES];  // texture ids: north, east, south, west, up
  int sky_env;         // reflection map
  const char* sky_names[SKY_FACES];  // interned; null when the face has no texture
  const char* sky_env_name;
  float fog_color[3];  // kept from the previous track when a file gives no fog
  float fog_density;   // 0 = no fog
  std::vector<LensFlare> flares;
};

// The one lighting record of the loaded track.
extern Lighting lighting;

// Sets every field to its default except fog_color; no sky textures, no flares.
void lighting_reset(Lighting* light);

struct VfsFile;

// Reads a "lighting" file (path or "@" name) into `lighting`; a missing file leaves the
// defaults. A key it does not know ends the reading with a console message.
void lighting_read(const char* path);
// The same from an open file (null: no file).
void lighting_read_file(VfsFile* file);
