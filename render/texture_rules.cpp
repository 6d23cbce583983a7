// Texture decisions that need no GL: wrap flags, reductions, border colour, animations.
#include "render/texture_rules.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// A decimal integer after optional white space; false when none starts there.
bool read_int(ImageCursor& in, int* value) {
  while (in.pos < in.size && is_space(in.data[in.pos])) in.pos++;
  size_t start = in.pos;
  bool negative = false;
  if (in.pos < in.size && (in.data[in.pos] == '-' || in.data[in.pos] == '+')) negative = in.data[in.pos++] == '-';
  long long v = 0;
  size_t digits = 0;
  while (in.pos < in.size && in.data[in.pos] >= '0' && in.data[in.pos] <= '9') {
    if (v < 1000000000) v = v * 10 + (in.data[in.pos] - '0');
    in.pos++;
    digits++;
  }
  if (!digits) {
    in.pos = start;
    return false;
  }
  *value = static_cast<int>(negative ? -v : v);
  return true;
}

// The line after the current one, trailing white space removed; false at the end of the data.
bool read_next_line(ImageCursor& in, std::string* line) {
  while (in.pos < in.size && in.data[in.pos] != '\n') in.pos++;
  if (in.pos >= in.size) return false;
  in.pos++;
  if (in.pos >= in.size) return false;
  size_t start = in.pos;
  while (in.pos < in.size && in.data[in.pos] != '\n') in.pos++;
  size_t end = in.pos;
  while (end > start && is_space(in.data[end - 1])) end--;
  line->assign(reinterpret_cast<const char*>(in.data + start), end - start);
  return true;
}

bool fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Interpolates coarse samples onto a fine axis: 3/4 of the nearer, 1/4 of the farther.
int upsample_index(int fine, int coarse_size, int* farther) {
  int near = fine / 2;
  int far = fine % 2 ? near + 1 : near - 1;
  *farther = std::clamp(far, 0, coarse_size - 1);
  return std::min(near, coarse_size - 1);
}

}  // namespace

unsigned texture_wrap_from_name(const char* name) {
  unsigned flags = 0;
  if (strstr(name, "-hrepeat.")) flags |= TEXTURE_REPEAT_S;
  if (strstr(name, "-vrepeat.")) flags |= TEXTURE_REPEAT_T;
  if (strstr(name, "-repeat.")) flags |= TEXTURE_REPEAT_S | TEXTURE_REPEAT_T;
  return flags;
}

void mip_chain_drop_top(MipChain& chain) {
  if (chain.width <= 1 && chain.height <= 1) return;
  size_t top = mip_level_offset(chain.width, chain.height, chain.depth, 1);
  chain.pixels.erase(chain.pixels.begin(), chain.pixels.begin() + static_cast<std::ptrdiff_t>(top));
  chain.width = mip_level_width(chain.width, 1);
  chain.height = mip_level_height(chain.height, 1);
}

int texture_reduce_by_setting(MipChain& chain, int count) {
  int dropped = 0;
  while (count > 0 && chain.width > TEXTURE_REDUCE_ABOVE && chain.height > TEXTURE_REDUCE_ABOVE) {
    mip_chain_drop_top(chain);
    count--;
    dropped++;
  }
  return dropped;
}

void texture_upsample_level(const MipChain& chain, std::vector<uint8_t>& out) {
  const int w = chain.width, h = chain.height, d = chain.depth;
  const int cw = mip_level_width(w, 1), ch = mip_level_height(h, 1);
  const uint8_t* coarse = chain.pixels.data() + mip_level_offset(w, h, d, 1);
  // Along x first: a row of the fine width for every coarse row.
  std::vector<int> rows(static_cast<size_t>(w) * ch * d);
  for (int y = 0; y < ch; y++) {
    for (int x = 0; x < w; x++) {
      int far;
      int near = cw == w ? x : upsample_index(x, cw, &far);
      if (cw == w) far = x;
      for (int c = 0; c < d; c++) {
        int a = coarse[(static_cast<size_t>(y) * cw + near) * d + c];
        int b = coarse[(static_cast<size_t>(y) * cw + far) * d + c];
        rows[(static_cast<size_t>(y) * w + x) * d + c] = (3 * a + b) / 4;
      }
    }
  }
  out.assign(static_cast<size_t>(w) * h * d, 0);
  for (int y = 0; y < h; y++) {
    int far;
    int near = ch == h ? y : upsample_index(y, ch, &far);
    if (ch == h) far = y;
    for (int x = 0; x < w; x++) {
      for (int c = 0; c < d; c++) {
        int a = rows[(static_cast<size_t>(near) * w + x) * d + c];
        int b = rows[(static_cast<size_t>(far) * w + x) * d + c];
        out[(static_cast<size_t>(y) * w + x) * d + c] = static_cast<uint8_t>((3 * a + b) / 4);
      }
    }
  }
}

int texture_reduce_by_content(MipChain& chain) {
  int dropped = 0;
  std::vector<uint8_t> rebuilt;
  while (chain.width > TEXTURE_CONTENT_MIN || chain.height > TEXTURE_CONTENT_MIN) {
    texture_upsample_level(chain, rebuilt);
    const uint8_t* top = chain.pixels.data();
    bool detail = false;
    for (size_t i = 0; i < rebuilt.size() && !detail; i++)
      detail = std::abs(int(top[i]) - int(rebuilt[i])) > TEXTURE_DETAIL_TOLERANCE;
    if (detail) break;
    mip_chain_drop_top(chain);
    dropped++;
  }
  return dropped;
}

void texture_border_colour(const MipChain& chain, float rgba[4]) {
  rgba[0] = rgba[1] = rgba[2] = rgba[3] = 0;
  if (chain.depth != 3 || chain.width < 1 || chain.height < 1) return;
  const int w = chain.width, h = chain.height;
  std::vector<int> counts(512, 0);
  int best = -1, best_count = 0;
  auto count = [&](int x, int y) {
    const uint8_t* p = chain.pixels.data() + (static_cast<size_t>(y) * w + x) * 3;
    int bin = (p[0] * 7 / 255) << 6 | (p[1] * 7 / 255) << 3 | (p[2] * 7 / 255);
    // Ties go to the colour that reached the count first in the scan order.
    if (++counts[bin] > best_count) best_count = counts[bin], best = bin;
  };
  for (int x = 0; x < w; x++) count(x, 0);
  for (int x = 0; x < w; x++) count(x, h - 1);
  for (int y = 0; y < h; y++) count(0, y);
  for (int y = 0; y < h; y++) count(w - 1, y);
  rgba[0] = float(best >> 6 & 7) / 7;
  rgba[1] = float(best >> 3 & 7) / 7;
  rgba[2] = float(best & 7) / 7;
}

bool texture_seq_parse(const uint8_t* data, size_t size, TextureSeq& out, std::string* error,
                       SeqFrameLoader load_frame) {
  out = TextureSeq{};
  if (error) error->clear();
  ImageCursor in = image_cursor(data, size);
  char word[16];
  if (!image_read_word(in, word) || strcmp(word, "ANIM1") != 0) return fail(error, "");
  int length, count, ticks, loop;
  if (!read_int(in, &length) || !read_int(in, &count) || !read_int(in, &ticks) || !read_int(in, &loop))
    return fail(error, "");
  if (length <= 0 || count <= 0) return fail(error, "");
  if (length > TEXTURE_SEQ_MAX_FRAMES || count > TEXTURE_SEQ_MAX_IMAGES)
    return fail(error, "Too many frames in .seq");
  out.sequence_length = length;
  out.image_count = count;
  out.ticks_per_frame = std::max(ticks, 1);  // a zero would stop the clock with a division by 0
  out.loop = loop;
  out.sequence.resize(static_cast<size_t>(length));
  for (int& index : out.sequence) {
    if (!read_int(in, &index)) return fail(error, "EOF while reading .seq");
    if (index < 0 || index >= count) return fail(error, "Bad image index in .seq");
  }
  for (int i = 0; i < count; i++) {
    MipChain image;
    if (!image_read_word(in, word)) return fail(error, "EOF while reading .seq");
    if (!strcmp(word, "V7")) {
      if (!image_decode_own_body(in, 4, 4, image)) return fail(error, "Error reading .seq frame " + std::to_string(i));
    } else if (!strcmp(word, "PNG")) {
      std::string name;
      if (!read_next_line(in, &name)) return fail(error, "EOF while reading .seq");
      std::string info;
      const bool loaded = load_frame ? load_frame(name.c_str(), image) : image_load(name.c_str(), 0, image, &info);
      if (!loaded) {
        char text[1000];
        snprintf(text, sizeof text, "Can't read %.900s", name.c_str());
        return fail(error, text);
      }
    } else {
      return fail(error, "Error reading .seq frame " + std::to_string(i));
    }
    mip_chain_round_pow2(image, "");
    while (int64_t{image.width} * image.height > TEXTURE_SEQ_MAX_TEXELS) mip_chain_drop_top(image);
    if (!out.images.empty()) {
      if (image.width != out.images[0].width || image.height != out.images[0].height)
        return fail(error, "Width/height mismatch reading .seq");
      if (image.depth != out.images[0].depth) return fail(error, "Depth mismatch reading .seq");
    }
    out.images.push_back(std::move(image));
  }
  return true;
}

int texture_anim_frame(int32_t tick, int32_t start_tick, int ticks_per_frame, int sequence_length,
                       bool loop) {
  if (sequence_length <= 0) return 0;
  int64_t elapsed = std::max<int64_t>(int64_t{tick} - start_tick, 0);
  int64_t frame = elapsed / std::max(ticks_per_frame, 1);
  return static_cast<int>(loop ? frame % sequence_length : std::min<int64_t>(frame, sequence_length - 1));
}
