// The one physics world of the program and the joint group of the contacts that live for a
// single step, with the soft-contact arithmetic every contact shares.
#pragma once

#include <ode/ode.h>

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

// Soft contact from a spring constant k (lbf/ft) and damper c (lbf·s/ft) at the step h:
// ERP = h·k / (h·k + c), CFM = 1 / (h·k + c).
struct SoftContact {
  double erp;
  double cfm;
};
SoftContact soft_contact(double k, double c);

// Every contact the program makes uses these modes; fdir1 is added when a direction is given.
constexpr int CONTACT_MODE = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
