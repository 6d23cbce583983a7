// The generator's fonts. Each glyph is a few polylines on a small grid (x 0..4, y 0 at the
// capital top, 6 the baseline, 2 the lower-case top, 8 the descender bottom), drawn as round
// anti-aliased strokes into its own cell. A cell row starts at a pixel row whose first pixel
// has the marker colour; each marker pixel in that row starts a cell; the cell's width over its
// height is the character's advance.
#include "tools/data/fonts.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "render/image.h"

namespace {

// Glyph strokes for '!' .. '~': polylines separated by spaces, each point two digits "xy"; a
// lone point is a dot.
const char* const STROKES[94] = {
    "1014 16",                        // !
    "0001 2021",                      // "
    "1016 3036 0242 0444",            // #
    "4111021333443505 2026",          // $
    "4006 0010110100 3545463635",     // %
    "4612112031320405162644",         // &
    "2021",                           // '
    "30212536",                       // (
    "10212516",                       // )
    "2024 0143 0341",                 // *
    "2226 0444",                      // +
    "262718",                         // ,
    "0444",                           // -
    "26",                             // .
    "4006",                           // /
    "103041453616050110",             // 0
    "112026 1636",                    // 1
    "01103041420646",                 // 2
    "01103041423313 334445361605",    // 3
    "36300444",                       // 4
    "4000033344453606",               // 5
    "4130100105163645443303",         // 6
    "004016",                         // 7
    "13020110304142331304051636454433",  // 8
    "4313020110304145361605",         // 9
    "22 25",                          // :
    "22 252617",                      // ;
    "410345",                         // <
    "0242 0444",                      // =
    "014305",                         // >
    "01103041422324 26",              // ?
    "34321214344341301001051646",     // @
    "0602204246 0444",                // A
    "06003041423303 3344453606",      // B
    "4130100105163645",               // C
    "00304145360600",                 // D
    "40000646 0333",                  // E
    "400006 0333",                    // F
    "41301001051636454323",           // G
    "0006 4046 0343",                 // H
    "1030 2026 1636",                 // I
    "2040 3035261605",                // J
    "0006 4004 1346",                 // K
    "000646",                         // L
    "0600234046",                     // M
    "06004640",                       // N
    "103041453616050110",             // O
    "06003041423303",                 // P
    "103041453616050110 2446",        // Q
    "06003041423303 2346",            // R
    "41301001020313334445361605",     // S
    "0040 2026",                      // T
    "000516364540",                   // U
    "002640",                         // V
    "0016233640",                     // W
    "0046 4006",                      // X
    "002340 2326",                    // Y
    "00400646",                       // Z
    "30101636",                       // [
    "0046",                           // backslash
    "10303616",                       // ]
    "022042",                         // ^
    "0747",                           // _
    "1021",                           // `
    "12324346 4414051646",            // a
    "00063645433202",                 // b
    "421203051646",                   // c
    "40461605031242",                 // d
    "044443321203051646",             // e
    "30201116 0232",                  // f
    "461605031242473808",             // g
    "0006 0312324346",                // h
    "1216 10",                        // i
    "22271808 20",                    // j
    "0006 3204 1436",                 // k
    "101526",                         // l
    "0602 03122326 23324346",         // m
    "0602 0312324346",                // n
    "123243453616050312",             // o
    "08023243453606",                 // p
    "48421203051646",                 // q
    "0602 03123243",                  // r
    "4212031434453606",               // s
    "10152636 0232",                  // t
    "0205163645 4246",                // u
    "022642",                         // v
    "0216243642",                     // w
    "0246 4206",                      // x
    "0226 4218",                      // y
    "02420646",                       // z
    "30212213242536",                 // {
    "2028",                           // |
    "10212233242516",                 // }
    "03123443",                       // ~
};

struct Point {
  float x, y;
};
using Polyline = std::vector<Point>;

std::vector<Polyline> parse_strokes(const char* text) {
  std::vector<Polyline> lines(1);
  for (const char* p = text; *p; p++) {
    if (*p == ' ') {
      lines.emplace_back();
      continue;
    }
    lines.back().push_back(Point{static_cast<float>(p[0] - '0'), static_cast<float>(p[1] - '0')});
    p++;
  }
  return lines;
}

// Where strokes go inside a cell: pixel = origin + grid * scale.
struct Placement {
  float origin_x, origin_y, scale_x, scale_y, half_width;
};

float segment_distance(float px, float py, Point a, Point b) {
  float dx = b.x - a.x, dy = b.y - a.y;
  float len2 = dx * dx + dy * dy;
  float t = len2 > 0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / len2, 0.0f, 1.0f) : 0.0f;
  return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

// Coverage 0..1 of the pixel whose centre is (px, py) by the glyph's strokes.
float coverage(const std::vector<Polyline>& lines, const Placement& at, float px, float py) {
  float nearest = 1e9f;
  for (const Polyline& line : lines) {
    std::vector<Point> pixels;
    for (Point g : line) pixels.push_back(Point{at.origin_x + g.x * at.scale_x, at.origin_y + g.y * at.scale_y});
    if (pixels.size() == 1) {
      // A dot is a little larger than the stroke so it reads at small sizes.
      nearest = std::min(nearest, segment_distance(px, py, pixels[0], pixels[0]) - at.half_width * 0.4f);
      continue;
    }
    for (size_t i = 0; i + 1 < pixels.size(); i++)
      nearest = std::min(nearest, segment_distance(px, py, pixels[i], pixels[i + 1]));
  }
  return std::clamp(at.half_width + 0.5f - nearest, 0.0f, 1.0f);
}

// An RGBA sheet filled with transparent white, cell rows of cell_height px from the top.
struct Sheet {
  std::vector<uint8_t> pixels;
  int width, height, cell_height;
  int x = 0, top = 0;  // where the next cell starts
};

const uint8_t MARKER[4] = {255, 0, 255, 255};

Sheet sheet_new(int width, int height, int cell_height) {
  Sheet s{{}, width, height, cell_height};
  s.pixels.resize(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < s.pixels.size(); i += 4) {
    s.pixels[i] = s.pixels[i + 1] = s.pixels[i + 2] = 255;
    s.pixels[i + 3] = 0;
  }
  return s;
}

void put_marker(Sheet* s, int x, int y) { std::copy(MARKER, MARKER + 4, &s->pixels[(static_cast<size_t>(y) * s->width + x) * 4]); }

// Draws one glyph into a new cell cell_width px wide (starting a new cell row when it would
// not leave room for the closing marker) with ink of the given colour.
void sheet_glyph(Sheet* s, const std::vector<Polyline>& lines, const Placement& at, int cell_width, uint8_t ink) {
  if (s->x + cell_width >= s->width) {
    s->top += s->cell_height;
    s->x = 0;
  }
  if (s->top + s->cell_height > s->height) return;  // the sheet is too small: a test catches it
  for (int y = 0; y < s->cell_height; y++)
    for (int x = 0; x < cell_width; x++) {
      float c = coverage(lines, at, x + 0.5f, y + 0.5f);
      uint8_t* o = &s->pixels[(static_cast<size_t>(s->top + y) * s->width + s->x + x) * 4];
      o[0] = o[1] = o[2] = ink;
      o[3] = static_cast<uint8_t>(std::lround(c * 255));
    }
  put_marker(s, s->x, s->top);
  s->x += cell_width;
  // The closing marker: the rest of the row is a cell the loader never hands out.
  put_marker(s, s->x, s->top);
}

std::vector<uint8_t> sheet_png(const Sheet& s) {
  std::vector<uint8_t> bytes;
  image_encode_png(s.pixels.data(), s.width, s.height, 4, bytes);
  return bytes;
}

// The main font: white glyphs, cells 32 px high, each as wide as its strokes plus bearings.
std::vector<uint8_t> main_font() {
  constexpr int CELL = 32;
  constexpr float UNIT = 3.2f, HALF = 1.25f, BEARING = 3.5f;
  Sheet s = sheet_new(512, 128, CELL);
  for (const char* strokes : STROKES) {
    std::vector<Polyline> lines = parse_strokes(strokes);
    float min_x = 9, max_x = 0;
    for (const Polyline& l : lines)
      for (Point p : l) min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
    int width = static_cast<int>(std::lround((max_x - min_x) * UNIT + 2 * BEARING));
    Placement at{BEARING - min_x * UNIT, 5.0f, UNIT, 3.0f, HALF};
    sheet_glyph(&s, lines, at, width, 255);
  }
  return sheet_png(s);
}

// A digits font for number plates: black ink, cells 128 px high and cell_width px wide.
std::vector<uint8_t> digits_font(int cell_width, float half_width) {
  Sheet s = sheet_new(512, 128, 128);
  float margin = half_width + 3;
  Placement at{margin, 20, (cell_width - 2 * margin) / 4, 88.0f / 6, half_width};
  for (int d = 0; d < 10; d++) sheet_glyph(&s, parse_strokes(STROKES['0' + d - '!']), at, cell_width, 0);
  return sheet_png(s);
}

}  // namespace

void fonts_add_assets(DataSet* set) {
  dataset_add(set, "font.png", main_font());
  dataset_add(set, "numbers.png", digits_font(48, 5.0f));
  dataset_add(set, "numbers-condensed.png", digits_font(32, 4.0f));
}
