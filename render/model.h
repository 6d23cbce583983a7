// Models: the ".vm" reader and its clean-up, the model cache by name with level-of-detail chains,
// CPU skinning and the POV-Ray mesh export. No GL here: the drawing layer compiles display lists
// and draws beside this, so tools, tests and fuzzing read models without a display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct VfsFile;

constexpr int MODEL_MAX_BONES = 10;   // bones a skinned part may name
constexpr int MODEL_BONE_SLOTS = 4;   // weighted bones kept per vertex
// Triangles whose doubled area squared falls below this are dropped (2^-80).
constexpr double MODEL_DEGENERATE_AREA2 = 8.271806125530277e-25;
// Largest model file read into memory, after decompression.
constexpr size_t MODEL_MAX_FILE_BYTES = size_t{1} << 28;

// One part of a model (a mesh with one material); the first part stands for the whole model.
struct Model {
  std::string name;        // file name as requested
  uint32_t generation = 0;  // track-load generation that last used it; 0 = permanent
  Model* next_part = nullptr;
  Model* next_lod = nullptr;  // next coarser level of detail (first part only)
  float lod_distance = 0;     // 2^n for a model read from a "_lod"n file; 0 for the base model
  bool has_env_parts = false;  // any part has shininess -1 (first part only)
  bool plain_form = false;     // read from the form without magic (always compiled)
  unsigned display_list = 0;   // compiled by the drawing layer, 0 while none
  int vertex_count = 0;
  int triangle_count = 0;  // after clean-up
  int bone_count = 0;      // 0 for a rigid part
  float color[3] = {1, 1, 1};  // specular colour
  float alpha = 1;
  float shininess = 32;  // specular exponent; -1 environment-mapped, -2 self-lit
  // 3 floats per vertex: the working arrays, and for skinned parts the bind pose they come from.
  std::vector<float> positions, normals, tangents;
  std::vector<float> bind_positions, bind_normals, bind_tangents;
  std::vector<float> texcoords;  // 2 floats per vertex, v already flipped (1 - v of the file)
  std::vector<float> bone_weights;     // 4 per vertex, summing to 1 (skinned parts only)
  std::vector<int32_t> bone_indices;   // 4 per vertex (skinned parts only)
  std::vector<int32_t> triangles;      // 3 vertex indices each
};

// One bone's pose: a vertex p of the bind pose goes to rotation (p - centre) + translation.
struct ModelBone {
  float centre[3];
  float translation[3];
  float rotation[9];  // 3 x 3, stored column by column
};

// What reading one file found besides the model.
struct ModelReadReport {
  int degenerate_triangles = 0;  // dropped for a bad index or no area
  int weight_warnings = 0;       // parts with a vertex of more than 4 bone influences
};

// Reads a ".vm" file held in memory. name is used in messages only. Posts the per-part
// "more than 4 bone influences" warning but not the degenerate-triangle count (the caller
// posts that once per file). Null when the first part cannot be read.
Model* model_parse(const uint8_t* data, size_t size, const char* name, ModelReadReport* report = nullptr);
// Opens name through the file system and reads it, posting "%d degenerate triangles deleted
// in %.100s" when any were dropped. Not cached: null when the file is missing or no model.
Model* model_read(const char* name);
// Frees a model with all its parts and level-of-detail variants (not through the cache).
void model_free(Model* model);

// The cached model of that name, read on first use with its "_lod" variants from the data file
// index; a hit is moved to the current generation. Null when the file cannot be read.
Model* model_load(const char* name);
// The generation new and requested models get; the track reset starts a new one before each
// load and purges the stale models after it.
void models_new_generation();
void models_set_generation(uint32_t generation);
uint32_t models_generation();
// Frees every cached model of a stale generation (neither 0 nor current), or all of them.
void models_purge(bool all);
// Called for every part about to be freed, so the drawing layer can delete its display list.
void models_set_release_hook(void (*release)(Model* part));
// Cached models in load order (for tools and tests).
const std::vector<Model*>& models_cached();

// The level of detail to draw at world position p seen from c: a "_lod"n variant is used once
// lod_scale * |p - c| >= 2^n - lod_bias.
const Model* model_select_lod(const Model* base, const float p[3], const float c[3], float lod_scale,
                              float lod_bias);

// Poses a skinned part on the CPU from its bind pose: positions, normals and tangents of the
// working arrays. Does nothing (false) unless the part has exactly bone_count bones.
bool model_skin(Model* part, const ModelBone* bones, int bone_count);

// Writes the model as a POV-Ray "mesh2" block (several parts wrapped in a "union").
void model_write_pov(VfsFile* file, const Model* model);
