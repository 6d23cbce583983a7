// The texture manager: every texture is loaded by name here, shared by all who ask for the same
// name, uploaded with its mip chain and known to the rest of the program by its GL texture name
// (the texture id, 0 = none). Textures of an earlier track are purged by generation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/image.h"
#include "render/texture_rules.h"

// Bytes of texture memory used by the current generation.
extern int64_t texture_memory;
// The track-load generation; 0 until the first track load (textures loaded then are permanent).
extern int texture_generation;
// Top levels dropped from large textures (the texture detail level) and the "Compress
// Textures" choice: 0 never, 1 when the image's info text says "[compress]", 2 always.
extern int texture_reduction;
extern int texture_compress;

// Loads a texture by name (a leading '!' keeps it at full size); 0 on failure.
int texture_load(const char* name);
// The name and the info text of a loaded texture; null for an unknown id.
const char* texture_name_of(int id);
const char* texture_info_of(int id);

// Creates a texture from a mip chain made in memory (flags from texture_rules.h); 0 on failure.
int texture_create(MipChain chain, unsigned flags);
int texture_create_plain(MipChain chain);   // flags 0
int texture_create_single(MipChain chain);  // level 0 only

// An image kept in memory instead of a texture (the software terrain method).
struct SoftImage {
  std::string name;
  std::vector<uint8_t> pixels;  // the mip chain
  int width = 0, height = 0, depth = 0;
  int generation = 0;
};
// Loads an image by name into memory ("V6", "V7", PPM or PNG); null on failure.
const SoftImage* soft_image_load(const char* name);
const char* soft_image_name_of(const uint8_t* pixels);

// Frame animations of ".seq" textures: started at a tick, stopped, and advanced once per
// drawn frame (uploading only when the shown image changes).
void texture_anim_start(int id, int32_t tick);
void texture_anim_stop(int id);
void texture_anims_update(int32_t tick);

// Starts a new generation before a track load; texture_memory starts again from 0.
void textures_new_generation();
// Deletes the textures, images and animations of earlier generations, or with all every one.
void textures_purge(bool all);
