// The texture manager's GL-free work: wrap modes from a name, cutting detail-free or oversized
// top levels off a mip chain, the border colour, ".seq" animation files and their frame clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/image.h"

// Texture creation flags.
constexpr unsigned TEXTURE_REPEAT_S = 1;      // repeat horizontally, else clamp
constexpr unsigned TEXTURE_REPEAT_T = 2;      // repeat vertically, else clamp
constexpr unsigned TEXTURE_SINGLE_LEVEL = 4;  // level 0 only, no mipmaps
constexpr unsigned TEXTURE_COMPRESS = 8;      // compressed when the driver allows it
constexpr unsigned TEXTURE_FULL_SIZE = 16;    // no reduction by the texture detail setting
constexpr unsigned TEXTURE_KEEP_LEVELS = 32;  // no reduction at all (animation frames)

// Textures larger than this on both sides lose top levels to the texture detail setting.
constexpr int TEXTURE_REDUCE_ABOVE = 128;  // texels
// Reduction by content stops once neither side exceeds this.
constexpr int TEXTURE_CONTENT_MIN = 16;  // texels
// A level whose texels all lie this close to the level rebuilt from the next smaller one
// carries no detail of its own.
constexpr int TEXTURE_DETAIL_TOLERANCE = 4;

// Repeat flags from the name: "-hrepeat." horizontal, "-vrepeat." vertical, "-repeat." both.
unsigned texture_wrap_from_name(const char* name);

// Drops the top level: the next level becomes the top (a 1 x 1 chain stays as it is).
void mip_chain_drop_top(MipChain& chain);
// Drops top levels while count is above 0 and both sides exceed TEXTURE_REDUCE_ABOVE;
// returns how many were dropped.
int texture_reduce_by_setting(MipChain& chain, int count);
// Drops top levels that the next smaller level, upsampled bilinearly, rebuilds to within
// TEXTURE_DETAIL_TOLERANCE in every channel, while a side exceeds TEXTURE_CONTENT_MIN.
int texture_reduce_by_content(MipChain& chain);
// The top level rebuilt from level 1: each texel 3/4 of the nearer and 1/4 of the farther
// coarse texel along x, then along y, truncating after each step. out gets the top level's size.
void texture_upsample_level(const MipChain& chain, std::vector<uint8_t>& out);

// The border colour: for RGB the most frequent edge colour, each channel quantised to 8 steps
// (floor(v * 7 / 255)) and given back as step / 7 with alpha 0; for RGBA all 0.
void texture_border_colour(const MipChain& chain, float rgba[4]);

// A ".seq" animation after its "ANIM1" word.
struct TextureSeq {
  int sequence_length = 0;
  int image_count = 0;
  int ticks_per_frame = 1;  // simulation steps per frame, at least 1
  int loop = 0;
  std::vector<int> sequence;     // image index of each frame, each within image_count
  std::vector<MipChain> images;  // all of one size and depth
};
// Most frames and images a ".seq" may ask for.
constexpr int TEXTURE_SEQ_MAX_FRAMES = 65536;
constexpr int TEXTURE_SEQ_MAX_IMAGES = 1024;
// Frames are cut down to at most this many texels.
constexpr int TEXTURE_SEQ_MAX_TEXELS = 65536;

// Reads a ".seq" file held in memory (from its "ANIM1" word on). "PNG" frames name files read
// through the file system, or through load_frame when it is given (fuzzing reads no files).
// False with the message in error (empty when the file is simply not an animation, e.g. a
// count that is not positive).
using SeqFrameLoader = bool (*)(const char* name, MipChain& out);
bool texture_seq_parse(const uint8_t* data, size_t size, TextureSeq& out, std::string* error,
                       SeqFrameLoader load_frame = nullptr);

// The frame shown tick - start_tick steps after the start: looping, or held on the last frame.
int texture_anim_frame(int32_t tick, int32_t start_tick, int ticks_per_frame, int sequence_length,
                       bool loop);
