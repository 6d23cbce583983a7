// Rider springs: two soft contacts between the rider body and the frame, and the damping of
// the rider joint's slide.
#include "physics/rider.h"

#include <algorithm>
#include <cmath>

#include "physics/world.h"

namespace {

constexpr float RIDER_MASS_SCALE = 0.21333334f;  // 1 / 4.6875 slugs: springs scale with the rider's mass
constexpr float OUT_OF_RANGE_SPRING = 2500;      // lbf/ft and lbf·s/ft once the rider leaves the seat range

// A soft contact pushing the rider along `normal` (world) by `depth`.
void spring_contact(Bike* bike, const dReal* normal, float sign, float depth, float k, float c) {
  if (!(k + c > 0)) return;
  SoftContact soft = soft_contact(k, c);
  dContact contact{};
  contact.surface.mode = dContactSoftERP | dContactSoftCFM;
  contact.surface.mu = 0;
  contact.surface.soft_erp = soft.erp;
  contact.surface.soft_cfm = soft.cfm;
  const dReal* p = dBodyGetPosition(bike->bodies[BODY_RIDER]);
  for (int i = 0; i < 3; i++) {
    contact.geom.pos[i] = p[i];
    contact.geom.normal[i] = sign * normal[i];
  }
  contact.geom.depth = depth;
  dJointID joint = dJointCreateContact(physics_world, contact_group, &contact);
  dJointAttach(joint, bike->bodies[BODY_RIDER], bike->bodies[BODY_FRAME]);
}

}  // namespace

void rider_springs_update(Bike* bike) {
  if (!dJointGetBody(bike->joints[JOINT_RIDER], 0)) return;  // the rider flew off in a crash
  const BikeInfo& info = bike->info;
  const AppliedSetup& s = bike->setup;
  const RiderControls& controls = bike->controls;
  float m = info.rider_mass * RIDER_MASS_SCALE;
  dBodyID frame = bike->bodies[BODY_FRAME];
  dVector3 seat;
  dBodyGetRelPointPos(frame, info.rider_pos[0] - info.frame_pos[0], info.rider_pos[1] - info.frame_pos[1],
                      info.rider_pos[2] - info.frame_pos[2], seat);
  const dReal* rider = dBodyGetPosition(bike->bodies[BODY_RIDER]);
  const dReal* r = dBodyGetRotation(frame);
  const dReal frame_y[3] = {r[1], r[5], r[9]};
  const dReal frame_z[3] = {r[2], r[6], r[10]};
  double d[3] = {seat[0] - rider[0], seat[1] - rider[1], seat[2] - rider[2]};
  float z = float(d[0] * frame_z[0] + d[1] * frame_z[1] + d[2] * frame_z[2]);
  float y = float(d[0] * frame_y[0] + d[1] * frame_y[1] + d[2] * frame_y[2]);

  // Fore/aft: the lean moves the rider's target along the frame.
  float target = std::clamp((controls.sit_dab * 0.5f + 0.5f) * y - controls.lean, -0.75f, 0.75f);
  float e = z - target;
  float k = OUT_OF_RANGE_SPRING, c = OUT_OF_RANGE_SPRING;
  if (!(z < -0.75f || z >= 0.75f)) {
    k = std::fabs(e) * 100 + s.rider_fspring * 600;
    c = 0;
  }
  spring_contact(bike, frame_z, e < 0 ? -1 : 1, std::fabs(e), k * m, c * m);

  // Vertical: sit/dab lowers the rider.
  e = y + 0.125f - 0.5f * controls.sit_dab;
  k = c = OUT_OF_RANGE_SPRING;
  if (!(y > 0.5f || y < -0.75f)) {
    k = s.rider_vspring * 400;
    c = s.rider_vdamping * 100;
  }
  spring_contact(bike, frame_y, e < 0 ? -1 : 1, std::fabs(e), k * m, c * m);

  dJointSetHinge2Param(bike->joints[JOINT_RIDER], dParamSuspensionERP, 0);
  dJointSetHinge2Param(bike->joints[JOINT_RIDER], dParamSuspensionCFM, 1 / ((s.rider_fdamping * 30 + 5) * m));
}
