// Contacts of bikes with the ground (tyre tori and shape spheres against the height field's
// triangles) and with foreign shapes (other bikes, track objects). Every touching pair
// becomes a soft contact joint in contact_group that lives for one step, or, against bikes
// that constraints must not move, an explicit force.
#pragma once

#include <ode/ode.h>

#include "physics/bike.h"
#include "physics/contact_geometry.h"

struct Terrain;
struct FrictionPoint;
struct RollResistPoint;

constexpr float SLOW_SPEED = 5;   // ft/s
constexpr float FAST_SPEED = 15;  // ft/s

// Shape spheres against the ground.
constexpr double SHAPE_GROUND_STIFFNESS = 2500;  // lbf/ft
constexpr double SHAPE_GROUND_DAMPING = 250;     // lbf·s/ft
// A wheel's tread against a foreign sphere. Bike shape spheres use the same values against
// foreign spheres, so the tread, not the body, is the softer partner.
constexpr double TREAD_FRICTION = 1;
constexpr double TREAD_STIFFNESS = 25000;
constexpr double TREAD_DAMPING = 2500;
constexpr double SHAPE_SPHERE_STIFFNESS = 25000;
constexpr double SHAPE_SPHERE_DAMPING = 2500;
// No sphere-sphere spring pushes harder than this at its current depth.
constexpr double SPHERE_FORCE_CAP = 2500;  // lbf
// Limit of an explicit contact force (lbf).
constexpr double SPHERE_FORCE_LIMIT = 1000;

// Bits of a part mask: which parts of a bike touched.
enum BikePart : int {
  PART_FRAME = 1,
  PART_FRONT_WHEEL = 2,
  PART_REAR_WHEEL = 4,
  PART_STEERING = 8,
  PART_FORK_LOWER = 16,
  PART_SWINGARM = 32,
  PART_RIDER = 64,
};

// Sphere contact modes.
enum SphereContactMode : int {
  SPHERE_REPORT = -1,  // find the touch, change nothing
  SPHERE_JOINT = 0,    // a soft contact joint
  SPHERE_FORCE = 1,    // an explicit spring-damper force (a replayed bike must not be moved by constraints)
};

// All ground contacts of one bike: both wheels, then the shapes of the frame, steering body,
// lower fork, swing arm and rider. True when anything touched.
bool bike_ground_contacts(Bike* bike, const Terrain* terrain);
// One wheel against the ground; friction_factor scales the tile's grip. Rewrites the wheel's
// contact state, makes its contact joint and applies rolling resistance.
bool wheel_ground_contact(const Terrain* terrain, WheelState* wheel, float friction_factor);
// The same search without a contact joint or forces (a replayed bike's wheel, whose pose comes
// from its history): fills the contact state; false, with depth 0, when it does not touch.
bool wheel_ground_probe(const Terrain* terrain, WheelState* wheel);
// Every sphere of a shape fixed to body (pose given) against the ground.
bool shape_ground_contacts(const Shape* shape, dBodyID body, const dReal* position, const dReal* rotation,
                           const Terrain* terrain);

// One sphere taking part in a sphere-sphere contact; body may be null (static).
struct ContactSphere {
  Vec3d centre;
  double radius;
  double friction;
  double stiffness;
  double damping;
  dBodyID body;
};

// What a sphere-sphere touch found: the normal points from the first sphere to the second;
// velocity is the first body's velocity at the point (zero without a body).
struct SphereContactResult {
  Vec3d point;
  Vec3d normal;
  double depth;
  Vec3d velocity;
};

// True when the spheres touch; acts on the bodies as the mode says and fills result if given.
bool sphere_sphere_contact(const ContactSphere& s1, const ContactSphere& s2, int mode, SphereContactResult* result);
// A wheel's torus against a foreign sphere, through a tread sphere placed on the tread circle
// towards the sphere.
bool torus_sphere_contact(const WheelState& wheel, const ContactSphere& sphere, int mode,
                          SphereContactResult* result);

// One bike's parts (wheel tori, then the shapes of frame, steering, lower fork, swing arm and
// rider) against a foreign shape at a pose; object_body may be null. With touch_only nothing
// is pushed. Returns the mask of the bike's parts that touched.
int part_object_collision(Bike* bike, const Shape* shape, dBodyID object_body, const dReal* position,
                          const dReal* rotation, int mode, bool touch_only);
// Bike a (the faster) against bike b; mode 0 offline, 1 online against a replayed b (only a's
// front end pushes). Returns the mask of b's parts that touched.
int bike_bike_collision(Bike* a, Bike* b, int mode);
// How far any part of the bike (shape or tyre) reaches from its frame body's position (ft).
double bike_reach(const Bike* bike);
// True when a foreign shape with bounding radius `bound` at `position` lies beyond the reach
// of every part of the bike, so part_object_collision would find nothing; reach is
// bike_reach(bike). The margin covers the rounding of the parts' own tests.
bool bike_out_of_reach(const Bike* bike, double reach, const dReal* position, double bound);
// bike_bike_collision for every pair i < j of a list (at most SLOT_COUNT bikes, sorted by
// descending frame speed), in that order, with list[i] as the faster bike. Pairs whose frames
// are farther apart along x or z than their reaches are left out by a sweep first: the result
// is the same as testing all pairs, without the all-pairs cost. reaches, when given, holds
// bike_reach of each listed bike, worked out by the caller for this very pose.
void bike_list_collisions(Bike* const* list, int count, int mode, const double* reaches = nullptr);

// Contact arithmetic, shared with the tests.
// The arcade bike loses up to 37.5% of its grip at 45° of lean (roll in rad).
float arcade_friction_factor(float roll);
// Friction coefficient of a tile's curve at the squared slip speed.
float friction_at(const FrictionPoint* curve, float slip2);
// Rolling-resistance terms of a tile's curve at a speed.
void roll_resist_at(const RollResistPoint* curve, float speed, float* a, float* b);
// A wheel contact normal pointing down is turned horizontal, or straight up when it has no
// usable horizontal part; the result is a unit vector.
Vec3d wheel_normal_fix(Vec3d normal);
// Spring of a sphere-sphere contact: the softer sphere's, lowered so that it never pushes
// harder than SPHERE_FORCE_CAP at the depth.
double sphere_contact_stiffness(double k1, double k2, double depth);
// Tyre spring (lbf/ft) and damper (lbf·s/ft) at a penetration depth: they stiffen with the
// cube of the compression ratio q = min(depth / tread, 1).
struct TyreSpring {
  double k;
  double c;
};
TyreSpring tyre_spring(double depth, double tread);
