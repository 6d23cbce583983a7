// Erosion strokes of the wheels, their byte form, the queue of decoded points and the crater
// and heap shapes they leave in the height field.
#include "physics/erosion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/console.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "track/terrain.h"

ErodeQueue erode_queue;

namespace {

ErodeSubmitHook submit_hook;

// v limited to [lo, hi]; a value that is not a number becomes lo.
inline double clamp_to(double v, double lo, double hi) {
  return v > lo ? (v < hi ? v : hi) : lo;
}

// Where v lies between lo and hi, 0..1; a step at hi when the two are equal.
inline float ramp(float v, float lo, float hi) {
  if (!(hi > lo)) return v >= hi ? 1.0f : 0.0f;
  return float(clamp_to((v - lo) / (hi - lo), 0, 1));
}

// Step bounds as 16-bit fixed point over -1024..1024 ft.
uint16_t q16(float v) {
  return uint16_t(std::floor((clamp_to(v, -1024, 1024) + 1024) / 2048 * 65535 + 0.5));
}
float q16_value(unsigned q) {
  return float(q / 65535.0 * 2048 - 1024);
}

// A position as a 24-bit fraction of the field's extent.
uint32_t q24(float v, float extent) {
  if (!(extent > 0)) return 0;
  return uint32_t(std::floor(clamp_to(v, 0, extent) / extent * 16777215 + 0.5));
}
float q24_value(uint32_t q, float extent) {
  return float(q / 16777215.0 * extent);
}

// A step between the decoded bounds in 8 bits.
uint8_t s8(float d, float lo, float hi) {
  if (!(hi > lo)) return 0;
  return uint8_t(std::floor((clamp_to(d, lo, hi) - lo) / (hi - lo) * 255 + 0.5));
}
float s8_value(unsigned q, float lo, float hi) {
  return float(q / 255.0 * (double(hi) - lo) + lo);
}

// An erosion vector component in the high 6 bits, two bits of the sample count below. The
// component is cut to its 64th (never rounded up into the next bucket), so the byte holds the
// same bucket the decoder reads back. Merging the bucket with the rounded 8-bit value would set
// bits of both where they differ (t just above 3/4: 0.5 would read back as 0.97).
uint8_t e8(float e, unsigned bits) {
  double t = (clamp_to(e, -1, 1) + 1) / 2;
  unsigned q = std::min(unsigned(std::floor(64 * t)), 63u);
  return uint8_t((q << 2) | (bits & 3));
}
float e8_value(uint8_t byte) {
  return float(clamp_to((byte >> 2) / 64.0, 0, 1) * 2 - 1);
}

// The 4-bit sample field holds 1..15; a point of 16 samples is sent as 15, and 0 (never
// written) is read as 1.
unsigned samples_field(int32_t samples) {
  return unsigned(std::clamp(samples, 1, 15));
}

void put16(uint8_t* p, unsigned v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put24(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
}
unsigned get16(const uint8_t* p) {
  return unsigned(p[0]) | unsigned(p[1]) << 8;
}
uint32_t get24(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

void submit_stroke(const ErodeStroke* stroke, float extent) {
  uint8_t data[STROKE_DATA_MAX];
  int length = erode_stroke_encode(stroke, extent, data);
  if (length > 0) erode_stroke_submit(data, length, extent);
}

void clear_accumulator(ErodeStroke* stroke) {
  stroke->sum_x = stroke->sum_z = stroke->sum_ex = stroke->sum_ez = 0;
  stroke->sample_count = 0;
}

// No sample this step: a stroke whose last point is old enough is finished and sent.
void stroke_idle(ErodeStroke* stroke, float extent) {
  if (stroke->point_count == 0 || stroke->last_tick + STROKE_CLOSE_TICKS >= sim_tick) return;
  erode_stroke_add_point(stroke, extent);
  if (stroke->point_count > 0) submit_stroke(stroke, extent);
  erode_stroke_clear(stroke);
}

void stroke_sample(ErodeStroke* stroke, float x, float z, float ex, float ez, float extent) {
  const float b = stroke->sample_count > 0 ? std::hypot(x - stroke->last_x, z - stroke->last_z) : 0.0f;
  stroke->last_x = x;
  stroke->last_z = z;
  if (stroke->sample_count < STROKE_POINT_SAMPLES && stroke->run_distance + b < STROKE_POINT_DISTANCE) {
    stroke->sum_x += x;
    stroke->sum_z += z;
    stroke->sum_ex += ex;
    stroke->sum_ez += ez;
    stroke->sample_count++;
    stroke->run_distance += b;
    return;
  }
  const bool full = stroke->sample_count >= STROKE_POINT_SAMPLES;
  const float over = stroke->run_distance + b - STROKE_POINT_DISTANCE;
  erode_stroke_add_point(stroke, extent);
  stroke->sum_x = x;
  stroke->sum_z = z;
  stroke->sum_ex = ex;
  stroke->sum_ez = ez;
  stroke->sample_count = 1;
  stroke->run_distance = !full && over < STROKE_POINT_DISTANCE ? over : 0.0f;
}

void queue_point(const StrokePoint& p, void*) {
  ErodeQueue& q = erode_queue;
  if (q.count >= ERODE_QUEUE_SIZE) {
    if (!q.full_reported) console_print("Erode queue full!");
    q.full_reported = true;
    return;
  }
  q.entries[(q.read + q.count) % ERODE_QUEUE_SIZE] = {p.x, p.z, p.ex, p.ez, p.samples};
  q.count++;
}

// Calls fn(col, row, weight) for every grid point of the field under the smooth disc of
// radius R around (x, z) whose weight is above 0. False when nothing can be touched.
template <typename Fn>
bool footprint(const Terrain* t, float x, float z, float radius, Fn fn) {
  const double s = t->spacing;
  if (!(s > 0) || !t->heights) return false;
  // A disc wider than the field is cut to it: the loops below stay bounded.
  const double rho = std::min(double(radius) / s, double(t->grid_size));
  if (!(rho > 0)) return false;
  const double u = x / s, v = z / s;
  const int half = int(std::ceil(rho));
  if (!(u > -half - 1 && u < t->grid_size + half && v > -half - 1 && v < t->grid_size + half)) return false;
  const int cx = int(std::floor(u)), cz = int(std::floor(v));
  const int last = t->grid_size - 1;
  const int i0 = std::max(cx - half + 1, 0), i1 = std::min(cx + half, last);
  const int j0 = std::max(cz - half + 1, 0), j1 = std::min(cz + half, last);
  for (int j = j0; j <= j1; j++) {
    for (int i = i0; i <= i1; i++) {
      const double d = std::hypot(u - i, v - j) / rho;
      if (d >= 1) continue;
      fn(i, j, float(1 - 3 * d * d + 2 * d * d * d));
    }
  }
  return true;
}

struct Region {
  int col0 = 1 << 30, row0 = 1 << 30, col1 = -1, row1 = -1;
  void add(int col, int row) {
    col0 = std::min(col0, col);
    row0 = std::min(row0, row);
    col1 = std::max(col1, col);
    row1 = std::max(row1, row);
  }
  void mark(Terrain* t) const {
    if (col1 >= col0) terrain_mark_region(t, col0, row0, col1, row1);
  }
};

inline float sample(const Terrain* t, int col, int row) {
  return t->heights[size_t(row) * size_t(t->grid_size) + size_t(col)];
}

// Depth limit factors at rut depth r (ft below the loaded ground): the tile's table looked up
// piecewise-linearly. Without a table the rut deepens freely.
void limit_factors(const ErodeParams& p, float r, float* f1, float* f2) {
  const int n = std::clamp(int(p.limit_count), 0, ERODE_LIMIT_POINTS);
  if (n == 0) {
    *f1 = *f2 = 1;
    return;
  }
  double j = 0;
  if (n >= 2 && !(r < p.limit_depth[0])) {
    j = n - 1;
    for (int i = 1; i < n; i++) {
      if (r < p.limit_depth[i]) {
        const double span = double(p.limit_depth[i]) - p.limit_depth[i - 1];
        j = (i - 1) + (span > 0 ? (r - p.limit_depth[i - 1]) / span : 0);
        break;
      }
    }
  }
  const double whole = std::floor(j);
  const int i0 = std::clamp(int(whole), 0, n - 1);
  const int i1 = std::clamp(i0 + 1, 0, n - 1);
  const double frac = j - whole;
  *f1 = float(p.limit_first[i0] + (p.limit_first[i1] - p.limit_first[i0]) * frac);
  *f2 = float(p.limit_second[i0] + (p.limit_second[i1] - p.limit_second[i0]) * frac);
}

// One queued point: a crater at the point and a heap of the same volume pushed against the
// force on the tyre.
void erode_point(Terrain* t, const ErodeQueueEntry& e, float strength) {
  const ErodeParams& p = t->tiles[terrain_tile_at(t, e.x, e.z)].erode;
  const float length = std::hypot(e.ex, e.ez);
  // Opposite samples cancelled out: the point has no direction to push dirt in.
  if (!(length > 0)) return;
  const float displacement = float(clamp_to((length - 0.125) * 1.1428572, 0, 1)) * p.displacement;
  const float qx = e.x - displacement * e.ex / length;
  const float qz = e.z - displacement * e.ez / length;
  const float h0 = terrain_height_at(t, e.x, e.z);
  const float h1 = terrain_height_at(t, qx, qz);
  const float rise = h1 - h0;
  if (!(p.min_slope * displacement <= rise && rise <= p.max_slope * displacement)) return;
  float k = strength / 2048;
  if (h1 < h0 && displacement != 0) k *= 1 + p.downhill_scale * (h0 - h1) / displacement;
  float f1, f2;
  limit_factors(p, terrain_base_height_at(t, e.x, e.z) - h0, &f1, &f2);
  const float v1 = terrain_dig(t, e.x, e.z, p.radius, -float(e.samples) * f1 * k * p.depth);
  const float v2 = terrain_dig(t, e.x, e.z, p.inner_radius, -f2 * k * p.inner_depth);
  terrain_deposit(t, qx, qz, p.radius, -(v1 + v2));
  if (v1 != 0 || v2 != 0) erode_queue.ground_changed = true;
}

}  // namespace

void erode_set_submit_hook(ErodeSubmitHook hook) {
  submit_hook = hook;
}

void erode_stroke_clear(ErodeStroke* stroke) {
  std::memset(static_cast<void*>(stroke), 0, sizeof *stroke);
}

void erode_stroke_add_point(ErodeStroke* stroke, float extent) {
  if (stroke->sample_count == 0) return;
  if (stroke->point_count == STROKE_POINT_MAX) {
    submit_stroke(stroke, extent);
    stroke->point_count = 0;
  }
  const float n = float(stroke->sample_count);
  const StrokePoint point = {stroke->sum_x / n, stroke->sum_z / n, stroke->sum_ex / n, stroke->sum_ez / n,
                             stroke->sample_count};
  clear_accumulator(stroke);
  stroke->last_tick = sim_tick;
  const int i = stroke->point_count;
  if (i > 0) {
    const StrokePoint& previous = stroke->points[i - 1];
    const float step[2] = {point.x - previous.x, point.z - previous.z};
    float lo[2] = {step[0], step[1]}, hi[2] = {step[0], step[1]};
    if (i >= 2) {
      for (int a = 0; a < 2; a++) {
        lo[a] = std::min(lo[a], stroke->lo_step[a]);
        hi[a] = std::max(hi[a], stroke->hi_step[a]);
      }
      // Too wide a spread would make the 8-bit steps coarse: send what there is and start
      // a new stroke at this point.
      if (std::max(hi[0] - lo[0], hi[1] - lo[1]) > STROKE_STEP_SPREAD_MAX) {
        submit_stroke(stroke, extent);
        stroke->points[0] = point;
        stroke->point_count = 1;
        stroke->lo_step[0] = stroke->lo_step[1] = stroke->hi_step[0] = stroke->hi_step[1] = 0;
        return;
      }
    }
    for (int a = 0; a < 2; a++) {
      stroke->lo_step[a] = lo[a];
      stroke->hi_step[a] = hi[a];
    }
  }
  stroke->points[i] = point;
  stroke->point_count = i + 1;
}

int erode_stroke_encode(const ErodeStroke* stroke, float extent, uint8_t* out) {
  const int n = stroke->point_count;
  if (n < 1 || n > STROKE_POINT_MAX) return 0;
  out[0] = STROKE_FORMAT_TAG;
  const unsigned bounds[4] = {q16(stroke->lo_step[0] - 0.0625f), q16(stroke->lo_step[1] - 0.0625f),
                              q16(stroke->hi_step[0] + 0.0625f), q16(stroke->hi_step[1] + 0.0625f)};
  for (int k = 0; k < 4; k++) put16(out + 1 + 2 * k, bounds[k]);
  const float lo_x = q16_value(bounds[0]), lo_z = q16_value(bounds[1]);
  const float hi_x = q16_value(bounds[2]), hi_z = q16_value(bounds[3]);

  const StrokePoint& first = stroke->points[0];
  const uint32_t qx = q24(first.x, extent), qz = q24(first.z, extent);
  put24(out + 9, qx);
  put24(out + 12, qz);
  unsigned samples = samples_field(first.samples);
  out[15] = e8(first.ex, samples);
  out[16] = e8(first.ez, samples >> 2);
  // Steps are taken from the position the decoder will have reached, so rounding errors do
  // not add up along the stroke.
  float px = q24_value(qx, extent), pz = q24_value(qz, extent);
  uint8_t* p = out + STROKE_HEADER_BYTES;
  for (int i = 1; i < n; i++, p += STROKE_POINT_BYTES) {
    const StrokePoint& point = stroke->points[i];
    p[0] = s8(point.x - px, lo_x, hi_x);
    p[1] = s8(point.z - pz, lo_z, hi_z);
    px += s8_value(p[0], lo_x, hi_x);
    pz += s8_value(p[1], lo_z, hi_z);
    samples = samples_field(point.samples);
    p[2] = e8(point.ex, samples);
    p[3] = e8(point.ez, samples >> 2);
  }
  return STROKE_HEADER_BYTES + STROKE_POINT_BYTES * (n - 1);
}

int erode_stroke_decode(const uint8_t* data, size_t length, float extent,
                        void (*point)(const StrokePoint& p, void* user), void* user) {
  if (!data || length < size_t(STROKE_HEADER_BYTES) || data[0] != STROKE_FORMAT_TAG || !(extent > 0)) return 0;
  const float lo_x = q16_value(get16(data + 1)), lo_z = q16_value(get16(data + 3));
  const float hi_x = q16_value(get16(data + 5)), hi_z = q16_value(get16(data + 7));
  float px = q24_value(get24(data + 9), extent), pz = q24_value(get24(data + 12), extent);
  int handed = 0;
  auto emit = [&](uint8_t bx, uint8_t bz) {
    const int32_t samples = int32_t((bx & 3) | (bz & 3) << 2);
    const StrokePoint p = {px, pz, e8_value(bx), e8_value(bz), samples > 0 ? samples : 1};
    // Steps may carry hostile data off the field; such points change nothing.
    if (!(px >= 0 && px < extent && pz >= 0 && pz < extent)) return;
    point(p, user);
    handed++;
  };
  emit(data[15], data[16]);
  const size_t more = (length - STROKE_HEADER_BYTES) / STROKE_POINT_BYTES;
  const uint8_t* p = data + STROKE_HEADER_BYTES;
  for (size_t i = 0; i < more; i++, p += STROKE_POINT_BYTES) {
    px += s8_value(p[0], lo_x, hi_x);
    pz += s8_value(p[1], lo_z, hi_z);
    emit(p[2], p[3]);
  }
  return handed;
}

void erode_stroke_apply(const uint8_t* data, size_t length, float extent) {
  erode_stroke_decode(data, length, extent, queue_point, nullptr);
}

void erode_stroke_submit(const uint8_t* data, int length, float extent) {
  if (submit_hook) {
    submit_hook(data, length);
  } else {
    erode_stroke_apply(data, size_t(length), extent);
  }
}

void wheel_erode(WheelState* wheel, ErodeStroke* stroke, const Terrain* terrain, bool front) {
  const float extent = terrain->extent;
  if (!(wheel->depth > 0)) {
    stroke_idle(stroke, extent);
    return;
  }
  const float cx = wheel->contact_point[0], cz = wheel->contact_point[2];
  const ErodeParams& p = terrain->tiles[terrain_tile_at(terrain, cx, cz)].erode;

  const dReal* v = dBodyGetLinearVel(wheel->body);
  const float speed = float(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
  const float horizontal = float(std::hypot(v[0], v[2]));
  // Unit direction of travel and the lateral direction to its left, on the ground plane.
  const float dx = horizontal > 0 ? float(v[0]) / horizontal : 0.0f;
  const float dz = horizontal > 0 ? float(v[2]) / horizontal : 0.0f;
  const float lx = -dz, lz = dx;
  const float speed_factor = ramp(speed, p.off_speed, p.on_speed);

  // The ground's force on the tyre, partly projected onto the ground plane.
  const dReal* f = wheel->feedback.f1;
  const Vec3f n = terrain_normal_at(terrain, cx, cz);
  const float n2 = n.x * n.x + n.y * n.y + n.z * n.z;
  const float along_n = n2 > 0 ? float(f[0] * n.x + f[1] * n.y + f[2] * n.z) / n2 : 0.0f;
  const float project = p.project_to_ground;
  float hx = (float(f[0]) - n.x * along_n * project) * speed_factor;
  float hz = (float(f[2]) - n.z * along_n * project) * speed_factor;

  const float slip = std::sqrt(wheel->slip_velocity[0] * wheel->slip_velocity[0] +
                               wheel->slip_velocity[1] * wheel->slip_velocity[1] +
                               wheel->slip_velocity[2] * wheel->slip_velocity[2]);
  const float s = ramp(slip, p.slip_lower, p.slip_upper);
  const float slip_scale = p.slip_base_scale + s * (p.slip_scale - p.slip_base_scale);
  hx *= slip_scale;
  hz *= slip_scale;
  const float lateral = (hx * lx + hz * lz) * (p.lateral_scale - 1);
  hx += lx * lateral;
  hz += lz * lateral;
  if (front) {
    hx *= p.front_scale;
    hz *= p.front_scale;
  }
  const float h2 = hx * hx + hz * hz;
  if (!(h2 > p.lower * p.lower) || !(h2 > 1.0f / 1024)) {
    stroke_idle(stroke, extent);
    return;
  }
  const float h = std::sqrt(h2);
  const float strength = 0.125f + 0.875f * ramp(h, p.lower, p.upper);
  stroke_sample(stroke, cx, cz, hx / h * strength, hz / h * strength, extent);
}

void bike_erode(Bike* bike, const Terrain* terrain) {
  wheel_erode(&bike->front, &bike->front_stroke, terrain, true);
  wheel_erode(&bike->rear, &bike->rear_stroke, terrain, false);
}

void erode_queue_process(Terrain* terrain, const float* local_xz, float strength) {
  ErodeQueue& q = erode_queue;
  if (q.deferred && q.defer_until < sim_tick) {
    q.deferred = false;
    local_xz = nullptr;
  }
  const int budget = q.count / 64 + 32;
  for (int done = 0; done < budget && q.count > 0; done++) {
    const ErodeQueueEntry entry = q.entries[q.read];
    if (local_xz) {
      const float dx = entry.x - local_xz[0], dz = entry.z - local_xz[1];
      // Ground right beside the local rider changes a little later, not under its wheels.
      if (dx * dx + dz * dz < ERODE_DEFER_DISTANCE * ERODE_DEFER_DISTANCE) {
        if (!q.deferred || q.defer_until > sim_tick + ERODE_DEFER_TICKS) q.defer_until = sim_tick + ERODE_DEFER_TICKS;
        q.deferred = true;
        return;
      }
    }
    q.read = (q.read + 1) % ERODE_QUEUE_SIZE;
    q.count--;
    erode_point(terrain, entry, strength);
    q.deferred = false;
  }
}

void erode_ground_restore(Terrain* terrain) {
  ErodeQueue& q = erode_queue;
  q.count = 0;
  q.read = 0;
  q.deferred = false;
  if (!q.ground_changed || !terrain->heights) return;
  q.ground_changed = false;
  Region region;
  for (int row = 0; row < terrain->grid_size; row++) {
    for (int col = 0; col < terrain->grid_size; col++) {
      const float base = terrain->base_heights[size_t(row) * size_t(terrain->grid_size) + size_t(col)];
      if (sample(terrain, col, row) == base) continue;
      terrain_set_height(terrain, col, row, base);
      region.add(col, row);
    }
  }
  region.mark(terrain);
}

float terrain_dig(Terrain* terrain, float x, float z, float radius, float amount) {
  if (amount == 0 || !std::isfinite(amount)) return 0;
  double volume = 0;
  Region region;
  footprint(terrain, x, z, radius, [&](int col, int row, float w) {
    terrain_set_height(terrain, col, row, sample(terrain, col, row) + amount * w);
    volume += double(amount) * w;
    region.add(col, row);
  });
  region.mark(terrain);
  return float(volume);
}

void terrain_deposit(Terrain* terrain, float x, float z, float radius, float volume) {
  if (volume == 0 || !std::isfinite(volume)) return;
  double total = 0;
  if (!footprint(terrain, x, z, radius, [&](int, int, float w) { total += w; })) return;
  const float per_weight = float(volume / std::max(total, 1.0));
  Region region;
  footprint(terrain, x, z, radius, [&](int col, int row, float w) {
    terrain_set_height(terrain, col, row, sample(terrain, col, row) + w * per_weight);
    region.add(col, row);
  });
  region.mark(terrain);
}
