// Image readers and writers (PNG, PPM, PGM and our own predictive "V6"/"V7" form) and the
// mip chains the texture manager uploads. No GL here: tools and tests use all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct VfsFile;

// Limits on what an image file may ask for; anything larger is refused as a bad header.
constexpr int IMAGE_MAX_SIDE = 32768;              // px
constexpr int64_t IMAGE_MAX_PIXELS = int64_t{1} << 26;  // 8192 x 8192

// A bounded view of bytes being read. pos never passes size.
struct ImageCursor {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};

inline ImageCursor image_cursor(const void* data, size_t size) {
  return ImageCursor{static_cast<const uint8_t*>(data), size, 0};
}

// One level of pixels: row-major, top row first, channels R, G, B, A. depth = bytes per
// pixel: 1 (grey), 3 (RGB) or 4 (RGBA).
struct Image {
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
  int depth = 0;
};

// The image followed by each smaller level (half width and half height, each at least 1)
// down to 1 x 1, packed one after another.
struct MipChain {
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
  int depth = 0;
};

// A 16-bit grey image (height images), samples in host order.
struct GreyImage16 {
  std::vector<uint16_t> samples;
  int width = 0;
  int height = 0;
};

// What the first word of an image file says it is; anything unknown is tried as PNG.
enum ImageKind { IMAGE_KIND_PNG, IMAGE_KIND_PPM, IMAGE_KIND_PGM, IMAGE_KIND_V6, IMAGE_KIND_V7 };

// ---- Reading from memory. Every reader returns false and leaves out empty on failure.

// Reads the first white-space separated word (up to 15 characters) into word[16];
// false when the input holds no word. Shared by the text headers and callers that dispatch.
bool image_read_word(ImageCursor& in, char word[16]);
ImageKind image_kind(const uint8_t* data, size_t size);

// PPM "P6"/"P3" from the magic on; errors "Can't parse PPM header", "Can't get PPM
// dimensions", "Truncated PPM data" go to vant_set_error.
bool image_decode_ppm(ImageCursor& in, MipChain& out);
// PGM "P5"/"P2": the single level, depth 1. Errors as above with "PGM".
bool image_decode_pgm(ImageCursor& in, Image& out);
// Our "V6"/"V7" form from the magic on, delivered with channels (3 or 4) per pixel.
bool image_decode_own(ImageCursor& in, int channels, MipChain& out);
// The same after the magic has been read: file_channels is 3 for "V6", 4 for "V7".
bool image_decode_own_body(ImageCursor& in, int file_channels, int channels, MipChain& out);
// PNG for textures: depth 4 with an alpha channel or transparency chunk, else 3. info, when
// given, receives the texts of all text chunks concatenated.
bool image_decode_png(const uint8_t* data, size_t size, Image& out, std::string* info);
// PNG as 16-bit grey (height images): colour becomes grey, alpha is dropped, 8-bit samples
// v become v * 257.
bool image_decode_png_grey16(const uint8_t* data, size_t size, GreyImage16& out);

// ---- Writing to memory. Pixels are top row first. False only on bad arguments or a
// failure inside the PNG encoder.

// 8-bit PNG of depth 1 (grey), 3 (RGB) or 4 (RGBA).
bool image_encode_png(const uint8_t* pixels, int width, int height, int depth, std::vector<uint8_t>& out);
bool image_encode_png_grey16(const uint16_t* samples, int width, int height, std::vector<uint8_t>& out);
// "P6\n%d %d\n255\n" + RGB bytes; "P5\n%d %d\n255\n" + grey bytes.
bool image_encode_ppm(const uint8_t* rgb, int width, int height, std::vector<uint8_t>& out);
bool image_encode_pgm(const uint8_t* grey, int width, int height, std::vector<uint8_t>& out);
// "V6" (channels 3) or "V7" (channels 4).
bool image_encode_own(const uint8_t* pixels, int width, int height, int channels, std::vector<uint8_t>& out);

// ---- Files through the virtual file system (so any may be stored compressed or scrambled).

// Largest image file read into memory, after decompression.
constexpr size_t IMAGE_MAX_FILE_BYTES = size_t{1} << 29;

// Reads the rest of an open file; false (and bytes empty) on a file beyond the limit.
bool image_read_all(VfsFile* file, std::vector<uint8_t>& bytes);
// Decodes a whole image file held in memory by its first word: "V6"/"V7" our own form,
// "P3"/"P6" PPM, anything else PNG. channels 3 or 4 asks for that many per pixel, 0 keeps
// the file's (PNG: 4 with alpha, else 3). For a PNG, info receives the text chunks followed by
// the sidecar "<name>.info" when name is given, and the chain follows its tags.
bool image_decode(const uint8_t* data, size_t size, const char* name, int channels, MipChain& out,
                  std::string* info);
// Opens name, reads and decodes it as image_decode does. False when it cannot be opened.
bool image_load(const char* name, int channels, MipChain& out, std::string* info);
// A PGM ("P5"/"P2") file: the single grey level.
bool image_load_pgm(const char* name, Image& out);
// A PNG file as 16-bit grey (height images).
bool image_load_png_grey16(const char* name, GreyImage16& out);

// Writes bytes as the file name ("@" names land in the home directory); false when the file
// cannot be created or written in full.
bool image_save(const char* name, const std::vector<uint8_t>& bytes);
// Encode and write in one step; pixels top row first.
bool image_save_png(const char* name, const uint8_t* pixels, int width, int height, int depth);
bool image_save_png_grey16(const char* name, const uint16_t* samples, int width, int height);
bool image_save_ppm(const char* name, const uint8_t* rgb, int width, int height);
bool image_save_pgm(const char* name, const uint8_t* grey, int width, int height);
bool image_save_own(const char* name, const uint8_t* pixels, int width, int height, int channels);

// ---- Pixels and mip chains.

// Changes the depth of an image between 1, 3 and 4: grey is copied to R, G and B, a new
// alpha is 255, a dropped alpha is lost, colour to grey takes the mean of R, G and B.
void image_convert_depth(Image& image, int depth);

// Levels of a width x height chain (down to 1 x 1) and the bytes they take together.
int mip_level_count(int width, int height);
size_t mip_chain_bytes(int width, int height, int depth);
// Byte offset of a level inside its chain; the level's own width and height.
size_t mip_level_offset(int width, int height, int depth, int level);
int mip_level_width(int width, int level);
int mip_level_height(int height, int level);

// A chain of the given size with every byte 0; false for sizes beyond the limits.
bool mip_chain_alloc(MipChain& chain, int width, int height, int depth);
// Rebuilds every level below the top from the top level; info may hold "[mip_max_alpha]".
void mip_chain_build(MipChain& chain, const char* info);
// Makes the chain for an image just read. With "[mip_custom]" in info the image holds all
// levels already (2H = 3h); with an invalid height the warning goes to the message hook and
// the chain is built normally from the whole image.
bool mip_chain_from_image(Image&& image, const char* info, const char* name, MipChain& out);
// Rounds a non-power-of-two size down to powers of two by nearest-neighbour resampling and
// rebuilds the chain; true when the size changed.
bool mip_chain_round_pow2(MipChain& chain, const char* info);

// Where image warnings meant for the player go (the console, once it exists); by default
// the log.
using ImageMessageHook = void (*)(const char* text);
void image_set_message_hook(ImageMessageHook hook);
void image_message(const char* text);
