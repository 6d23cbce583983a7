// Image files through the virtual file system: whole files are read into memory and handed
// to the decoders, the ".info" sidecar of a PNG is appended to its info text, and encoded
// images are written out.
#include <algorithm>
#include <string>

#include "files/vfs.h"
#include "render/image.h"

namespace {

constexpr int READ_BLOCK = 65536;  // bytes per vfs_read

// The top level of a chain at another depth, with the chain rebuilt.
void chain_to_depth(MipChain& chain, int depth) {
  if (depth == 0 || chain.depth == depth) return;
  Image image;
  image.width = chain.width;
  image.height = chain.height;
  image.depth = chain.depth;
  chain.pixels.resize(size_t(chain.width) * chain.height * chain.depth);
  image.pixels = std::move(chain.pixels);
  image_convert_depth(image, depth);
  mip_chain_from_image(std::move(image), "", nullptr, chain);
}

// Appends the sidecar "<name>.info" in full; a missing sidecar adds nothing.
void append_sidecar(const char* name, std::string& info) {
  std::string sidecar = std::string(name) + ".info";
  VfsFile* file = vfs_open(sidecar.c_str(), "rb");
  if (!file) return;
  std::vector<uint8_t> bytes;
  if (image_read_all(file, bytes)) info.append(bytes.begin(), bytes.end());
  vfs_close(file);
}

bool open_and_read(const char* name, std::vector<uint8_t>& bytes) {
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return false;
  bool ok = image_read_all(file, bytes);
  vfs_close(file);
  return ok;
}

}  // namespace

bool image_read_all(VfsFile* file, std::vector<uint8_t>& bytes) {
  bytes.clear();
  for (;;) {
    size_t at = bytes.size();
    if (at > IMAGE_MAX_FILE_BYTES) {
      bytes = {};
      return false;
    }
    bytes.resize(at + READ_BLOCK);
    int got = vfs_read(file, bytes.data() + at, READ_BLOCK);
    bytes.resize(at + size_t(got > 0 ? got : 0));
    if (got <= 0) return true;
  }
}

bool image_decode(const uint8_t* data, size_t size, const char* name, int channels, MipChain& out,
                  std::string* info) {
  out = MipChain{};
  if (info) info->clear();
  if (channels != 0 && channels != 3 && channels != 4) return false;
  ImageCursor in = image_cursor(data, size);
  switch (image_kind(data, size)) {
    case IMAGE_KIND_V6:
      return image_decode_own(in, channels ? channels : 3, out);
    case IMAGE_KIND_V7:
      return image_decode_own(in, channels ? channels : 4, out);
    case IMAGE_KIND_PPM:
      if (!image_decode_ppm(in, out)) return false;
      chain_to_depth(out, channels);
      return true;
    default: {
      Image image;
      std::string text;
      if (!image_decode_png(data, size, image, &text)) return false;
      if (name) append_sidecar(name, text);
      if (channels) image_convert_depth(image, channels);
      bool ok = mip_chain_from_image(std::move(image), text.c_str(), name, out);
      if (ok && info) *info = std::move(text);
      return ok;
    }
  }
}

bool image_load(const char* name, int channels, MipChain& out, std::string* info) {
  out = MipChain{};
  if (info) info->clear();
  std::vector<uint8_t> bytes;
  return open_and_read(name, bytes) && image_decode(bytes.data(), bytes.size(), name, channels, out, info);
}

bool image_load_pgm(const char* name, Image& out) {
  out = Image{};
  std::vector<uint8_t> bytes;
  if (!open_and_read(name, bytes)) return false;
  ImageCursor in = image_cursor(bytes.data(), bytes.size());
  return image_decode_pgm(in, out);
}

bool image_load_png_grey16(const char* name, GreyImage16& out) {
  out = GreyImage16{};
  std::vector<uint8_t> bytes;
  return open_and_read(name, bytes) && image_decode_png_grey16(bytes.data(), bytes.size(), out);
}

bool image_save(const char* name, const std::vector<uint8_t>& bytes) {
  VfsFile* file = vfs_open(name, "wb");
  if (!file) return false;
  bool ok = true;
  for (size_t at = 0; at < bytes.size() && ok;) {
    int n = int(std::min<size_t>(bytes.size() - at, READ_BLOCK));
    ok = vfs_write(file, bytes.data() + at, n) == n;
    at += size_t(n);
  }
  ok = vfs_flush(file) == 0 && ok;
  vfs_close(file);
  return ok;
}

bool image_save_png(const char* name, const uint8_t* pixels, int width, int height, int depth) {
  std::vector<uint8_t> bytes;
  return image_encode_png(pixels, width, height, depth, bytes) && image_save(name, bytes);
}

bool image_save_png_grey16(const char* name, const uint16_t* samples, int width, int height) {
  std::vector<uint8_t> bytes;
  return image_encode_png_grey16(samples, width, height, bytes) && image_save(name, bytes);
}

bool image_save_ppm(const char* name, const uint8_t* rgb, int width, int height) {
  std::vector<uint8_t> bytes;
  return image_encode_ppm(rgb, width, height, bytes) && image_save(name, bytes);
}

bool image_save_pgm(const char* name, const uint8_t* grey, int width, int height) {
  std::vector<uint8_t> bytes;
  return image_encode_pgm(grey, width, height, bytes) && image_save(name, bytes);
}

bool image_save_own(const char* name, const uint8_t* pixels, int width, int height, int channels) {
  std::vector<uint8_t> bytes;
  return image_encode_own(pixels, width, height, channels, bytes) && image_save(name, bytes);
}
