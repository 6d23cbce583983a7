// The one physics world of the program and the joint group of the contacts that live for a
// single step, with the soft-contact arithmetic every contact shares.
#pragma once

#include <ode/ode.h>

#include "physics/contact_geometry.h"

extern dWorldID physics_world;
extern dJointGroupID contact_group;

// Makes the world (gravity -32 ft/s² along y, ODE's defaults otherwise) and the contact group.
// Called once at start-up; a second call does nothing.
void physics_world_create();
// Destroys the contact group and the world (shutdown).
void physics_world_destroy();
// One SIM_STEP of every body with the big-matrix stepper, then every contact joint is dropped.
// The cost grows with the cube of the constraint rows of each island (one bike and what it
// touches), so bikes apart cost linearly.
void physics_world_step();

// Creates one contact joint in the contact group between b1 and b2 (either may be null for the
// static world). Every contact of the program is made here, so a benchmark can log them.
dJointID physics_contact_create(const dContact& contact, dBodyID b1, dBodyID b2);

// The contacts made since the log was started, for tools that count them or look at which
// bodies touch. Records past the capacity are counted but not kept.
struct ContactRecord {
  dContact contact;
  dBodyID b1, b2;
};
struct ContactLog {
  ContactRecord* records;
  int capacity;
  int count;
};
// Null when nothing is logged (always, outside benchmarks).
extern ContactLog* physics_contact_log;

// Called just before every world step, with that step's bodies and joints in place; null except
// in benchmarks that time the bare step on the race's own constraints.
extern void (*physics_before_step)();

// Soft contact from a spring constant k (lbf/ft) and damper c (lbf·s/ft) at the step h:
// ERP = h·k / (h·k + c), CFM = 1 / (h·k + c).
struct SoftContact {
  double erp;
  double cfm;
};
SoftContact soft_contact(double k, double c);

// Every contact the program makes uses these modes; fdir1 is added when a direction is given.
constexpr int CONTACT_MODE = dContactApprox1 | dContactSoftERP | dContactSoftCFM;

// A soft contact joint for one step between b1 and b2 (either may be null for the static world),
// the normal pointing into b1, spring k and damper c as above, friction mu along fdir when given.
// With mu 0 it is a one-sided spring: the rider's body springs and ropes.
dJointID make_contact(dBodyID b1, dBodyID b2, Vec3d point, Vec3d normal, double depth, double mu, double k,
                      double c, const Vec3d* fdir);
