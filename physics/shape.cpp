// Collision shapes: reading ".shp" files, the cache by name and the per-owner copies.
#include "physics/shape.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "files/memory.h"
#include "files/vfs.h"
#include "platform/vant.h"

namespace {

struct CachedShape {
  const char* name;  // interned
  Shape* shape;
};

std::vector<CachedShape> cache;
// Declared after the cache, so it runs first when the program ends: the cached shapes go with it.
struct CacheRelease {
  ~CacheRelease();
} cache_release;

bool finite(float v) { return std::isfinite(v); }

// Reads the spheres of an open ".shp" file; null when it is malformed.
Shape* shape_read(VfsFile* file) {
  int count = 0;
  if (vfs_scanf(file, " %d", &count) != 1 || count < 0 || count > SHAPE_MAX_SPHERES) return nullptr;
  std::vector<ShapeSphere> spheres(static_cast<size_t>(count));
  for (ShapeSphere& s : spheres) {
    s = ShapeSphere{};
    if (vfs_scanf(file, " %f %f %f", &s.centre[0], &s.centre[1], &s.centre[2]) != 3) return nullptr;
    if (vfs_scanf(file, " %f %f %f %f", &s.radius, &s.friction, &s.spare[0], &s.spare[1]) != 4) {
      return nullptr;
    }
    if (!finite(s.centre[0]) || !finite(s.centre[1]) || !finite(s.centre[2]) || !finite(s.friction) ||
        s.friction < 0) {
      return nullptr;
    }
  }
  return shape_make(spheres.data(), count);
}

}  // namespace

Shape* shape_make(const ShapeSphere* spheres, int count) {
  if (count < 0 || count > SHAPE_MAX_SPHERES) return nullptr;
  float bound = 0;
  for (int i = 0; i < count; i++) {
    const ShapeSphere& s = spheres[i];
    if (!(s.radius > 0) || !std::isfinite(s.radius)) return nullptr;
    float reach = std::sqrt(s.centre[0] * s.centre[0] + s.centre[1] * s.centre[1] + s.centre[2] * s.centre[2]) +
                  s.radius;
    if (!std::isfinite(reach)) return nullptr;
    if (reach > bound) bound = reach;
  }
  Shape* shape = static_cast<Shape*>(mem_alloc_or_die(sizeof(Shape) + sizeof(ShapeSphere) * size_t(count)));
  shape->sphere_count = count;
  shape->spheres = reinterpret_cast<ShapeSphere*>(shape + 1);
  if (count > 0) std::memcpy(shape->spheres, spheres, sizeof(ShapeSphere) * size_t(count));
  shape->bounding_radius = bound;
  return shape;
}

Shape* shape_copy(const Shape* shape) {
  if (!shape) return nullptr;
  return shape_make(shape->spheres, shape->sphere_count);
}

void shape_free(Shape* shape) { mem_free(shape); }

Shape* shape_load(const char* name) {
  if (!name) return nullptr;
  for (const CachedShape& entry : cache) {
    if (std::strcmp(entry.name, name) == 0) return shape_copy(entry.shape);
  }
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return nullptr;
  Shape* shape = shape_read(file);
  vfs_close(file);
  if (!shape) {
    vant_log("Warning: bad shape file '%.900s'\n", name);
    return nullptr;
  }
  cache.push_back({intern_string(name), shape});
  return shape_copy(shape);
}

CacheRelease::~CacheRelease() { shape_cache_clear(); }

void shape_cache_clear() {
  for (CachedShape& entry : cache) shape_free(entry.shape);
  cache.clear();
  cache.shrink_to_fit();
}
