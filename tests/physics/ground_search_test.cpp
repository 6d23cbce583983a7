// The ground searches of wheels and shape spheres leave out cells and triangles that cannot
// matter. Against a plain search of every triangle under the footprint, over many poses on
// rough ground (bumps, a rut, a wall, the field's edge), they find the same touches bit for bit.
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/tick.h"
#include "physics/contact.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "track/terrain.h"

namespace {

constexpr double NONE = -std::numeric_limits<double>::infinity();
constexpr float RING = 0.8333333f;
constexpr float TREAD = 0.3333333f;

// Every cell overlapping the square footprint that is not wholly below the body's lowest
// reach, both its triangles in order; the first of the deepest touches wins.
template <typename Test>
ContactHit plain_search(const Terrain& t, Vec3d centre, double reach, Test test) {
  ContactHit best = {NONE, {}, {}};
  const double g = t.spacing;
  auto corner = [&](int c, int r) {
    const int last = t.grid_size - 1;
    const float h = t.heights[size_t(std::clamp(r, 0, last)) * size_t(t.grid_size) + size_t(std::clamp(c, 0, last))];
    return Vec3d{c * g, h, r * g};
  };
  const int i0 = int(std::floor((centre.x - reach) / g)), i1 = int(std::ceil((centre.x + reach) / g)) - 1;
  const int j0 = int(std::floor((centre.z - reach) / g)), j1 = int(std::ceil((centre.z + reach) / g)) - 1;
  for (int j = j0; j <= j1; j++) {
    for (int i = i0; i <= i1; i++) {
      const Vec3d c00 = corner(i, j), c10 = corner(i + 1, j), c01 = corner(i, j + 1), c11 = corner(i + 1, j + 1);
      if (std::max(std::max(c00.y, c10.y), std::max(c01.y, c11.y)) < centre.y - reach) continue;
      GroundTriangle triangles[2];
      if ((i + j) % 2 == 0) {
        triangles[0] = {{c00, c10, c11}, {}};
        triangles[1] = {{c00, c01, c11}, {}};
      } else {
        triangles[0] = {{c00, c10, c01}, {}};
        triangles[1] = {{c11, c01, c10}, {}};
      }
      for (GroundTriangle& triangle : triangles) {
        if (!ground_triangle_prepare(&triangle)) continue;
        const ContactHit hit = test(triangle);
        if (hit.depth > best.depth) best = hit;
      }
    }
  }
  return best;
}

// A 48 ft field: rolling bumps, a rut along z, a 2 ft wall along x and sharp single spikes.
struct RoughGround : ::testing::Test {
  Terrain terrain{};
  dBodyID body = nullptr;
  std::mt19937 rng{4242};

  void SetUp() override {
    physics_world_create();
    sim_tick = 0;
    make_ground(4, 1.5f);
    body = dBodyCreate(physics_world);
    dMass mass;
    dMassSetSphereTotal(&mass, 0.5, 1);
    dBodySetMass(body, &mass);
  }
  // The field above with its samples `spacing` apart; a fine spacing puts more cells under a
  // wheel than the search keeps at hand, so it reads them from the grid instead.
  void make_ground(int level, float spacing) {
    terrain_free(&terrain);
    ASSERT_TRUE(terrain_allocate(&terrain, level, spacing, 0, 0));
    std::uniform_real_distribution<float> spike(-0.6f, 0.9f);
    for (int row = 0; row < terrain.grid_size; row++) {
      for (int col = 0; col < terrain.grid_size; col++) {
        float h = 0.8f * std::sin(col * 0.45f) * std::cos(row * 0.35f);
        if (col == 10 || col == 11) h -= 0.5f;  // rut
        if (row >= 20) h += 2;                  // wall between rows 19 and 20
        if ((col * 7 + row * 3) % 11 == 0) h += spike(rng);
        terrain_set_height(&terrain, col, row, h);
      }
    }
  }
  void TearDown() override {
    dJointGroupEmpty(contact_group);
    dBodyDestroy(body);
    terrain_free(&terrain);
  }

  enum Attitude { UPRIGHT, ANY, LYING };
  // A body turned and leaned up to 69 degrees, turned any way at all, or lying within 25
  // degrees of flat (its x axis near vertical); its position between low and high above the
  // ground under it.
  void random_pose(Attitude attitude, double low, double high) {
    std::uniform_real_distribution<double> unit(0, 1), xz(-3, 51);
    const double x = xz(rng), z = xz(rng);
    dQuaternion q;
    if (attitude == ANY) {
      std::normal_distribution<double> n;
      q[0] = n(rng), q[1] = n(rng), q[2] = n(rng), q[3] = n(rng);
      dNormalize4(q);
    } else {
      dQuaternion heading, lean;
      dQFromAxisAndAngle(heading, 0, 1, 0, 6.2831853 * unit(rng));
      const double angle = attitude == UPRIGHT ? (unit(rng) - 0.5) * 2.4 : 1.5707963 + (unit(rng) - 0.5) * 0.87;
      dQFromAxisAndAngle(lean, 0, 0, 1, angle);
      dQMultiply0(q, heading, lean);
    }
    dBodySetQuaternion(body, q);
    const double ground = terrain_height_at(&terrain, float(x), float(z));
    dBodySetPosition(body, x, ground + low + (high - low) * unit(rng), z);
  }
};

TEST_F(RoughGround, WheelSearchFindsThePlainSearchTouch) {
  WheelState wheel{};
  wheel.body = body;
  wheel.ring_radius = RING;
  wheel.tread_radius = TREAD;
  int touches = 0;
  for (int n = 0; n < 12400; n++) {
    if (n == 12000) make_ground(6, 0.375f);  // the same 48 ft, seven cells under a wheel

    // From clear of the ground down to sunk deeper than the whole tread; a lying wheel from
    // just clear of the ground down to its axle.
    const Attitude attitude = Attitude(n % 3);
    if (attitude == LYING) {
      random_pose(attitude, 0, 1.2 * TREAD);
    } else {
      random_pose(attitude, 0.2, 1.6);
    }
    const dReal* p = dBodyGetPosition(body);
    const dReal* r = dBodyGetRotation(body);
    const Vec3d centre = {p[0], p[1], p[2]}, axle = {r[0], r[4], r[8]};
    const ContactHit want = plain_search(terrain, centre, double(RING) + double(TREAD), [&](const GroundTriangle& t) {
      return torus_triangle(centre, axle, RING, TREAD, t, NONE);
    });
    SCOPED_TRACE(testing::Message() << "pose " << n);
    const bool touched = wheel_ground_probe(&terrain, &wheel);
    ASSERT_EQ(touched, want.depth > 0);
    if (!touched) continue;
    touches++;
    const Vec3d normal = wheel_normal_fix(want.normal);
    ASSERT_EQ(wheel.depth, float(want.depth));
    const float point[3] = {float(want.point.x), float(want.point.y), float(want.point.z)};
    const float fixed[3] = {float(normal.x), float(normal.y), float(normal.z)};
    for (int k = 0; k < 3; k++) {
      ASSERT_EQ(wheel.contact_point[k], point[k]);
      ASSERT_EQ(wheel.contact_normal[k], fixed[k]);
    }
  }
  EXPECT_GT(touches, 1000);
}

TEST_F(RoughGround, ShapeSearchMakesThePlainSearchContacts) {
  // A body of spheres of a bike part's sizes spread over 1.5 ft.
  std::uniform_real_distribution<float> spread(-1.5f, 1.5f), size(0.1f, 0.5f);
  std::vector<ShapeSphere> spheres(9);
  for (ShapeSphere& s : spheres) s = {{spread(rng), spread(rng) / 2, spread(rng)}, size(rng), 0.5f, {}};
  Shape* shape = shape_make(spheres.data(), int(spheres.size()));
  ASSERT_TRUE(shape);
  std::vector<ContactRecord> records(spheres.size());
  int contacts = 0;
  for (int n = 0; n < 3000; n++) {
    random_pose(Attitude(n % 2), -0.3, shape->bounding_radius + 0.5);
    const dReal* p = dBodyGetPosition(body);
    const dReal* r = dBodyGetRotation(body);
    SCOPED_TRACE(testing::Message() << "pose " << n);
    ContactLog log = {records.data(), int(records.size()), 0};
    physics_contact_log = &log;
    const bool touched = shape_ground_contacts(shape, body, p, r, &terrain);
    physics_contact_log = nullptr;
    dJointGroupEmpty(contact_group);

    int made = 0;
    for (const ShapeSphere& s : spheres) {
      const float* c = s.centre;
      const Vec3d centre = {r[0] * c[0] + r[1] * c[1] + r[2] * c[2] + p[0],
                            r[4] * c[0] + r[5] * c[1] + r[6] * c[2] + p[1],
                            r[8] * c[0] + r[9] * c[1] + r[10] * c[2] + p[2]};
      const ContactHit want = plain_search(terrain, centre, s.radius, [&](const GroundTriangle& t) {
        return sphere_triangle(centre, s.radius, t);
      });
      if (!(want.depth > 0)) continue;
      ASSERT_LT(made, log.count);
      const dContactGeom& got = records[size_t(made++)].contact.geom;
      ASSERT_EQ(got.depth, want.depth);
      const double want_pos[3] = {want.point.x, want.point.y, want.point.z};
      const double want_normal[3] = {want.normal.x, want.normal.y, want.normal.z};
      for (int k = 0; k < 3; k++) {
        ASSERT_EQ(got.pos[k], want_pos[k]);
        ASSERT_EQ(got.normal[k], want_normal[k]);
      }
    }
    ASSERT_EQ(log.count, made);
    ASSERT_EQ(touched, made > 0);
    contacts += made;
  }
  shape_free(shape);
  EXPECT_GT(contacts, 1000);
}

}  // namespace
