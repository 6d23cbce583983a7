// The default track's ground: natural terrain, the course built into it, tiles and shadows.
#include "tools/data/ground.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float FAR = 1e30f;
constexpr float BASE_SMOOTH = 40.0f;  // ft: the track follows the land averaged over this radius
constexpr float PAD_LENGTH = 70.0f;   // ft of flat start pad from the back of the start path

float smoothstep(float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

float bump(float x, float z, float cx, float cz, float sigma, float height) {
  float d2 = (x - cx) * (x - cx) + (z - cz) * (z - cz);
  return height * std::exp(-d2 / (2 * sigma * sigma));
}

// Deterministic hash of a grid cell to 0..1.
float hash01(int a, int b, int salt) {
  uint32_t h = static_cast<uint32_t>(a) * 73856093u ^ static_cast<uint32_t>(b) * 19349663u ^
               static_cast<uint32_t>(salt) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return (h & 0xffffff) / 16777216.0f;
}

// Smooth noise in 0..1 over tile coordinates, on a lattice of 10 tiles.
float patch_noise(int tc, int tr) {
  const int cell = 10;
  int i = tc / cell, j = tr / cell;
  float fx = (tc % cell) / static_cast<float>(cell), fz = (tr % cell) / static_cast<float>(cell);
  fx = fx * fx * (3 - 2 * fx);
  fz = fz * fz * (3 - 2 * fz);
  float a = hash01(i, j, 7), b = hash01(i + 1, j, 7), c = hash01(i, j + 1, 7), d = hash01(i + 1, j + 1, 7);
  return (a + (b - a) * fx) * (1 - fz) + (c + (d - c) * fx) * fz;
}

// Box filter, three passes, wrapping for the closed loop.
void smooth(std::vector<float>* values, int radius, bool closed) {
  int n = static_cast<int>(values->size());
  std::vector<float> out(n);
  for (int pass = 0; pass < 3; pass++) {
    // Running sum keeps this linear in n for wide windows.
    double sum = 0;
    auto at = [&](int j) { return (*values)[closed ? (j % n + n) % n : std::clamp(j, 0, n - 1)]; };
    for (int k = -radius; k <= radius; k++) sum += at(k);
    for (int i = 0; i < n; i++) {
      out[i] = static_cast<float>(sum / (2 * radius + 1));
      sum += at(i + radius + 1) - at(i - radius);
    }
    values->swap(out);
  }
}

// Height of the track surface's centre and its natural cross slope along one path.
struct PathProfile {
  std::vector<float> base;
  std::vector<float> cross;
};

PathProfile loop_profile(const Course& course) {
  PathProfile p;
  for (const CourseSample& q : course.loop) {
    p.base.push_back(ground_natural_height(q.x, q.z));
    // Left normal (dz, -dx); slope of the land across the track.
    float lx = q.dz, lz = -q.dx;
    float up = ground_natural_height(q.x + lx, q.z + lz);
    float down = ground_natural_height(q.x - lx, q.z - lz);
    p.cross.push_back((up - down) * 0.5f);
  }
  int radius = static_cast<int>(BASE_SMOOTH / COURSE_SAMPLE_STEP);
  smooth(&p.base, radius, true);
  smooth(&p.cross, radius, true);
  return p;
}

// The start path is flat at 0 ft over the pad and eases into the loop's height where it joins.
PathProfile start_profile(const Course& course, const PathProfile& loop) {
  PathProfile p;
  float join = loop.base[course.merge_index];
  float length = course.start.back().s;
  for (const CourseSample& q : course.start) {
    float t = smoothstep((q.s - PAD_LENGTH) / (length - PAD_LENGTH));
    p.base.push_back(t * join);
    p.cross.push_back(t * loop.cross[course.merge_index]);
  }
  return p;
}

// Width of the slope from a track edge down (or up) to the land, ft: steeper builds need more.
float shoulder_width(const CourseSample& q) {
  float rise = q.lift + std::fabs(q.bank) * q.width * 0.5f;
  return 8.0f + 2.5f * rise;
}

// Writes for every grid point near the path the nearest centre-line position.
void find_nearest(const std::vector<CourseSample>& path, bool closed, float length, std::vector<GroundNear>* near) {
  near->assign(static_cast<size_t>(GROUND_SIZE) * GROUND_SIZE, GroundNear{FAR, 0, 0});
  const int stride = 4;  // segments of 2 ft
  int n = static_cast<int>(path.size());
  int last = closed ? n : n - 1;
  for (int i = 0; i < last; i += stride) {
    int j = i + stride;
    if (j >= n) j = closed ? 0 : n - 1;
    const CourseSample& a = path[i];
    const CourseSample& b = path[j];
    float sa = a.s, sb = (closed && j == 0) ? length : b.s;
    float reach = std::max(a.width * 0.5f + shoulder_width(a), b.width * 0.5f + shoulder_width(b));
    float ex = b.x - a.x, ez = b.z - a.z;
    float len2 = ex * ex + ez * ez;
    if (len2 <= 0) continue;
    float len = std::sqrt(len2);
    float lx = ez / len, lz = -ex / len;  // left of the direction of travel
    int c0 = std::max(0, static_cast<int>(std::floor((std::min(a.x, b.x) - reach) / GROUND_SPACING)));
    int c1 = std::min(GROUND_SIZE - 1, static_cast<int>(std::ceil((std::max(a.x, b.x) + reach) / GROUND_SPACING)));
    int r0 = std::max(0, static_cast<int>(std::floor((std::min(a.z, b.z) - reach) / GROUND_SPACING)));
    int r1 = std::min(GROUND_SIZE - 1, static_cast<int>(std::ceil((std::max(a.z, b.z) + reach) / GROUND_SPACING)));
    for (int r = r0; r <= r1; r++) {
      for (int c = c0; c <= c1; c++) {
        float px = c * GROUND_SPACING - a.x, pz = r * GROUND_SPACING - a.z;
        float t = std::clamp((px * ex + pz * ez) / len2, 0.0f, 1.0f);
        float dx = px - t * ex, dz = pz - t * ez;
        float d2 = dx * dx + dz * dz;
        GroundNear& g = (*near)[static_cast<size_t>(r) * GROUND_SIZE + c];
        if (d2 < g.dist2 && d2 <= reach * reach) {
          g.dist2 = d2;
          g.s = sa + t * (sb - sa);
          g.lat = dx * lx + dz * lz;
        }
      }
    }
  }
}

// The course's pull on one grid point: weight 1 on the track, falling to 0 across the shoulder,
// and the surface height it pulls toward.
bool path_surface(const std::vector<CourseSample>& path, const PathProfile& profile, bool closed, const GroundNear& g,
                  float* weight, float* height) {
  if (g.dist2 >= FAR) return false;
  int n = static_cast<int>(path.size());
  int k = static_cast<int>(std::lround(g.s / COURSE_SAMPLE_STEP));
  k = closed ? (k % n + n) % n : std::clamp(k, 0, n - 1);
  const CourseSample& q = path[k];
  float hw = q.width * 0.5f;
  float u = std::fabs(g.lat);
  float centre = profile.base[k] + q.lift;
  if (u <= hw) {
    *weight = 1;
    *height = centre + (profile.cross[k] + q.bank) * g.lat;
    return true;
  }
  float t = (u - hw) / shoulder_width(q);
  if (t >= 1) return false;
  float edge = std::copysign(hw, g.lat);
  *weight = 1 - smoothstep(t);
  *height = centre + (profile.cross[k] + q.bank) * edge + profile.cross[k] * (g.lat - edge);
  return true;
}

}  // namespace

float ground_natural_height(float x, float z) {
  // Rabbit Hill in the north-east, whose flank the course climbs and rounds, a low knoll in the infield, and land rising to the field's
  // edges so the view ends in hills rather than a cliff.
  float h = bump(x, z, 1200, 470, 130, 30) + bump(x, z, 640, 850, 90, 5) + bump(x, z, 150, 250, 220, 10);
  h += 1.4f * std::sin(x * 0.0061f + 0.7f) * std::cos(z * 0.0047f + 1.3f) + 0.6f * std::sin((x + 2 * z) * 0.011f + 0.4f);
  float edge = std::min(std::min(x, z), std::min(GROUND_EXTENT - x, GROUND_EXTENT - z));
  h += 14 * (1 - smoothstep(edge / 160));
  // The start area is graded flat at 0 ft.
  float from_start = std::hypot(x - 330, z - 1180);
  return h * smoothstep((from_start - 150) / 250);
}

void ground_build(const Course& course, Ground* ground) {
  const int P = GROUND_SIZE;
  PathProfile loop = loop_profile(course);
  PathProfile start = start_profile(course, loop);
  find_nearest(course.loop, true, course.loop_length, &ground->loop_near);
  find_nearest(course.start, false, 0, &ground->start_near);

  ground->heights.assign(static_cast<size_t>(P) * P, 0);
  ground->codes.assign(static_cast<size_t>(P) * P, 0);
  const float range = GROUND_MAX_HEIGHT - GROUND_MIN_HEIGHT;
  for (int r = 0; r < P; r++) {
    for (int c = 0; c < P; c++) {
      size_t i = static_cast<size_t>(r) * P + c;
      float natural = ground_natural_height(c * GROUND_SPACING, r * GROUND_SPACING);
      float sum = 0, pull = 0, w, h;
      if (path_surface(course.loop, loop, true, ground->loop_near[i], &w, &h)) {
        sum += w;
        pull += w * (h - natural);
      }
      if (path_surface(course.start, start, false, ground->start_near[i], &w, &h)) {
        sum += w;
        pull += w * (h - natural);
      }
      float height = natural + pull / std::max(1.0f, sum);
      long code = std::lround((height - GROUND_MIN_HEIGHT) / range * 65535.0f);
      ground->codes[i] = static_cast<uint16_t>(std::clamp(code, 0L, 65535L));
      // Keep the height the game will read back, so shading and shadows match the file.
      ground->heights[i] = GROUND_MIN_HEIGHT + ground->codes[i] * (range * 1.5259022e-05f);
    }
  }

  // Tile map: one tile per 2 x 2 cells, judged at the block's centre sample.
  ground->tilemap.assign(static_cast<size_t>(GROUND_TILES) * GROUND_TILES, TILE_GRASS);
  for (int tr = 0; tr < GROUND_TILES; tr++) {
    for (int tc = 0; tc < GROUND_TILES; tc++) {
      int c = 2 * tc + 1, r = 2 * tr + 1;
      size_t i = static_cast<size_t>(r) * P + c;
      uint8_t tile;
      float edge = ground_edge_distance(course, *ground, c, r);
      const GroundNear& gs = ground->start_near[i];
      const GroundNear& gl = ground->loop_near[i];
      bool on_pad = gs.dist2 < FAR && gs.s < PAD_LENGTH + 10 && std::fabs(gs.lat) <= course_at(course.start, gs.s, false).width * 0.5f;
      bool berm = false;
      if (gl.dist2 < FAR) {
        const CourseSample& q = course_at(course.loop, gl.s, true);
        // The raised side of a banked bend, out to the lip.
        berm = q.bank * gl.lat > 0 && std::fabs(q.bank) > 0.15f && std::fabs(gl.lat) > q.width * 0.1f &&
               std::fabs(gl.lat) < q.width * 0.5f + 5;
      }
      float noise = hash01(tc, tr, 1);
      if (on_pad) {
        tile = TILE_HARDPACK;
      } else if (berm) {
        tile = TILE_BERM;
      } else if (edge < 0) {
        tile = noise < 0.3f ? TILE_DIRT_ALT : TILE_DIRT;
      } else if (edge < 2.5f + 2.0f * noise) {
        tile = TILE_DIRT;
      } else {
        // Patches of the second grass some 30 ft across, with ragged edges.
        tile = patch_noise(tc, tr) + noise * 0.25f > 0.68f ? TILE_GRASS_ALT : TILE_GRASS;
      }
      ground->tilemap[static_cast<size_t>(tr) * GROUND_TILES + tc] = tile;
    }
  }
}

float ground_edge_distance(const Course& course, const Ground& ground, int col, int row) {
  size_t i = static_cast<size_t>(row) * GROUND_SIZE + col;
  float best = FAR;
  const GroundNear& gl = ground.loop_near[i];
  if (gl.dist2 < FAR) best = std::fabs(gl.lat) - course_at(course.loop, gl.s, true).width * 0.5f;
  const GroundNear& gs = ground.start_near[i];
  if (gs.dist2 < FAR) best = std::min(best, std::fabs(gs.lat) - course_at(course.start, gs.s, false).width * 0.5f);
  return best;
}

float ground_height_at(const Ground& ground, float x, float z) {
  const int P = GROUND_SIZE;
  auto H = [&](int c, int r) {
    c = std::clamp(c, 0, P - 1);
    r = std::clamp(r, 0, P - 1);
    return ground.heights[static_cast<size_t>(r) * P + c];
  };
  float u = x / GROUND_SPACING, v = z / GROUND_SPACING;
  int i = static_cast<int>(std::floor(u)), j = static_cast<int>(std::floor(v));
  float fx = u - i, fz = v - j;
  if (((i + j) & 1) == 0) {
    if (fz <= fx) return H(i + 1, j) + (1 - fx) * (H(i, j) - H(i + 1, j)) + fz * (H(i + 1, j + 1) - H(i + 1, j));
    return H(i, j + 1) + fx * (H(i + 1, j + 1) - H(i, j + 1)) + (1 - fz) * (H(i, j) - H(i, j + 1));
  }
  if (fx + fz <= 1) return H(i, j) + fx * (H(i + 1, j) - H(i, j)) + fz * (H(i, j + 1) - H(i, j));
  return H(i + 1, j + 1) + (1 - fx) * (H(i, j + 1) - H(i + 1, j + 1)) + (1 - fz) * (H(i + 1, j) - H(i + 1, j + 1));
}

void ground_cast_shadows(Ground* ground, const float sun[3]) {
  const int P = GROUND_SIZE;
  float horizontal = std::hypot(sun[0], sun[2]);
  ground->shadow.assign(static_cast<size_t>(P) * P, 0);
  if (horizontal < 1e-4f || sun[1] <= 0) return;
  float top = *std::max_element(ground->heights.begin(), ground->heights.end());
  // March one sample spacing at a time toward the sun; the ray climbs by the sun's slope.
  float step_x = sun[0] / horizontal * GROUND_SPACING, step_z = sun[2] / horizontal * GROUND_SPACING;
  float climb = sun[1] / horizontal * GROUND_SPACING;
  const float soft = 0.75f;  // ft of cover over the ray for full shadow: a soft penumbra
  for (int r = 0; r < P; r++) {
    for (int c = 0; c < P; c++) {
      size_t i = static_cast<size_t>(r) * P + c;
      float x = c * GROUND_SPACING, z = r * GROUND_SPACING, y = ground->heights[i] + 0.05f;
      float cover = 0;
      for (int k = 1; k < 4 * P; k++) {
        x += step_x;
        z += step_z;
        y += climb;
        if (y > top || x < 0 || z < 0 || x > GROUND_EXTENT || z > GROUND_EXTENT) break;
        cover = std::max(cover, ground_height_at(*ground, x, z) - y);
        if (cover >= soft) break;
      }
      ground->shadow[i] = static_cast<uint8_t>(std::lround(255 * std::clamp(cover / soft, 0.0f, 1.0f)));
    }
  }
}
