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

ContactLog* physics_contact_log = nullptr;

dJointID physics_contact_create(const dContact& contact, dBodyID b1, dBodyID b2) {
  if (ContactLog* log = physics_contact_log) {
    if (log->count < log->capacity) log->records[log->count] = {contact, b1, b2};
    log->count++;
  }
  dJointID joint = dJointCreateContact(physics_world, contact_group, &contact);
  dJointAttach(joint, b1, b2);
  return joint;
}

SoftContact soft_contact(double k, double c) {
  double hk = SIM_STEP * k;
  return {hk / (hk + c), 1.0 / (hk + c)};
}
