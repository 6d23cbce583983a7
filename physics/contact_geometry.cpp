// Torus-triangle and sphere-triangle penetration tests.
#include "physics/contact_geometry.h"

#include <algorithm>
#include <limits>

namespace {

constexpr double NONE = -std::numeric_limits<double>::infinity();
// The corner after corner i around a triangle (a table: the remainder costs a division).
constexpr int NEXT[3] = {1, 2, 0};

// Any unit vector perpendicular to the unit vector a.
Vec3d any_perpendicular(Vec3d a) {
  Vec3d helper = std::fabs(a.x) < 0.6 ? Vec3d{1, 0, 0} : (std::fabs(a.y) < 0.6 ? Vec3d{0, 1, 0} : Vec3d{0, 0, 1});
  Vec3d p = cross(a, helper);
  return p * (1 / length(p));
}

// True when p (in the triangle's plane) lies inside the triangle or on its border.
bool inside(const GroundTriangle& t, Vec3d p) {
  const Vec3d* v = t.v;
  const double s0 = dot(cross(v[1] - v[0], p - v[0]), t.normal);
  const double s1 = dot(cross(v[2] - v[1], p - v[1]), t.normal);
  // Beyond one edge and within the next: outside whatever the third says.
  if ((s0 > 0 && s1 < 0) || (s0 < 0 && s1 > 0)) return false;
  const double s2 = dot(cross(v[0] - v[2], p - v[2]), t.normal);
  return (s0 >= 0 && s1 >= 0 && s2 >= 0) || (s0 <= 0 && s1 <= 0 && s2 <= 0);
}

// The point of the circle nearest to q.
Vec3d circle_point_near(Vec3d centre, Vec3d axle, double radius, Vec3d q) {
  Vec3d d = q - centre;
  Vec3d perp = d - axle * dot(d, axle);
  double len = length(perp);
  Vec3d dir = len > 1e-12 ? perp * (1 / len) : any_perpendicular(axle);
  return centre + dir * radius;
}

// Squared distance of q from the circle.
double circle_distance2(Vec3d centre, Vec3d axle, double radius, Vec3d q) {
  Vec3d d = q - centre;
  double h = dot(d, axle);
  double rho = length(d - axle * h) - radius;
  return rho * rho + h * h;
}

// A contact from the feature point `from` (on the triangle) to the point `to` of the other
// body, where the separation is `distance`; the triangle normal serves when they coincide.
ContactHit feature_hit(double radius, Vec3d from, Vec3d to, double distance, Vec3d fallback) {
  Vec3d normal = distance > 1e-12 ? (to - from) * (1 / distance) : fallback;
  return {radius - distance, from, normal};
}

// A lower bound on the distance between the circle and the segment a-b. A point q of the
// segment lies h from the circle's plane along the axle and rho from the centre within that
// plane, so sqrt(h² + (rho - ring)²) from the circle: the bound takes the smallest |h| and the
// smallest |rho - ring| over the segment, each on its own. Every circle point is also ring
// from the centre (the segment's nearest and farthest distances to the centre bound it), and
// the whole circle lies at least the plane distance of its lowest point above the segment's
// plane.
double edge_circle_lower_bound(Vec3d centre, Vec3d axle, double ring, Vec3d a, Vec3d b, double near_distance,
                               double plane_distance) {
  const Vec3d da = a - centre, db = b - centre;
  double far_distance = std::sqrt(std::max(dot(da, da), dot(db, db)));
  double radial = near_distance > ring ? near_distance - ring : (far_distance < ring ? ring - far_distance : 0);
  double ha = dot(da, axle), hb = dot(db, axle);
  double along = (ha > 0) == (hb > 0) ? std::min(std::fabs(ha), std::fabs(hb)) : 0;
  const Vec3d pa = da - axle * ha, pb = db - axle * hb, d = pb - pa;
  const double d2 = dot(d, d);
  const double t = d2 > 0 ? std::clamp(-dot(pa, d) / d2, 0.0, 1.0) : 0.0;
  const double rho_near = length(pa + d * t);
  const double rho_far = std::sqrt(std::max(dot(pa, pa), dot(pb, pb)));
  double in_plane = rho_near > ring ? rho_near - ring : (rho_far < ring ? ring - rho_far : 0);
  double split = std::sqrt(along * along + in_plane * in_plane);
  return std::max(std::max(radial, split), plane_distance);
}

}  // namespace

bool ground_triangle_prepare(GroundTriangle* t) {
  Vec3d n = cross(t->v[1] - t->v[0], t->v[2] - t->v[0]);
  double len = length(n);
  if (!(len > 1e-12)) return false;
  n = n * (1 / len);
  t->normal = n.y < 0 ? -n : n;
  return true;
}

Vec3d segment_closest_point(Vec3d p, Vec3d a, Vec3d b) {
  Vec3d ab = b - a;
  double len2 = dot(ab, ab);
  double t = len2 > 0 ? std::clamp(dot(p - a, ab) / len2, 0.0, 1.0) : 0.0;
  return a + ab * t;
}

// The squared distance to the circle along the segment has at most two local minima. It is
// sampled finer than a quarter of the radius, then the best sample's neighbourhood is
// narrowed by golden-section search; the ends are candidates of their own.
CircleSegmentApproach circle_segment_closest(Vec3d centre, Vec3d axle, double radius, Vec3d a, Vec3d b) {
  Vec3d ab = b - a;
  double len = length(ab);
  int steps = std::clamp(int(len / (0.25 * radius)) + 4, 4, 64);
  auto f = [&](double t) { return circle_distance2(centre, axle, radius, a + ab * t); };
  int best = 0;
  double best_value = f(0);
  for (int i = 1; i <= steps; i++) {
    double value = f(double(i) / steps);
    if (value < best_value) {
      best_value = value;
      best = i;
    }
  }
  double t_best = double(best) / steps;
  double lo = double(std::max(best - 1, 0)) / steps;
  double hi = double(std::min(best + 1, steps)) / steps;
  const double golden = 0.6180339887498949;
  double x1 = hi - golden * (hi - lo);
  double x2 = lo + golden * (hi - lo);
  double f1 = f(x1), f2 = f(x2);
  for (int k = 0; k < 28; k++) {
    if (f1 < f2) {
      hi = x2;
      x2 = x1;
      f2 = f1;
      x1 = hi - golden * (hi - lo);
      f1 = f(x1);
    } else {
      lo = x1;
      x1 = x2;
      f1 = f2;
      x2 = lo + golden * (hi - lo);
      f2 = f(x2);
    }
  }
  if (f1 < best_value) {
    best_value = f1;
    t_best = x1;
  }
  if (f2 < best_value) {
    best_value = f2;
    t_best = x2;
  }
  Vec3d q = a + ab * t_best;
  return {std::sqrt(best_value), circle_point_near(centre, axle, radius, q), q};
}

ContactHit torus_triangle(Vec3d centre, Vec3d axle, double ring, double tread, const GroundTriangle& t, double beat) {
  const Vec3d n = t.normal;
  // Lowest point of the tread circle relative to the plane.
  Vec3d u = -(n - axle * dot(n, axle));
  double u_len = length(u);
  u = u_len > 1e-9 ? u * (1 / u_len) : any_perpendicular(axle);
  Vec3d low = centre + u * ring;
  double distance = dot(low - t.v[0], n);
  // Only a feature that may come closer to the circle than this can touch the tread and beat
  // the deepest touch found so far; the others are not searched. The margin covers rounding.
  const double wanted = std::min(tread, tread - beat) * (1 + 1e-9) + 1e-9;
  // The whole tyre is above the plane, so nothing in the plane can touch it, or it is too far
  // above it to go deeper than beat anywhere in it.
  if (distance >= tread || distance >= wanted) return {NONE, {}, {}};
  if (inside(t, low - n * distance)) return {tread - distance, low - n * tread, n};

  ContactHit best = {NONE, {}, {}};
  double side[3];  // the corners' offsets from the circle's plane along the axle
  for (int i = 0; i < 3; i++) side[i] = dot(t.v[i] - centre, axle);
  for (int i = 0; i < 3; i++) {
    Vec3d a = t.v[i];
    Vec3d b = t.v[NEXT[i]];
    // An edge wholly on one side of the circle's plane is at least its nearer end's offset away.
    const double ha = side[i], hb = side[NEXT[i]];
    if ((ha > 0) == (hb > 0) && std::min(std::fabs(ha), std::fabs(hb)) >= wanted) continue;
    // No point of an edge whose nearest point is farther than ring + tread from the centre
    // can reach the tread.
    Vec3d nearest = segment_closest_point(centre, a, b);
    double near_distance = length(nearest - centre);
    if (near_distance >= ring + tread) continue;
    if (edge_circle_lower_bound(centre, axle, ring, a, b, near_distance, distance) >= wanted) continue;
    CircleSegmentApproach c = circle_segment_closest(centre, axle, ring, a, b);
    if (tread - c.distance > best.depth) {
      best = feature_hit(tread, c.segment_point, c.circle_point, c.distance, n);
    }
  }
  return best;
}

ContactHit sphere_triangle(Vec3d centre, double radius, const GroundTriangle& t) {
  const Vec3d n = t.normal;
  double distance = dot(centre - t.v[0], n);
  if (distance >= radius) return {NONE, {}, {}};
  if (inside(t, centre - n * distance)) return {radius - distance, centre - n * radius, n};

  ContactHit best = {NONE, {}, {}};
  for (int i = 0; i < 3; i++) {
    Vec3d q = segment_closest_point(centre, t.v[i], t.v[NEXT[i]]);
    double d = length(centre - q);
    if (radius - d > best.depth) best = feature_hit(radius, q, centre, d, n);
  }
  return best;
}
