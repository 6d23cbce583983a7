// Torus-triangle and sphere-triangle tests against brute force: the torus and sphere are
// sampled densely and the deepest penetration into random triangles is measured directly,
// with the wheel placed so its lowest point falls inside the face, just past an edge or just
// past a corner.
#include "physics/contact_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

#include <gtest/gtest.h>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double RING = 0.8333333;
constexpr double TREAD = 0.3333333;

Vec3d unit(Vec3d v) { return v * (1 / length(v)); }

double point_segment_distance(Vec3d p, Vec3d a, Vec3d b) {
  Vec3d ab = b - a;
  double t = std::clamp(dot(p - a, ab) / dot(ab, ab), 0.0, 1.0);
  return length(p - (a + ab * t));
}

// Barycentric inside test with a margin (negative margin widens the triangle).
bool inside_by(const GroundTriangle& t, Vec3d p, double margin) {
  for (int i = 0; i < 3; i++) {
    Vec3d a = t.v[i], b = t.v[(i + 1) % 3], c = t.v[(i + 2) % 3];
    Vec3d edge_normal = unit(cross(t.normal, b - a));
    if (dot(edge_normal, c - a) < 0) edge_normal = -edge_normal;
    if (dot(edge_normal, p - a) < margin) return false;
  }
  return true;
}

GroundTriangle random_triangle(std::mt19937& rng) {
  std::uniform_real_distribution<double> xz(-2.5, 2.5), y(-0.8, 0.8);
  for (;;) {
    GroundTriangle t = {{{xz(rng), y(rng), xz(rng)}, {xz(rng), y(rng), xz(rng)}, {xz(rng), y(rng), xz(rng)}}, {}};
    if (!ground_triangle_prepare(&t)) continue;
    // Height-field-like: steep but not vertical, and not sliver-thin.
    double area = length(cross(t.v[1] - t.v[0], t.v[2] - t.v[0])) / 2;
    if (t.normal.y > 0.3 && area > 1.0) return t;
  }
}

struct Wheel {
  Vec3d centre;
  Vec3d axle;
  Vec3d u, w;  // unit vectors spanning the wheel plane
};

Vec3d circle_point(const Wheel& wheel, double theta) {
  return wheel.centre + (wheel.u * std::cos(theta) + wheel.w * std::sin(theta)) * RING;
}

enum Case { FACE, EDGE, CORNER };

// A wheel whose lowest point lands in the face, just past an edge or just past a corner,
// at a height where it touches a little or just misses.
Wheel place_wheel(std::mt19937& rng, const GroundTriangle& t, Case place) {
  std::uniform_real_distribution<double> unit_range(0, 1), sym(-1, 1);
  Wheel wheel;
  wheel.axle = unit(Vec3d{1, 0.7 * sym(rng), 0.5 * sym(rng)});
  wheel.u = unit(cross(wheel.axle, Vec3d{0, 0, 1}));
  wheel.w = cross(wheel.axle, wheel.u);
  Vec3d target;
  int k = int(unit_range(rng) * 3) % 3;
  Vec3d a = t.v[k], b = t.v[(k + 1) % 3], c = t.v[(k + 2) % 3];
  Vec3d centroid = (t.v[0] + t.v[1] + t.v[2]) * (1.0 / 3);
  if (place == FACE) {
    double p = unit_range(rng), q = unit_range(rng);
    if (p + q > 1) p = 1 - p, q = 1 - q;
    target = centroid + ((a - centroid) * p + (b - centroid) * q) * 0.8;
  } else if (place == EDGE) {
    Vec3d out = unit(cross(b - a, t.normal));
    if (dot(out, c - a) > 0) out = -out;
    target = a + (b - a) * (0.2 + 0.6 * unit_range(rng)) + out * (0.05 + 0.3 * unit_range(rng));
  } else {
    target = a + unit(a - centroid) * (0.05 + 0.3 * unit_range(rng));
  }
  // The lowest point of the circle relative to the plane sits at the target, lifted by a
  // clearance between -0.25 and +0.1 of the tread radius measured along the plane normal.
  Vec3d down = -(t.normal - wheel.axle * dot(t.normal, wheel.axle));
  down = unit(down);
  double clearance = TREAD * (1 - 0.25 * unit_range(rng) - 0.1 * sym(rng));
  double along_normal = dot(target - t.v[0], t.normal);
  Vec3d foot = target - t.normal * along_normal + t.normal * clearance;
  wheel.centre = foot - down * RING;
  return wheel;
}

TEST(ContactGeometry, TorusTriangleMatchesSampling) {
  std::mt19937 rng(12345);
  const int angles = 3600;
  int seen[3] = {0, 0, 0};  // face, edge, corner results that touched
  for (int n = 0; n < 150; n++) {
    GroundTriangle t = random_triangle(rng);
    Case place = Case(n % 3);
    Wheel wheel = place_wheel(rng, t, place);
    ContactHit hit = torus_triangle(wheel.centre, wheel.axle, RING, TREAD, t);

    // Brute force: the lowest sampled point of the tread circle, and the closest sampled
    // approach of the tread circle to the triangle's edges.
    double lowest = std::numeric_limits<double>::infinity();
    Vec3d lowest_point{};
    double edge_distance = std::numeric_limits<double>::infinity();
    for (int s = 0; s < angles; s++) {
      Vec3d p = circle_point(wheel, 2 * PI * s / angles);
      double h = dot(p - t.v[0], t.normal);
      if (h < lowest) lowest = h, lowest_point = p;
      for (int e = 0; e < 3; e++) {
        edge_distance = std::min(edge_distance, point_segment_distance(p, t.v[e], t.v[(e + 1) % 3]));
      }
    }
    Vec3d foot = lowest_point - t.normal * lowest;
    SCOPED_TRACE(testing::Message() << "case " << n);
    if (lowest >= TREAD) {
      EXPECT_LE(hit.depth, 1e-6);
      continue;
    }
    if (inside_by(t, foot, 1e-3)) {
      // Face: the deepest sampled point of the torus surface below the plane, over the face.
      double deepest = -std::numeric_limits<double>::infinity();
      for (int s = 0; s < 360; s++) {
        Vec3d c = circle_point(wheel, 2 * PI * s / 360);
        Vec3d radial = unit(c - wheel.centre);
        for (int k = 0; k < 72; k++) {
          double phi = 2 * PI * k / 72;
          Vec3d surface = c + (radial * std::cos(phi) + wheel.axle * std::sin(phi)) * TREAD;
          double below = -dot(surface - t.v[0], t.normal);
          if (below > deepest && inside_by(t, surface + t.normal * (-below), 0)) deepest = below;
        }
      }
      EXPECT_NEAR(hit.depth, TREAD - lowest, 1e-5);
      EXPECT_NEAR(hit.depth, deepest, 2e-3);
      EXPECT_NEAR(dot(hit.normal, t.normal), 1, 1e-9);
      seen[FACE] += hit.depth > 0;
    } else if (!inside_by(t, foot, -1e-3)) {
      if (TREAD - edge_distance <= 0 && hit.depth <= 0) continue;  // apart: no contact either way
      EXPECT_NEAR(hit.depth, TREAD - edge_distance, 1e-5);
      if (hit.depth > 1e-4) {
        // The point lies on an edge and the normal leads from it to the tread circle, at the
        // measured distance.
        double on_edge = 1;
        for (int e = 0; e < 3; e++) {
          on_edge = std::min(on_edge, point_segment_distance(hit.point, t.v[e], t.v[(e + 1) % 3]));
        }
        EXPECT_LT(on_edge, 1e-9);
        EXPECT_NEAR(length(hit.normal), 1, 1e-9);
        Vec3d on_circle = hit.point + hit.normal * (TREAD - hit.depth);
        Vec3d d = on_circle - wheel.centre;
        double axial = dot(d, wheel.axle);
        EXPECT_NEAR(axial, 0, 1e-4);
        EXPECT_NEAR(length(d - wheel.axle * axial), RING, 1e-4);
        bool corner = false;
        for (const Vec3d& v : t.v) corner = corner || length(v - hit.point) < 1e-6;
        seen[corner ? CORNER : EDGE]++;
      }
    }
  }
  // The placements reached every kind of contact several times.
  EXPECT_GT(seen[FACE], 10);
  EXPECT_GT(seen[EDGE], 10);
  EXPECT_GT(seen[CORNER], 5);
}

TEST(ContactGeometry, SphereTriangleMatchesSampling) {
  std::mt19937 rng(777);
  std::uniform_real_distribution<double> sym(-1, 1), unit_range(0, 1);
  const int edge_samples = 5000;
  int seen[3] = {0, 0, 0};
  for (int n = 0; n < 150; n++) {
    GroundTriangle t = random_triangle(rng);
    double radius = 0.2 + 0.5 * unit_range(rng);
    Vec3d centroid = (t.v[0] + t.v[1] + t.v[2]) * (1.0 / 3);
    Vec3d a = t.v[n % 3], b = t.v[(n + 1) % 3];
    Vec3d target = n % 3 == 0 ? centroid + (a - centroid) * (0.8 * unit_range(rng))
                   : n % 3 == 1 ? a + (b - a) * unit_range(rng) + unit(cross(b - a, t.normal)) * (0.3 * sym(rng))
                                : a + unit(a - centroid) * (0.3 * unit_range(rng));
    Vec3d centre = target + t.normal * (radius * (1.1 - 0.4 * unit_range(rng))) + Vec3d{0.05, 0, 0} * sym(rng);
    ContactHit hit = sphere_triangle(centre, radius, t);

    double height = dot(centre - t.v[0], t.normal);
    Vec3d foot = centre - t.normal * height;
    SCOPED_TRACE(testing::Message() << "case " << n);
    if (height >= radius) {
      EXPECT_LE(hit.depth, 0);
      continue;
    }
    if (inside_by(t, foot, 1e-3)) {
      // Deepest sampled sphere surface point below the plane and over the face.
      double deepest = -std::numeric_limits<double>::infinity();
      const int points = 8000;
      for (int k = 0; k < points; k++) {
        // Fibonacci points cover the sphere evenly.
        double z = 1 - 2 * (k + 0.5) / points;
        double r = std::sqrt(1 - z * z);
        double phi = k * PI * (3 - std::sqrt(5.0));
        Vec3d s = centre + Vec3d{r * std::cos(phi), z, r * std::sin(phi)} * radius;
        double below = -dot(s - t.v[0], t.normal);
        if (below > deepest && inside_by(t, s + t.normal * below, 0)) deepest = below;
      }
      EXPECT_NEAR(hit.depth, radius - height, 1e-9);
      EXPECT_NEAR(hit.depth, deepest, 2e-3);
      seen[FACE] += hit.depth > 0;
    } else if (!inside_by(t, foot, -1e-3)) {
      double nearest = std::numeric_limits<double>::infinity();
      Vec3d nearest_point{};
      for (int e = 0; e < 3; e++) {
        for (int s = 0; s <= edge_samples; s++) {
          Vec3d p = t.v[e] + (t.v[(e + 1) % 3] - t.v[e]) * (double(s) / edge_samples);
          double d = length(p - centre);
          if (d < nearest) nearest = d, nearest_point = p;
        }
      }
      if (radius - nearest <= 0 && hit.depth <= 0) continue;
      EXPECT_NEAR(hit.depth, radius - nearest, 1e-3);
      EXPECT_LT(length(hit.point - nearest_point), 1e-2);
      EXPECT_NEAR(dot(hit.normal, unit(centre - hit.point)), 1, 1e-9);
      bool corner = false;
      for (const Vec3d& v : t.v) corner = corner || length(v - hit.point) < 1e-9;
      seen[corner ? CORNER : EDGE] += hit.depth > 0;
    }
  }
  EXPECT_GT(seen[FACE], 10);
  EXPECT_GT(seen[EDGE], 10);
  EXPECT_GT(seen[CORNER], 5);
}

// The torus search without skipping any edge: the face case, else the closest approach to
// every edge within reach of the tread.
ContactHit unpruned_torus_triangle(const Wheel& wheel, const GroundTriangle& t) {
  const Vec3d n = t.normal;
  Vec3d low = wheel.centre + unit(-(n - wheel.axle * dot(n, wheel.axle))) * RING;
  double distance = dot(low - t.v[0], n);
  ContactHit best = {-std::numeric_limits<double>::infinity(), {}, {}};
  if (distance >= TREAD) return best;
  if (inside_by(t, low - n * distance, 0)) return {TREAD - distance, low - n * TREAD, n};
  for (int i = 0; i < 3; i++) {
    Vec3d a = t.v[i], b = t.v[(i + 1) % 3];
    if (length(segment_closest_point(wheel.centre, a, b) - wheel.centre) >= RING + TREAD) continue;
    CircleSegmentApproach c = circle_segment_closest(wheel.centre, wheel.axle, RING, a, b);
    if (TREAD - c.distance > best.depth) {
      Vec3d normal = c.distance > 1e-12 ? (c.circle_point - c.segment_point) * (1 / c.distance) : n;
      best = {TREAD - c.distance, c.segment_point, normal};
    }
  }
  return best;
}

// Edges that cannot touch, or cannot beat the deepest touch found so far, are skipped: every
// touch deeper than the bar is still found bit for bit, and none is claimed that is not.
TEST(ContactGeometry, SkippedEdgesChangeNoTouchThatCounts) {
  std::mt19937 rng(777);
  int compared = 0;
  for (int n = 0; n < 600; n++) {
    GroundTriangle t = random_triangle(rng);
    Wheel wheel = place_wheel(rng, t, Case(n % 3));
    const ContactHit full = unpruned_torus_triangle(wheel, t);
    const double inf = std::numeric_limits<double>::infinity();
    for (double beat : {-inf, 0.0, 0.5 * full.depth, full.depth, 1.5 * full.depth}) {
      SCOPED_TRACE(testing::Message() << "case " << n << " beat " << beat);
      const ContactHit hit = torus_triangle(wheel.centre, wheel.axle, RING, TREAD, t, beat);
      if (full.depth > 0 && full.depth > beat) {
        compared++;
        EXPECT_EQ(hit.depth, full.depth);
        for (auto [got, want] : {std::pair{hit.point, full.point}, std::pair{hit.normal, full.normal}}) {
          EXPECT_EQ(got.x, want.x);
          EXPECT_EQ(got.y, want.y);
          EXPECT_EQ(got.z, want.z);
        }
      } else {
        EXPECT_FALSE(hit.depth > 0 && hit.depth > beat) << hit.depth;
      }
    }
  }
  EXPECT_GT(compared, 300);
}

// A wheel standing on a flat triangle at height ring + tread - 0.1 sinks 0.1 into it; an axle
// pointing straight at the plane still finds a point of the tread circle.
TEST(ContactGeometry, TorusOnFlatGround) {
  GroundTriangle t = {{{-10, 0, -10}, {10, 0, -10}, {0, 0, 10}}, {}};
  ASSERT_TRUE(ground_triangle_prepare(&t));
  ContactHit hit = torus_triangle({0, RING + TREAD - 0.1, 0}, {1, 0, 0}, RING, TREAD, t);
  EXPECT_NEAR(hit.depth, 0.1, 1e-12);
  EXPECT_NEAR(hit.point.y, -0.1, 1e-12);
  EXPECT_LE(torus_triangle({0, RING + TREAD, 0}, {1, 0, 0}, RING, TREAD, t).depth, 0);
  ContactHit flat = torus_triangle({0, TREAD - 0.05, 0}, {0, 1, 0}, RING, TREAD, t);
  EXPECT_NEAR(flat.depth, 0.05, 1e-12);
}

}  // namespace
