// Contact geometry of wheels and shape spheres against ground triangles: the deepest
// penetration of a torus or a sphere into one triangle, with its point and normal.
#pragma once

#include <cmath>

struct Vec3d {
  double x, y, z;
};

inline Vec3d operator+(Vec3d a, Vec3d b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3d operator-(Vec3d a, Vec3d b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3d operator-(Vec3d a) { return {-a.x, -a.y, -a.z}; }
inline Vec3d operator*(Vec3d a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3d operator*(double s, Vec3d a) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(Vec3d a, Vec3d b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3d cross(Vec3d a, Vec3d b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(Vec3d a) { return std::sqrt(dot(a, a)); }

// A penetration: depth > 0 means touching. The normal is a unit vector pointing from the
// triangle towards the torus or sphere (the direction that separates them).
struct ContactHit {
  double depth;
  Vec3d point;
  Vec3d normal;
};

// A ground triangle with its upward unit normal.
struct GroundTriangle {
  Vec3d v[3];
  Vec3d normal;
};

// Fills the normal from the corners (oriented upwards); false for a degenerate triangle.
bool ground_triangle_prepare(GroundTriangle* triangle);

// A tyre: tread circle of radius ring around centre in the plane perpendicular to the unit
// axle, swept by a cross-section of radius tread. Depth <= 0 when it does not touch.
// Face case: the lowest point of the tread circle relative to the plane projects inside the
// triangle; otherwise the closest approach of the tread circle to the three edges. The face
// and edges that cannot reach deeper than beat are not searched (a caller keeping the deepest
// of several triangles passes its deepest so far): the result is then only exact when deeper
// than beat, and never deeper than the exact one.
ContactHit torus_triangle(Vec3d centre, Vec3d axle, double ring, double tread, const GroundTriangle& triangle,
                          double beat = 0);

// A sphere against a triangle: the plane when the centre projects inside it, else the closest
// edge or corner. Depth <= 0 when it does not touch.
ContactHit sphere_triangle(Vec3d centre, double radius, const GroundTriangle& triangle);

// Closest approach of a circle (centre, unit axle, radius) to the segment a-b: the distance,
// the point on the circle and the point on the segment.
struct CircleSegmentApproach {
  double distance;
  Vec3d circle_point;
  Vec3d segment_point;
};
CircleSegmentApproach circle_segment_closest(Vec3d centre, Vec3d axle, double radius, Vec3d a, Vec3d b);

// Closest point of the segment a-b to p.
Vec3d segment_closest_point(Vec3d p, Vec3d a, Vec3d b);
