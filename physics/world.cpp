// The physics world, its contact group and the soft-contact parameters.
#include "physics/world.h"

#include "core/constants.h"

dWorldID physics_world = nullptr;
dJointGroupID contact_group = nullptr;

void physics_world_create() {
  if (physics_world) return;
  dInitODE2(0);
  physics_world = dWorldCreate();
  dWorldSetGravity(physics_world, 0, -GRAVITY_FT_S2, 0);
  contact_group = dJointGroupCreate(0);
}

void physics_world_destroy() {
  if (!physics_world) return;
  dJointGroupDestroy(contact_group);
  dWorldDestroy(physics_world);
  contact_group = nullptr;
  physics_world = nullptr;
  dCloseODE();
}

void physics_world_step() {
  dWorldStep(physics_world, SIM_STEP);
  dJointGroupEmpty(contact_group);
}

SoftContact soft_contact(double k, double c) {
  double hk = SIM_STEP * k;
  return {hk / (hk + c), 1.0 / (hk + c)};
}
