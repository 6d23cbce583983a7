// Bitmap fonts without GL: loading the marker-cell layout, measuring text, colour escapes.
#include "render/font.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/console.h"

Font font_main;
Font font_numbers;
Font font_numbers_condensed;

const float TEXT_PALETTE[16][3] = {
    {0, 0, 0},       {0.75f, 0, 0},    {0, 0.75f, 0}, {0.75f, 0.75f, 0}, {0, 0, 0.75f}, {0.75f, 0, 0.75f},
    {0, 0.75f, 0.75f}, {0.75f, 0.75f, 0.75f}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0},
    {0, 0, 1},       {1, 0, 1},        {0, 1, 1},     {1, 1, 1},
};

namespace {

constexpr int ESCAPE_MAX_NUMBERS = 64;

bool is_final_byte(char c) { return c >= 0x40 && c <= 0x7e; }

void font_reset(Font& font) {
  font.texture = 0;
  font.image = MipChain{};
  std::memset(font.glyph, 0, sizeof font.glyph);
  std::fill(std::begin(font.advance), std::end(font.advance), FONT_DEFAULT_ADVANCE);
}

struct Layout {
  const uint8_t* top;  // the top level's pixels
  int width, height;
  uint8_t marker[4];
};

bool is_marker(const Layout& l, int x, int y) {
  return std::memcmp(l.top + (static_cast<size_t>(y) * l.width + x) * 4, l.marker, 4) == 0;
}

// First marker row at or below y (or the height).
int next_marker_row(const Layout& l, int y) {
  while (y < l.height && !is_marker(l, 0, y)) y++;
  return y;
}

// First marker at or after x in row y (or the width).
int next_marker_x(const Layout& l, int x, int y) {
  while (x < l.width && !is_marker(l, x, y)) x++;
  return x;
}

void apply_sgr(int number, int* state) {
  int bold = *state & TEXT_BOLD;
  if (number == 0)
    *state = TEXT_STATE_PLAIN;
  else if (number == 1)
    *state |= TEXT_BOLD;
  else if (number == 22)
    *state &= ~TEXT_BOLD;
  else if (number >= 30 && number <= 37) {
    if (!(*state & TEXT_SHADOW)) *state = (number - 30) | bold;
  } else if (number >= 40 && number <= 47) {
    if (*state & TEXT_SHADOW) *state = (number - 40) | bold;
  }
}

}  // namespace

void font_load(Font& font, const char* name, const char* chars) {
  font_reset(font);
  MipChain chain;
  if (!image_load(name, 4, chain, nullptr)) {
    console_printf("Can't open font '%.512s'", name);
    return;
  }
  font_from_image(font, std::move(chain), chars);
}

void font_from_image(Font& font, MipChain&& chain, const char* chars) {
  font_reset(font);
  if (chain.depth != 4 || chain.width < 1 || chain.height < 1 ||
      chain.pixels.size() < static_cast<size_t>(chain.width) * chain.height * 4)
    return;
  chain.pixels.resize(mip_chain_bytes(chain.width, chain.height, 4));
  Layout l{chain.pixels.data(), chain.width, chain.height, {}};
  std::memcpy(l.marker, l.top, 4);
  const float w = static_cast<float>(l.width), h_total = static_cast<float>(l.height);

  int top = 0;
  int end = next_marker_row(l, 1);
  int x0 = 0;
  int e = next_marker_x(l, 1, 0);
  for (const char* p = chars; *p; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (e >= l.width) {
      top = end < l.height ? end : 0;
      end = next_marker_row(l, top + 1);
      x0 = 0;
      e = next_marker_x(l, 1, top);
    }
    font.glyph[c][0] = x0 / w;
    font.glyph[c][1] = top / h_total;
    font.glyph[c][2] = e / w;
    font.glyph[c][3] = end / h_total;
    font.advance[c] = static_cast<float>(e - x0) / static_cast<float>(end - top);
    x0 = e;
    e = next_marker_x(l, e + 1, top);
  }
  font.advance[int{' '}] = font.advance[int{'-'}];

  // The markers become transparent white so they never show; the marker colour was copied.
  uint8_t* pixels = chain.pixels.data();
  for (int y = 0; y < l.height; y++) {
    if (!is_marker(l, 0, y)) continue;
    for (int x = 0; x < l.width; x++) {
      if (x == 0 && y == 0) continue;
      if (!is_marker(l, x, y)) continue;
      uint8_t* o = pixels + (static_cast<size_t>(y) * l.width + x) * 4;
      o[0] = o[1] = o[2] = 255;
      o[3] = 0;
    }
  }
  uint8_t* corner = pixels;
  corner[0] = corner[1] = corner[2] = 255;
  corner[3] = 0;
  mip_chain_build(chain, nullptr);
  font.image = std::move(chain);
}

const char* text_escape(const char* text, int* state) {
  const char* p = text + 1;  // past the ESC
  bool bracket = *p == '[';
  if (bracket) p++;
  int numbers[ESCAPE_MAX_NUMBERS];
  int count = 0;
  int value = 0;
  bool in_number = false;
  for (;; p++) {
    char c = *p;
    if (c == 0) return nullptr;
    if (is_final_byte(c)) break;
    if (c >= '0' && c <= '9') {
      value = std::min(value * 10 + (c - '0'), 1000000);
      in_number = true;
    } else if (c == ';') {
      if (count < ESCAPE_MAX_NUMBERS) numbers[count++] = value;
      value = 0;
      in_number = false;
    }
  }
  if (in_number && count < ESCAPE_MAX_NUMBERS) numbers[count++] = value;
  if (state && bracket && *p == 'm') {
    if (count == 0) *state = TEXT_STATE_PLAIN;
    for (int i = 0; i < count; i++) apply_sgr(numbers[i], state);
  }
  return p + 1;
}

void text_colour(int state, const float rgba[4], float out[4]) {
  if (state & TEXT_CALLER_COLOUR) {
    float lift = state & TEXT_BOLD ? 0.25f : 0.0f;
    for (int j = 0; j < 3; j++) out[j] = std::min(rgba[j] + lift, 1.0f);
  } else {
    for (int j = 0; j < 3; j++) out[j] = TEXT_PALETTE[state & 15][j];
  }
  out[3] = rgba[3];
}

float font_text_width(const Font& font, const char* text) {
  float w = 0, m = 0;
  const float tab = 8 * font.advance[int{' '}];
  for (const char* p = text; *p;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == 27) {
      p = text_escape(p, nullptr);
      if (!p) break;
      continue;
    }
    if (c == '\t') {
      if (tab > 0) w = tab + std::floor(w / tab) * tab;
      m = std::max(m, w);
    } else if (c == '\r' || c == '\n') {
      w = 0;
    } else {
      w += font.advance[c];
      m = std::max(m, w);
    }
    p++;
  }
  return m;
}

float text_width(const char* text) { return font_text_width(font_main, text); }

namespace {

// Pixel columns and rows of a character's cell in a font image.
struct CellPixels {
  int x0, y0, x1, y1;
};

CellPixels cell_pixels(const Font& font, unsigned char c) {
  const float* g = font.glyph[c];
  const int w = font.image.width, h = font.image.height;
  return CellPixels{static_cast<int>(std::floor(g[0] * w)), static_cast<int>(std::floor(g[1] * h)),
                    static_cast<int>(std::floor(g[2] * w)), static_cast<int>(std::floor(g[3] * h))};
}

// Calls visit for each character of text that is not part of an escape sequence.
template <typename Visit>
void for_each_char(const char* text, Visit visit) {
  for (const char* p = text; *p;) {
    if (*p == 27) {
      p = text_escape(p, nullptr);
      if (!p) return;
      continue;
    }
    visit(static_cast<unsigned char>(*p++));
  }
}

void plate_measure(const Font& font, const char* text, int* width, int* height) {
  *width = *height = 0;
  for_each_char(text, [&](unsigned char c) {
    CellPixels cell = cell_pixels(font, c);
    *width += cell.x1 - cell.x0;
    *height = std::max(*height, cell.y1 - cell.y0);
  });
}

// Copies the glyphs 1:1 into the top level of target (W x H RGBA), blended by their alpha
// times a and tinted by the multipliers.
void plate_render(const char* text, uint8_t* target, int W, int H, const float mult[4]) {
  if (font_numbers.image.pixels.empty()) return;
  const Font* font = &font_numbers;
  int width, height;
  plate_measure(*font, text, &width, &height);
  if (9 * W / 8 < width && !font_numbers_condensed.image.pixels.empty()) {
    font = &font_numbers_condensed;
    plate_measure(*font, text, &width, &height);
  }
  const int iw = font->image.width, ih = font->image.height;
  const uint8_t* source = font->image.pixels.data();
  int pen = W / 2 - width / 2;
  const int top = H / 2 - height / 2;
  for_each_char(text, [&](unsigned char c) {
    CellPixels cell = cell_pixels(*font, c);
    for (int sy = std::max(cell.y0, 0); sy < std::min(cell.y1, ih); sy++) {
      const int ty = top + sy - cell.y0;
      if (ty < 0 || ty >= H) continue;
      for (int sx = std::max(cell.x0, 0); sx < std::min(cell.x1, iw); sx++) {
        const int tx = pen + sx - cell.x0;
        if (tx < 0 || tx >= W) continue;
        const uint8_t* s = source + (static_cast<size_t>(sy) * iw + sx) * 4;
        uint8_t* t = target + (static_cast<size_t>(ty) * W + tx) * 4;
        const float alpha = s[3] / 255.0f * mult[3];
        for (int j = 0; j < 3; j++)
          t[j] = static_cast<uint8_t>((s[j] / 255.0f * mult[j] * alpha + t[j] / 255.0f * (1 - alpha)) * 255);
        t[3] = static_cast<uint8_t>((alpha * alpha + t[3] / 255.0f * (1 - alpha)) * 255);
      }
    }
    pen += cell.x1 - cell.x0;
  });
}

void set_clear(uint8_t* p) {
  p[0] = p[1] = p[2] = 255;
  p[3] = 0;
}

}  // namespace

void text_plate_image(const char* text, int width, int height, const uint8_t bg[3], const uint8_t fg[3],
                      MipChain& out) {
  out = MipChain{};
  if (!mip_chain_alloc(out, width, height, 4)) return;
  uint8_t* top = out.pixels.data();
  const size_t texels = static_cast<size_t>(width) * height;
  for (size_t i = 0; i < texels; i++) set_clear(top + i * 4);
  const float mult[4] = {1, 1, 1, 1};
  plate_render(text, top, width, height, mult);
  for (size_t i = 0; i < texels; i++)
    for (int j = 0; j < 3; j++) {
      uint8_t& v = top[i * 4 + j];
      v = static_cast<uint8_t>(fg[j] + (bg[j] - fg[j]) * v / 255.0f);
    }
  mip_chain_build(out, nullptr);
  // A clear border in every level keeps the plate's edge from smearing when it is tiled
  // or clamped.
  for (int level = 0; level < mip_level_count(width, height); level++) {
    const int w = mip_level_width(width, level), h = mip_level_height(height, level);
    uint8_t* p = out.pixels.data() + mip_level_offset(width, height, 4, level);
    for (int x = 0; x < w; x++) {
      set_clear(p + x * 4);
      set_clear(p + (static_cast<size_t>(h - 1) * w + x) * 4);
    }
    for (int y = 0; y < h; y++) {
      set_clear(p + static_cast<size_t>(y) * w * 4);
      set_clear(p + (static_cast<size_t>(y) * w + w - 1) * 4);
    }
  }
}

void text_layout(const Font& font, const char* text, int state, const float rgba[4], TextQuadSink sink,
                 void* context) {
  const float tab = 8 * font.advance[int{' '}];
  float x = 0, y = 0;
  float colour[4];
  text_colour(state, rgba, colour);
  for (const char* p = text; *p;) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == 27 && !(state & TEXT_NO_ESCAPES)) {
      p = text_escape(p, &state);
      if (!p) return;
      text_colour(state, rgba, colour);
      continue;
    }
    p++;
    if (c == ' ') {
      x += font.advance[int{' '}];
    } else if (c == '\r') {
      x = 0;
    } else if (c == '\n') {
      y -= 1;
      x = 0;
    } else if (c == '\t') {
      if (tab > 0) x = tab + std::floor(x / tab) * tab;
    } else {
      const float* g = font.glyph[c];
      TextQuad q{x, y, x + font.advance[c], y + 1, g[0], g[1], g[2], g[3], {}};
      std::copy(colour, colour + 4, q.colour);
      sink(q, context);
      x += font.advance[c];
    }
  }
}

bool text_has_ink(const char* text) {
  for (const char* p = text; *p; p++)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return true;
  return false;
}
