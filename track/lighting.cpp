// Reading a track's "lighting" file into the one Lighting record.
#include "track/lighting.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "core/loading.h"
#include "files/memory.h"
#include "files/vfs.h"
#include "track/line_scan.h"
#include "track/textures.h"

Lighting lighting = {
    {0.57735026f, 0.57735026f, 0.57735026f},
    {1, 1, 1},
    {0.5f, 0.5f, 0.5f},
    {0.2f, 0.2f, 0.2f},
    0.25f,
    5000,
    false,
    {0, 0, 0, 0, 0},
    0,
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    nullptr,
    {1, 1, 1},
    0,
    {},
};

namespace {

constexpr int LINE_MAX = 2048;
constexpr float NEAR_MIN = 1.0f / 1024;
constexpr float NEAR_MAX = 0.875f;
constexpr float FAR_MAX = 1048576;

const char* const SKY_KEYS[SKY_FACES] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u"};
const char* const SKY_DEFAULTS[SKY_FACES] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm",
                                             "@sky-u.ppm"};
const char* const SKY_ENV_DEFAULT = "@sky-env.ppm";

void load_texture(const char* name, int* id, const char** stored_name) {
  *stored_name = intern_string(name);
  *id = track_texture_load(name);
}

// Turns the sun vector into a unit vector; one of no length points along the default.
void normalise_sun(float v[3]) {
  float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!(length > 0) || !std::isfinite(length)) {
    v[0] = v[1] = v[2] = 1;
    length = std::sqrt(3.0f);
  }
  for (int i = 0; i < 3; i++) v[i] /= length;
}

// Applies one line; false when the key is unknown and reading must stop.
bool lighting_line(Lighting* l, LensFlare* flare, const char* key, const char* value) {
  float* triple = nullptr;
  if (!strcmp(key, "sun_vector")) triple = l->sun_vector;
  if (!strcmp(key, "sun_color")) triple = l->sun_color;
  if (!strcmp(key, "ambient")) triple = l->ambient;
  if (!strcmp(key, "global_ambient")) triple = l->global_ambient;
  if (triple) {
    line_scanf(value, " [ %f %f %f ] ", &triple[0], &triple[1], &triple[2]);
    return true;
  }
  for (int face = 0; face < SKY_FACES; face++) {
    if (strcmp(key, SKY_KEYS[face])) continue;
    load_texture(value, &l->sky[face], &l->sky_names[face]);
    return true;
  }
  if (!strcmp(key, "sky_env")) {
    load_texture(value, &l->sky_env, &l->sky_env_name);
  } else if (!strcmp(key, "flare_element")) {
    FlareElement e{};
    char texture[1024];
    int matched = line_scanf(value, " [ %f %f ] [ %f %f %f ] %f %1023s", &e.offset[0], &e.offset[1], &e.color[0],
                             &e.color[1], &e.color[2], &e.size, texture);
    if (matched == 7 && flare->element_count < FLARE_ELEMENT_MAX) {
      load_texture(texture, &e.texture, &e.texture_name);
      flare->elements[flare->element_count++] = e;
    }
  } else if (!strcmp(key, "flare_point") || !strcmp(key, "flare_vector")) {
    float p[3];
    if (line_scanf(value, " [ %f %f %f ] ", &p[0], &p[1], &p[2]) == 3) {
      memcpy(flare->position, p, sizeof p);
      flare->is_vector = key[6] == 'v';
      l->flares.push_back(*flare);
      *flare = LensFlare{};
    }
  } else if (!strcmp(key, "fog")) {
    float c[3], density;
    if (line_scanf(value, " [ %f %f %f ] %f ", &c[0], &c[1], &c[2], &density) == 4) {
      memcpy(l->fog_color, c, sizeof c);
      l->fog_density = density;
    }
  } else if (!strcmp(key, "dynamic_lighting")) {
    int on;
    if (line_scanf(value, "%d", &on) == 1) l->dynamic_lighting = on > 0;
  } else if (!strcmp(key, "near_plane")) {
    line_scanf(value, "%f", &l->near_plane);
  } else if (!strcmp(key, "far_plane")) {
    line_scanf(value, "%f", &l->far_plane);
  } else {
    char text[1024];
    snprintf(text, sizeof text, "Error reading lighting: Unknown identifier '%.950s'\n", key);
    console_print(text);
    return false;
  }
  return true;
}

}  // namespace

void lighting_reset(Lighting* l) {
  float fog[3];
  memcpy(fog, l->fog_color, sizeof fog);
  l->flares.clear();
  std::vector<LensFlare> flares = std::move(l->flares);
  *l = Lighting{};
  l->flares = std::move(flares);
  l->sun_vector[0] = l->sun_vector[1] = l->sun_vector[2] = 1;
  normalise_sun(l->sun_vector);
  l->sun_color[0] = l->sun_color[1] = l->sun_color[2] = 1;
  l->ambient[0] = l->ambient[1] = l->ambient[2] = 0.5f;
  l->global_ambient[0] = l->global_ambient[1] = l->global_ambient[2] = 0.2f;
  l->near_plane = 0.25f;
  l->far_plane = 5000;
  memcpy(l->fog_color, fog, sizeof fog);
}

void lighting_read(const char* path) {
  VfsFile* file = vfs_open(path, "rb");
  lighting_read_file(file);
  if (file) vfs_close(file);
}

void lighting_read_file(VfsFile* file) {
  Lighting* l = &lighting;
  lighting_reset(l);
  if (!file) return;
  // The sun vector is normalised once the whole file is read.
  l->sun_vector[0] = l->sun_vector[1] = l->sun_vector[2] = 1;
  LensFlare flare{};
  char line[LINE_MAX];
  while (vfs_gets(file, line, sizeof line)) {
    loading_progress("Loading lighting");
    char* p = line;
    while (*p == ' ' || *p == '\t') p++;
    size_t length = strlen(p);
    while (length > 0 && (p[length - 1] == ' ' || p[length - 1] == '\t' || p[length - 1] == '\r' ||
                          p[length - 1] == '\n' || p[length - 1] == '\f' || p[length - 1] == '\v'))
      p[--length] = 0;
    if (!*p) continue;
    char* key = p;
    p += strcspn(p, " \t");
    if (*p) *p++ = 0;
    while (*p == ' ' || *p == '\t') p++;
    if (!lighting_line(l, &flare, key, p)) break;
  }

  if (!(l->near_plane >= NEAR_MIN)) l->near_plane = NEAR_MIN;
  if (l->near_plane > NEAR_MAX) l->near_plane = NEAR_MAX;
  if (!(l->far_plane >= l->near_plane)) l->far_plane = l->near_plane;
  if (l->far_plane > FAR_MAX) l->far_plane = FAR_MAX;
  normalise_sun(l->sun_vector);
  for (int face = 0; face < SKY_FACES; face++) {
    if (l->sky_names[face]) continue;
    load_texture(SKY_DEFAULTS[face], &l->sky[face], &l->sky_names[face]);
    loading_progress("Loading lighting");
  }
  if (!l->sky_env_name) {
    load_texture(SKY_ENV_DEFAULT, &l->sky_env, &l->sky_env_name);
    loading_progress("Loading lighting");
  }
  loading_done("Loading lighting");
}
