// Mip chains: level sizes and offsets, building the smaller levels by 2 x 2 averaging,
// chains stored whole in one image ("[mip_custom]") and rounding to powers of two.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "render/image.h"

namespace {

// Combines n (2 or 4) texels into one. Colours of RGBA texels are weighted by their alpha so
// that the colour of fully transparent texels does not bleed into the visible ones.
void combine(const uint8_t* const* texels, int n, int depth, bool max_alpha, uint8_t* out) {
  int shift = n == 4 ? 2 : 1;
  if (depth != 4) {
    for (int c = 0; c < depth; c++) {
      int sum = 0;
      for (int i = 0; i < n; i++) sum += texels[i][c];
      out[c] = uint8_t(sum >> shift);
    }
    return;
  }
  int alpha_sum = 0, alpha_max = 0;
  for (int i = 0; i < n; i++) {
    alpha_sum += texels[i][3];
    alpha_max = std::max<int>(alpha_max, texels[i][3]);
  }
  bool plain = alpha_sum == 0 || alpha_sum == n * 255;
  for (int c = 0; c < 3; c++) {
    int sum = 0;
    for (int i = 0; i < n; i++) sum += plain ? texels[i][c] : texels[i][c] * texels[i][3];
    out[c] = uint8_t(plain ? sum >> shift : sum / alpha_sum);
  }
  out[3] = uint8_t(max_alpha ? alpha_max : alpha_sum >> shift);
}

// One level from the level above it: 2 x 2 blocks, or pairs when the source is one texel
// wide or high. An odd last row or column of the source is left out.
void downsample(const uint8_t* src, int sw, int sh, uint8_t* dst, int dw, int dh, int depth, bool max_alpha) {
  for (int y = 0; y < dh; y++) {
    for (int x = 0; x < dw; x++) {
      const uint8_t* texels[4];
      int n;
      auto at = [&](int sx, int sy) { return src + (size_t(sy) * sw + sx) * depth; };
      if (sw > 1 && sh > 1) {
        texels[0] = at(2 * x, 2 * y);
        texels[1] = at(2 * x + 1, 2 * y);
        texels[2] = at(2 * x, 2 * y + 1);
        texels[3] = at(2 * x + 1, 2 * y + 1);
        n = 4;
      } else if (sw > 1) {
        texels[0] = at(2 * x, 0);
        texels[1] = at(2 * x + 1, 0);
        n = 2;
      } else {
        texels[0] = at(0, 2 * y);
        texels[1] = at(0, 2 * y + 1);
        n = 2;
      }
      combine(texels, n, depth, max_alpha, dst + (size_t(y) * dw + x) * depth);
    }
  }
}

bool has_tag(const char* info, const char* tag) { return info && strstr(info, tag); }

int round_down_pow2(int n) {
  int p = 1;
  while (p <= n / 2) p *= 2;
  return p;
}

// Copies the levels of a custom chain out of the image that holds them all: level 0 at the
// top left, each next level below the previous one while it fits, else in the next column.
void copy_custom_levels(const Image& image, MipChain& chain) {
  int x = 0, y = 0;
  int levels = mip_level_count(chain.width, chain.height);
  for (int level = 0; level < levels; level++) {
    int lw = mip_level_width(chain.width, level), lh = mip_level_height(chain.height, level);
    uint8_t* dst = chain.pixels.data() + mip_level_offset(chain.width, chain.height, chain.depth, level);
    for (int r = 0; r < lh && y + r < image.height; r++) {
      int columns = std::min(lw, image.width - x);
      if (columns <= 0) break;
      const uint8_t* src = image.pixels.data() + (size_t(y + r) * image.width + x) * image.depth;
      memcpy(dst + size_t(r) * lw * chain.depth, src, size_t(columns) * chain.depth);
    }
    if (y + lh < image.height) {
      y += lh;
    } else {
      x += lw;
    }
  }
}

}  // namespace

int mip_level_width(int width, int level) { return level >= 31 ? 1 : std::max(width >> level, 1); }

int mip_level_height(int height, int level) { return mip_level_width(height, level); }

int mip_level_count(int width, int height) {
  int levels = 1;
  while (width > 1 || height > 1) {
    width = std::max(width / 2, 1);
    height = std::max(height / 2, 1);
    levels++;
  }
  return levels;
}

size_t mip_level_offset(int width, int height, int depth, int level) {
  size_t offset = 0;
  for (int l = 0; l < level; l++) offset += size_t(mip_level_width(width, l)) * mip_level_height(height, l) * depth;
  return offset;
}

size_t mip_chain_bytes(int width, int height, int depth) {
  return mip_level_offset(width, height, depth, mip_level_count(width, height));
}

bool mip_chain_alloc(MipChain& chain, int width, int height, int depth) {
  chain = MipChain{};
  if (width < 1 || height < 1 || width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE ||
      int64_t(width) * height > IMAGE_MAX_PIXELS || depth < 1 || depth > 4)
    return false;
  chain.pixels.assign(mip_chain_bytes(width, height, depth), 0);
  chain.width = width;
  chain.height = height;
  chain.depth = depth;
  return true;
}

void mip_chain_build(MipChain& chain, const char* info) {
  bool max_alpha = has_tag(info, "[mip_max_alpha]");
  int levels = mip_level_count(chain.width, chain.height);
  for (int level = 1; level < levels; level++) {
    const uint8_t* src = chain.pixels.data() + mip_level_offset(chain.width, chain.height, chain.depth, level - 1);
    uint8_t* dst = chain.pixels.data() + mip_level_offset(chain.width, chain.height, chain.depth, level);
    downsample(src, mip_level_width(chain.width, level - 1), mip_level_height(chain.height, level - 1), dst,
               mip_level_width(chain.width, level), mip_level_height(chain.height, level), chain.depth, max_alpha);
  }
}

bool mip_chain_from_image(Image&& image, const char* info, const char* name, MipChain& out) {
  out = MipChain{};
  if (image.width < 1 || image.height < 1 || image.depth < 1 ||
      image.pixels.size() != size_t(image.width) * image.height * image.depth)
    return false;
  if (has_tag(info, "[mip_custom]")) {
    if (image.height * 2 % 3 == 0 && image.height >= 3) {
      mip_chain_alloc(out, image.width, image.height * 2 / 3, image.depth);
      copy_custom_levels(image, out);
      image = Image{};
      return true;
    }
    char text[1024];
    snprintf(text, sizeof text, "Warning: Invalid height for custom MIP map in '%.950s'", name ? name : "");
    image_message(text);
  }
  // The top level stays where it is; the smaller levels are appended behind it.
  out.width = image.width;
  out.height = image.height;
  out.depth = image.depth;
  out.pixels = std::move(image.pixels);
  out.pixels.resize(mip_chain_bytes(out.width, out.height, out.depth));
  image = Image{};
  mip_chain_build(out, info);
  return true;
}

bool mip_chain_round_pow2(MipChain& chain, const char* info) {
  int pw = round_down_pow2(chain.width), ph = round_down_pow2(chain.height);
  if (pw == chain.width && ph == chain.height) return false;
  MipChain rounded;
  mip_chain_alloc(rounded, pw, ph, chain.depth);
  for (int y = 0; y < ph; y++) {
    int sy = int(int64_t(y) * chain.height / ph);
    for (int x = 0; x < pw; x++) {
      int sx = int(int64_t(x) * chain.width / pw);
      memcpy(rounded.pixels.data() + (size_t(y) * pw + x) * chain.depth,
             chain.pixels.data() + (size_t(sy) * chain.width + sx) * chain.depth, size_t(chain.depth));
    }
  }
  mip_chain_build(rounded, info);
  chain = std::move(rounded);
  return true;
}
