// The default track's course: corner polygon, jumps and their sampling into a centre line.
#include "tools/data/course.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float PI = 3.14159265358979f;
constexpr float DEFAULT_WIDTH = 26.0f;  // ft, track width on the straights
constexpr float RAMP = 40.0f;           // ft over which width and banking change next to a bend
constexpr float SMOOTH_RADIUS = 2.0f;   // ft, half width of one smoothing pass over the profile

// The loop, ridden in this order. Corner 0 is the finish corner: the finish straight comes in
// from the east and the combined start straight leaves it northward. Banks: berms lean in
// (0.3 to 0.4 is about 17 to 22 degrees), the sweeper round the hill leans out.
const CourseCorner LOOP_CORNERS[] = {
    {330, 1040, 45, 30, 0.0f, "finish corner"},
    {330, 650, 100, 32, 0.18f, "first turn"},
    {880, 650, 55, 28, 0.38f, "tabletop berm"},
    {880, 530, 55, 28, 0.38f, "tabletop berm exit"},
    {440, 530, 55, 28, 0.36f, "rhythm berm"},
    {440, 410, 55, 28, 0.36f, "rhythm berm exit"},
    {960, 410, 90, 26, 0.05f, "hill climb"},
    {1160, 330, 100, 26, -0.10f, "hilltop off-camber"},
    {1330, 470, 110, 26, -0.14f, "long off-camber"},
    {1300, 760, 110, 26, -0.06f, "hill descent"},
    {1080, 820, 70, 26, 0.25f, "bottom berm"},
    {1080, 930, 60, 26, 0.25f, "bottom berm exit"},
    {1300, 960, 55, 28, 0.36f, "rollers berm"},
    {1300, 1110, 55, 28, 0.36f, "whoops berm"},
    {880, 1110, 55, 28, 0.38f, "whoops hairpin"},
    {880, 1230, 55, 28, 0.38f, "whoops hairpin exit"},
    {1300, 1230, 55, 28, 0.36f, "double berm"},
    {1300, 1350, 55, 28, 0.36f, "back straight berm"},
    {560, 1350, 60, 26, -0.08f, "off-camber left"},
    {560, 1230, 60, 26, 0.20f, "chicane"},
    {760, 1160, 60, 26, 0.22f, "chicane exit"},
    {760, 1040, 50, 28, 0.30f, "finish straight berm"},
};

std::vector<CourseKey> tabletop(float height, float face, float top, float landing) {
  return {{0, 0}, {face, height}, {face + top, height}, {face + top + landing, 0}};
}

// A gap jump: take-off ramp with a short lip, a flat gap, then `mounds` - 1 further mounds of
// which the last is the landing with its long down-slope.
std::vector<CourseKey> gap_jump(float height, float face, float gap, int mounds) {
  std::vector<CourseKey> keys = {{0, 0}, {face, height}, {face + 3, height - 0.5f}, {face + 10, 0}};
  float x = face + 10;
  for (int m = 1; m < mounds; m++) {
    x += gap;
    keys.push_back({x, 0});
    bool landing = m == mounds - 1;
    float h = landing ? height + 0.5f : height * 0.7f;
    keys.push_back({x + 10, h});
    keys.push_back({x + 14, h});
    x += landing ? 14 + 5.5f * h : 24;
    keys.push_back({x, 0});
  }
  return keys;
}

std::vector<CourseKey> whoops(int count, float spacing, float height) {
  std::vector<CourseKey> keys;
  for (int k = 0; k < count; k++) {
    keys.push_back({k * spacing, 0});
    keys.push_back({k * spacing + spacing * 0.5f, height});
  }
  keys.push_back({count * spacing, 0});
  return keys;
}

// Rollers close together, meant to be doubled and tripled.
std::vector<CourseKey> rhythm(int count, float height) {
  std::vector<CourseKey> keys;
  for (int k = 0; k < count; k++) {
    float x = k * 26.0f;
    keys.push_back({x, 0});
    keys.push_back({x + 9, height});
    keys.push_back({x + 13, height});
    keys.push_back({x + 22, 0});
  }
  return keys;
}

std::vector<CourseFeature> loop_features() {
  return {
      {FEATURE_TABLETOP, "tabletop", 1, 110, tabletop(5.5f, 13, 40, 30)},
      {FEATURE_RHYTHM, "rhythm section", 3, 70, rhythm(6, 3.5f)},
      {FEATURE_TRIPLE, "triple", 5, 200, gap_jump(7.5f, 16, 13, 3)},
      {FEATURE_RHYTHM, "rollers", 11, 25, rhythm(3, 2.5f)},
      {FEATURE_WHOOPS, "whoops", 13, 60, whoops(12, 14, 1.8f)},
      {FEATURE_DOUBLE, "double", 15, 60, gap_jump(6.0f, 14, 28, 2)},
      {FEATURE_TABLETOP, "big tabletop", 17, 120, tabletop(6.5f, 15, 50, 36)},
      {FEATURE_STEP, "step-up", 17, 300, {{0, 0}, {14, 5}, {17, 4.5f}, {24, 0.5f}, {44, 0.5f}, {56, 7}, {90, 7}, {120, 0}}},
      {FEATURE_DOUBLE, "back double", 17, 460, gap_jump(5.0f, 12, 24, 2)},
  };
}

float smoothstep(float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

// Height of a feature's keys at `along` ft (0 outside).
float keys_height(const std::vector<CourseKey>& keys, float along) {
  if (keys.empty() || along <= keys.front().along || along >= keys.back().along) return 0;
  for (size_t i = 1; i < keys.size(); i++) {
    if (along <= keys[i].along) {
      const CourseKey& a = keys[i - 1];
      const CourseKey& b = keys[i];
      float t = b.along > a.along ? (along - a.along) / (b.along - a.along) : 1;
      return a.height + t * (b.height - a.height);
    }
  }
  return 0;
}

// Box-filters values in place, three times (close to a Gaussian); wraps when closed.
void smooth(std::vector<float>* values, int radius, bool closed) {
  int n = static_cast<int>(values->size());
  std::vector<float> out(n);
  for (int pass = 0; pass < 3; pass++) {
    for (int i = 0; i < n; i++) {
      float sum = 0;
      for (int k = -radius; k <= radius; k++) {
        int j = i + k;
        j = closed ? (j % n + n) % n : std::clamp(j, 0, n - 1);
        sum += (*values)[j];
      }
      out[i] = sum / (2 * radius + 1);
    }
    values->swap(out);
  }
}

struct Piece {
  bool arc;
  float x0, z0, dx, dz;  // start point and direction (straights)
  float cx, cz, a0, turn, radius;  // centre, start angle, signed sweep (arcs)
  float length;
  int index;  // corner or straight index
};

}  // namespace

void course_build(Course* course) {
  course->corners.assign(std::begin(LOOP_CORNERS), std::end(LOOP_CORNERS));
  course->features = loop_features();
  const std::vector<CourseCorner>& c = course->corners;
  int n = static_cast<int>(c.size());

  // Per corner: incoming and outgoing headings (atan2(z, x)), turn and tangent length.
  std::vector<float> in(n), out(n), turn(n), tangent(n);
  for (int i = 0; i < n; i++) {
    const CourseCorner& p = c[(i + n - 1) % n];
    const CourseCorner& q = c[(i + 1) % n];
    in[i] = std::atan2(c[i].z - p.z, c[i].x - p.x);
    out[i] = std::atan2(q.z - c[i].z, q.x - c[i].x);
    float t = out[i] - in[i];
    while (t > PI) t -= 2 * PI;
    while (t < -PI) t += 2 * PI;
    turn[i] = t;
    tangent[i] = c[i].radius * std::tan(std::fabs(t) * 0.5f);
  }

  // Pieces in riding order: straight 0, bend 1, straight 1, ..., straight n-1, bend 0.
  std::vector<Piece> pieces;
  for (int k = 0; k < n; k++) {
    int i = k, j = (k + 1) % n;
    Piece s{};
    s.arc = false;
    s.dx = std::cos(out[i]);
    s.dz = std::sin(out[i]);
    s.x0 = c[i].x + s.dx * tangent[i];
    s.z0 = c[i].z + s.dz * tangent[i];
    float span = std::hypot(c[j].x - c[i].x, c[j].z - c[i].z);
    s.length = std::max(0.0f, span - tangent[i] - tangent[j]);
    s.index = i;
    pieces.push_back(s);
    Piece a{};
    a.arc = true;
    a.radius = c[j].radius;
    a.turn = turn[j];
    float side = turn[j] > 0 ? 1.0f : -1.0f;  // +1: heading angle increases (a right turn here)
    float sx = c[j].x - s.dx * tangent[j], sz = c[j].z - s.dz * tangent[j];
    // Centre lies perpendicular to the heading, on the side the path turns to.
    a.cx = sx - s.dz * side * a.radius;
    a.cz = sz + s.dx * side * a.radius;
    a.a0 = std::atan2(sz - a.cz, sx - a.cx);
    a.length = std::fabs(a.turn) * a.radius;
    a.index = j;
    pieces.push_back(a);
  }

  // Sample every COURSE_SAMPLE_STEP ft of arc length.
  course->loop.clear();
  float total = 0;
  for (const Piece& p : pieces) total += p.length;
  course->loop_length = total;
  // A whole number of samples, so the step from the last sample back to the first is the same.
  int count = static_cast<int>(std::lround(total / COURSE_SAMPLE_STEP));
  float step = total / count;
  size_t piece = 0;
  float piece_start = 0;
  std::vector<float> lift(count, 0.0f);
  for (int k = 0; k < count; k++) {
    float s = k * step;
    while (piece + 1 < pieces.size() && s >= piece_start + pieces[piece].length) {
      piece_start += pieces[piece].length;
      piece++;
    }
    const Piece& p = pieces[piece];
    float u = s - piece_start;
    CourseSample q{};
    q.s = s;
    if (!p.arc) {
      q.x = p.x0 + p.dx * u;
      q.z = p.z0 + p.dz * u;
      q.dx = p.dx;
      q.dz = p.dz;
      q.curvature = 0;
      q.segment = p.index;
      // Width and bank change smoothly between the bends at either end and the straight.
      const CourseCorner& from = c[p.index];
      const CourseCorner& to = c[(p.index + 1) % n];
      float bank_from = from.bank * (turn[p.index] > 0 ? 1.0f : -1.0f);
      float bank_to = to.bank * (turn[(p.index + 1) % n] > 0 ? 1.0f : -1.0f);
      float L = p.length;
      float t0 = smoothstep(u / RAMP), t1 = smoothstep((L - u) / RAMP);
      if (L < 2 * RAMP) {
        float t = smoothstep(L > 0 ? u / L : 0);
        q.width = from.width + t * (to.width - from.width);
        q.bank = bank_from + t * (bank_to - bank_from);
      } else {
        q.width = DEFAULT_WIDTH + (1 - t0) * (from.width - DEFAULT_WIDTH) + (1 - t1) * (to.width - DEFAULT_WIDTH);
        q.bank = (1 - t0) * bank_from + (1 - t1) * bank_to;
      }
    } else {
      float side = p.turn > 0 ? 1.0f : -1.0f;
      float a = p.a0 + side * u / p.radius;
      q.x = p.cx + p.radius * std::cos(a);
      q.z = p.cz + p.radius * std::sin(a);
      q.dx = -std::sin(a) * side;
      q.dz = std::cos(a) * side;
      // Heading angle increasing means turning toward +x from -z, the rider's right.
      q.curvature = -side / p.radius;
      q.segment = p.index;
      q.width = c[p.index].width;
      q.bank = c[p.index].bank * side;
    }
    course->loop.push_back(q);
  }

  course->straight_start.assign(n, 0);
  course->straight_length.assign(n, 0);
  float at = 0;
  for (const Piece& p : pieces) {
    if (!p.arc) {
      course->straight_start[p.index] = at;
      course->straight_length[p.index] = p.length;
    }
    at += p.length;
  }

  // The profile: features on their straights, then rounded.
  for (const CourseFeature& f : course->features) {
    float start = course->straight_start[f.segment] + f.offset;
    for (int k = 0; k < count; k++) {
      float along = course->loop[k].s - start;
      lift[k] += keys_height(f.keys, along);
    }
  }
  smooth(&lift, static_cast<int>(SMOOTH_RADIUS / COURSE_SAMPLE_STEP), true);
  for (int k = 0; k < count; k++) course->loop[k].lift = lift[k];

  // Start straight: from behind the gate pad north onto straight 0 of the loop.
  course->gate_x = 330;
  course->gate_z = 1300;
  float merge_s = 40;  // ft into straight 0, where the start straight becomes the loop
  course->merge_index = static_cast<int>(merge_s / COURSE_SAMPLE_STEP);
  const CourseSample& m = course->loop[course->merge_index];
  float x0 = course->gate_x, z0 = course->gate_z + 25;  // the pad reaches 25 ft behind the gate
  float length = std::hypot(m.x - x0, m.z - z0);
  float dx = (m.x - x0) / length, dz = (m.z - z0) / length;
  float gate_width = COURSE_GATE_PIECES * COURSE_GATE_SPACING + 10;
  course->start.clear();
  for (float s = 0; s <= length; s += COURSE_SAMPLE_STEP) {
    CourseSample q{};
    q.s = s;
    q.x = x0 + dx * s;
    q.z = z0 + dz * s;
    q.dx = dx;
    q.dz = dz;
    q.segment = -1;
    // Full gate width over the pad, then a funnel down to the loop's width.
    float t = smoothstep((s - 60) / (length - 120));
    q.width = gate_width + t * (m.width - gate_width);
    course->start.push_back(q);
  }

  // The finish line lies on the finish straight (the last straight), 90 ft before its end.
  course->finish_s = course->straight_start[n - 1] + course->straight_length[n - 1] - 90;
}

const CourseSample& course_at(const std::vector<CourseSample>& path, float s, bool closed) {
  int n = static_cast<int>(path.size());
  int k = static_cast<int>(std::lround(s / COURSE_SAMPLE_STEP));
  k = closed ? (k % n + n) % n : std::clamp(k, 0, n - 1);
  return path[k];
}
