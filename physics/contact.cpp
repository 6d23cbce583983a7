// Ground contacts of wheels and shapes, tyre grip and rolling resistance, sphere contacts
// against foreign shapes, and bike-bike collisions with their invulnerability rules.
#include "physics/contact.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/rider.h"
#include "physics/shape.h"
#include "physics/steering.h"
#include "physics/world.h"
#include "track/terrain.h"

namespace {

constexpr double PI = 3.14159265358979323846;
// Farther out than this (ft) the ground is not tested: cell indices must stay in int range.
constexpr double GROUND_REACH = 1e7;
// Margin (ft) of the exact bounds that skip ground tests, against the rounding of the tests.
constexpr double CULL_MARGIN = 1e-5;

Vec3d to_vec(const dReal* v) { return {v[0], v[1], v[2]}; }

// World point of body-relative point p for a body at pos with rotation rot (ODE 3x4 rows).
double world_y(const dReal* pos, const dReal* rot, const float* p) {
  return rot[4] * p[0] + rot[5] * p[1] + rot[6] * p[2] + pos[1];
}
Vec3d world_point(const dReal* pos, const dReal* rot, const float* p) {
  return {rot[0] * p[0] + rot[1] * p[1] + rot[2] * p[2] + pos[0], world_y(pos, rot, p),
          rot[8] * p[0] + rot[9] * p[1] + rot[10] * p[2] + pos[2]};
}

// Height sample with indices clamped to the grid.
double ground_height(const Terrain* t, int col, int row) {
  int last = t->grid_size - 1;
  col = std::clamp(col, 0, last);
  row = std::clamp(row, 0, last);
  return t->heights[size_t(row) * size_t(t->grid_size) + size_t(col)];
}

// The corners of cell (i, j), indexed 0 (i, j), 1 (i+1, j), 2 (i, j+1), 3 (i+1, j+1).
struct CellCorners {
  Vec3d c[4];
  double top;  // the highest of their heights
};
// The corners of cell (i, j) at spacing g from their heights: near[0..1] along row j and
// far[0..1] along row j + 1.
CellCorners corners_from(double g, int i, int j, const double near[2], const double far[2]) {
  CellCorners out = {{{i * g, near[0], j * g}, {(i + 1) * g, near[1], j * g}, {i * g, far[0], (j + 1) * g},
                      {(i + 1) * g, far[1], (j + 1) * g}},
                     0};
  out.top = std::max(std::max(out.c[0].y, out.c[1].y), std::max(out.c[2].y, out.c[3].y));
  return out;
}
CellCorners cell_corners(const Terrain* t, int i, int j) {
  const double near[2] = {ground_height(t, i, j), ground_height(t, i + 1, j)};
  const double far[2] = {ground_height(t, i, j + 1), ground_height(t, i + 1, j + 1)};
  return corners_from(t->spacing, i, j, near, far);
}

// Corners of the two triangles of cell (i, j); the diagonal alternates like a chess board.
constexpr int TRIANGLE_CORNERS[2][2][3] = {{{0, 1, 3}, {0, 2, 3}}, {{0, 1, 2}, {3, 2, 1}}};
const int* triangle_corners(int i, int j, int k) { return TRIANGLE_CORNERS[(i + j) & 1][k]; }

// Triangle k of a cell; false when it could not be prepared (never for a positive spacing).
bool cell_triangle(const CellCorners& corners, const int* index, GroundTriangle* out) {
  *out = {{corners.c[index[0]], corners.c[index[1]], corners.c[index[2]]}, {}};
  return ground_triangle_prepare(out);
}

// A block of cells: columns i0..i1, rows j0..j1.
struct CellRange {
  int i0, i1, j0, j1;
};

// The corners of a range of cells, each read once, for searches that visit every cell of it
// (neighbouring cells share corners). Ranges wider than the table read the grid per cell.
constexpr int CORNER_SPAN = 6;
struct CornerTable {
  const Terrain* terrain;
  int i0, j0;
  bool kept;
  double heights[CORNER_SPAN][CORNER_SPAN];  // [row - j0][column - i0]
};
void corner_table_fill(CornerTable* table, const Terrain* t, const CellRange& r) {
  table->terrain = t;
  table->i0 = r.i0;
  table->j0 = r.j0;
  const int columns = r.i1 - r.i0 + 2, rows = r.j1 - r.j0 + 2;
  table->kept = columns <= CORNER_SPAN && rows <= CORNER_SPAN;
  if (!table->kept) return;
  for (int row = 0; row < rows; row++) {
    for (int col = 0; col < columns; col++) table->heights[row][col] = ground_height(t, r.i0 + col, r.j0 + row);
  }
}
// cell_corners of cell (i, j) of the table's range.
CellCorners table_corners(const CornerTable& table, int i, int j) {
  if (!table.kept) return cell_corners(table.terrain, i, j);
  return corners_from(table.terrain->spacing, i, j, table.heights[j - table.j0] + (i - table.i0),
                      table.heights[j + 1 - table.j0] + (i - table.i0));
}
// The cells overlapping the square [x - reach, x + reach] x [z - reach, z + reach]; false when
// the centre is too far out or not a number.
bool cell_range(const Terrain* t, Vec3d centre, double reach, CellRange* out) {
  if (!(std::fabs(centre.x) < GROUND_REACH && std::fabs(centre.z) < GROUND_REACH && std::isfinite(centre.y))) {
    return false;
  }
  const double g = t->spacing;
  *out = {int(std::floor((centre.x - reach) / g)), int(std::ceil((centre.x + reach) / g)) - 1,
          int(std::floor((centre.z - reach) / g)), int(std::ceil((centre.z + reach) / g)) - 1};
  return true;
}

// The highest height sample at the corners of a range of cells.
double highest_corner(const Terrain* t, const CellRange& r) {
  const int last = t->grid_size - 1;
  const int c0 = std::clamp(r.i0, 0, last), c1 = std::clamp(r.i1 + 1, 0, last);
  const int r0 = std::clamp(r.j0, 0, last), r1 = std::clamp(r.j1 + 1, 0, last);
  float top = -std::numeric_limits<float>::infinity();
  for (int row = r0; row <= r1; row++) {
    const float* line = t->heights + size_t(row) * size_t(t->grid_size);
    for (int col = c0; col <= c1; col++) top = std::max(top, line[col]);
  }
  return top;
}

// Deepest hit of a test over every cell overlapping the square [x - reach, x + reach] x
// [z - reach, z + reach]; the first of equally deep hits in row order wins.
template <typename Test>
ContactHit deepest_over_cells(const Terrain* t, Vec3d centre, double reach, Test test) {
  ContactHit best = {-std::numeric_limits<double>::infinity(), {}, {}};
  CellRange r;
  if (!cell_range(t, centre, reach, &r)) return best;
  const double lowest = centre.y - reach;
  for (int j = r.j0; j <= r.j1; j++) {
    for (int i = r.i0; i <= r.i1; i++) {
      const CellCorners corners = cell_corners(t, i, j);
      // A cell wholly below the lowest reach of the body cannot touch it.
      if (corners.top < lowest) continue;
      for (int k = 0; k < 2; k++) {
        GroundTriangle triangle;
        if (!cell_triangle(corners, triangle_corners(i, j, k), &triangle)) continue;
        ContactHit hit = test(triangle);
        if (hit.depth > best.depth) best = hit;
      }
    }
  }
  return best;
}

// The wheel's deepest touch of the ground: the same hit, bit for bit, as testing every triangle
// of deepest_over_cells with the torus test, with far fewer tests. The torus test with a bar
// (beat) is exact whenever it finds deeper than the bar and never finds deeper than the exact
// test; so a bar just below the touch of the triangles under the tread circle, tested first,
// leaves every triangle that can be deepest exact, and the first deepest still wins. Triangles
// that provably cannot touch deeper than the bar are not even built.
ContactHit wheel_deepest(const Terrain* t, Vec3d centre, Vec3d axle, double ring, double tread) {
  const double none = -std::numeric_limits<double>::infinity();
  ContactHit best = {none, {}, {}};
  const double reach = ring + tread;
  CellRange r;
  if (!cell_range(t, centre, reach, &r)) return best;
  const double lowest = centre.y - reach;
  const auto test = [&](const GroundTriangle& triangle, double beat) {
    return torus_triangle(centre, axle, ring, tread, triangle, beat);
  };
  CornerTable table;
  corner_table_fill(&table, t, r);

  // First the cell under the tread circle's lowest point on level ground.
  int first_i = r.i0 - 1, first_j = r.j0 - 1;
  ContactHit first_hits[2] = {{none, {}, {}}, {none, {}, {}}};
  double bar = none;
  {
    Vec3d down = axle * axle.y - Vec3d{0, 1, 0};
    const double down_length = length(down);
    const Vec3d low = down_length > 1e-9 ? centre + down * (ring / down_length) : centre;
    const double g = t->spacing;
    const double ci = std::floor(low.x / g), cj = std::floor(low.z / g);
    if (ci >= r.i0 && ci <= r.i1 && cj >= r.j0 && cj <= r.j1) {
      first_i = int(ci);
      first_j = int(cj);
      const CellCorners corners = table_corners(table, first_i, first_j);
      // The triangle under the point goes first: it usually holds the touch, and the bar it
      // sets spares the other one's edge searches.
      const double fx = low.x / g - ci, fz = low.z / g - cj;
      const bool second_first = ((first_i + first_j) & 1) == 0 ? fz > fx : fx + fz > 1;
      for (int n = 0; n < 2 && !(corners.top < lowest); n++) {
        const int k = n ^ int(second_first);
        GroundTriangle triangle;
        if (!cell_triangle(corners, triangle_corners(first_i, first_j, k), &triangle)) continue;
        first_hits[k] = test(triangle, bar);
        if (first_hits[k].depth > 0) bar = std::max(bar, first_hits[k].depth * (1 - 1e-6));
      }
    }
  }

  // Ground whose highest point is this low lies below the whole tread circle (a leaning wheel's
  // circle reaches down less than its ring radius): no triangle's plane there can have the
  // circle's lowest point under it, and the tyre reaches down to lowest_tyre.
  const double circle_low = centre.y - ring * std::sqrt(std::max(0.0, 1 - axle.y * axle.y));
  const double below_circle = circle_low - CULL_MARGIN;
  const double lowest_tyre = circle_low - tread;
  const double slab = tread + CULL_MARGIN;
  for (int j = r.j0; j <= r.j1; j++) {
    for (int i = r.i0; i <= r.i1; i++) {
      const CellCorners corners = table_corners(table, i, j);
      if (corners.top < lowest) continue;
      if (i == first_i && j == first_j) {
        for (const ContactHit& hit : first_hits) {
          if (hit.depth > best.depth) best = hit;
        }
        continue;
      }
      double side[4];  // offsets of the corners along the axle
      for (int c = 0; c < 4; c++) side[c] = dot(corners.c[c] - centre, axle);
      for (int k = 0; k < 2; k++) {
        const int* index = triangle_corners(i, j, k);
        const double beat = std::max(best.depth, bar);
        const double top = std::max(std::max(corners.c[index[0]].y, corners.c[index[1]].y), corners.c[index[2]].y);
        if (top <= below_circle) {
          // Below the circle, a triangle wholly beside the tyre's slab (|offset| <= tread along
          // the axle) cannot touch it, and none goes deeper than its top above the tyre's
          // lowest point.
          const double s0 = side[index[0]], s1 = side[index[1]], s2 = side[index[2]];
          if ((s0 > slab && s1 > slab && s2 > slab) || (s0 < -slab && s1 < -slab && s2 < -slab)) continue;
          if (top - lowest_tyre + CULL_MARGIN < beat) continue;
        }
        GroundTriangle triangle;
        if (!cell_triangle(corners, index, &triangle)) continue;
        ContactHit hit = test(triangle, beat);
        if (hit.depth > best.depth) best = hit;
      }
    }
  }
  return best;
}

Vec3d point_velocity(dBodyID body, Vec3d p) {
  if (!body) return {0, 0, 0};
  dVector3 v;
  dBodyGetPointVel(body, p.x, p.y, p.z, v);
  return to_vec(v);
}

void set3(float* out, Vec3d v) {
  out[0] = float(v.x);
  out[1] = float(v.y);
  out[2] = float(v.z);
}

void clear_contact(WheelState* wheel) {
  wheel->depth = 0;
  wheel->on_ground = false;
}

Vec3d body_axis_x(dBodyID body) {
  const dReal* r = dBodyGetRotation(body);
  return {r[0], r[4], r[8]};
}

// Counter changes of a bike-bike contact: only a counter that is not negative is raised and
// only a negative one is lowered.
void raise_counter(Bike* bike, float at_least) {
  if (bike->invulnerability >= 0) bike->invulnerability = std::max(bike->invulnerability, at_least);
}
void lower_negative_counter(Bike* bike, float at_most) {
  if (bike->invulnerability < 0) bike->invulnerability = std::min(bike->invulnerability, at_most);
}

// The bike's reach from its frame position: every body with its shape or tyre.
double reach_from(const Bike* bike, Vec3d frame) {
  double reach = 0;
  for (int i = 0; i < BODY_COUNT; i++) {
    double part = bike->shapes[i] ? bike->shapes[i]->bounding_radius : 0;
    if (i == BODY_FRONT_WHEEL) part = std::max(part, double(bike->front.ring_radius + bike->front.tread_radius));
    if (i == BODY_REAR_WHEEL) part = std::max(part, double(bike->rear.ring_radius + bike->rear.tread_radius));
    reach = std::max(reach, length(to_vec(dBodyGetPosition(bike->bodies[i])) - frame) + part);
  }
  return reach;
}

}  // namespace

double bike_reach(const Bike* bike) {
  return reach_from(bike, to_vec(dBodyGetPosition(bike->bodies[BODY_FRAME])));
}

bool bike_out_of_reach(const Bike* bike, double reach, const dReal* position, double bound) {
  const Vec3d d = to_vec(position) - to_vec(dBodyGetPosition(bike->bodies[BODY_FRAME]));
  // The parts compare against float sums of their radii: a relative margin well above float
  // rounding keeps every part that could pass its own test.
  const double apart = (reach + bound) * (1 + 1e-6) + 1e-6;
  return dot(d, d) >= apart * apart;
}

float arcade_friction_factor(float roll) {
  return 1 - 0.375f * std::min(1.0f, 4 * std::fabs(roll) / float(PI));
}

float friction_at(const FrictionPoint* curve, float slip2) {
  int i = 0;
  while (i < TILE_CURVE_POINTS && curve[i].speed != 0 && curve[i].speed * curve[i].speed <= slip2) i++;
  if (i == 0) return curve[0].coefficient;
  if (i < TILE_CURVE_POINTS && curve[i].speed > 0) {
    float s0 = curve[i - 1].speed * curve[i - 1].speed;
    float s1 = curve[i].speed * curve[i].speed;
    float t = std::clamp((slip2 - s0) / (s1 - s0), 0.0f, 1.0f);
    return curve[i - 1].coefficient + t * (curve[i].coefficient - curve[i - 1].coefficient);
  }
  return curve[i - 1].coefficient;
}

void roll_resist_at(const RollResistPoint* curve, float speed, float* a, float* b) {
  int j = 0;
  while (j < TILE_CURVE_POINTS && curve[j].speed != 0 && curve[j].speed <= speed) j++;
  if (j == 0) {
    *a = curve[0].a;
    *b = curve[0].b;
  } else if (j < TILE_CURVE_POINTS && curve[j].speed > 0) {
    float t = std::clamp((speed - curve[j - 1].speed) / (curve[j].speed - curve[j - 1].speed), 0.0f, 1.0f);
    *a = curve[j - 1].a + t * (curve[j].a - curve[j - 1].a);
    *b = curve[j - 1].b + t * (curve[j].b - curve[j - 1].b);
  } else {
    *a = curve[j - 1].a;
    *b = curve[j - 1].b;
  }
}

Vec3d wheel_normal_fix(Vec3d n) {
  if (n.y < 0) {
    if (n.x * n.x + n.z * n.z >= 1.0 / 1024) {
      n.y = 0;
    } else {
      n = {0, 1, 0};
    }
  }
  return n * (1 / length(n));
}

double sphere_contact_stiffness(double k1, double k2, double depth) {
  double k = std::min(k1, k2);
  return k * depth > SPHERE_FORCE_CAP ? SPHERE_FORCE_CAP / depth : k;
}

TyreSpring tyre_spring(double depth, double tread) {
  double q = std::min(depth / tread, 1.0);
  double q3 = q * q * q;
  return {24000 * q3 + 1000, 2300 * q3 + 200};
}

namespace {

// The wheel's deepest touch of the ground, written into its contact state (cleared when it
// does not touch). The hit's normal is the fixed one.
bool wheel_ground_search(const Terrain* terrain, WheelState* wheel, ContactHit* out) {
  const double ring = wheel->ring_radius;
  const double tread = wheel->tread_radius;
  const Vec3d centre = to_vec(dBodyGetPosition(wheel->body));
  const Vec3d axle = body_axis_x(wheel->body);
  ContactHit hit = wheel_deepest(terrain, centre, axle, ring, tread);
  if (!(hit.depth > 0)) {
    clear_contact(wheel);
    return false;
  }
  hit.normal = wheel_normal_fix(hit.normal);
  set3(wheel->contact_point, hit.point);
  set3(wheel->contact_normal, hit.normal);
  set3(wheel->slip_velocity, point_velocity(wheel->body, hit.point));
  wheel->depth = float(hit.depth);
  wheel->on_ground = true;
  *out = hit;
  return true;
}

}  // namespace

bool wheel_ground_probe(const Terrain* terrain, WheelState* wheel) {
  ContactHit hit;
  return wheel_ground_search(terrain, wheel, &hit);
}

bool wheel_ground_contact(const Terrain* terrain, WheelState* wheel, float friction_factor) {
  const double tread = wheel->tread_radius;
  const Vec3d axle = body_axis_x(wheel->body);
  ContactHit hit;
  if (!wheel_ground_search(terrain, wheel, &hit)) return false;
  const Vec3d normal = hit.normal;
  const Vec3d slip = point_velocity(wheel->body, hit.point);

  const GroundTile& tile = terrain->tiles[terrain_tile_at(terrain, float(hit.point.x), float(hit.point.z))];
  double mu = friction_at(tile.friction, float(dot(slip, slip))) * friction_factor;
  TyreSpring spring = tyre_spring(hit.depth, tread);

  // Friction across the slip while sliding, otherwise across the axle.
  Vec3d dir = cross(normal, slip);
  if (dot(dir, dir) < 1.0 / 1024) dir = cross(axle, normal);
  double dir2 = dot(dir, dir);
  if (dir2 > 0) dir = dir * (1 / std::sqrt(dir2));
  dJointID joint = make_contact(wheel->body, nullptr, hit.point, normal, hit.depth, mu, spring.k, spring.c,
                                dir2 > 0 ? &dir : nullptr);
  dJointSetFeedback(joint, &wheel->feedback);

  // Rolling resistance against the motion along the ground, fading out below 1 ft/s.
  Vec3d v = to_vec(dBodyGetLinearVel(wheel->body));
  v = v - normal * dot(v, normal);
  double p = length(v);
  float a, b;
  roll_resist_at(tile.roll_resist, float(p), &a, &b);
  double q = std::min(hit.depth / tread, 1.0);
  double resist = a + (b - a) * q;
  Vec3d direction = p > 1 ? v * (1 / p) : v;
  dBodyAddForce(wheel->body, -resist * direction.x, -resist * direction.y, -resist * direction.z);
  return true;
}

bool shape_ground_contacts(const Shape* shape, dBodyID body, const dReal* position, const dReal* rotation,
                           const Terrain* terrain) {
  if (!shape) return false;
  // Every sphere lies within the bounding sphere around the body's position: when no cell
  // under that reaches up to its lowest point, no sphere's search would test a triangle.
  const Vec3d body_position = to_vec(position);
  const double bound = shape->bounding_radius * (1 + 1e-6) + CULL_MARGIN;
  CellRange range;
  const double highest = cell_range(terrain, body_position, bound, &range)
                             ? highest_corner(terrain, range)
                             : std::numeric_limits<double>::infinity();
  if (highest < body_position.y - bound) return false;
  // A sphere whose lowest point is above all of that ground tests no triangle either.
  bool touched = false;
  for (int s = 0; s < shape->sphere_count; s++) {
    const ShapeSphere& sphere = shape->spheres[s];
    const double radius = sphere.radius;
    // The height alone decides most spheres.
    if (highest < world_y(position, rotation, sphere.centre) - radius - CULL_MARGIN) continue;
    const Vec3d centre = world_point(position, rotation, sphere.centre);
    ContactHit hit = deepest_over_cells(terrain, centre, radius, [&](const GroundTriangle& triangle) {
      return sphere_triangle(centre, radius, triangle);
    });
    if (!(hit.depth > 0)) continue;
    make_contact(body, nullptr, hit.point, hit.normal, hit.depth, sphere.friction, SHAPE_GROUND_STIFFNESS,
                 SHAPE_GROUND_DAMPING, nullptr);
    touched = true;
  }
  return touched;
}

bool bike_ground_contacts(Bike* bike, const Terrain* terrain) {
  float friction_factor = (bike->setup.options & OPTION_ARCADE) ? arcade_friction_factor(roll_angle(bike)) : 1.0f;
  bool touched = wheel_ground_contact(terrain, &bike->front, friction_factor);
  touched = wheel_ground_contact(terrain, &bike->rear, friction_factor) || touched;

  bool body_touched = false;
  bool rider_touched = false;
  for (int part : {BODY_FRAME, BODY_STEERING, BODY_FORK_LOWER, BODY_SWINGARM, BODY_RIDER}) {
    dBodyID body = bike->bodies[part];
    if (shape_ground_contacts(bike->shapes[part], body, dBodyGetPosition(body), dBodyGetRotation(body), terrain)) {
      body_touched = true;
      if (part == BODY_RIDER) rider_touched = true;
    }
  }
  // An upside-down rider hitting the ground at more than 5 ft/s crashes, unless already down
  // or protected by a negative invulnerability counter.
  if (rider_touched && !bike_crashed(bike) && bike->invulnerability >= 0) {
    dBodyID rider = bike->bodies[BODY_RIDER];
    const dReal* v = dBodyGetLinearVel(rider);
    if (dBodyGetRotation(rider)[5] < 0 && v[0] * v[0] + v[1] * v[1] + v[2] * v[2] > 25) crash_start(bike);
  }
  if (body_touched && !bike->touched_down) bike->touched_down = true;
  return touched || body_touched;
}

bool sphere_sphere_contact(const ContactSphere& s1, const ContactSphere& s2, int mode, SphereContactResult* result) {
  Vec3d d = s2.centre - s1.centre;
  double distance2 = dot(d, d);
  double reach = s1.radius + s2.radius;
  if (distance2 >= reach * reach) return false;
  if (!s1.body && !s2.body) return true;
  double smaller = std::min(s1.radius, s2.radius);
  // Centres (nearly) on top of each other give no usable normal.
  if (distance2 < 1.0 / 256 && distance2 < smaller * smaller / 256) return true;
  double distance = std::sqrt(distance2);
  double depth = reach - distance;
  Vec3d normal = d * (1 / distance);
  Vec3d point = s1.centre + normal * (s1.radius - depth / 2);
  if (result) *result = {point, normal, depth, point_velocity(s1.body, point)};
  if (mode == SPHERE_REPORT) return true;

  double k = sphere_contact_stiffness(s1.stiffness, s2.stiffness, depth);
  double c = std::min(s1.damping, s2.damping);
  double mu = std::min(s1.friction, s2.friction);
  if (mode == SPHERE_JOINT) {
    // The joint pushes its first body along the normal: the second sphere's body goes first,
    // or the first body with the normal turned round when the second is static.
    if (s2.body) {
      make_contact(s2.body, s1.body, point, normal, depth, mu, k, c, nullptr);
    } else {
      make_contact(s1.body, nullptr, point, -normal, depth, mu, k, c, nullptr);
    }
  } else {
    double closing = dot(point_velocity(s1.body, point) - point_velocity(s2.body, point), normal);
    double force = std::clamp(c * closing + k * depth, -SPHERE_FORCE_LIMIT, SPHERE_FORCE_LIMIT);
    Vec3d push = normal * force;
    if (s2.body && dBodyIsEnabled(s2.body)) dBodyAddForceAtPos(s2.body, push.x, push.y, push.z, point.x, point.y, point.z);
    if (s1.body && dBodyIsEnabled(s1.body)) {
      dBodyAddForceAtPos(s1.body, -push.x, -push.y, -push.z, point.x, point.y, point.z);
    }
  }
  return true;
}

bool torus_sphere_contact(const WheelState& wheel, const ContactSphere& sphere, int mode,
                          SphereContactResult* result) {
  const double ring = wheel.ring_radius;
  const double tread = wheel.tread_radius;
  Vec3d centre = to_vec(dBodyGetPosition(wheel.body));
  Vec3d d = sphere.centre - centre;
  double reach = ring + tread + sphere.radius;
  if (dot(d, d) > reach * reach) return false;
  const dReal* r = dBodyGetRotation(wheel.body);
  Vec3d axle = {r[0], r[4], r[8]};
  Vec3d in_plane = d - axle * dot(d, axle);
  // A sphere on the axle line: use the first body axis that gives a usable direction.
  for (int k = 0; dot(in_plane, in_plane) < 1e-12 && k < 3; k++) {
    Vec3d axis = {r[k], r[4 + k], r[8 + k]};
    in_plane = axis - axle * dot(axis, axle);
  }
  if (dot(in_plane, in_plane) < 1e-12) return false;
  Vec3d tread_centre = centre + in_plane * (ring / length(in_plane));
  ContactSphere tread_sphere = {tread_centre, tread, TREAD_FRICTION, TREAD_STIFFNESS, TREAD_DAMPING, wheel.body};
  return sphere_sphere_contact(tread_sphere, sphere, mode, result);
}

namespace {

// World centres of the spheres of listed bikes' shapes, placed at most once per bike-bike pass:
// every pair and every part of the other bike would otherwise place them again. Nothing moves
// a body during the pass, so a placed centre is the very value placing it again would give.
// A shape that no longer fits the pool is placed at each use instead.
constexpr int PLACED_POOL = SLOT_COUNT * 128;
Vec3d placed_pool[PLACED_POOL];
int placed_used = 0;
uint32_t placed_pass = 0;                          // the pass the entries below belong to
uint32_t placed_stamp[SLOT_COUNT][BODY_COUNT];     // the pass a shape was placed in
const Vec3d* placed_at[SLOT_COUNT][BODY_COUNT];    // its centres, or null when they did not fit

// One shape of a listed bike: the list index, for its place in the pass's cache.
struct ListedShape {
  int index;  // -1: not listed, nothing is kept
  const Bike* bike;
  int body;
};

// The shape's world centres, placed on first use in this pass; null when they are not kept.
const Vec3d* placed_centres(const ListedShape& listed) {
  if (listed.index < 0) return nullptr;
  const int i = listed.index, k = listed.body;
  if (placed_stamp[i][k] == placed_pass) return placed_at[i][k];
  placed_stamp[i][k] = placed_pass;
  placed_at[i][k] = nullptr;
  const Shape* shape = listed.bike->shapes[k];
  if (!shape || shape->sphere_count > PLACED_POOL - placed_used) return nullptr;
  Vec3d* centres = placed_pool + placed_used;
  placed_used += shape->sphere_count;
  dBodyID body = listed.bike->bodies[k];
  const dReal* pos = dBodyGetPosition(body);
  const dReal* rot = dBodyGetRotation(body);
  for (int s = 0; s < shape->sphere_count; s++) centres[s] = world_point(pos, rot, shape->spheres[s].centre);
  placed_at[i][k] = centres;
  return centres;
}

// A new pass: every shape is placed afresh.
void placed_pass_start() {
  placed_used = 0;
  if (++placed_pass == 0) {
    for (auto& row : placed_stamp) std::fill(row, row + BODY_COUNT, 0u);
    placed_pass = 1;
  }
}

// part_object_collision with the bike's own shapes and the foreign shape taken from the pass's
// cache where they are listed (own_index or foreign.index >= 0).
int part_collision(Bike* bike, int own_index, const Shape* shape, const ListedShape& foreign, dBodyID object_body,
                   const dReal* position, const dReal* rotation, int mode, bool touch_only) {
  if (!shape) return 0;
  const int sphere_mode = touch_only ? SPHERE_REPORT : mode;
  const Vec3d object_pos = to_vec(position);
  int mask = 0;
  // The foreign spheres' world centres, placed once when the first part comes within reach.
  static Vec3d foreign_centres[SHAPE_MAX_SPHERES];
  const Vec3d* foreign_placed = nullptr;
  auto place_foreign = [&] {
    if (!foreign_placed) {
      foreign_placed = placed_centres(foreign);
      if (!foreign_placed) {
        for (int k = 0; k < shape->sphere_count; k++) {
          foreign_centres[k] = world_point(position, rotation, shape->spheres[k].centre);
        }
        foreign_placed = foreign_centres;
      }
    }
    return foreign_placed;
  };
  auto foreign_sphere = [&](int s) {
    const ShapeSphere& sphere = shape->spheres[s];
    return ContactSphere{place_foreign()[s], sphere.radius, sphere.friction, SHAPE_SPHERE_STIFFNESS,
                         SHAPE_SPHERE_DAMPING, object_body};
  };

  // Wheel tori first; the deepest touch drives and brakes a wheel that is off the ground.
  WheelState* wheels[2] = {&bike->front, &bike->rear};
  const int wheel_bits[2] = {PART_FRONT_WHEEL, PART_REAR_WHEEL};
  for (int w = 0; w < 2; w++) {
    WheelState* wheel = wheels[w];
    Vec3d centre = to_vec(dBodyGetPosition(wheel->body));
    double reach = wheel->ring_radius + wheel->tread_radius + shape->bounding_radius;
    if (dot(centre - object_pos, centre - object_pos) >= reach * reach) continue;
    SphereContactResult deepest = {};
    bool touched = false;
    const Vec3d* centres = place_foreign();
    const double tyre = double(wheel->ring_radius) + double(wheel->tread_radius);
    for (int s = 0; s < shape->sphere_count; s++) {
      // The distance test torus_sphere_contact starts with: most spheres miss, so skip the call.
      const double torus_reach = tyre + shape->spheres[s].radius;
      if (dot(centres[s] - centre, centres[s] - centre) > torus_reach * torus_reach) continue;
      const ContactSphere foreign = foreign_sphere(s);
      SphereContactResult result = {};
      if (!torus_sphere_contact(*wheel, foreign, sphere_mode, &result)) continue;
      // A touch reported without a normal (coincident centres) still counts.
      if (!touched || result.depth > deepest.depth) deepest = result;
      touched = true;
    }
    if (!touched) continue;
    mask |= wheel_bits[w];
    if (!wheel->on_ground && deepest.depth > wheel->depth) {
      // The normal points from the foreign sphere into the wheel, like a ground normal.
      set3(wheel->contact_point, deepest.point);
      set3(wheel->contact_normal, -deepest.normal);
      set3(wheel->slip_velocity, deepest.velocity);
      wheel->depth = float(deepest.depth);
    }
  }

  struct Part {
    int body;
    int bit;
  };
  const Part parts[] = {{BODY_FRAME, PART_FRAME},       {BODY_STEERING, PART_STEERING},
                        {BODY_FORK_LOWER, PART_FORK_LOWER}, {BODY_SWINGARM, PART_SWINGARM},
                        {BODY_RIDER, PART_RIDER}};
  for (const Part& part : parts) {
    const Shape* own = bike->shapes[part.body];
    if (!own) continue;
    dBodyID body = bike->bodies[part.body];
    const dReal* pos = dBodyGetPosition(body);
    const dReal* rot = dBodyGetRotation(body);
    Vec3d own_pos = to_vec(pos);
    double reach = own->bounding_radius + shape->bounding_radius;
    if (dot(own_pos - object_pos, own_pos - object_pos) >= reach * reach) continue;
    const Vec3d* own_placed = placed_centres({own_index, bike, part.body});
    bool touched = false;
    for (int a = 0; a < own->sphere_count; a++) {
      const ShapeSphere& mine = own->spheres[a];
      ContactSphere s1 = {own_placed ? own_placed[a] : world_point(pos, rot, mine.centre), mine.radius, mine.friction,
                          SHAPE_SPHERE_STIFFNESS, SHAPE_SPHERE_DAMPING, body};
      // A sphere out of reach of the foreign bounding sphere touches none of its spheres; the
      // margin covers the bound's float rounding.
      const double out_of_reach = (mine.radius + shape->bounding_radius) * (1 + 1e-6) + 1e-6;
      if (dot(s1.centre - object_pos, s1.centre - object_pos) >= out_of_reach * out_of_reach) continue;
      const Vec3d* centres = place_foreign();
      for (int b = 0; b < shape->sphere_count; b++) {
        // The distance test sphere_sphere_contact starts with: most pairs miss, so skip the call.
        const Vec3d d = centres[b] - s1.centre;
        const double touch = s1.radius + double(shape->spheres[b].radius);
        if (dot(d, d) >= touch * touch) continue;
        if (sphere_sphere_contact(s1, foreign_sphere(b), sphere_mode, nullptr)) touched = true;
      }
    }
    if (touched) mask |= part.bit;
  }
  return mask;
}

}  // namespace

int part_object_collision(Bike* bike, const Shape* shape, dBodyID object_body, const dReal* position,
                          const dReal* rotation, int mode, bool touch_only) {
  return part_collision(bike, -1, shape, {-1, nullptr, 0}, object_body, position, rotation, mode, touch_only);
}

namespace {

// bike_bike_collision with each bike's reach from its frame already known; index_a and
// index_b are the bikes' places in the pass's list (-1 outside a pass).
int bike_pair_collision(Bike* a, Bike* b, int mode, double reach_a, double reach_b, int index_a = -1,
                        int index_b = -1) {
  if (a == b) return 0;  // a bike against itself would join its bodies to themselves
  const Vec3d frame_a = to_vec(dBodyGetPosition(a->bodies[BODY_FRAME]));
  const Vec3d frame_b = to_vec(dBodyGetPosition(b->bodies[BODY_FRAME]));
  const double reach = reach_a + reach_b;
  if (dot(frame_a - frame_b, frame_a - frame_b) >= reach * reach) return 0;

  // A second pair touching a bike in the same step pushes by force instead of adding joints.
  const int sphere_mode =
      (a->last_bike_contact_tick == sim_tick || b->last_bike_contact_tick == sim_tick) ? SPHERE_FORCE : SPHERE_JOINT;
  struct Part {
    int body;
    bool pushes;  // online, only a's front end pushes the replayed bike
  };
  const Part parts[] = {{BODY_FRONT_WHEEL, true}, {BODY_REAR_WHEEL, false}, {BODY_FRAME, false},
                        {BODY_STEERING, true},    {BODY_FORK_LOWER, true},  {BODY_SWINGARM, false},
                        {BODY_RIDER, false}};
  int mask = 0;
  bool front_hit = false;
  for (const Part& part : parts) {
    const Shape* shape = a->shapes[part.body];
    if (!shape) continue;
    dBodyID body = a->bodies[part.body];
    // A part whose bounding sphere stays beyond b's reach meets none of b's parts.
    if (bike_out_of_reach(b, reach_b, dBodyGetPosition(body), shape->bounding_radius)) continue;
    bool touch_only = part.pushes ? false : mode != 0;
    int touched = part_collision(b, index_b, shape, {index_a, a, part.body}, body, dBodyGetPosition(body),
                                 dBodyGetRotation(body), sphere_mode, touch_only);
    mask |= touched;
    if (part.body == BODY_FRONT_WHEEL && touched) front_hit = true;
  }
  if (!mask) return 0;

  const float speed_a = bike_frame_speed(a);
  const float speed_b = bike_frame_speed(b);
  if (front_hit && (mask & PART_FRONT_WHEEL)) {
    // Front to front.
    if (speed_a >= 10) raise_counter(a, 128);
    if (speed_b >= 10) raise_counter(b, 128);
  } else if (front_hit) {
    // a rode into b.
    if (!bike_crashed(b) && speed_b >= SLOW_SPEED) {
      if (speed_a >= 10) raise_counter(a, 192);
      lower_negative_counter(b, -640);
    }
  } else if (mask & (PART_FRONT_WHEEL | PART_FORK_LOWER)) {
    // b rode into a.
    if (!bike_crashed(a) && speed_a >= SLOW_SPEED) {
      if (speed_b >= 10) raise_counter(b, 192);
      lower_negative_counter(a, -640);
    }
  }
  for (Bike* bike : {a, b}) {
    bike->last_bike_contact_tick = sim_tick;
    for (int32_t& id : bike->lines_in_use) id = 0;
    if (bike->first_bike_contact_tick == -1) bike->first_bike_contact_tick = sim_tick;
  }
  return mask;
}

}  // namespace

int bike_bike_collision(Bike* a, Bike* b, int mode) {
  return bike_pair_collision(a, b, mode, bike_reach(a), bike_reach(b));
}

namespace {

// One listed bike on the sweep axis: its frame coordinate, its reach, its list index.
struct SweepEntry {
  double at;
  double reach;
  int index;
};
SweepEntry sweep[SLOT_COUNT];
double list_reach[SLOT_COUNT];
bool list_unsorted[SLOT_COUNT];  // a position or reach that is not finite: paired with all
// Pairs that may touch: bit j of row i (i < j), so reading rows and bits in order gives the
// pairs in list order.
constexpr int PAIR_WORDS = (SLOT_COUNT + 63) / 64;
uint64_t pair_bits[SLOT_COUNT][PAIR_WORDS];

// Farther apart than reach_sum along one axis, with a margin for the rounding of the exact test.
bool apart(double distance, double reach_sum) { return distance >= reach_sum * (1 + 1e-9) + 1e-9; }

}  // namespace

void bike_list_collisions(Bike* const* list, int count, int mode, const double* reaches) {
  count = std::clamp(count, 0, SLOT_COUNT);
  placed_pass_start();
  // Sweep along whichever of x and z the frames spread over more.
  double low[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  double high[2] = {-low[0], -low[1]};
  for (int i = 0; i < count; i++) {
    const dReal* p = dBodyGetPosition(list[i]->bodies[BODY_FRAME]);
    for (int k = 0; k < 2; k++) {
      low[k] = std::min(low[k], double(p[2 * k]));
      high[k] = std::max(high[k], double(p[2 * k]));
    }
  }
  const int axis = high[1] - low[1] > high[0] - low[0] ? 2 : 0;
  int sorted = 0;
  double widest = 0;
  for (int i = 0; i < count; i++) {
    const dReal* p = dBodyGetPosition(list[i]->bodies[BODY_FRAME]);
    list_reach[i] = reaches ? reaches[i] : reach_from(list[i], to_vec(p));
    list_unsorted[i] = !(std::isfinite(p[axis]) && std::isfinite(list_reach[i]));
    if (list_unsorted[i]) continue;
    sweep[sorted++] = {p[axis], list_reach[i], i};
    widest = std::max(widest, list_reach[i]);
  }
  std::sort(sweep, sweep + sorted, [](const SweepEntry& a, const SweepEntry& b) { return a.at < b.at; });

  for (int i = 0; i < count; i++) std::fill(pair_bits[i], pair_bits[i] + PAIR_WORDS, 0);
  // A pair is kept unless the frames are beyond the two reaches, the test the pair's collision
  // starts with, so only pairs it would go on with are visited.
  auto add = [&](int i, int j) {
    if (i > j) std::swap(i, j);
    const Vec3d d = to_vec(dBodyGetPosition(list[i]->bodies[BODY_FRAME])) -
                    to_vec(dBodyGetPosition(list[j]->bodies[BODY_FRAME]));
    const double reach = list_reach[i] + list_reach[j];
    if (dot(d, d) >= reach * reach) return;
    pair_bits[i][j / 64] |= uint64_t(1) << (j % 64);
  };
  for (int p = 0; p < sorted; p++) {
    for (int q = p + 1; q < sorted; q++) {
      const double distance = sweep[q].at - sweep[p].at;
      if (apart(distance, sweep[p].reach + widest)) break;
      if (!apart(distance, sweep[p].reach + sweep[q].reach)) add(sweep[p].index, sweep[q].index);
    }
  }
  for (int i = 0; i < count; i++) {
    if (!list_unsorted[i]) continue;
    for (int j = 0; j < count; j++) {
      if (j != i && !(list_unsorted[j] && j < i)) add(i, j);
    }
  }
  for (int i = 0; i < count; i++) {
    for (int w = 0; w < PAIR_WORDS; w++) {
      for (uint64_t bits = pair_bits[i][w]; bits; bits &= bits - 1) {
        const int j = w * 64 + std::countr_zero(bits);
        bike_pair_collision(list[i], list[j], mode, list_reach[i], list_reach[j], i, j);
      }
    }
  }
}
