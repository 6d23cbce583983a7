// Collision shapes: sets of spheres fixed to a body, read from ".shp" text files and kept in a
// cache by name for the life of the program.
//
// ".shp" layout (text, numbers separated by any white space):
//   N                      sphere count, 0..SHAPE_MAX_SPHERES
//   x y z                  then per sphere: centre in body coordinates (ft),
//   radius friction s0 s1  radius (ft, > 0), friction coefficient, and two spare values
//                          that are kept with the sphere but read by no contact code.
// Our data generator writes every number with "%f" and the spare values as 0.
#pragma once

constexpr int SHAPE_MAX_SPHERES = 1024;

struct ShapeSphere {
  float centre[3];
  float radius;
  float friction;
  float spare[3];  // the two spare values of the file; the third is always 0
};

struct Shape {
  int sphere_count;
  ShapeSphere* spheres;   // sphere_count entries, in the same allocation as the Shape
  float bounding_radius;  // largest |centre| + radius
};

// A private copy of the named shape, read on first use and cached by name afterwards; null
// when the file is missing or malformed (a warning is logged for a malformed one).
Shape* shape_load(const char* name);
// A private copy of a shape (one allocation); shape_free releases it. Null stays null.
Shape* shape_copy(const Shape* shape);
void shape_free(Shape* shape);
// Empties the cache (shutdown).
void shape_cache_clear();

// Builds a shape from spheres already read; null when count is out of range or a radius is
// not positive and finite. Sets the bounding radius.
Shape* shape_make(const ShapeSphere* spheres, int count);
