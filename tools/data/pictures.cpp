// Pictures the generator paints: ground tiles, sky, track objects, flaggers, map and overview.
#include "tools/data/pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "render/image.h"

namespace {

constexpr float PI = 3.14159265358979f;

uint32_t mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return h;
}

float lattice(int x, int y, int period, int salt) {
  x = ((x % period) + period) % period;
  y = ((y % period) + period) % period;
  return (mix(static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
              static_cast<uint32_t>(salt) * 83492791u) &
          0xffff) /
         65535.0f;
}

// Seamless fractal noise over a square of `size` px with `cells` lattice cells at the base.
float fractal(int px, int py, int size, int cells, int octaves, int salt) {
  float sum = 0, amplitude = 1, total = 0;
  for (int o = 0; o < octaves; o++) {
    int period = cells << o;
    sum += amplitude * picture_noise(px * period / static_cast<float>(size), py * period / static_cast<float>(size), period, salt + o);
    total += amplitude;
    amplitude *= 0.55f;
  }
  return sum / total;
}

uint8_t byte(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

Picture blank(int width, int height, int depth) {
  Picture p;
  p.width = width;
  p.height = height;
  p.depth = depth;
  p.pixels.assign(static_cast<size_t>(width) * height * depth, 0);
  return p;
}

void put(Picture* p, int x, int y, float r, float g, float b, float a = 255) {
  if (x < 0 || y < 0 || x >= p->width || y >= p->height) return;
  uint8_t* o = &p->pixels[(static_cast<size_t>(y) * p->width + x) * p->depth];
  o[0] = byte(r);
  o[1] = byte(g);
  o[2] = byte(b);
  if (p->depth == 4) o[3] = byte(a);
}

void fill_rect(Picture* p, int x0, int y0, int x1, int y1, float r, float g, float b, float a = 255) {
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++) put(p, x, y, r, g, b, a);
}

void fill_ellipse(Picture* p, float cx, float cy, float rx, float ry, float r, float g, float b, float a = 255) {
  for (int y = static_cast<int>(cy - ry); y <= static_cast<int>(cy + ry) + 1; y++)
    for (int x = static_cast<int>(cx - rx); x <= static_cast<int>(cx + rx) + 1; x++) {
      float u = (x + 0.5f - cx) / rx, v = (y + 0.5f - cy) / ry;
      if (u * u + v * v <= 1) put(p, x, y, r, g, b, a);
    }
}

// A thick line from (x0, y0) to (x1, y1).
void line(Picture* p, float x0, float y0, float x1, float y1, float width, float r, float g, float b) {
  float len = std::max(1.0f, std::hypot(x1 - x0, y1 - y0));
  for (float t = 0; t <= len; t += 0.5f) fill_ellipse(p, x0 + (x1 - x0) * t / len, y0 + (y1 - y0) * t / len, width / 2, width / 2, r, g, b);
}

// A ground tile: base colour, broad mottling, fine grain, and sparse specks (stones or blades).
Picture ground_tile(const float base[3], float mottle, float grain, float speck_rate, const float speck[3], int salt) {
  const int size = 128;
  Picture p = blank(size, size, 3);
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      float broad = fractal(x, y, size, 4, 3, salt) - 0.5f;
      float fine = fractal(x, y, size, 32, 2, salt + 10) - 0.5f;
      float shade = 1 + broad * mottle + fine * grain;
      float r = base[0] * shade, g = base[1] * shade, b = base[2] * shade;
      if (lattice(x, y, size, salt + 20) < speck_rate) {
        float k = 0.6f + 0.4f * lattice(x, y, size, salt + 21);
        r = speck[0] * k, g = speck[1] * k, b = speck[2] * k;
      }
      put(&p, x, y, r, g, b);
    }
  }
  return p;
}

struct TileLook {
  const char* name;
  float base[3];
  float mottle, grain, speck_rate;
  float speck[3];
};

const TileLook TILE_LOOKS[TILE_KINDS] = {
    {"ground/dirt.png", {128, 97, 70}, 0.35f, 0.35f, 0.02f, {170, 150, 125}},
    {"ground/berm.png", {112, 82, 57}, 0.5f, 0.5f, 0.04f, {80, 58, 40}},
    {"ground/grass.png", {78, 118, 50}, 0.35f, 0.6f, 0.06f, {110, 150, 70}},
    {"ground/hardpack.png", {150, 132, 108}, 0.2f, 0.25f, 0.03f, {120, 110, 95}},
    {"ground/dirt-alt1.png", {122, 92, 66}, 0.45f, 0.4f, 0.03f, {95, 70, 50}},
    {"ground/grass-alt1.png", {92, 122, 56}, 0.4f, 0.6f, 0.08f, {140, 150, 80}},
};

// Sky colour for a direction (unit vector, y up): haze at the horizon, deeper blue above,
// soft clouds in a band over the horizon, a dull green-grey below it.
void sky_colour(float x, float y, float z, float out[3]) {
  if (y < 0) {
    float t = std::min(1.0f, -y * 4);
    out[0] = 186 - 60 * t, out[1] = 196 - 50 * t, out[2] = 200 - 80 * t;
    return;
  }
  float t = std::pow(y, 0.6f);
  out[0] = 190 + (70 - 190) * t, out[1] = 210 + (120 - 210) * t, out[2] = 232 + (205 - 232) * t;
  // Clouds on a periodic azimuth so the four sides meet without seams.
  float azimuth = std::atan2(z, x) / (2 * PI) + 0.5f;  // 0..1
  float height = y;
  float c = picture_noise(azimuth * 16, height * 10, 16, 77) * 0.6f + picture_noise(azimuth * 48, height * 30, 48, 78) * 0.4f;
  float band = std::clamp(1 - std::fabs(height - 0.18f) / 0.2f, 0.0f, 1.0f);
  float cloud = std::clamp((c - 0.55f) * 3, 0.0f, 1.0f) * band;
  for (int k = 0; k < 3; k++) out[k] += (245 - out[k]) * cloud;
}

// One side of the sky cube: u from the face's first to its fourth corner, top row up.
Picture sky_face(const float left[3], const float right[3], const float up_face) {
  const int size = 256;
  Picture p = blank(size, size, 3);
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      float u = (x + 0.5f) / size, v = (y + 0.5f) / size;
      float d[3];
      if (up_face > 0) {
        // Up face: x from -1 to 1 across, z from 1 (top row) to -1 (bottom row).
        d[0] = -1 + 2 * u, d[1] = 1, d[2] = 1 - 2 * v;
      } else {
        for (int k = 0; k < 3; k++) d[k] = left[k] + (right[k] - left[k]) * u;
        d[1] = 1 - 2 * v;
      }
      float n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      float c[3];
      sky_colour(d[0] / n, d[1] / n, d[2] / n, c);
      put(&p, x, y, c[0], c[1], c[2]);
    }
  }
  return p;
}

// Reflection map: centre straight up, radius 0.25 the horizon, 0.5 straight down.
Picture sky_env() {
  const int size = 128;
  Picture p = blank(size, size, 3);
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      float u = (x + 0.5f) / size - 0.5f, v = (y + 0.5f) / size - 0.5f;
      float r = std::min(0.5f, std::hypot(u, v));
      float polar = r * 2 * PI;  // angle from straight up
      float h = std::sin(polar);
      float dx = r > 0 ? u / r * h : 0, dz = r > 0 ? v / r * h : 0;
      float c[3];
      sky_colour(dx, std::cos(polar), dz, c);
      put(&p, x, y, c[0], c[1], c[2]);
    }
  }
  return p;
}

Picture flare() {
  const int size = 64;
  Picture p = blank(size, size, 3);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      float r = std::hypot(x + 0.5f - size / 2.0f, y + 0.5f - size / 2.0f) / (size / 2.0f);
      float glow = std::pow(std::max(0.0f, 1 - r), 2.2f) * 255;
      float ring = std::max(0.0f, 1 - std::fabs(r - 0.8f) * 12) * 60;
      put(&p, x, y, glow + ring, glow + ring, glow + ring);
    }
  return p;
}

Picture roost() {
  const int size = 32;
  Picture p = blank(size, size, 4);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      float r = std::hypot(x + 0.5f - 16, y + 0.5f - 16) / 16;
      float n = fractal(x, y, size, 4, 2, 5);
      float a = std::clamp((1 - r) * 2.2f - 0.6f + n * 0.8f, 0.0f, 1.0f) * 255;
      float v = 200 + 55 * n;
      put(&p, x, y, v, v, v, a);
    }
  return p;
}

// Trees: a dark trunk and a crown, cut out with alpha.
Picture tree(bool conifer) {
  const int w = 128, h = 256;
  Picture p = blank(w, h, 4);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) put(&p, x, y, 60, 80, 40, 0);  // transparent, crown colour
  fill_rect(&p, 58, 170, 70, 256, 80, 60, 40);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      float fx = (x + 0.5f - w / 2.0f) / (w / 2.0f), fy = (y + 0.5f) / h;
      float n = fractal(x, y, 256, 8, 3, conifer ? 11 : 12);
      bool inside;
      if (conifer) {
        // Three stacked tiers, each a triangle.
        float tier = std::fmod(fy * 3.2f, 1.0f);
        inside = fy < 0.82f && std::fabs(fx) < (0.25f + 0.75f * tier) * std::min(1.0f, fy * 2.5f + 0.1f) * (0.8f + 0.4f * n);
      } else {
        float u = fx / 0.95f, v = (fy - 0.38f) / 0.37f;
        inside = u * u + v * v < 0.75f + 0.5f * n;
      }
      if (inside) {
        float light = 0.75f + 0.5f * n - 0.25f * fx;  // the sun side is brighter
        float g = conifer ? 1.0f : 1.15f;
        put(&p, x, y, 40 * light, 85 * light * g, 35 * light, 255);
      }
    }
  }
  return p;
}

// Sponsor-style banners: bold stripes and blocks in three colour schemes.
Picture banner(int scheme) {
  const int w = 256, h = 64;
  static const float colours[3][3][3] = {{{230, 40, 30}, {250, 250, 250}, {20, 20, 20}},
                                         {{20, 70, 200}, {250, 210, 20}, {250, 250, 250}},
                                         {{30, 150, 60}, {250, 250, 250}, {230, 110, 20}}};
  const float(*c)[3] = colours[scheme];
  Picture p = blank(w, h, 4);
  fill_rect(&p, 0, 0, w, h, c[0][0], c[0][1], c[0][2]);
  fill_rect(&p, 0, 0, w, 6, c[2][0], c[2][1], c[2][2]);
  fill_rect(&p, 0, h - 6, w, h, c[2][0], c[2][1], c[2][2]);
  for (int k = 0; k < 5; k++) {
    int x = 20 + k * 46;
    fill_rect(&p, x, 16, x + 30, 48, c[1][0], c[1][1], c[1][2]);
    fill_ellipse(&p, x + 15, 32, 9, 9, c[0][0], c[0][1], c[0][2]);
  }
  return p;
}

Picture haybale_texture() {
  const int size = 64;
  Picture p = blank(size, size, 3);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      float straw = fractal(x, y * 4, size, 8, 2, 31);
      float twine = (y % 21 == 10) ? 0.6f : 1.0f;
      put(&p, x, y, (190 + 50 * straw) * twine, (160 + 45 * straw) * twine, (80 + 30 * straw) * twine);
    }
  return p;
}

// A person seen from the front holding a flag or board; pose 0-4 as the slots need.
enum FlagPose { POSE_BOARD_UP, POSE_BOARD_SIDE, POSE_BOARD_DOWN, POSE_WALK, POSE_STAND, POSE_FLAG_UP, POSE_FLAG_WAVE };

Picture person(FlagPose pose, const float flag[3], bool checkered) {
  const int w = 64, h = 128;
  Picture p = blank(w, h, 4);
  const float shirt[3] = {235, 120, 20}, trousers[3] = {40, 45, 70}, skin[3] = {225, 180, 140};
  fill_ellipse(&p, 32, 14, 7, 8, skin[0], skin[1], skin[2]);
  fill_rect(&p, 24, 23, 41, 62, shirt[0], shirt[1], shirt[2]);
  bool walking = pose == POSE_WALK;
  line(&p, 28, 62, walking ? 20 : 27, 124, 7, trousers[0], trousers[1], trousers[2]);
  line(&p, 37, 62, walking ? 44 : 38, 124, 7, trousers[0], trousers[1], trousers[2]);
  line(&p, 25, 28, 18, 58, 5, shirt[0], shirt[1], shirt[2]);  // left arm down
  float hx = 50, hy = 8;  // right hand
  if (pose == POSE_BOARD_SIDE || pose == POSE_FLAG_WAVE) hx = 58, hy = 28;
  if (pose == POSE_BOARD_DOWN || pose == POSE_STAND || pose == POSE_WALK) hx = 46, hy = 58;
  line(&p, 40, 28, hx, hy, 5, shirt[0], shirt[1], shirt[2]);
  if (pose == POSE_WALK || pose == POSE_STAND) return p;
  // The flag or board hangs from the hand.
  float fx0 = hx - 2, fy0 = hy - 20, fx1 = hx + 20, fy1 = hy;
  if (pose == POSE_BOARD_SIDE || pose == POSE_FLAG_WAVE) fx0 = hx, fy0 = hy - 22, fx1 = std::min(63.0f, hx + 16), fy1 = hy - 4;
  if (pose == POSE_BOARD_DOWN) fy0 = hy, fy1 = hy + 20;
  for (int y = static_cast<int>(fy0); y < static_cast<int>(fy1); y++)
    for (int x = static_cast<int>(fx0); x < static_cast<int>(fx1); x++) {
      bool dark = checkered && (((x - static_cast<int>(fx0)) / 5 + (y - static_cast<int>(fy0)) / 5) & 1);
      if (dark)
        put(&p, x, y, 15, 15, 15);
      else
        put(&p, x, y, flag[0], flag[1], flag[2]);
    }
  return p;
}

void add_png(DataSet* set, const char* name, const Picture& p) { dataset_add(set, name, picture_png(p)); }

void add_ppm(DataSet* set, const char* name, const Picture& p) {
  std::vector<uint8_t> bytes;
  image_encode_ppm(p.pixels.data(), p.width, p.height, bytes);
  dataset_add(set, name, std::move(bytes));
}

// A box of the hay bale's size as a model: 24 vertices (own normals per face), 12 triangles.
std::string haybale_model() {
  const float sx = 2.0f, sy = 1.5f, sz = 1.0f;  // half length, height, half width (ft)
  struct Face {
    float n[3], u[3], v[3];
  };
  const Face faces[6] = {{{1, 0, 0}, {0, 0, -1}, {0, 1, 0}},  {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
                         {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
                         {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},   {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}}};
  std::string t;
  text_printf(&t, "%d %d\n", 24, 12);
  for (const Face& f : faces) {
    for (int k = 0; k < 4; k++) {
      float a = (k == 1 || k == 2) ? 1.0f : -1.0f, b = (k >= 2) ? 1.0f : -1.0f;
      float x = (f.n[0] + a * f.u[0] + b * f.v[0]) * sx;
      float y = (f.n[1] + a * f.u[1] + b * f.v[1] + 1) * sy * 0.5f;
      float z = (f.n[2] + a * f.u[2] + b * f.v[2]) * sz;
      text_printf(&t, "%f %f %f %f %f %f %f %f\n", x, y, z, f.n[0], f.n[1], f.n[2], (a + 1) * 0.5f, (b + 1) * 0.5f);
    }
  }
  for (int f = 0; f < 6; f++) text_printf(&t, "%d %d %d\n%d %d %d\n", 4 * f, 4 * f + 1, 4 * f + 2, 4 * f, 4 * f + 2, 4 * f + 3);
  return t;
}

}  // namespace

float picture_noise(float x, float y, int period, int salt) {
  int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  float fx = x - x0, fy = y - y0;
  fx = fx * fx * (3 - 2 * fx);
  fy = fy * fy * (3 - 2 * fy);
  float a = lattice(x0, y0, period, salt), b = lattice(x0 + 1, y0, period, salt);
  float c = lattice(x0, y0 + 1, period, salt), d = lattice(x0 + 1, y0 + 1, period, salt);
  return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

void picture_tile_colour(int tile, uint8_t rgb[3]) {
  const TileLook& look = TILE_LOOKS[std::clamp(tile, 0, TILE_KINDS - 1)];
  for (int k = 0; k < 3; k++) rgb[k] = byte(look.base[k]);
}

void pictures_add_assets(DataSet* set) {
  for (int t = 0; t < TILE_KINDS; t++) {
    const TileLook& l = TILE_LOOKS[t];
    add_png(set, l.name, ground_tile(l.base, l.mottle, l.grain, l.speck_rate, l.speck, 100 + 40 * t));
  }
  add_png(set, "roost.png", roost());
  // Side faces run around the horizon: north, east, south, west, each from its first corner to
  // its fourth, so each face's right edge meets the next one's left edge.
  const float corners[5][3] = {{-1, 0, -1}, {1, 0, -1}, {1, 0, 1}, {-1, 0, 1}, {-1, 0, -1}};
  const char* faces[4] = {"sky/sky-n.ppm", "sky/sky-e.ppm", "sky/sky-s.ppm", "sky/sky-w.ppm"};
  for (int f = 0; f < 4; f++) add_ppm(set, faces[f], sky_face(corners[f], corners[f + 1], 0));
  add_ppm(set, "sky/sky-u.ppm", sky_face(corners[0], corners[0], 1));
  add_ppm(set, "sky/sky-env.ppm", sky_env());
  add_png(set, "sky/flare.png", flare());
  add_png(set, "objects/tree1.png", tree(true));
  add_png(set, "objects/tree2.png", tree(false));
  for (int k = 0; k < 3; k++) {
    char name[64];
    snprintf(name, sizeof name, "objects/banner%d.png", k + 1);
    add_png(set, name, banner(k));
  }
  add_png(set, "objects/haybale.png", haybale_texture());
  dataset_add_text(set, "objects/haybale.vm", haybale_model());
  const float board[3] = {250, 250, 250}, green[3] = {30, 170, 60}, white[3] = {250, 250, 250},
              yellow[3] = {250, 220, 20}, blue[3] = {30, 80, 220};
  add_png(set, "objects/starter0.png", person(POSE_BOARD_UP, board, false));
  add_png(set, "objects/starter1.png", person(POSE_BOARD_SIDE, board, false));
  add_png(set, "objects/starter2.png", person(POSE_BOARD_DOWN, board, false));
  add_png(set, "objects/starter3.png", person(POSE_WALK, board, false));
  add_png(set, "objects/starter4.png", person(POSE_STAND, board, false));
  add_png(set, "objects/finish0.png", person(POSE_FLAG_UP, green, false));
  add_png(set, "objects/finish1.png", person(POSE_FLAG_WAVE, blue, false));
  add_png(set, "objects/finish2.png", person(POSE_FLAG_WAVE, white, false));
  add_png(set, "objects/finish3.png", person(POSE_FLAG_WAVE, white, true));
  add_png(set, "objects/flagger_idle.png", person(POSE_STAND, yellow, false));
  add_png(set, "objects/flagger_wave.png", person(POSE_FLAG_WAVE, yellow, false));
}

Picture picture_track_map(const Course& course, const Ground& ground, int size) {
  Picture p = blank(size, size, 4);
  const int P = GROUND_SIZE;
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      int tc = x * GROUND_TILES / size, tr = y * GROUND_TILES / size;
      int tile = ground.tilemap[static_cast<size_t>(tr) * GROUND_TILES + tc];
      uint8_t c[3];
      picture_tile_colour(tile, c);
      bool track = tile == TILE_DIRT || tile == TILE_DIRT_ALT || tile == TILE_BERM || tile == TILE_HARDPACK;
      int col = std::min(P - 1, (2 * tc + 1)), row = std::min(P - 1, (2 * tr + 1));
      float h = ground.heights[static_cast<size_t>(row) * P + col];
      float lift = 1 + h * 0.012f;
      put(&p, x, y, c[0] * lift, c[1] * lift, c[2] * lift, track ? 255 : 96);
    }
  }
  // Finish line in white across the track, the gate in black.
  const CourseSample& f = course_at(course.loop, course.finish_s, true);
  float scale = size / GROUND_EXTENT;
  for (float u = -f.width * 0.5f; u <= f.width * 0.5f; u += 1)
    put(&p, static_cast<int>((f.x + f.dz * u) * scale), static_cast<int>((f.z - f.dx * u) * scale), 255, 255, 255, 255);
  float half = COURSE_GATE_PIECES * COURSE_GATE_SPACING * 0.5f;
  for (float u = -half; u <= half; u += 1)
    put(&p, static_cast<int>((course.gate_x + u) * scale), static_cast<int>(course.gate_z * scale), 0, 0, 0, 255);
  return p;
}

Picture picture_overview(const Course& course, const Ground& ground, const std::vector<uint8_t>& shading,
                         const DataSet& set, int size) {
  Picture p = blank(size, size, 3);
  const int P = GROUND_SIZE;
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      int col = std::min(P - 1, x * (P - 1) / size), row = std::min(P - 1, y * (P - 1) / size);
      int tile = ground.tilemap[static_cast<size_t>(std::min(row / 2, GROUND_TILES - 1)) * GROUND_TILES + std::min(col / 2, GROUND_TILES - 1)];
      uint8_t c[3];
      picture_tile_colour(tile, c);
      const uint8_t* s = &shading[(static_cast<size_t>(row) * P + col) * 3];
      float grain = 0.9f + 0.2f * lattice(x, y, size, 3);
      put(&p, x, y, c[0] * s[0] / 128.0f * grain, c[1] * s[1] / 128.0f * grain, c[2] * s[2] / 128.0f * grain);
    }
  }
  float scale = size / GROUND_EXTENT;
  // Objects as seen from above: tree crowns with a shadow to the north-west, banners, bales.
  std::string text;
  if (const DataFile* f = dataset_find(set, "rabbithill/billboards")) text.assign(f->bytes.begin(), f->bytes.end());
  float x, h, z, height, aspect;
  char name[1024];
  int used = 0;
  for (const char* at = text.c_str(); sscanf(at, " [ %f %f %f ] %f %f %1023s %n", &x, &h, &z, &height, &aspect, name, &used) == 6; at += used) {
    float radius = height * aspect * 0.5f * scale;
    if (strstr(name, "tree")) {
      fill_ellipse(&p, (x - height * 0.45f) * scale, (z - height * 0.35f) * scale, radius, radius, 40, 55, 30);
      fill_ellipse(&p, x * scale, z * scale, radius, radius, 45, 95, 35);
      fill_ellipse(&p, (x + radius * 0.25f / scale) * scale, (z + radius * 0.25f / scale) * scale, radius * 0.6f, radius * 0.6f, 60, 120, 45);
    } else {
      fill_ellipse(&p, x * scale, z * scale, 2, 2, 230, 40, 30);
    }
  }
  text.clear();
  if (const DataFile* f = dataset_find(set, "rabbithill/statues")) text.assign(f->bytes.begin(), f->bytes.end());
  char model[1024], texture[1024], shape[1024];
  for (const char* at = text.c_str();
       sscanf(at, " [ %f %f %f ] %f %1023s %1023s %1023s %n", &x, &h, &z, &height, model, texture, shape, &used) == 7; at += used)
    fill_ellipse(&p, x * scale, z * scale, 1.5f, 1.5f, 225, 195, 110);
  const CourseSample& f = course_at(course.loop, course.finish_s, true);
  for (float u = -f.width * 0.5f; u <= f.width * 0.5f; u += 0.5f)
    fill_ellipse(&p, (f.x + f.dz * u) * scale, (f.z - f.dx * u) * scale, 1.2f, 1.2f, 255, 255, 255);
  for (int k = 0; k < COURSE_GATE_PIECES; k++) {
    float gx = course.gate_x + (k - (COURSE_GATE_PIECES - 1) * 0.5f) * COURSE_GATE_SPACING;
    fill_ellipse(&p, gx * scale, (course.gate_z - 3) * scale, 1.0f, 1.5f, k % 2 ? 250 : 20, k % 2 ? 250 : 20, k % 2 ? 250 : 20);
  }
  return p;
}

std::vector<uint8_t> picture_png(const Picture& picture) {
  std::vector<uint8_t> bytes;
  image_encode_png(picture.pixels.data(), picture.width, picture.height, picture.depth, bytes);
  return bytes;
}
