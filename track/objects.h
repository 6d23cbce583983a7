// Objects standing on the loaded track: billboards, statues, flaggers and ground decals, their
// files, the spatial buckets that collision and the ground renderer look through, and the map.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Terrain;

constexpr int OBJECT_BUCKETS = 8;  // buckets a side of the statue and decal grids
// Statue yaw codes from this value up mean "turn to face the camera".
constexpr float STATUE_FACING_YAW = 3.25f;
// The largest number of checkpoints a course flagger may refer to.
constexpr int FLAGGER_GATE_MAX = 256;

// An upright textured rectangle turning about the vertical axis to face the camera.
struct Billboard {
  float x, y, z;        // foot point; y = ground height + height_offset
  float height;         // spans y .. y + height
  float height_offset;  // above the ground, as in the file
  float aspect;         // width / height; centred on (x, z)
  int32_t sort_key;     // depth key of the scene drawing
  int texture;          // 0 = not drawn
  uint8_t r, g, b, a;   // tint; alpha 0 = not drawn
  std::string texture_name;  // without the tint prefix; empty for untextured billboards
};

// A placed model.
struct Statue {
  std::string model_name, texture_name, shape_name;  // empty = absent
  int model;       // model id, 0 while none is loaded
  const void* shape;    // collision shape, null when none
  float shape_radius;   // bounding radius of the shape (ft)
  int texture, normal_map, spec_map;  // texture ids, 0 when absent
  float x, y, z;        // y = ground height + height_offset
  float height_offset;
  float yaw;            // rotation code as in the file
  // Rotation, row-major; its columns are the statue's x, y and z axes in the world.
  float orientation[9];
  float facing_scale;   // 2^yaw for camera-facing statues, else 0
};

// A texture laid flat onto the ground texture.
struct Decal {
  std::string texture_name;
  int texture, normal_texture, spec_texture;
  float x, z;     // centre
  float angle;    // rad about the vertical axis
  float size;     // width
  float aspect;   // length / width
  float sin_angle, cos_angle;
};

// Flaggers are billboards whose texture switches between fixed slots.
struct StartFlagger {
  int32_t billboard;  // -1 = none
  float first[3], second[3];  // x, height above ground, z
  float walk_time;            // s
  std::string slots[5];
  int textures[5];
  int slot;
};
struct FinishFlagger {
  int32_t billboard;  // -1 = none
  std::string slots[4];
  int textures[4];
  int slot;
};
struct CourseFlagger {
  int32_t billboard;
  int32_t gates[4];  // checkpoints watched, -1 = none
  std::string idle, waving;
  int idle_texture, waving_texture;
  bool waving_now;
};

using BucketGrid = std::vector<int32_t>[OBJECT_BUCKETS][OBJECT_BUCKETS];

struct TrackObjects {
  const Terrain* terrain;  // ground heights for placing objects; null = flat at 0
  std::vector<Billboard> billboards;
  std::vector<Statue> statues;
  std::vector<Decal> decals;
  StartFlagger start_flagger;
  FinishFlagger finish_flagger;
  std::vector<CourseFlagger> course_flaggers;
  // Objects before these indices came from elsewhere (roost pool, flaggers); the editor saves
  // only the ones from the track's own files.
  int32_t first_track_billboard, first_track_statue;
  BucketGrid statue_buckets;  // statues with a shape, ascending indices
  BucketGrid decal_buckets;
  bool decal_list;  // the track has a decal file: the editor keeps and saves its decals
  int map_texture;  // the track map, 0 when missing
};

extern TrackObjects track_objects;

// Empties every object list and bucket and places further objects on `terrain`.
void objects_reset(const Terrain* terrain);

// Collision shapes come from the physics layer, which installs a loader: it returns the shape
// (null when it cannot be loaded) and its bounding radius. Without one statues have no shape.
using StatueShapeLoader = const void* (*)(const char* name, float* bounding_radius);
void statue_set_shape_loader(StatueShapeLoader loader);
// Releases a shape the loader gave; without one removed statues keep nothing to release.
using StatueShapeReleaser = void (*)(const void* shape);
void statue_set_shape_releaser(StatueShapeReleaser releaser);
// With shader programs in use statues look for normal and spec maps beside their texture.
void statue_set_use_shaders(bool on);

// The tint prefix "#rrggbb#" of a billboard texture name: true (with the colour and the rest
// of the name) when it is there.
bool billboard_tint(const char* name, uint8_t rgb[3], const char** rest);
int32_t billboard_add(float x, float height_above_ground, float z, float height, float aspect,
                      const char* texture_name);
int32_t statue_add(float x, float height_above_ground, float z, float yaw, const char* model_name,
                   const char* texture_name, const char* shape_name);
// Where statue_add looks for a normal ("_norm") or spec ("_spec") map, in order.
std::vector<std::string> statue_map_names(const std::string& texture, const std::string& model, const char* kind);
// The rotation of a statue from its yaw code and the ground (sets orientation and facing).
void statue_orient(Statue& statue);
// Puts a statue on the ground at its (x, z): y from height_offset, then the rotation.
void statue_place(Statue& statue);
// Removes a statue, releasing its shape; later statues move down one place. The caller
// rebuilds the buckets.
void statue_remove(int32_t index);

// Readers of the track directory's object files (path "@" + dir + "/" + name). A missing file
// is no error; a record that does not match ends the file. checkpoint_count bounds the gate
// numbers of course flaggers.
void billboards_read(const char* track_dir);
void statues_read(const char* track_dir);
void flaggers_read(const char* track_dir, int checkpoint_count);
void decals_read(const char* track_dir, bool use_normal_map);
void map_load(const char* track_dir);
// Remembers where the track's own billboards and statues begin.
void objects_mark_track_start();

// Track editor: write the track's own billboards and statues. False (after posting "Can't
// open ...") when the file cannot be created.
bool billboards_save(const char* track_dir);
bool statues_save(const char* track_dir);
// The decals, when the track has a decal list. False (after "Can't open 'decals'") when the
// file cannot be created.
bool decals_save(const char* track_dir);

// The buckets: every statue with a shape, and every decal, entered into the 8 x 8 grid over the
// field of size `extent` (ft).
void statue_buckets_build(float extent);
void decal_buckets_build(float extent);

// What the flaggers show, from the race, once per drawn frame during a race.
struct FlaggerRace {
  double start_time;   // the race start in seconds (session clock)
  double now;          // seconds
  int32_t leader_laps;     // laps the leader has completed
  int32_t flag_laps;       // laps the finish flagger counts to
  int32_t designated_lap;  // the halfway lap
  const bool* gate_down;   // per checkpoint: a rider is down there (FLAGGER_GATE_MAX entries)
};
void flaggers_update(const FlaggerRace& race);
