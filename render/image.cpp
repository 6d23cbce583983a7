// The netpbm readers and writers (PPM, PGM), our own predictive "V6"/"V7" form, pixel depth
// conversion and the image message hook. Every reader works on a bounded cursor.
#include "render/image.h"

#include <cstdio>
#include <cstring>

#include "platform/vant.h"

namespace {

void log_message(const char* text) { vant_log("%s\n", text); }

ImageMessageHook message_hook = log_message;

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

int peek(const ImageCursor& in) { return in.pos < in.size ? in.data[in.pos] : -1; }

// White space and '#' comment lines (a '#' and the rest of its line) before a number.
void skip_space_and_comments(ImageCursor& in) {
  for (;;) {
    int c = peek(in);
    if (is_space(c)) {
      in.pos++;
    } else if (c == '#') {
      while (in.pos < in.size && in.data[in.pos] != '\n') in.pos++;
    } else {
      return;
    }
  }
}

// A decimal number after white space and comments. Numbers beyond int range are kept as
// a value just outside it so that the size checks refuse them.
bool read_number(ImageCursor& in, int64_t& value) {
  skip_space_and_comments(in);
  bool negative = false;
  int c = peek(in);
  if (c == '-' || c == '+') {
    negative = c == '-';
    in.pos++;
  }
  size_t digits = 0;
  int64_t v = 0;
  while (in.pos < in.size && in.data[in.pos] >= '0' && in.data[in.pos] <= '9') {
    if (v <= INT32_MAX) v = v * 10 + (in.data[in.pos] - '0');
    in.pos++;
    digits++;
  }
  if (digits == 0) return false;
  value = negative ? -v : v;
  return true;
}

// Width and height (and the maximum, when asked) of a text header. Zero or oversized
// dimensions are refused like negative ones: nothing could be read or allocated for them.
bool read_dimensions(ImageCursor& in, int& width, int& height, int* maximum) {
  int64_t w, h, m = 255;
  if (!read_number(in, w) || !read_number(in, h)) return false;
  if (maximum && !read_number(in, m)) return false;
  if (w < 1 || h < 1 || w > IMAGE_MAX_SIDE || h > IMAGE_MAX_SIDE || w * h > IMAGE_MAX_PIXELS) return false;
  if (m < 1 || m > 65535) return false;
  width = int(w);
  height = int(h);
  if (maximum) *maximum = int(m);
  return true;
}

uint8_t scale_sample(int64_t v, int maximum) {
  if (v <= 0) return 0;
  if (v >= maximum) return 255;
  return uint8_t(v * 255 / maximum);
}

// The samples of a netpbm body: binary (one byte each up to maximum 255, two bytes big-endian
// above) after exactly one separator byte, or decimal text. Each becomes v * 255 / maximum.
bool read_netpbm_samples(ImageCursor& in, bool binary, int maximum, size_t count, uint8_t* out) {
  if (binary) {
    if (in.pos >= in.size) return false;
    in.pos++;  // the one white-space byte after the maximum
    size_t width = maximum > 255 ? 2 : 1;
    if ((in.size - in.pos) / width < count) return false;
    const uint8_t* p = in.data + in.pos;
    for (size_t i = 0; i < count; i++) {
      int v = width == 2 ? (p[2 * i] << 8) | p[2 * i + 1] : p[i];
      out[i] = maximum == 255 ? uint8_t(v) : scale_sample(v, maximum);
    }
    in.pos += count * width;
    return true;
  }
  for (size_t i = 0; i < count; i++) {
    int64_t v;
    if (!read_number(in, v)) return false;
    out[i] = scale_sample(v, maximum);
  }
  return true;
}

bool fail(const char* text) {
  vant_set_error(text);
  return false;
}

// What tells PPM and PGM apart. The error texts are kept by pointer as the last error, so
// they are literals.
struct NetpbmFormat {
  const char* binary_magic;
  const char* text_magic;
  int depth;
  const char* header_error;
  const char* dimensions_error;
  const char* truncated_error;
};

const NetpbmFormat PPM = {"P6", "P3", 3, "Can't parse PPM header", "Can't get PPM dimensions", "Truncated PPM data"};
const NetpbmFormat PGM = {"P5", "P2", 1, "Can't parse PGM header", "Can't get PGM dimensions", "Truncated PGM data"};

// Magic, dimensions, maximum and samples into an image.
bool decode_netpbm(ImageCursor& in, const NetpbmFormat& format, Image& out) {
  out = Image{};
  char word[16];
  if (!image_read_word(in, word) || (strcmp(word, format.binary_magic) != 0 && strcmp(word, format.text_magic) != 0))
    return fail(format.header_error);
  int width, height, maximum;
  if (!read_dimensions(in, width, height, &maximum)) return fail(format.dimensions_error);
  size_t count = size_t(width) * size_t(height) * size_t(format.depth);
  // Text samples need at least one byte each; this keeps a short file from allocating much.
  if (in.size - in.pos < count) return fail(format.truncated_error);
  out.pixels.resize(count);
  if (!read_netpbm_samples(in, strcmp(word, format.binary_magic) == 0, maximum, count, out.pixels.data())) {
    out = Image{};
    return fail(format.truncated_error);
  }
  out.width = width;
  out.height = height;
  out.depth = format.depth;
  return true;
}

// Prediction of our own form: 0 for the first pixel, the left neighbour along the first row,
// the pixel above down the first column, else above + left - above-left clamped to a byte.
int predict(const uint8_t* pixels, int width, int x, int y, int channels, int c) {
  ptrdiff_t stride = ptrdiff_t(width) * channels;
  const uint8_t* here = pixels + y * stride + ptrdiff_t(x) * channels + c;
  if (y == 0) return x == 0 ? 0 : here[-channels];
  if (x == 0) return here[-stride];
  int p = int(here[-stride]) + here[-channels] - here[-stride - channels];
  return p < 0 ? 0 : p > 255 ? 255 : p;
}

void append_text(std::vector<uint8_t>& out, const char* text) {
  out.insert(out.end(), text, text + strlen(text));
}

bool encode_netpbm(const char* magic, const uint8_t* pixels, int width, int height, int depth,
                   std::vector<uint8_t>& out) {
  out.clear();
  if (!pixels || width < 1 || height < 1) return false;
  char header[64];
  snprintf(header, sizeof header, "%s\n%d %d\n255\n", magic, width, height);
  append_text(out, header);
  out.insert(out.end(), pixels, pixels + size_t(width) * height * depth);
  return true;
}

}  // namespace

void image_set_message_hook(ImageMessageHook hook) { message_hook = hook ? hook : log_message; }

void image_message(const char* text) { message_hook(text); }

bool image_read_word(ImageCursor& in, char word[16]) {
  while (is_space(peek(in))) in.pos++;
  int n = 0;
  while (n < 15 && in.pos < in.size && !is_space(in.data[in.pos])) word[n++] = char(in.data[in.pos++]);
  word[n] = 0;
  return n > 0;
}

ImageKind image_kind(const uint8_t* data, size_t size) {
  ImageCursor in = image_cursor(data, size);
  char word[16];
  if (!image_read_word(in, word)) return IMAGE_KIND_PNG;
  if (!strcmp(word, "P3") || !strcmp(word, "P6")) return IMAGE_KIND_PPM;
  if (!strcmp(word, "P2") || !strcmp(word, "P5")) return IMAGE_KIND_PGM;
  if (!strcmp(word, "V6")) return IMAGE_KIND_V6;
  if (!strcmp(word, "V7")) return IMAGE_KIND_V7;
  return IMAGE_KIND_PNG;
}

bool image_decode_ppm(ImageCursor& in, MipChain& out) {
  out = MipChain{};
  Image image;
  if (!decode_netpbm(in, PPM, image)) return false;
  return mip_chain_from_image(std::move(image), "", nullptr, out);
}

bool image_decode_pgm(ImageCursor& in, Image& out) { return decode_netpbm(in, PGM, out); }

bool image_decode_own(ImageCursor& in, int channels, MipChain& out) {
  out = MipChain{};
  char word[16];
  if (!image_read_word(in, word) || (strcmp(word, "V6") != 0 && strcmp(word, "V7") != 0))
    return fail("Can't parse image header");
  return image_decode_own_body(in, word[1] == '6' ? 3 : 4, channels, out);
}

bool image_decode_own_body(ImageCursor& in, int file_channels, int channels, MipChain& out) {
  out = MipChain{};
  if ((file_channels != 3 && file_channels != 4) || (channels != 3 && channels != 4))
    return fail("Can't parse image header");
  int width, height;
  if (!read_dimensions(in, width, height, nullptr)) return fail("Can't get image dimensions");
  size_t count = size_t(width) * size_t(height) * size_t(file_channels);
  if (in.pos >= in.size || in.size - in.pos - 1 < count) return fail("Truncated image data");
  in.pos++;  // the one separator byte
  Image image;
  image.width = width;
  image.height = height;
  image.depth = file_channels;
  image.pixels.resize(count);
  const uint8_t* stored = in.data + in.pos;
  uint8_t* p = image.pixels.data();
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      for (int c = 0; c < file_channels; c++, p++, stored++) {
        *p = uint8_t(predict(image.pixels.data(), width, x, y, file_channels, c) + *stored);
      }
    }
  }
  in.pos += count;
  image_convert_depth(image, channels);
  return mip_chain_from_image(std::move(image), "", nullptr, out);
}

bool image_encode_ppm(const uint8_t* rgb, int width, int height, std::vector<uint8_t>& out) {
  return encode_netpbm("P6", rgb, width, height, 3, out);
}

bool image_encode_pgm(const uint8_t* grey, int width, int height, std::vector<uint8_t>& out) {
  return encode_netpbm("P5", grey, width, height, 1, out);
}

bool image_encode_own(const uint8_t* pixels, int width, int height, int channels, std::vector<uint8_t>& out) {
  out.clear();
  if (!pixels || width < 1 || height < 1 || (channels != 3 && channels != 4)) return false;
  char header[64];
  snprintf(header, sizeof header, "V%d\n%d %d\n", channels == 3 ? 6 : 7, width, height);
  append_text(out, header);
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      for (int c = 0; c < channels; c++) {
        uint8_t value = pixels[(size_t(y) * width + x) * channels + c];
        out.push_back(uint8_t(value - predict(pixels, width, x, y, channels, c)));
      }
    }
  }
  return true;
}

void image_convert_depth(Image& image, int depth) {
  if (image.depth == depth || image.pixels.empty()) {
    image.depth = depth;
    return;
  }
  size_t count = size_t(image.width) * image.height;
  std::vector<uint8_t> pixels(count * depth);
  for (size_t i = 0; i < count; i++) {
    const uint8_t* s = image.pixels.data() + i * image.depth;
    uint8_t* d = pixels.data() + i * depth;
    uint8_t r = s[0], g = image.depth >= 3 ? s[1] : s[0], b = image.depth >= 3 ? s[2] : s[0];
    uint8_t a = image.depth == 4 ? s[3] : 255;
    if (depth == 1) {
      d[0] = uint8_t((r + g + b) / 3);
    } else {
      d[0] = r;
      d[1] = g;
      d[2] = b;
      if (depth == 4) d[3] = a;
    }
  }
  image.pixels = std::move(pixels);
  image.depth = depth;
}
