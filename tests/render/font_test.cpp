// Fonts: the marker-cell layout on a hand-made image, the generated fonts of the data set,
// text measuring and the colour escapes.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "files/vfs.h"
#include "render/font.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string>& console_lines() {
  static std::vector<std::string> lines;
  return lines;
}

const uint8_t MARK[4] = {255, 0, 255, 255};
const uint8_t INK[4] = {255, 255, 255, 200};
const uint8_t CLEAR[4] = {255, 255, 255, 0};

MipChain image_with(int width, int height, const std::vector<std::pair<int, int>>& marks) {
  MipChain chain;
  mip_chain_alloc(chain, width, height, 4);
  for (int i = 0; i < width * height; i++) std::memcpy(&chain.pixels[i * 4], INK, 4);
  for (auto [x, y] : marks) std::memcpy(&chain.pixels[(y * width + x) * 4], MARK, 4);
  return chain;
}

const uint8_t* pixel(const Font& f, int x, int y) { return &f.image.pixels[(y * f.image.width + x) * 4]; }

void expect_glyph(const Font& f, char c, float s0, float t0, float s1, float t1, float advance) {
  const float* g = f.glyph[static_cast<unsigned char>(c)];
  EXPECT_FLOAT_EQ(g[0], s0) << c;
  EXPECT_FLOAT_EQ(g[1], t0) << c;
  EXPECT_FLOAT_EQ(g[2], s1) << c;
  EXPECT_FLOAT_EQ(g[3], t1) << c;
  EXPECT_FLOAT_EQ(f.advance[static_cast<unsigned char>(c)], advance) << c;
}

// 8 x 6: cell row 0 (rows 0-3) has cells at x 0, 3, 6; cell row 1 (rows 4-5) at x 0 and 5.
// The last cell of each row, the one that ends at the image width, is never handed out.
// A stray marker-coloured pixel at (2, 2) is not in a marker row and must survive.
TEST(FontLayout, CellsRowsWrapAndMarkersCleared) {
  Font f;
  font_from_image(f, image_with(8, 6, {{0, 0}, {3, 0}, {6, 0}, {0, 4}, {5, 4}, {2, 2}}), "a-cde");
  expect_glyph(f, 'a', 0, 0, 3 / 8.f, 4 / 6.f, 3 / 4.f);
  expect_glyph(f, '-', 3 / 8.f, 0, 6 / 8.f, 4 / 6.f, 3 / 4.f);
  expect_glyph(f, 'c', 0, 4 / 6.f, 5 / 8.f, 1, 5 / 2.f);
  // Past the last row the cells start again at the top.
  expect_glyph(f, 'd', 0, 0, 3 / 8.f, 4 / 6.f, 3 / 4.f);
  expect_glyph(f, 'e', 3 / 8.f, 0, 6 / 8.f, 4 / 6.f, 3 / 4.f);
  EXPECT_FLOAT_EQ(f.advance[int{' '}], f.advance[int{'-'}]);
  expect_glyph(f, 'z', 0, 0, 0, 0, FONT_DEFAULT_ADVANCE);

  for (auto [x, y] : {std::pair{0, 0}, {3, 0}, {6, 0}, {0, 4}, {5, 4}})
    EXPECT_EQ(0, std::memcmp(pixel(f, x, y), CLEAR, 4)) << x << "," << y;
  EXPECT_EQ(0, std::memcmp(pixel(f, 2, 2), MARK, 4));
  EXPECT_EQ(0, std::memcmp(pixel(f, 1, 0), INK, 4));
  // The smaller levels come from the cleared top level: the 4 x 3 level's first texel
  // averages one cleared marker with three ink pixels.
  ASSERT_EQ(f.image.pixels.size(), mip_chain_bytes(8, 6, 4));
  EXPECT_LT(f.image.pixels[mip_level_offset(8, 6, 4, 1) + 3], INK[3]);
}

TEST(FontLayout, BadImagesLeaveAnEmptyFont) {
  Font f;
  MipChain rgb;
  mip_chain_alloc(rgb, 4, 4, 3);
  font_from_image(f, std::move(rgb), "ab");
  EXPECT_TRUE(f.image.pixels.empty());
  expect_glyph(f, 'a', 0, 0, 0, 0, FONT_DEFAULT_ADVANCE);

  // One pixel: every character gets the whole image.
  font_from_image(f, image_with(1, 1, {}), "ab");
  expect_glyph(f, 'b', 0, 0, 1, 1, 1);
}

struct FontFiles : ::testing::Test {
  TempDir home;
  void SetUp() override {
    set_search_dirs(home, SK_TEST_BIN_DIR);
    vfs_file_list();
    console_lines().clear();
    console_set_display_hook([](const char* text) { console_lines().push_back(text); });
  }
  void TearDown() override {
    console_set_display_hook(nullptr);
    vfs_shutdown();
  }
};

TEST_F(FontFiles, MissingFontSaysSoAndStaysEmpty) {
  Font f;
  font_load(f, "@no-such-font.png", "0123456789");
  ASSERT_EQ(console_lines().size(), 1u);
  EXPECT_EQ(console_lines()[0], "Can't open font '@no-such-font.png'");
  EXPECT_TRUE(f.image.pixels.empty());
  EXPECT_EQ(f.glyph[int{'0'}][2], 0);
}

// Pixel width of text in a digits font, as the number plate renderer measures it.
int plate_width(const Font& f, const char* text) {
  int w = 0;
  for (const char* p = text; *p; p++) {
    const float* g = f.glyph[static_cast<unsigned char>(*p)];
    w += static_cast<int>(std::floor(g[2] * f.image.width)) - static_cast<int>(std::floor(g[0] * f.image.width));
  }
  return w;
}

// Every character of each generated font has a cell of its own with ink in it, of the colour
// the font is drawn in.
TEST_F(FontFiles, GeneratedFontsGiveEveryCharacterAnInkedCell) {
  std::string printable;
  for (int c = '!'; c <= '~'; c++) printable += static_cast<char>(c);
  struct Case {
    const char* name;
    const char* chars;
    uint8_t ink;
  } cases[] = {{"@font.png", printable.c_str(), 255},
               {"@numbers.png", "0123456789", 0},
               {"@numbers-condensed.png", "0123456789", 0}};
  for (const Case& k : cases) {
    Font f;
    font_load(f, k.name, k.chars);
    ASSERT_FALSE(f.image.pixels.empty()) << k.name;
    const int W = f.image.width, H = f.image.height;
    std::vector<std::vector<int>> seen(H, std::vector<int>(W, 0));
    for (const char* p = k.chars; *p; p++) {
      const float* g = f.glyph[static_cast<unsigned char>(*p)];
      int x0 = std::lround(g[0] * W), y0 = std::lround(g[1] * H), x1 = std::lround(g[2] * W), y1 = std::lround(g[3] * H);
      ASSERT_LT(x0, x1) << k.name << " " << *p;
      ASSERT_LT(y0, y1) << k.name << " " << *p;
      int inked = 0;
      for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
          EXPECT_EQ(seen[y][x]++, 0) << k.name << " cells overlap at " << *p;
          const uint8_t* px = pixel(f, x, y);
          if (px[3] > 128) {
            inked++;
            EXPECT_EQ(px[0], k.ink) << k.name << " " << *p;
          }
        }
      EXPECT_GT(inked, 3) << k.name << " " << *p;
    }
    EXPECT_EQ(console_lines().size(), 0u) << k.name;
  }
}

// Number plates are 128 px: three digits fit in 9/8 of that with the normal font, four need
// the condensed one, and the digits fill most of the plate's height.
TEST_F(FontFiles, PlateDigitsFitAsTheRendererChooses) {
  Font normal, condensed;
  font_load(normal, "@numbers.png", "0123456789");
  font_load(condensed, "@numbers-condensed.png", "0123456789");
  const int limit = 9 * 128 / 8;
  EXPECT_LE(plate_width(normal, "888"), limit);
  EXPECT_GT(plate_width(normal, "1234"), limit);
  EXPECT_LE(plate_width(condensed, "1234"), 128);
  const float* g = normal.glyph[int{'8'}];
  EXPECT_LE((g[3] - g[1]) * normal.image.height, 128);
  EXPECT_GE((g[3] - g[1]) * normal.image.height, 64);
}

// Columns of the plate's top level that hold ink (alpha over half), first and last; -1 when none.
std::pair<int, int> ink_columns(const MipChain& plate) {
  int first = -1, last = -1;
  for (int x = 0; x < plate.width; x++)
    for (int y = 0; y < plate.height; y++)
      if (plate.pixels[(y * plate.width + x) * 4 + 3] > 128) {
        if (first < 0) first = x;
        last = x;
        break;
      }
  return {first, last};
}

TEST_F(FontFiles, NumberPlates) {
  const uint8_t bg[3] = {250, 240, 10}, fg[3] = {20, 30, 200};
  MipChain plate;
  font_numbers = Font{};
  font_numbers_condensed = Font{};
  text_plate_image("12", 128, 128, bg, fg, plate);
  EXPECT_EQ(ink_columns(plate).first, -1) << "no digits font: a blank plate";

  font_load(font_numbers, "@numbers.png", "0123456789");
  text_plate_image("\x1b[1m88", 128, 128, bg, fg, plate);
  ASSERT_EQ(plate.pixels.size(), mip_chain_bytes(128, 128, 4));
  auto [first, last] = ink_columns(plate);
  // Two 48 px cells centred: ink inside 16..111, about as far from each edge.
  EXPECT_GE(first, 16);
  EXPECT_LE(last, 111);
  EXPECT_LE(std::abs((first - 0) - (127 - last)), 3);
  // Ink is the foreground colour, bare plate the background; the border is clear everywhere.
  bool saw_ink = false;
  for (int i = 0; i < 128 * 128; i++) {
    const uint8_t* p = &plate.pixels[i * 4];
    if (p[3] == 255) {
      saw_ink = true;
      EXPECT_EQ(p[0], fg[0]);
      EXPECT_EQ(p[2], fg[2]);
    }
  }
  EXPECT_TRUE(saw_ink);
  for (int i : {2 * 128 + 2, 64 * 128 + 125}) {
    EXPECT_EQ(plate.pixels[i * 4], bg[0]);
    EXPECT_EQ(plate.pixels[i * 4 + 2], bg[2]);
  }
  for (int level = 0; level < mip_level_count(128, 128); level++) {
    const int w = mip_level_width(128, level);
    const uint8_t* p = plate.pixels.data() + mip_level_offset(128, 128, 4, level);
    for (int k = 0; k < w; k++) {
      EXPECT_EQ(p[k * 4 + 3], 0) << "top row, level " << level;
      EXPECT_EQ(p[(k * w + w - 1) * 4 + 3], 0) << "right column, level " << level;
    }
  }

  // Four digits are too wide: without the condensed font they run off both edges, with it they
  // fit inside.
  text_plate_image("1234", 128, 128, bg, fg, plate);
  auto wide = ink_columns(plate);
  font_load(font_numbers_condensed, "@numbers-condensed.png", "0123456789");
  text_plate_image("1234", 128, 128, bg, fg, plate);
  auto narrow = ink_columns(plate);
  EXPECT_LT(wide.first, narrow.first);
  EXPECT_GT(wide.second, narrow.second);
  EXPECT_GT(narrow.first, 1);
  EXPECT_LT(narrow.second, 126);
  font_numbers = Font{};
  font_numbers_condensed = Font{};
}

TEST(TextWidth, LinesTabsAndEscapes) {
  Font f;
  font_from_image(f, image_with(1, 1, {}), "");
  f.advance[int{'a'}] = 0.5f;
  f.advance[int{'b'}] = 0.25f;
  f.advance[int{'i'}] = 0.1f;
  f.advance[int{' '}] = 0.5f;
  struct Case {
    const char* text;
    float width;
  } cases[] = {
      {"", 0},
      {"ab", 0.75f},
      {"a\nabab", 1.5f},
      {"abab\r\na", 1.5f},
      {"\x1b[1;31mab\x1b[0m", 0.75f},
      {"a\x1b" "Bb", 0.75f},       // ESC without '[' ends at its first final byte
      {"ab\x1b[31", 0.75f},        // cut by the end of the text
      {"i\t", 4.0f},               // to the next tab stop, 8 spaces apart
      {"i\tb", 4.25f},
      {"\t\t", 8.0f},
      {"aaaaaaaaa\t", 8.0f},       // 4.5 moves on to 8
      {"a\xe9", 0.5f + FONT_DEFAULT_ADVANCE},
  };
  for (const Case& k : cases) EXPECT_FLOAT_EQ(font_text_width(f, k.text), k.width) << k.text;
}

TEST(TextEscape, StatesAndColours) {
  struct Case {
    int state;
    const char* sequence;
    int after;
    float rgb[3];  // drawn with the caller's colour (0.5, 0.5, 0.5)
  } cases[] = {
      {16, "\x1b[1m", 24, {0.75f, 0.75f, 0.75f}},
      {16, "\x1b[31m", 1, {0.75f, 0, 0}},
      {16, "\x1b[1;31m", 9, {1, 0, 0}},
      {24, "\x1b[22m", 16, {0.5f, 0.5f, 0.5f}},
      {9, "\x1b[m", 16, {0.5f, 0.5f, 0.5f}},
      {9, "\x1b[0m", 16, {0.5f, 0.5f, 0.5f}},
      {16, "\x1b[99m", 16, {0.5f, 0.5f, 0.5f}},
      {16, "\x1b[31A", 16, {0.5f, 0.5f, 0.5f}},  // not a colour sequence
      {16, "\x1b" "31m", 16, {0.5f, 0.5f, 0.5f}},  // no '[': skipped
      // Shadow passes: 30-37 leave the shadow alone, 40-47 colour it, 0 ends the pass's rule.
      {48, "\x1b[31m", 48, {0.5f, 0.5f, 0.5f}},
      {48, "\x1b[41m", 1, {0.75f, 0, 0}},
      {48, "\x1b[0;31m", 1, {0.75f, 0, 0}},
      {16, "\x1b[41m", 16, {0.5f, 0.5f, 0.5f}},
  };
  const float caller[4] = {0.5f, 0.5f, 0.5f, 0.25f};
  for (const Case& k : cases) {
    std::string text = std::string(k.sequence) + "Z";
    int state = k.state;
    const char* after = text_escape(text.c_str(), &state);
    ASSERT_NE(after, nullptr) << text;
    EXPECT_EQ(*after, 'Z') << text;
    EXPECT_EQ(state, k.after) << text;
    float out[4];
    text_colour(state, caller, out);
    for (int j = 0; j < 3; j++) EXPECT_FLOAT_EQ(out[j], k.rgb[j]) << text;
    EXPECT_FLOAT_EQ(out[3], 0.25f);
  }
  int state = 16;
  EXPECT_EQ(text_escape("\x1b[1;3", &state), nullptr);
  EXPECT_EQ(state, 16);
  // More numbers than are kept: the first 64 apply, the rest are dropped.
  std::string many = "\x1b[";
  for (int i = 0; i < 100; i++) many += "1;";
  many += "31m";
  EXPECT_NE(text_escape(many.c_str(), &state), nullptr);
  EXPECT_EQ(state, 24);
}

}  // namespace

namespace {

std::vector<TextQuad> layout(const Font& f, const char* text, int state, const float rgba[4]) {
  std::vector<TextQuad> quads;
  text_layout(f, text, state, rgba,
              [](const TextQuad& q, void* out) { static_cast<std::vector<TextQuad>*>(out)->push_back(q); }, &quads);
  return quads;
}

// The pen moves by each advance, spaces and tabs only move it, a newline goes one unit down
// to x = 0, and escapes change the colour of what follows (unless they are turned off).
TEST(TextLayout, PenAndColours) {
  Font f;
  font_from_image(f, image_with(8, 6, {{0, 0}, {3, 0}, {6, 0}, {0, 4}, {5, 4}}), "ab-");
  f.advance[int{' '}] = 0.5f;
  const float grey[4] = {0.5f, 0.5f, 0.5f, 0.5f};
  std::vector<TextQuad> q = layout(f, "ab \x1b[1;31mb\n\tz", TEXT_STATE_PLAIN, grey);
  ASSERT_EQ(q.size(), 4u);
  const float expected[4][3] = {{0, 0, 0.75f}, {0.75f, 0, 1.5f}, {2.0f, 0, 2.75f}, {4.0f, -1, 4.0f + FONT_DEFAULT_ADVANCE}};
  for (int i = 0; i < 4; i++) {
    EXPECT_FLOAT_EQ(q[i].x0, expected[i][0]) << i;
    EXPECT_FLOAT_EQ(q[i].y0, expected[i][1]) << i;
    EXPECT_FLOAT_EQ(q[i].x1, expected[i][2]) << i;
    EXPECT_FLOAT_EQ(q[i].y1, expected[i][1] + 1) << i;
  }
  EXPECT_FLOAT_EQ(q[1].s0, 3 / 8.f);
  EXPECT_FLOAT_EQ(q[1].s1, 6 / 8.f);
  EXPECT_FLOAT_EQ(q[0].colour[0], 0.5f);
  EXPECT_FLOAT_EQ(q[2].colour[0], 1.0f);
  EXPECT_FLOAT_EQ(q[2].colour[1], 0.0f);
  EXPECT_FLOAT_EQ(q[3].colour[3], 0.5f);
  // A character without a glyph samples the corner texel.
  EXPECT_FLOAT_EQ(q[3].s1, 0);

  // With escapes off the ESC is a character of its own and the colour stays.
  q = layout(f, "\x1b[31ma", TEXT_STATE_PLAIN | TEXT_NO_ESCAPES, grey);
  ASSERT_EQ(q.size(), 6u);
  EXPECT_FLOAT_EQ(q[5].colour[0], 0.5f);

  EXPECT_FALSE(text_has_ink(" \t\r\n "));
  EXPECT_TRUE(text_has_ink("  .  "));
  EXPECT_TRUE(layout(f, "ab\x1b[3", TEXT_STATE_PLAIN, grey).size() == 2);
}

}  // namespace
