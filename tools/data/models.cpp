// Models the generator builds, all from the bike table's geometry: a parametric motocross bike per
// model base (colours and small shape details by make, exhaust by engine type), the shared
// wheels, the rider's helmet, the 9-bone skinned rider body, the first-person body, the plates
// and the start gate piece, with the colour atlases their texture coordinates point into.
#include "tools/data/models.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "physics/bike_info.h"
#include "tools/data/course.h"
#include "tools/data/pictures.h"

namespace {

constexpr float PI = 3.14159265f;
constexpr int BONES = 9;  // the skinned rider's bones, in the bone-centre order of the bike table
enum Bone { FOREARM_L, FOREARM_R, UPPER_ARM_L, UPPER_ARM_R, SHIN_L, SHIN_R, THIGH_L, THIGH_R, BODY };

// ---- Small vector helpers.

struct V3 {
  float x = 0, y = 0, z = 0;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float length(V3 a) { return std::sqrt(dot(a, a)); }
V3 unit(V3 a) {
  float l = length(a);
  return l > 0 ? a * (1 / l) : V3{1, 0, 0};
}
V3 v3(const float* p) { return {p[0], p[1], p[2]}; }
V3 lerp(V3 a, V3 b, float t) { return a + (b - a) * t; }
// Two unit vectors across direction d, turned so the first lies closest to ref.
void across(V3 d, V3 ref, V3* e1, V3* e2) {
  d = unit(d);
  if (std::fabs(dot(unit(ref), d)) > 0.95f) ref = std::fabs(d.x) < 0.9f ? V3{1, 0, 0} : V3{0, 0, 1};
  *e1 = unit(ref - d * dot(ref, d));
  *e2 = cross(d, *e1);
}

// ---- Meshes.

// A rectangle of a texture in file coordinates (v up).
struct UvRect {
  float u0, v0, u1, v1;
};

struct Weights {
  float w[BONES] = {};
};
Weights only(int bone) {
  Weights w;
  w.w[bone] = 1;
  return w;
}
Weights blend(int a, int b, float t) {  // (1 - t) of a, t of b
  Weights w;
  w.w[a] += 1 - t;
  w.w[b] += t;
  return w;
}

struct Vertex {
  V3 p, n;
  float u, v;
  Weights w;
};

struct Material {
  float shininess, alpha, r, g, b;
};

struct Mesh {
  Material material;
  std::vector<Vertex> vertices;
  std::vector<int> triangles;

  int add(V3 p, V3 n, float u, float v, const Weights& w = {}) {
    vertices.push_back({p, unit(n), u, v, w});
    return int(vertices.size()) - 1;
  }
  // Wound counter-clockwise as seen from the side the vertex normals face; a sliver too thin
  // to survive the file's six decimals is left out.
  void tri(int a, int b, int c) {
    const V3 pa = vertices[a].p, pb = vertices[b].p, pc = vertices[c].p;
    const V3 n = cross(pb - pa, pc - pa);
    if (dot(n, n) < 1e-10f) return;
    if (dot(n, vertices[a].n + vertices[b].n + vertices[c].n) < 0) std::swap(b, c);
    triangles.insert(triangles.end(), {a, b, c});
  }
  void quad(int a, int b, int c, int d) {
    tri(a, b, c);
    tri(a, c, d);
  }
};

// A ring of a swept tube: centre, the two half widths across, and the skin weights.
struct Ring {
  V3 c;
  float ra, rb;
  Weights w = {};
};

// A tube through rings (each ring across the local direction of the path), closed at either
// end by a fan when asked. u runs around, v along the path.
void tube(Mesh& m, const std::vector<Ring>& rings, int sides, UvRect uv, bool cap0, bool cap1, V3 ref = {0, 1, 0}) {
  const int n = int(rings.size());
  std::vector<int> first(n);
  std::vector<V3> along(n);
  for (int i = 0; i < n; i++) {
    along[i] = unit(rings[std::min(i + 1, n - 1)].c - rings[std::max(i - 1, 0)].c);
    V3 e1, e2;
    across(along[i], ref, &e1, &e2);
    first[i] = int(m.vertices.size());
    const float v = uv.v0 + (uv.v1 - uv.v0) * float(i) / float(n - 1);
    for (int k = 0; k <= sides; k++) {
      const float a = 2 * PI * float(k % sides) / float(sides);
      const float ca = std::cos(a), sa = std::sin(a);
      const V3 p = rings[i].c + e1 * (ca * rings[i].ra) + e2 * (sa * rings[i].rb);
      const V3 normal = e1 * (ca / std::max(rings[i].ra, 1e-3f)) + e2 * (sa / std::max(rings[i].rb, 1e-3f));
      m.add(p, normal, uv.u0 + (uv.u1 - uv.u0) * float(k) / float(sides), v, rings[i].w);
    }
  }
  for (int i = 0; i + 1 < n; i++) {
    for (int k = 0; k < sides; k++) {
      m.quad(first[i] + k, first[i] + k + 1, first[i + 1] + k + 1, first[i + 1] + k);
    }
  }
  for (int end = 0; end < 2; end++) {
    if (!(end ? cap1 : cap0)) continue;
    const int i = end ? n - 1 : 0;
    const V3 normal = end ? along[i] : along[i] * -1;
    const int centre = m.add(rings[i].c, normal, (uv.u0 + uv.u1) / 2, (uv.v0 + uv.v1) / 2, rings[i].w);
    V3 e1, e2;
    across(along[i], ref, &e1, &e2);
    std::vector<int> rim;
    for (int k = 0; k < sides; k++) {
      const float a = 2 * PI * float(k) / float(sides);
      const V3 p = rings[i].c + e1 * (std::cos(a) * rings[i].ra) + e2 * (std::sin(a) * rings[i].rb);
      rim.push_back(m.add(p, normal, uv.u0 + (uv.u1 - uv.u0) * (0.5f + 0.5f * std::cos(a)),
                          uv.v0 + (uv.v1 - uv.v0) * (0.5f + 0.5f * std::sin(a)), rings[i].w));
    }
    for (int k = 0; k < sides; k++) m.tri(centre, rim[k], rim[(k + 1) % sides]);
  }
}

// A straight tube of one radius from a to b.
void rod(Mesh& m, V3 a, V3 b, float r, int sides, UvRect uv, bool caps = true, const Weights& w = {}) {
  tube(m, {{a, r, r, w}, {b, r, r, w}}, sides, uv, caps, caps);
}

// An ellipsoid with half axes r along the columns of (x, y, z).
void ellipsoid(Mesh& m, V3 c, V3 r, int rings, int sides, UvRect uv, const Weights& w = {}, V3 x = {1, 0, 0},
               V3 y = {0, 1, 0}, V3 z = {0, 0, 1}) {
  auto point = [&](float lat, float lon, V3* normal) {
    const float cl = std::cos(lat), sl = std::sin(lat);
    const float ex = cl * std::cos(lon), ey = sl, ez = cl * std::sin(lon);
    *normal = x * (ex / r.x) + y * (ey / r.y) + z * (ez / r.z);
    return c + x * (ex * r.x) + y * (ey * r.y) + z * (ez * r.z);
  };
  V3 normal;
  const int bottom = m.add(point(-PI / 2, 0, &normal), y * -1, (uv.u0 + uv.u1) / 2, uv.v0, w);
  const int top = m.add(point(PI / 2, 0, &normal), y, (uv.u0 + uv.u1) / 2, uv.v1, w);
  std::vector<int> first;
  for (int i = 1; i < rings; i++) {
    const float lat = -PI / 2 + PI * float(i) / float(rings);
    first.push_back(int(m.vertices.size()));
    for (int k = 0; k <= sides; k++) {
      const float lon = 2 * PI * float(k) / float(sides);
      const V3 p = point(lat, lon, &normal);
      m.add(p, normal, uv.u0 + (uv.u1 - uv.u0) * float(k) / float(sides),
            uv.v0 + (uv.v1 - uv.v0) * float(i) / float(rings), w);
    }
  }
  for (int k = 0; k < sides; k++) {
    m.tri(bottom, first.front() + k, first.front() + k + 1);
    m.tri(top, first.back() + k, first.back() + k + 1);
  }
  for (size_t i = 0; i + 1 < first.size(); i++) {
    for (int k = 0; k < sides; k++) m.quad(first[i] + k, first[i] + k + 1, first[i + 1] + k + 1, first[i + 1] + k);
  }
}

// A box with half extents h along the unit columns (x, y, z), each face mapped to the whole rect.
void box(Mesh& m, V3 c, V3 h, UvRect uv, const Weights& w = {}, V3 x = {1, 0, 0}, V3 y = {0, 1, 0},
         V3 z = {0, 0, 1}) {
  const V3 axes[3] = {x * h.x, y * h.y, z * h.z};
  for (int f = 0; f < 6; f++) {
    const int a = f / 2;
    const float sign = f % 2 ? -1.0f : 1.0f;
    const V3 n = axes[a] * sign, s = axes[(a + 1) % 3], t = axes[(a + 2) % 3];
    int k[4];
    for (int corner = 0; corner < 4; corner++) {
      const float cs = corner == 1 || corner == 2 ? 1.0f : -1.0f, ct = corner >= 2 ? 1.0f : -1.0f;
      k[corner] = m.add(c + n + s * cs + t * ct, n, cs > 0 ? uv.u1 : uv.u0, ct > 0 ? uv.v1 : uv.v0, w);
    }
    m.quad(k[0], k[1], k[2], k[3]);
  }
}

// A box from a to b with half widths across: wa towards ref, wb the other way.
void beam(Mesh& m, V3 a, V3 b, float wa, float wb, UvRect uv, V3 ref = {0, 1, 0}) {
  V3 e1, e2;
  const V3 d = b - a;
  across(d, ref, &e1, &e2);
  box(m, (a + b) * 0.5f, {length(d) / 2, wa, wb}, uv, {}, unit(d), e1, e2);
}

// A torus about the x axis: ring radius R, half thickness radial across the ring and axial
// along x.
void torus(Mesh& m, V3 c, float R, float radial, float axial, int segments, int sides, UvRect uv) {
  const int n = segments + 1;
  std::vector<int> first(n);
  for (int i = 0; i < n; i++) {
    const float a = 2 * PI * float(i % segments) / float(segments);
    const V3 out = {0, std::cos(a), std::sin(a)};
    first[i] = int(m.vertices.size());
    for (int k = 0; k <= sides; k++) {
      const float b = 2 * PI * float(k % sides) / float(sides);
      const V3 p = c + out * (R + std::cos(b) * radial) + V3{std::sin(b) * axial, 0, 0};
      const V3 normal = out * (std::cos(b) / radial) + V3{std::sin(b) / axial, 0, 0};
      m.add(p, normal, uv.u0 + (uv.u1 - uv.u0) * float(k) / float(sides),
            uv.v0 + (uv.v1 - uv.v0) * float(i) / float(segments));
    }
  }
  for (int i = 0; i < segments; i++) {
    for (int k = 0; k < sides; k++) m.quad(first[i] + k, first[i] + k + 1, first[i + 1] + k + 1, first[i + 1] + k);
  }
}

// A flat rectangle centred at c spanning ±half_u along u and ±half_v along v, facing u × v,
// with the whole texture on it (file u along u, v along v).
void plate(Mesh& m, V3 c, V3 u, V3 v, float half_u, float half_v, const Weights& w = {}) {
  const V3 n = cross(u, v);
  const int a = m.add(c - u * half_u - v * half_v, n, 0, 0, w);
  const int b = m.add(c + u * half_u - v * half_v, n, 1, 0, w);
  const int d = m.add(c + u * half_u + v * half_v, n, 1, 1, w);
  const int e = m.add(c - u * half_u + v * half_v, n, 0, 1, w);
  m.quad(a, b, d, e);
}

// ---- Files.

// The ".vm" text of parts, moved by -origin; skinned parts carry BONES weights per vertex.
std::string vm_text(const std::vector<Mesh>& parts, V3 origin, bool skinned) {
  std::string t;
  text_printf(&t, skinned ? "VM2 %d rider\n" : "VM1\n", BONES);
  for (const Mesh& m : parts) {
    if (m.triangles.empty()) continue;
    const Material& k = m.material;
    text_printf(&t, "%f %f %f %f %f %d %d\n", k.shininess, k.alpha, k.r, k.g, k.b, int(m.vertices.size()),
                int(m.triangles.size() / 3));
    for (const Vertex& v : m.vertices) {
      const V3 p = v.p - origin;
      text_printf(&t, "%f %f %f %f %f %f %f %f", p.x, p.y, p.z, v.n.x, v.n.y, v.n.z, v.u, v.v);
      if (skinned) {
        for (float w : v.w.w) text_printf(&t, " %g", w);
      }
      t += '\n';
    }
    for (size_t i = 0; i < m.triangles.size(); i += 3) {
      text_printf(&t, "%d %d %d\n", m.triangles[i], m.triangles[i + 1], m.triangles[i + 2]);
    }
  }
  return t;
}

// gzip bytes with no time stamp, so the data set stays the same from run to run.
std::vector<uint8_t> gzip(const std::string& text) {
  z_stream z = {};
  deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, uLong(text.size())) + 64);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = uInt(text.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Models are stored compressed: the file system reads "name.gz" for "name".
void add_model(DataSet* set, const std::string& name, const std::vector<Mesh>& parts, V3 origin,
               bool skinned = false) {
  dataset_add(set, name + ".gz", gzip(vm_text(parts, origin, skinned)));
}

// ---- Colour atlases: 4 x 4 swatches of 32 px on a 128 px texture.

enum Pattern { PLAIN, STRIPES, KNOBS, GRILLE, BRUSHED };
struct Swatch {
  float rgb[3];
  Pattern pattern = PLAIN;
  float second[3] = {255, 255, 255};
};

void fill_swatch(Swatch& swatch, const float* rgb, Pattern pattern = PLAIN) {
  std::copy(rgb, rgb + 3, swatch.rgb);
  swatch.pattern = pattern;
}

constexpr int ATLAS = 128, CELL = 32;

// The texture rectangle of swatch k, kept clear of the swatch's edges so mipmaps stay inside.
UvRect cell(int k) {
  const float x0 = float((k % 4) * CELL + 6), x1 = float((k % 4) * CELL + CELL - 6);
  const float y0 = float((k / 4) * CELL + 6), y1 = float((k / 4) * CELL + CELL - 6);
  return {x0 / ATLAS, 1 - y1 / ATLAS, x1 / ATLAS, 1 - y0 / ATLAS};
}

Picture atlas(const std::vector<Swatch>& swatches, int salt) {
  Picture p;
  p.width = p.height = ATLAS;
  p.depth = 3;
  p.pixels.assign(size_t(ATLAS) * ATLAS * 3, 128);
  for (size_t k = 0; k < swatches.size(); k++) {
    const Swatch& s = swatches[k];
    for (int y = 0; y < CELL; y++) {
      for (int x = 0; x < CELL; x++) {
        const int px = int(k % 4) * CELL + x, py = int(k / 4) * CELL + y;
        float shade = 0.94f + 0.12f * picture_noise(px / 4.0f, py / 4.0f, ATLAS / 4, salt + int(k));
        const float* c = s.rgb;
        switch (s.pattern) {
          case PLAIN: break;
          case STRIPES: c = (x + y / 2) % 16 < 5 ? s.second : s.rgb; break;
          case KNOBS: shade *= (x % 8 < 5 && y % 8 < 5) ? 1.25f : 0.75f; break;
          case GRILLE: shade *= y % 4 < 2 ? 0.7f : 1.1f; break;
          case BRUSHED: shade = 0.9f + 0.2f * picture_noise(px / 8.0f, float(py) * 2, ATLAS / 8, salt + 7); break;
        }
        for (int ch = 0; ch < 3; ch++) {
          p.pixels[(size_t(py) * ATLAS + px) * 3 + ch] = uint8_t(std::clamp(c[ch] * shade, 0.0f, 255.0f));
        }
      }
    }
  }
  return p;
}

// ---- The bike.

enum BikeCell { PLASTIC, ACCENT, FRAME, SEAT, BLACK, ALLOY, EXHAUST, FORK_OUTER, CHROME, GRAPHIC, BOARD, RADIATOR };

// What tells one make from another: colours and a few proportions.
struct BikeLook {
  float plastic[3], accent[3], frame[3], fork[3], board[3];
  float tank_height;     // ft above the tank's base line
  float shroud_reach;    // ft the radiator shrouds reach forward of the tank
  float fender_rise;     // ft the rear fender rises over its length
  bool two_stroke;
};

BikeLook look_of(const std::string& base, const char* engine_class) {
  struct Make {
    const char* prefix;
    BikeLook look;
  };
  // Matched by the start of the model base; the last entry takes the rest.
  static const Make MAKES[] = {
      {"cr", {{205, 25, 30}, {245, 245, 245}, {200, 30, 30}, {215, 215, 220}, {245, 245, 245}, 0.30f, 0.35f, 0.22f, false}},
      {"kx", {{90, 190, 40}, {20, 20, 20}, {30, 30, 30}, {205, 170, 60}, {245, 245, 245}, 0.26f, 0.42f, 0.18f, false}},
      {"rm", {{245, 210, 20}, {30, 50, 150}, {175, 175, 180}, {205, 170, 60}, {245, 210, 20}, 0.28f, 0.38f, 0.25f, false}},
      {"yz", {{25, 70, 200}, {245, 245, 245}, {40, 60, 140}, {205, 170, 60}, {245, 245, 245}, 0.32f, 0.33f, 0.20f, false}},
      {"fc", {{240, 240, 240}, {20, 50, 120}, {30, 60, 150}, {40, 40, 40}, {245, 245, 245}, 0.27f, 0.40f, 0.24f, false}},
      {"", {{250, 110, 10}, {25, 25, 25}, {250, 110, 10}, {40, 40, 40}, {245, 245, 245}, 0.29f, 0.40f, 0.23f, false}},
  };
  const Make* make = &MAKES[std::size(MAKES) - 1];
  for (const Make& m : MAKES) {
    if (*m.prefix && base.rfind(m.prefix, 0) == 0) {
      make = &m;
      break;
    }
  }
  BikeLook look = make->look;
  look.two_stroke = std::strcmp(engine_class, "250") == 0 || std::strcmp(engine_class, "125") == 0 ||
                    std::strcmp(engine_class, "50") == 0;
  return look;
}

Picture bike_texture(const BikeLook& look, int salt) {
  std::vector<Swatch> s(12);
  const float seat[3] = {35, 35, 38}, black[3] = {28, 28, 30}, alloy[3] = {175, 175, 170}, exhaust[3] = {150, 150, 155},
              chrome[3] = {220, 222, 228}, radiator[3] = {60, 60, 62};
  fill_swatch(s[PLASTIC], look.plastic);
  fill_swatch(s[ACCENT], look.accent);
  fill_swatch(s[FRAME], look.frame);
  fill_swatch(s[SEAT], seat, BRUSHED);
  fill_swatch(s[BLACK], black);
  fill_swatch(s[ALLOY], alloy, BRUSHED);
  fill_swatch(s[EXHAUST], exhaust, BRUSHED);
  fill_swatch(s[FORK_OUTER], look.fork);
  fill_swatch(s[CHROME], chrome);
  fill_swatch(s[GRAPHIC], look.plastic, STRIPES);
  std::copy(look.accent, look.accent + 3, s[GRAPHIC].second);
  fill_swatch(s[BOARD], look.board);
  fill_swatch(s[RADIATOR], radiator, GRILLE);
  return atlas(s, salt);
}

constexpr Material PAINT = {24, 1, 0.35f, 0.35f, 0.35f};
constexpr Material DULL = {6, 1, 0.08f, 0.08f, 0.08f};
constexpr Material METAL = {48, 1, 0.7f, 0.7f, 0.7f};
// The additive reflection pass over the bright metal parts.
constexpr Material CHROME_SHINE = {-1, 0.35f, 1, 1, 1};

struct BikeParts {
  std::vector<Mesh> frame, steering, fork_lower, swingarm, side_plates, front_plate;
};

Mesh mesh(Material m) {
  Mesh out;
  out.material = m;
  return out;
}

BikeParts build_bike(const BikeInfo& info, const BikeLook& look) {
  BikeParts out;
  const V3 top = v3(info.steering_pos), bottom = v3(info.fork_lower_pos);
  const V3 axis = unit(top - bottom);                       // up the steering axis
  const V3 ahead = unit(cross(axis, V3{1, 0, 0})) * -1.0f;  // across the axis, forward
  auto on_axis = [&](float t, float forward = 0) { return bottom + axis * t + ahead * forward; };
  const V3 front = v3(info.front_wheel.pos), rear = v3(info.rear_wheel.pos), pivot = v3(info.swingarm_pivot);
  const float leg_x = info.fork_width / 2;
  const float front_outer = info.front_wheel.ring_radius + info.front_wheel.tread_radius;
  const float axle_t = dot(front - bottom, axis);  // the axle's place along the axis (below 0)

  // Frame body: chassis, engine, tank, seat, plastics, exhaust and pegs.
  Mesh paint = mesh(PAINT), dull = mesh(DULL), metal = mesh(METAL), shine = mesh(CHROME_SHINE);
  const UvRect frame_uv = cell(FRAME);
  const V3 head_low = on_axis(0.35f), head_high = on_axis(1.2f);
  rod(paint, head_low, head_high, 0.11f, 12, frame_uv);
  for (float side : {-1.0f, 1.0f}) {
    const V3 spar_end = {side * 0.32f, pivot.y + 0.25f, pivot.z - 0.05f};
    tube(paint,
         {{head_high - axis * 0.1f, 0.07f, 0.11f},
          {{side * 0.3f, head_high.y - 0.25f, head_high.z + 0.7f}, 0.07f, 0.11f},
          {spar_end, 0.07f, 0.1f},
          {{side * 0.32f, pivot.y - 0.45f, pivot.z + 0.05f}, 0.06f, 0.08f}},
         8, frame_uv, true, true, {1, 0, 0});
    // Cradle under the engine and the subframe under the seat.
    tube(paint,
         {{head_low, 0.06f, 0.06f},
          {{side * 0.12f, 0.95f, head_low.z + 0.35f}, 0.055f, 0.055f},
          {{side * 0.22f, 0.72f, head_low.z + 1.2f}, 0.055f, 0.055f},
          {{side * 0.3f, pivot.y - 0.45f, pivot.z + 0.05f}, 0.055f, 0.055f}},
         8, frame_uv, true, true);
    rod(paint, spar_end, {side * 0.25f, 2.75f, rear.z - 0.6f}, 0.045f, 6, frame_uv);
    // Foot peg, sticking out at the rider's foot point.
    const V3 peg = v3(info.frame_pos) + v3(info.rider_pose.foot_peg[side < 0 ? 0 : 1]);
    beam(dull, {side * 0.3f, peg.y, peg.z}, {side * 0.78f, peg.y, peg.z}, 0.05f, 0.09f, cell(BLACK));
  }
  // Engine: crankcase, cylinder leaning forward, head.
  const V3 crank = {0, 1.22f, (head_low.z + pivot.z) / 2 + 0.05f};
  box(metal, crank, {0.3f, 0.33f, 0.52f}, cell(ALLOY));
  ellipsoid(metal, crank + V3{-0.3f, -0.02f, -0.05f}, {0.08f, 0.28f, 0.3f}, 6, 12, cell(ALLOY));  // covers
  ellipsoid(metal, crank + V3{0.3f, -0.02f, -0.05f}, {0.08f, 0.28f, 0.3f}, 6, 12, cell(ALLOY));
  const V3 cyl0 = crank + V3{0, 0.3f, -0.15f}, cyl1 = cyl0 + unit({0, 1, -0.35f}) * 0.62f;
  tube(metal, {{cyl0, 0.24f, 0.26f}, {cyl1, 0.24f, 0.26f}, {cyl1 + V3{0, 0.08f, -0.03f}, 0.2f, 0.22f}}, 12,
       cell(ALLOY), false, true);
  // Radiators behind the shrouds, airbox under the seat.
  for (float side : {-1.0f, 1.0f}) {
    box(dull, {side * 0.38f, 2.1f, head_low.z + 0.65f}, {0.05f, 0.33f, 0.2f}, cell(RADIATOR), {}, {1, 0, 0},
        unit({0, 1, 0.25f}), unit({0, -0.25f, 1}));
  }
  box(dull, {0, 2.35f, pivot.z + 0.35f}, {0.26f, 0.36f, 0.42f}, cell(BLACK));
  // Tank and the shrouds beside it.
  const float tank_front = head_high.z + 0.25f, tank_back = tank_front + 1.2f;
  const float tank_base = 2.45f;
  ellipsoid(paint, {0, tank_base + look.tank_height * 0.5f, (tank_front + tank_back) / 2},
            {0.36f, 0.25f + look.tank_height * 0.5f, 0.62f}, 8, 14, cell(PLASTIC));
  for (float side : {-1.0f, 1.0f}) {
    const V3 c = {side * 0.44f, 2.35f, tank_front + 0.45f};
    box(paint, c, {0.035f, 0.4f, 0.4f + look.shroud_reach * 0.3f}, cell(GRAPHIC), {}, unit({1, 0, side * 0.15f}),
        unit({0, 1, 0.3f}), unit(cross({1, 0, side * 0.15f}, {0, 1, 0.3f})));
  }
  // Seat from the tank back over the rear; side panels under it; the rear fender.
  const float seat_front = tank_front + 0.55f, seat_back = rear.z - 0.2f;
  tube(dull,
       {{{0, 2.78f, seat_front}, 0.16f, 0.12f},
        {{0, 2.96f, seat_front + 0.5f}, 0.27f, 0.1f},
        {{0, 3.02f, (seat_front + seat_back) / 2}, 0.26f, 0.1f},
        {{0, 3.06f, seat_back}, 0.2f, 0.08f}},
       12, cell(SEAT), true, true, {1, 0, 0});
  const float panel_z0 = pivot.z + 0.05f, panel_z1 = rear.z - 0.7f;
  for (float side : {-1.0f, 1.0f}) {
    box(paint, {side * 0.31f, 2.55f, (panel_z0 + panel_z1) / 2}, {0.03f, 0.34f, (panel_z1 - panel_z0) / 2},
        cell(BOARD));
  }
  tube(paint,
       {{{0, 2.9f, seat_back - 0.6f}, 0.3f, 0.04f},
        {{0, 2.98f + look.fender_rise * 0.5f, rear.z + 0.1f}, 0.3f, 0.04f},
        {{0, 3.0f + look.fender_rise, rear.z + 1.0f}, 0.2f, 0.035f}},
       10, cell(ACCENT), true, true, {1, 0, 0});
  // Exhaust on the right: a header pipe and silencer, or a two-stroke's swelling chamber.
  const V3 port = cyl0 + V3{0, 0.2f, -0.28f};
  std::vector<Ring> pipe;
  if (look.two_stroke) {
    pipe = {{port, 0.09f, 0.09f},
            {{0.1f, port.y - 0.35f, port.z - 0.25f}, 0.12f, 0.12f},
            {{0.28f, 1.0f, crank.z - 0.55f}, 0.2f, 0.2f},
            {{0.36f, 1.05f, crank.z + 0.1f}, 0.22f, 0.22f},
            {{0.4f, 1.45f, pivot.z}, 0.12f, 0.12f},
            {{0.42f, 1.9f, pivot.z + 0.6f}, 0.07f, 0.07f}};
  } else {
    pipe = {{port, 0.08f, 0.08f},
            {{0.15f, port.y - 0.3f, port.z - 0.2f}, 0.08f, 0.08f},
            {{0.33f, 1.2f, crank.z - 0.45f}, 0.08f, 0.08f},
            {{0.4f, 1.35f, crank.z + 0.3f}, 0.085f, 0.085f},
            {{0.42f, 1.85f, pivot.z + 0.55f}, 0.09f, 0.09f}};
  }
  tube(metal, pipe, 10, cell(EXHAUST), true, false);
  const V3 can0 = pipe.back().c, can1 = {0.48f, 2.7f, rear.z + 0.35f};
  tube(metal, {{can0, 0.13f, 0.13f}, {lerp(can0, can1, 0.15f), 0.17f, 0.17f}, {can1, 0.16f, 0.16f}}, 12, cell(ALLOY),
       true, true);
  rod(shine, can1 - unit(can1 - can0) * 0.02f, can1 + unit(can1 - can0) * 0.05f, 0.07f, 10, cell(CHROME));
  out.frame = {paint, dull, metal, shine};

  // Side plates: number overlays just off the side panels, reading forward on each side.
  Mesh side_plates = mesh(DULL);
  for (float side : {-1.0f, 1.0f}) {
    plate(side_plates, {side * 0.345f, 2.6f, (panel_z0 + panel_z1) / 2}, {0, 0, -side}, {0, 1, 0}, 0.3f, 0.27f);
  }
  out.side_plates = {side_plates};

  // Steering body: clamps, upper fork tubes, bar with grips, number board.
  Mesh s_paint = mesh(PAINT), s_dull = mesh(DULL), s_metal = mesh(METAL);
  const float clamp_top = dot(top - bottom, axis) + 0.3f;
  for (float t : {clamp_top, clamp_top - 0.75f}) {
    box(s_metal, on_axis(t), {leg_x + 0.12f, 0.06f, 0.14f}, cell(ALLOY), {}, {1, 0, 0}, axis, ahead * -1.0f);
  }
  for (float side : {-1.0f, 1.0f}) {
    rod(s_metal, on_axis(0.15f) + V3{side * leg_x, 0, 0}, on_axis(clamp_top + 0.08f) + V3{side * leg_x, 0, 0}, 0.1f, 12,
        cell(FORK_OUTER));
  }
  const V3 hand_l = v3(info.steering_pos) + v3(info.rider_pose.hand[0]);
  const V3 bar_mid = {0, hand_l.y - 0.35f, hand_l.z - 0.2f};
  const V3 clamp_point = on_axis(clamp_top + 0.06f);
  rod(s_metal, clamp_point, bar_mid - V3{0, 0.04f, 0}, 0.07f, 8, cell(ALLOY));  // bar mount
  std::vector<Ring> bar;
  for (float side : {-1.0f, 1.0f}) {
    const V3 grip_in = {side * (std::fabs(hand_l.x) - 0.3f), hand_l.y - 0.02f, hand_l.z - 0.02f};
    bar = {{bar_mid, 0.045f, 0.045f},
           {{side * 0.45f, bar_mid.y + 0.02f, bar_mid.z}, 0.045f, 0.045f},
           {grip_in, 0.04f, 0.04f}};
    tube(s_metal, bar, 8, cell(ALLOY), false, false);
    rod(s_dull, grip_in, {side * (std::fabs(hand_l.x) + 0.15f), hand_l.y, hand_l.z}, 0.065f, 8, cell(BLACK));
  }
  // Number board ahead of the clamps, along the steering axis, and its overlay.
  const V3 board_c = on_axis(clamp_top - 0.45f, 0.3f);
  box(s_paint, board_c, {0.42f, 0.4f, 0.03f}, cell(BOARD), {}, {1, 0, 0}, axis, ahead * -1.0f);
  out.steering = {s_paint, s_dull, s_metal};
  Mesh front_plate = mesh(DULL);
  plate(front_plate, board_c + ahead * 0.035f, {-1, 0, 0}, axis, 0.33f, 0.3f);
  out.front_plate = {front_plate};

  // Lower fork: stanchions with the axle lugs, the axle, the front fender and brake calliper.
  Mesh l_paint = mesh(PAINT), l_metal = mesh(METAL), l_shine = mesh(CHROME_SHINE), l_dull = mesh(DULL);
  for (float side : {-1.0f, 1.0f}) {
    const V3 lug = on_axis(axle_t) + V3{side * leg_x, 0, 0};
    const V3 stanchion_top = on_axis(0.25f) + V3{side * leg_x, 0, 0};
    rod(l_metal, lug + axis * 0.12f, stanchion_top, 0.075f, 12, cell(CHROME));
    rod(l_shine, lug + axis * 0.12f, stanchion_top, 0.076f, 12, cell(CHROME));
    box(l_dull, lug + axis * 0.05f, {0.06f, 0.2f, 0.09f}, cell(BLACK), {}, {1, 0, 0}, axis, ahead * -1.0f);
  }
  rod(l_metal, front - V3{leg_x + 0.08f, 0, 0}, front + V3{leg_x + 0.08f, 0, 0}, 0.04f, 8, cell(ALLOY));
  box(l_dull, front + V3{-leg_x + 0.1f, 0.32f, 0.1f}, {0.06f, 0.14f, 0.1f}, cell(BLACK));  // calliper
  std::vector<Ring> fender;
  for (int i = 0; i <= 8; i++) {
    const float a = -0.25f + 1.25f * float(i) / 8;  // from over the axle to well ahead
    fender.push_back({front + V3{0, std::cos(a), -std::sin(a)} * (front_outer + 0.12f), 0.3f - 0.08f * std::fabs(a - 0.3f),
                      0.03f});
  }
  tube(l_paint, fender, 10, cell(ACCENT), true, true, {1, 0, 0});
  out.fork_lower = {l_paint, l_metal, l_shine, l_dull};

  // Swing arm: two tapered legs from the pivot to the axle, the bridge, chain and guide.
  Mesh a_metal = mesh(METAL), a_dull = mesh(DULL);
  for (float side : {-1.0f, 1.0f}) {
    beam(a_metal, pivot + V3{side * 0.28f, 0, 0}, rear + V3{side * 0.33f, 0.02f, 0.1f}, 0.1f, 0.045f, cell(ALLOY),
         {0, 1, 0});
  }
  beam(a_metal, pivot + V3{-0.28f, -0.05f, 0.55f}, pivot + V3{0.28f, -0.05f, 0.55f}, 0.08f, 0.1f, cell(ALLOY));
  rod(a_metal, pivot - V3{0.36f, 0, 0}, pivot + V3{0.36f, 0, 0}, 0.06f, 10, cell(ALLOY));
  const V3 sprocket = {-0.38f, crank.y + 0.05f, crank.z + 0.45f};
  beam(a_dull, sprocket + V3{0, 0.18f, 0}, rear + V3{-0.38f, 0.3f, 0}, 0.02f, 0.03f, cell(BLACK), {0, 0, 1});
  beam(a_dull, sprocket - V3{0, 0.18f, 0}, rear + V3{-0.38f, -0.3f, 0}, 0.02f, 0.03f, cell(BLACK), {0, 0, 1});
  box(a_dull, lerp(pivot, rear, 0.45f) + V3{-0.36f, -0.22f, 0}, {0.025f, 0.1f, 0.3f}, cell(BLACK));  // guide
  out.swingarm = {a_metal, a_dull};
  return out;
}

// ---- Wheels: tyre, rim, spokes, hub, brake disc; the rear also carries the sprocket.

enum WheelCell { TYRE, RIM, HUB, SPOKE, DISC, SPROCKET };

Picture wheel_texture(const float rim[3], int salt) {
  std::vector<Swatch> s(6);
  const float tyre[3] = {32, 31, 30}, hub[3] = {185, 185, 180}, spoke[3] = {200, 200, 205}, disc[3] = {160, 160, 165},
              sprocket[3] = {60, 60, 62};
  fill_swatch(s[TYRE], tyre, KNOBS);
  fill_swatch(s[RIM], rim, BRUSHED);
  fill_swatch(s[HUB], hub, BRUSHED);
  fill_swatch(s[SPOKE], spoke);
  fill_swatch(s[DISC], disc, BRUSHED);
  fill_swatch(s[SPROCKET], sprocket);
  return atlas(s, salt);
}

// The coarse variant, seen from afar, has fewer facets and no spokes.
std::vector<Mesh> build_wheel(const WheelInfo& w, bool rear, bool coarse) {
  Mesh tyre = mesh(DULL), metal = mesh(METAL), shine = mesh(CHROME_SHINE);
  const float outer = w.ring_radius + w.tread_radius;
  const float section = rear ? 0.2f : 0.17f, width = rear ? 0.26f : 0.2f;
  const float rim_r = outer - 2 * section;
  const int around = coarse ? 16 : 40;
  torus(tyre, {}, outer - section, section, width, around, coarse ? 6 : 12, cell(TYRE));
  // Rim: a shallow channel inside the tyre.
  std::vector<Ring> rim;
  for (int i = 0; i <= around; i++) {
    const float a = 2 * PI * float(i) / float(around);
    rim.push_back({V3{0, std::cos(a), std::sin(a)} * (rim_r + 0.02f), 0.12f, 0.04f});
  }
  tube(metal, rim, 6, cell(RIM), false, false, {1, 0, 0});
  tube(shine, rim, 6, cell(RIM), false, false, {1, 0, 0});
  rod(metal, {-0.22f, 0, 0}, {0.22f, 0, 0}, 0.14f, 14, cell(HUB));
  // Spokes from both hub flanges, crossing to the rim.
  for (int k = 0; k < (coarse ? 0 : 32); k++) {
    const float side = k % 2 ? 1.0f : -1.0f;
    const float a = 2 * PI * float(k) / 32, b = a + (k % 4 < 2 ? 0.5f : -0.5f);
    const V3 from = {side * 0.16f, std::cos(a) * 0.13f, std::sin(a) * 0.13f};
    const V3 to = {side * 0.04f, std::cos(b) * (rim_r - 0.02f), std::sin(b) * (rim_r - 0.02f)};
    beam(metal, from, to, 0.012f, 0.012f, cell(SPOKE), {1, 0, 0});
  }
  // Brake disc on the left, and on the rear the sprocket on the left, disc on the right.
  const float disc_r = rear ? 0.36f : 0.44f;
  const float disc_x = rear ? 0.24f : -0.24f;
  rod(metal, {disc_x - 0.01f, 0, 0}, {disc_x + 0.01f, 0, 0}, disc_r, 24, cell(DISC));
  if (rear) rod(metal, {-0.27f, 0, 0}, {-0.25f, 0, 0}, 0.4f, 24, cell(SPROCKET));
  return {tyre, metal, shine};
}

// ---- The rider.

enum RiderCell { JERSEY, JERSEY_TRIM, PANTS, PANTS_TRIM, BOOT, BUCKLE, GLOVE, BRACE };
enum HeadCell { HELMET, HELMET_TRIM, PEAK, LENS, STRAP };

struct RiderColours {
  float jersey[3], trim[3], pants[3], boots[3], helmet[3], helmet_trim[3];
};

const RiderColours RIDER_COLOURS[3] = {
    {{30, 60, 170}, {250, 250, 250}, {240, 240, 245}, {245, 245, 245}, {245, 245, 245}, {30, 60, 170}},
    {{200, 30, 40}, {25, 25, 25}, {30, 30, 35}, {30, 30, 30}, {200, 30, 40}, {250, 250, 250}},
    {{250, 190, 20}, {20, 20, 20}, {60, 60, 70}, {250, 250, 250}, {30, 30, 30}, {250, 190, 20}},
};

Picture rider_texture(const RiderColours& c, int salt) {
  std::vector<Swatch> s(8);
  const float buckle[3] = {170, 170, 175}, glove[3] = {40, 40, 40}, brace[3] = {70, 70, 75};
  fill_swatch(s[JERSEY], c.jersey);
  fill_swatch(s[JERSEY_TRIM], c.jersey, STRIPES);
  std::copy(c.trim, c.trim + 3, s[JERSEY_TRIM].second);
  fill_swatch(s[PANTS], c.pants);
  fill_swatch(s[PANTS_TRIM], c.pants, STRIPES);
  std::copy(c.jersey, c.jersey + 3, s[PANTS_TRIM].second);
  fill_swatch(s[BOOT], c.boots, BRUSHED);
  fill_swatch(s[BUCKLE], buckle);
  fill_swatch(s[GLOVE], glove);
  fill_swatch(s[BRACE], brace);
  return atlas(s, salt);
}

Picture head_texture(const RiderColours& c, int salt) {
  std::vector<Swatch> s(5);
  const float lens[3] = {40, 60, 80}, strap[3] = {30, 30, 30};
  fill_swatch(s[HELMET], c.helmet);
  fill_swatch(s[HELMET_TRIM], c.helmet, STRIPES);
  std::copy(c.helmet_trim, c.helmet_trim + 3, s[HELMET_TRIM].second);
  fill_swatch(s[PEAK], c.helmet_trim);
  fill_swatch(s[LENS], lens);
  fill_swatch(s[STRAP], strap);
  return atlas(s, salt);
}

// The rider's body in its bind pose (arms out along x, legs down along y, facing -z), skinned
// to the nine bones. The first-person body leaves out the chest and upper arms that would sit
// around the camera.
std::vector<Mesh> build_rider_body(const BikeInfo& info, bool first_person) {
  const float (*c)[3] = info.rider_bone_centres;
  const RiderPosePoints& pose = info.rider_pose;
  Mesh jersey = mesh({4, 1, 0.1f, 0.1f, 0.1f}), pants = mesh({4, 1, 0.1f, 0.1f, 0.1f}), boots = mesh(PAINT);
  const float hip_y = c[BODY][1], shoulder_y = c[UPPER_ARM_R][1];
  // Torso: pelvis in the pants, chest in the jersey, the shoulders and a neck stub on top.
  tube(pants,
       {{{0, hip_y - 0.32f, 0.02f}, 0.3f, 0.26f, only(BODY)},
        {{0, hip_y - 0.1f, 0.0f}, 0.46f, 0.33f, only(BODY)},
        {{0, hip_y + 0.3f, 0.0f}, 0.42f, 0.31f, only(BODY)}},
       16, cell(PANTS), true, false, {1, 0, 0});
  if (first_person) {
    tube(jersey, {{{0, hip_y + 0.25f, 0}, 0.43f, 0.32f, only(BODY)}, {{0, hip_y + 0.6f, -0.02f}, 0.47f, 0.34f, only(BODY)}},
         16, cell(JERSEY), false, true, {1, 0, 0});
  } else {
    tube(jersey,
         {{{0, hip_y + 0.25f, 0}, 0.43f, 0.32f, only(BODY)},
          {{0, (hip_y + shoulder_y) / 2, -0.02f}, 0.47f, 0.35f, only(BODY)},
          {{0, shoulder_y - 0.05f, 0.0f}, 0.56f, 0.33f, only(BODY)},
          {{0, shoulder_y + 0.12f, 0.02f}, 0.42f, 0.26f, only(BODY)},
          {{0, shoulder_y + 0.22f, 0.02f}, 0.14f, 0.13f, only(BODY)},
          {{0, shoulder_y + 0.34f, 0.02f}, 0.13f, 0.12f, only(BODY)}},
         16, cell(JERSEY), false, true, {1, 0, 0});
  }
  for (int side = 0; side < 2; side++) {
    const float s = side ? 1.0f : -1.0f;
    const int upper = side ? UPPER_ARM_R : UPPER_ARM_L, fore = side ? FOREARM_R : FOREARM_L;
    const int thigh = side ? THIGH_R : THIGH_L, shin = side ? SHIN_R : SHIN_L;
    // Arm: from inside the shoulder out to the glove, bending at the elbow.
    const float shoulder_x = std::fabs(c[upper][0]), elbow_x = std::fabs(c[fore][0]);
    const float hand_x = elbow_x + pose.forearm;
    const float y = c[upper][1], z = c[upper][2];
    std::vector<Ring> arm;
    if (!first_person) {
      arm.push_back({{s * (shoulder_x - 0.12f), y, z}, 0.19f, 0.19f, blend(BODY, upper, 0.5f)});
      arm.push_back({{s * (shoulder_x + 0.1f), y - 0.01f, z}, 0.18f, 0.18f, only(upper)});
    }
    arm.push_back({{s * (elbow_x - 0.3f), y, z}, 0.155f, 0.155f, only(upper)});
    arm.push_back({{s * elbow_x, y, z}, 0.15f, 0.15f, blend(upper, fore, 0.5f)});
    arm.push_back({{s * (elbow_x + 0.25f), y, z}, 0.14f, 0.14f, only(fore)});
    arm.push_back({{s * (hand_x - 0.3f), y, z}, 0.115f, 0.11f, only(fore)});
    tube(jersey, arm, 10, cell(JERSEY_TRIM), true, true);
    ellipsoid(jersey, {s * hand_x, y, z}, {0.16f, 0.1f, 0.12f}, 6, 10, cell(GLOVE), only(fore));
    // Leg: thigh in the pants, knee brace, shin in the boot, the foot ahead of the peg point.
    const float hip_x = std::fabs(c[thigh][0]), knee_y = c[shin][1];
    const float foot_y = knee_y - pose.shin;
    tube(pants,
         {{{s * hip_x, hip_y + 0.05f, 0}, 0.25f, 0.25f, blend(BODY, thigh, 0.5f)},
          {{s * hip_x, hip_y - 0.25f, 0}, 0.25f, 0.25f, only(thigh)},
          {{s * hip_x, knee_y + 0.3f, 0}, 0.2f, 0.2f, only(thigh)},
          {{s * hip_x, knee_y, 0}, 0.18f, 0.19f, blend(thigh, shin, 0.5f)},
          {{s * hip_x, knee_y - 0.3f, 0}, 0.16f, 0.17f, only(shin)}},
         12, cell(PANTS_TRIM), false, false, {1, 0, 0});
    box(boots, {s * hip_x, knee_y - 0.08f, -0.17f}, {0.12f, 0.22f, 0.05f}, cell(BRACE), only(shin));
    tube(boots,
         {{{s * hip_x, knee_y - 0.2f, 0}, 0.19f, 0.2f, only(shin)},
          {{s * hip_x, foot_y + 0.45f, 0.02f}, 0.16f, 0.17f, only(shin)},
          {{s * hip_x, foot_y + 0.12f, 0.05f}, 0.15f, 0.2f, only(shin)}},
         12, cell(BOOT), true, false, {1, 0, 0});
    box(boots, {s * hip_x, foot_y, -0.12f}, {0.14f, 0.1f, 0.36f}, cell(BOOT), only(shin));
    box(boots, {s * (hip_x + 0.16f), foot_y + 0.5f, 0.02f}, {0.02f, 0.05f, 0.12f}, cell(BUCKLE), only(shin));
  }
  return {jersey, pants, boots};
}

// The back plate rides on the body bone just off the jersey, read from behind.
std::vector<Mesh> build_rider_plate(const BikeInfo& info) {
  const float hip_y = info.rider_bone_centres[BODY][1], shoulder_y = info.rider_bone_centres[UPPER_ARM_R][1];
  Mesh m = mesh(DULL);
  plate(m, {0, (hip_y + shoulder_y) / 2 + 0.25f, 0.37f}, {1, 0, 0}, {0, 1, 0}, 0.34f, 0.32f, only(BODY));
  return {m};
}

// The helmet around the neck pivot (the origin), face towards -z, with chin bar, peak and
// goggles.
std::vector<Mesh> build_head() {
  Mesh shell = mesh(PAINT), dull = mesh(DULL), lens = mesh({64, 1, 0.9f, 0.9f, 0.9f});
  const V3 centre = {0, 0.42f, 0.02f};
  ellipsoid(shell, centre, {0.4f, 0.43f, 0.48f}, 12, 18, cell(HELMET_TRIM));
  ellipsoid(shell, centre + V3{0, -0.28f, -0.36f}, {0.22f, 0.13f, 0.2f}, 6, 12, cell(HELMET));  // chin bar
  box(shell, centre + V3{0, 0.33f, -0.5f}, {0.3f, 0.02f, 0.2f}, cell(PEAK), {}, {1, 0, 0}, unit({0, 1, 0.35f}),
      unit({0, -0.35f, 1}));
  box(lens, centre + V3{0, 0.04f, -0.44f}, {0.27f, 0.09f, 0.06f}, cell(LENS));
  tube(dull, {{centre + V3{0, 0.0f, 0}, 0.41f, 0.49f}, {centre + V3{0, 0.08f, 0}, 0.41f, 0.49f}}, 20, cell(STRAP),
       false, false, {1, 0, 0});  // goggle strap
  ellipsoid(dull, {0, 0.02f, 0.05f}, {0.13f, 0.12f, 0.12f}, 6, 10, cell(STRAP));  // neck
  return {shell, dull, lens};
}

// ---- The start gate piece: a plate lying flat from its hinge towards the riders (its fallen
// pose); the track stands it up by turning it about the hinge, its local x axis.

std::vector<Mesh> build_start_gate() {
  Mesh plate_mesh = mesh(PAINT), metal = mesh(METAL);
  const float half = COURSE_GATE_SPACING / 2 - 0.06f, reach = 2.5f;
  // Both broad faces take the whole texture, stripes at the riders' edge below (what they face
  // while it stands) and along the hinge on top; the rest of the box the metal corner of it.
  const V3 c = {0, 0.05f, 0.12f + reach / 2};
  plate(plate_mesh, c + V3{0, 0.041f, 0}, {1, 0, 0}, {0, 0, -1}, half, reach / 2);
  plate(plate_mesh, c - V3{0, 0.041f, 0}, {1, 0, 0}, {0, 0, 1}, half, reach / 2);
  box(metal, c, {half, 0.04f, reach / 2}, {0.02f, 0.02f, 0.2f, 0.2f});
  rod(metal, {-half, 0.08f, 0}, {half, 0.08f, 0}, 0.08f, 10, {0.02f, 0.02f, 0.2f, 0.2f});
  for (float side : {-1.0f, 1.0f}) {
    beam(metal, {side * (half - 0.1f), 0.12f, 0.05f}, {side * (half - 0.1f), 0.12f, reach}, 0.04f, 0.04f,
         {0.02f, 0.02f, 0.2f, 0.2f});
  }
  return {plate_mesh, metal};
}

std::vector<uint8_t> start_gate_picture() {
  const int size = 64;
  std::string header = "P6\n64 64\n255\n";
  std::vector<uint8_t> out(header.begin(), header.end());
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      // Yellow and black chevrons on the upper half (the top face's far end), grey metal below.
      const bool stripe = ((x + y) / 8) % 2 == 0;
      const float grain = 0.9f + 0.2f * picture_noise(x / 4.0f, y / 4.0f, 16, 41);
      float r = 150 * grain, g = 152 * grain, b = 158 * grain;
      if (y < size / 2) {
        r = stripe ? 240 : 25;
        g = stripe ? 200 : 25;
        b = stripe ? 20 : 25;
      }
      for (float ch : {r, g, b}) out.push_back(uint8_t(std::clamp(ch, 0.0f, 255.0f)));
    }
  }
  return out;
}

}  // namespace

void models_add_assets(DataSet* set) {
  const BikeInfo& shape = bike_info_table[0];  // the chassis and rider geometry every row shares
  // One bike per model base, in table order; each base's files are made once.
  std::set<std::string> done;
  for (int i = 0; i < BIKE_INFO_COUNT; i++) {
    const BikeInfo& row = bike_info_table[i];
    const std::string base = row.model_base;
    if (!done.insert(base).second) continue;
    const BikeLook look = look_of(base, row.engine_class);
    const BikeParts bike = build_bike(row, look);
    add_model(set, base + "_frame.vm", bike.frame, v3(row.frame_pos));
    add_model(set, base + "_fork_upper.vm", bike.steering, v3(row.steering_pos));
    add_model(set, base + "_fork_lower.vm", bike.fork_lower, v3(row.fork_lower_pos));
    add_model(set, base + "_swingarm.vm", bike.swingarm, v3(row.swingarm_pos));
    add_model(set, base + "_side_plates.vm", bike.side_plates, v3(row.frame_pos));
    add_model(set, base + "_front_plate.vm", bike.front_plate, v3(row.steering_pos));
    dataset_add(set, base + ".png", picture_png(bike_texture(look, int(done.size()))));
  }
  add_model(set, "front_wheel.vm", build_wheel(shape.front_wheel, false, false), {});
  add_model(set, "rear_wheel.vm", build_wheel(shape.rear_wheel, true, false), {});
  // Beyond 64 ft (at the default detail) the wheels are drawn from their coarse variants.
  add_model(set, "front_wheel_lod6.vm", build_wheel(shape.front_wheel, false, true), {});
  add_model(set, "rear_wheel_lod6.vm", build_wheel(shape.rear_wheel, true, true), {});
  add_model(set, "rider_head.vm", build_head(), {});
  add_model(set, "rider_body.vm", build_rider_body(shape, false), {}, true);
  add_model(set, "rider_body_fp.vm", build_rider_body(shape, true), {}, true);
  add_model(set, "rider_plate.vm", build_rider_plate(shape), {}, true);
  add_model(set, "startgate.vm", build_start_gate(), {});
  dataset_add(set, "startgate.ppm", start_gate_picture());
  // The default rider and wheel textures, and two more looks the robots wear.
  const float rims[3][3] = {{40, 40, 42}, {200, 200, 205}, {210, 170, 60}};
  const char* const suffix[3] = {"", "-alt1", "-alt2"};
  for (int k = 0; k < 3; k++) {
    dataset_add(set, std::string("rider_body") + suffix[k] + ".png", picture_png(rider_texture(RIDER_COLOURS[k], 60 + k)));
    dataset_add(set, std::string("rider_head") + suffix[k] + ".png", picture_png(head_texture(RIDER_COLOURS[k], 70 + k)));
    dataset_add(set, std::string("wheels") + suffix[k] + ".png", picture_png(wheel_texture(rims[k], 80 + k)));
  }
}
