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

void (*physics_before_step)() = nullptr;

void physics_world_step() {
  if (physics_before_step) physics_before_step();
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

dJointID make_contact(dBodyID b1, dBodyID b2, Vec3d point, Vec3d normal, double depth, double mu, double k,
                      double c, const Vec3d* fdir) {
  dContact contact{};
  SoftContact soft = soft_contact(k, c);
  contact.surface.mode = CONTACT_MODE | (fdir ? dContactFDir1 : 0);
  contact.surface.mu = mu;
  contact.surface.soft_erp = soft.erp;
  contact.surface.soft_cfm = soft.cfm;
  contact.geom.pos[0] = point.x;
  contact.geom.pos[1] = point.y;
  contact.geom.pos[2] = point.z;
  contact.geom.normal[0] = normal.x;
  contact.geom.normal[1] = normal.y;
  contact.geom.normal[2] = normal.z;
  contact.geom.depth = depth;
  if (fdir) {
    contact.fdir1[0] = fdir->x;
    contact.fdir1[1] = fdir->y;
    contact.fdir1[2] = fdir->z;
  }
  return physics_contact_create(contact, b1, b2);
}
