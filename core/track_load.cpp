// Loading one track directory in order: digest of the ground files, lighting, ground, decals,
// timing gates, flaggers, billboards, statues, map, statue buckets, shape digests, cameras.
#include "core/track_load.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/console.h"
#include "core/loading.h"
#include "editor/editor.h"
#include "files/vfs.h"
#include "physics/roost.h"
#include "physics/shape.h"
#include "physics/suspension.h"
#include "platform/vant.h"
#include "race/timing.h"
#include "robots/lines.h"
#include "track/cameras.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/track_list.h"

Terrain track_terrain;
PackGround track_pack_ground;
char track_current[TRACK_NAME_SIZE];
char track_display_name[TRACK_NAME_SIZE];
uint8_t track_digest[DIGEST_SIZE];
int track_render_method = 1;
int32_t track_gate_statues[START_GATE_PIECE_MAX];

namespace {


std::string track_path(const char* dir, const char* name) {
  return std::string("@") + dir + "/" + name;
}

// Feeds a file's contents (after decompression) into the digest in 1024-byte blocks; a missing
// file adds nothing.
void digest_file(Digest* digest, const std::string& path) {
  VfsFile* file = vfs_open(path.c_str(), "rb");
  if (!file) return;
  uint8_t block[1024];
  int n;
  while ((n = vfs_read(file, block, sizeof block)) > 0) digest_update(digest, block, size_t(n));
  vfs_close(file);
}

const void* load_statue_shape(const char* name, float* bounding_radius) {
  Shape* shape = shape_load(name);
  if (shape) *bounding_radius = shape->bounding_radius;
  return shape;
}

// The object lists and timing data of a track that failed to load, or of the freed one.
void forget_objects() {
  timing_clear();
  for (Statue& statue : track_objects.statues) shape_free(static_cast<Shape*>(const_cast<void*>(statue.shape)));
  objects_reset(nullptr);
  tv_cameras.clear();
}

// Each start gate piece is a track object standing upright where the timing file puts it.
void add_gate_pieces() {
  for (int i = 0; i < timing.piece_count; i++) {
    const StartGatePiece& p = timing.pieces[i];
    const float ground = terrain_height_at(&track_terrain, p.object_x, p.object_z);
    track_gate_statues[i] = statue_add(p.object_x, p.object_y - ground, p.object_z, p.angle, p.model.c_str(),
                                       p.texture.c_str(), p.shape.c_str());
    Statue& statue = track_objects.statues[size_t(track_gate_statues[i])];
    statue.y = p.object_y;
    // Upright about the vertical whatever the ground: x axis (cos a, 0, -sin a), y up.
    const float c = std::cos(p.angle), s = std::sin(p.angle);
    const float base[9] = {c, 0, s, 0, 1, 0, -s, 0, c};
    std::copy(base, base + 9, statue.orientation);
    statue.facing_scale = 0;
  }
}

}  // namespace

bool track_load(const char* dir) {
  forget_objects();
  statue_set_shape_loader(load_statue_shape);
  statue_set_shape_releaser([](const void* shape) { shape_free(static_cast<Shape*>(const_cast<void*>(shape))); });
  objects_reset(&track_terrain);
  int listed = track_list_find(dir);
  snprintf(track_display_name, sizeof track_display_name, "%s",
           listed >= 0 ? track_names[size_t(listed)].c_str() : dir);

  loading_message_logged_reset("Scanning");
  Digest digest;
  digest_init(&digest);
  for (const char* name : {"terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo"})
    digest_file(&digest, track_path(dir, name));

  const std::string root = std::string("@") + dir;
  if (debug_level >= 1) vant_log("Loading '%s'\n", root.c_str());
  lighting_read(track_path(dir, "lighting").c_str());

  if (!terrain_load(&track_terrain, dir, track_render_method)) {
    forget_objects();
    track_current[0] = 0;
    return false;
  }
  track_pack_ground = pack_ground_of(track_terrain);
  // The ground's loading ends with its decals.
  decal_buckets_build(track_terrain.extent);
  steering_terrain = &track_terrain;

  const std::string gates = track_path(dir, "timing_gates");
  digest_file(&digest, gates);
  timing_gates_read(gates.c_str());
  lines_table_create();
  add_gate_pieces();

  // The roost particle pool's billboards, made with every track load.
  int32_t first_roost = -1;
  for (int i = 0; i < ROOST_PARTICLE_MAX; i++) {
    const int32_t index = billboard_add(0, 0, 0, 1, 1, "");
    if (i == 0) first_roost = index;
  }
  roost_pool_attach(first_roost);

  loading_message_logged("Loading flaggers");
  flaggers_read(dir, timing.checkpoint_count);
  objects_mark_track_start();

  loading_message_logged("Loading billboards");
  billboards_read(dir);

  digest_file(&digest, track_path(dir, "statues"));
  loading_message_logged("Loading statues");
  statues_read(dir);

  loading_message_logged("Loading map");
  map_load(dir);
  statue_buckets_build(track_terrain.extent);

  // Each distinct shape file once, in statue order.
  std::vector<std::string> shapes;
  for (const Statue& statue : track_objects.statues) {
    if (statue.shape_name.empty()) continue;
    bool seen = false;
    for (const std::string& s : shapes) seen = seen || s == statue.shape_name;
    if (seen) continue;
    shapes.push_back(statue.shape_name);
    digest_file(&digest, statue.shape_name);
  }
  memcpy(track_digest, digest_final(&digest), DIGEST_SIZE);

  cameras_read(&track_terrain, track_path(dir, "cameras").c_str());
  snprintf(track_current, sizeof track_current, "%s", dir);
  if (start_options.editor) editor_init(&track_terrain);
  return true;
}

void track_free() {
  vant_log("Deallocating track\n");
  if (editor_active()) editor_free();
  forget_objects();
  roost_pool_attach(-1);
  lines_table_free();
  steering_terrain = nullptr;
  terrain_free(&track_terrain);
  track_current[0] = 0;
  vant_log("Finished deallocating track\n");
}
