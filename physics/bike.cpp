// Building a bike from its model row, placing it, putting it to sleep for knock-back, the
// per-step work after the world step, and taking it apart.
#include "physics/bike.h"

#include <cmath>
#include <cstring>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/drivetrain.h"
#include "physics/rider.h"
#include "physics/setup.h"
#include "physics/suspension.h"
#include "physics/world.h"

namespace {

constexpr double PI = 3.14159265358979323846;
// Share of the rider's mass carried by the rider body when a bike is built; the rest rides
// on the frame. The setup's rider mass distribution changes it later.
constexpr float RIDER_MASS_DISTRIBUTION_AT_CREATION = 1.0f / 3.0f;
constexpr float KNOCKBACK_SLEEP = 0.25f;  // at or below, the bodies sleep
constexpr double STOPPED_AFTER_START_DELAY = 2;  // s after the race start
constexpr double STOPPED_SPEED = 5;              // ft/s
// The top-out stops of fork and swing arm sit this far (ft, rad) beyond full extension. In
// the model pose, and in any pose rebuilt at full extension, both joints rest exactly on
// these stops with no error and no load: a degenerate limit row on which the world step's
// pivoting solver gives up for the whole island, so a bike touching another one at rest lost
// every contact force and sank through the ground, and the untouched pose repeated it each
// step. A stop a hair away is only reached by a joint moving onto it.
constexpr double TOP_OUT_CLEARANCE = 1e-6;

// Where each body sits in the model pose.
const float* model_pose_position(const BikeInfo& info, int body) {
  switch (body) {
    case BODY_FRAME: return info.frame_pos;
    case BODY_FRONT_WHEEL: return info.front_wheel.pos;
    case BODY_REAR_WHEEL: return info.rear_wheel.pos;
    case BODY_STEERING: return info.steering_pos;
    case BODY_FORK_LOWER: return info.fork_lower_pos;
    case BODY_SWINGARM: return info.swingarm_pos;
    default: return info.rider_pos;
  }
}

void clear_forces(Bike* bike) {
  for (dBodyID body : bike->bodies) {
    dBodySetForce(body, 0, 0, 0);
    dBodySetTorque(body, 0, 0, 0);
  }
}

void enable_all(Bike* bike, bool enable) {
  for (dBodyID body : bike->bodies) {
    if (enable) {
      dBodyEnable(body);
    } else {
      dBodyDisable(body);
    }
  }
}

void rotation_about_x(dMatrix3 r, double angle) { dRFromAxisAndAngle(r, 1, 0, 0, angle); }

// A tyre: a hub sphere plus sixteen tread spheres around the axle (the body's x axis).
void set_wheel_mass(dBodyID body, const WheelInfo& wheel) {
  dMass total;
  dMassSetSphereTotal(&total, wheel.hub_mass, wheel.hub_radius);
  for (int k = 0; k < 16; k++) {
    double angle = k * PI / 8;
    dMass tread;
    dMassSetSphereTotal(&tread, wheel.ring_mass / 16, wheel.tread_radius);
    dMassTranslate(&tread, 0, wheel.ring_radius * std::cos(angle), wheel.ring_radius * std::sin(angle));
    dMassAdd(&total, &tread);
  }
  // The tread spheres balance out; drop the rounding left in the centre.
  total.c[0] = total.c[1] = total.c[2] = 0;
  dBodySetMass(body, &total);
}

// Two parts of the same mass at x = +offset and -offset, turned about x by angle.
void set_pair_mass(dBodyID body, const dMass& part, double offset, double angle) {
  dMass left = part;
  dMass right = part;
  dMassTranslate(&left, -offset, 0, 0);
  dMassTranslate(&right, offset, 0, 0);
  dMassAdd(&left, &right);
  dMatrix3 r;
  rotation_about_x(r, angle);
  dMassRotate(&left, r);
  left.c[0] = left.c[1] = left.c[2] = 0;
  dBodySetMass(body, &left);
}

// A fork body: two legs along z, each a cylinder of half the fork mass, tilted like the
// steering axis.
void set_fork_mass(dBodyID body, const BikeInfo& info) {
  dMass leg;
  dMassSetCylinderTotal(&leg, info.fork_mass / 2, 3, info.fork_width / 8, info.fork_length * 2 / 3);
  double dy = info.fork_lower_pos[1] - info.steering_pos[1];
  double dz = info.fork_lower_pos[2] - info.steering_pos[2];
  set_pair_mass(body, leg, info.fork_width / 2, std::atan(dz / dy));
}

// The swing arm: two box legs from the pivot to the rear axle.
void set_swingarm_mass(dBodyID body, const BikeInfo& info) {
  double dy = info.rear_wheel.pos[1] - info.swingarm_pivot[1];
  double dz = info.rear_wheel.pos[2] - info.swingarm_pivot[2];
  double dx = info.rear_wheel.pos[0] - info.swingarm_pivot[0];
  double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  double width = info.frame_box[0] / 4;
  dMass leg;
  dMassSetBoxTotal(&leg, info.swingarm_mass, width, width, length);
  set_pair_mass(body, leg, info.frame_box[0] / 2, -std::atan(dy / dz));
}

void make_joints(Bike* bike) {
  const BikeInfo& info = bike->info;
  dBodyID* b = bike->bodies;
  dJointID* j = bike->joints;
  const float* sp = info.steering_pos;
  const float* fl = info.fork_lower_pos;
  const float steering_axis[3] = {sp[0] - fl[0], sp[1] - fl[1], sp[2] - fl[2]};

  j[JOINT_FRONT_AXLE] = dJointCreateHinge(physics_world, nullptr);
  dJointAttach(j[JOINT_FRONT_AXLE], b[BODY_FORK_LOWER], b[BODY_FRONT_WHEEL]);
  const float* fw = info.front_wheel.pos;
  dJointSetHingeAnchor(j[JOINT_FRONT_AXLE], fw[0], fw[1], fw[2]);
  dJointSetHingeAxis(j[JOINT_FRONT_AXLE], 1, 0, 0);

  j[JOINT_REAR_AXLE] = dJointCreateHinge(physics_world, nullptr);
  dJointAttach(j[JOINT_REAR_AXLE], b[BODY_SWINGARM], b[BODY_REAR_WHEEL]);
  const float* rw = info.rear_wheel.pos;
  dJointSetHingeAnchor(j[JOINT_REAR_AXLE], rw[0], rw[1], rw[2]);
  dJointSetHingeAxis(j[JOINT_REAR_AXLE], 1, 0, 0);

  j[JOINT_STEERING] = dJointCreateHinge(physics_world, nullptr);
  dJointAttach(j[JOINT_STEERING], b[BODY_STEERING], b[BODY_FRAME]);
  dJointSetHingeAnchor(j[JOINT_STEERING], sp[0], sp[1], sp[2]);
  dJointSetHingeAxis(j[JOINT_STEERING], steering_axis[0], steering_axis[1], steering_axis[2]);
  dJointSetHingeParam(j[JOINT_STEERING], dParamLoStop, -PI / 4);
  dJointSetHingeParam(j[JOINT_STEERING], dParamHiStop, PI / 4);

  j[JOINT_FORK] = dJointCreateSlider(physics_world, nullptr);
  dJointAttach(j[JOINT_FORK], b[BODY_STEERING], b[BODY_FORK_LOWER]);
  dJointSetSliderAxis(j[JOINT_FORK], steering_axis[0], steering_axis[1], steering_axis[2]);
  dJointSetSliderParam(j[JOINT_FORK], dParamBounce, 0);
  dJointSetSliderParam(j[JOINT_FORK], dParamLoStop, -info.fork_travel);
  dJointSetSliderParam(j[JOINT_FORK], dParamHiStop, TOP_OUT_CLEARANCE);

  j[JOINT_SWINGARM] = dJointCreateHinge(physics_world, nullptr);
  dJointAttach(j[JOINT_SWINGARM], b[BODY_SWINGARM], b[BODY_FRAME]);
  const float* pv = info.swingarm_pivot;
  dJointSetHingeAnchor(j[JOINT_SWINGARM], pv[0], pv[1], pv[2]);
  dJointSetHingeParam(j[JOINT_SWINGARM], dParamBounce, 0);
  dJointSetHingeAxis(j[JOINT_SWINGARM], 1, 0, 0);
  dJointSetHingeParam(j[JOINT_SWINGARM], dParamLoStop, -info.swingarm_max_angle);
  dJointSetHingeParam(j[JOINT_SWINGARM], dParamHiStop, TOP_OUT_CLEARANCE);

  // The rider turns about an x axis 50 ft ahead of the bike, so near the frame it moves on an
  // almost vertical line, and slides along axis 1 (the hinge2 suspension); it cannot turn or
  // lean relative to the frame. The rider springs hold it in place.
  j[JOINT_RIDER] = dJointCreateHinge2(physics_world, nullptr);
  dJointAttach(j[JOINT_RIDER], b[BODY_RIDER], b[BODY_FRAME]);
  dJointSetHinge2Anchor(j[JOINT_RIDER], 0, info.rider_pos[1], -50);
  const dReal axis1[3] = {0, 1, 1};
  const dReal axis2[3] = {1, 0, 0};
  dJointSetHinge2Axes(j[JOINT_RIDER], axis1, axis2);
  dJointSetHinge2Param(j[JOINT_RIDER], dParamLoStop, 0);
  dJointSetHinge2Param(j[JOINT_RIDER], dParamHiStop, 0);

  for (int i = 0; i < JOINT_COUNT; i++) dJointSetFeedback(j[i], &bike->joint_feedback[i]);
}

void init_wheel_state(WheelState* wheel, dBodyID body, const WheelInfo& info) {
  *wheel = WheelState{};
  wheel->body = body;
  wheel->axle[0] = 1;
  wheel->ring_radius = info.ring_radius;
  wheel->tread_radius = info.tread_radius;
}

void clear_wheel_contact(WheelState* wheel) {
  std::memset(wheel->contact_point, 0, sizeof wheel->contact_point);
  std::memset(wheel->slip_velocity, 0, sizeof wheel->slip_velocity);
  std::memset(wheel->contact_normal, 0, sizeof wheel->contact_normal);
  wheel->depth = 0;
  wheel->on_ground = false;
}

}  // namespace

void bike_set_rider_masses(Bike* bike, float distribution) {
  const BikeInfo& info = bike->info;
  dMass mass;
  dMassSetBoxTotal(&mass, info.frame_mass + (1 - distribution) * info.rider_mass, info.frame_box[0],
                   info.frame_box[1], info.frame_box[2]);
  dBodySetMass(bike->bodies[BODY_FRAME], &mass);
  dMassSetSphereTotal(&mass, distribution * info.rider_mass, 1);
  dBodySetMass(bike->bodies[BODY_RIDER], &mass);
}

Bike* bike_create(const char* model, int tag, const char* number, const char* rider_texture,
                  const char* head_texture, const char* bike_texture, const char* wheels_texture) {
  const BikeInfo* row = bike_info_find(model);
  Bike* bike = new Bike{};
  bike->info = *row;
  const BikeInfo& info = bike->info;

  bike->shapes[BODY_FRAME] = shape_load(info.model_files[SHAPE_FRAME]);
  bike->shapes[BODY_STEERING] = shape_load(info.model_files[SHAPE_STEERING]);
  bike->shapes[BODY_FORK_LOWER] = shape_load(info.model_files[SHAPE_FORK_LOWER]);
  bike->shapes[BODY_SWINGARM] = shape_load(info.model_files[SHAPE_SWINGARM]);
  bike->shapes[BODY_RIDER] = shape_load(info.model_files[SHAPE_RIDER]);
  bike->shapes[BODY_FRONT_WHEEL] = shape_load(info.model_files[SHAPE_FRONT_WHEEL]);
  bike->shapes[BODY_REAR_WHEEL] = shape_load(info.model_files[SHAPE_REAR_WHEEL]);

  // Appearance: the rider, head, bike and wheels textures (the row's defaults where a name is
  // null or fails) and the row's models, then the number plate texture from the bike
  // texture's colours. These join here with the texture and model managers; the simulation
  // does not need them.
  (void)rider_texture;
  (void)head_texture;
  (void)bike_texture;
  (void)wheels_texture;
  if (number) {
    std::strncpy(bike->number, number, BIKE_NUMBER_LENGTH);
    bike->number[BIKE_NUMBER_LENGTH] = 0;
  }

  for (int i = 0; i < BODY_COUNT; i++) {
    dBodyID body = dBodyCreate(physics_world);
    const float* pos = model_pose_position(info, i);
    dBodySetPosition(body, pos[0], pos[1], pos[2]);
    bike->bodies[i] = body;
  }
  dBodySetFiniteRotationMode(bike->bodies[BODY_FRONT_WHEEL], 1);
  dBodySetFiniteRotationMode(bike->bodies[BODY_REAR_WHEEL], 1);

  bike_set_rider_masses(bike, RIDER_MASS_DISTRIBUTION_AT_CREATION);
  set_wheel_mass(bike->bodies[BODY_FRONT_WHEEL], info.front_wheel);
  set_wheel_mass(bike->bodies[BODY_REAR_WHEEL], info.rear_wheel);
  set_fork_mass(bike->bodies[BODY_STEERING], info);
  set_fork_mass(bike->bodies[BODY_FORK_LOWER], info);
  set_swingarm_mass(bike->bodies[BODY_SWINGARM], info);

  make_joints(bike);
  init_wheel_state(&bike->front, bike->bodies[BODY_FRONT_WHEEL], info.front_wheel);
  init_wheel_state(&bike->rear, bike->bodies[BODY_REAR_WHEEL], info.rear_wheel);
  bike->engine_inertia = info.engine_inertia;

  // The gate and lap lists of a new bike are set here by the timing module.
  setup_defaults(bike);
  bike->setup.rider_mass_distribution = RIDER_MASS_DISTRIBUTION_AT_CREATION;

  bike->total_mass = 0;
  for (dBodyID body : bike->bodies) {
    dMass mass;
    dBodyGetMass(body, &mass);
    bike->total_mass += float(mass.mass);
  }
  bike_reset(bike);
  bike->tag = tag;
  return bike;
}

void bike_destroy(Bike* bike) {
  if (!bike) return;
  for (dJointID joint : bike->joints) dJointDestroy(joint);
  for (dBodyID body : bike->bodies) dBodyDestroy(body);
  for (Shape* shape : bike->shapes) shape_free(shape);
  delete bike;
}

void bike_reset(Bike* bike) {
  for (int i = 0; i < BODY_COUNT; i++) {
    dBodyID body = bike->bodies[i];
    const float* pos = model_pose_position(bike->info, i);
    dMatrix3 identity;
    dRSetIdentity(identity);
    dBodySetPosition(body, pos[0], pos[1], pos[2]);
    dBodySetRotation(body, identity);
    dBodySetLinearVel(body, 0, 0, 0);
    dBodySetAngularVel(body, 0, 0, 0);
    dBodyEnable(body);
  }
  clear_forces(bike);

  bike->controls = RiderControls{};
  bike->gear = 0;
  bike->last_shift = 0;
  bike->engine_speed = 0;
  bike->drive_angle = 0;
  // The timing module clears the gate counters here.
  bike->crash_timer = 0;
  bike->crash_count = 0;
  bike->fall_tick = 0;
  bike->touchdown_tick = 0;
  bike->dab = 0;
  clear_wheel_contact(&bike->front);
  clear_wheel_contact(&bike->rear);
  bike->invulnerability = 0;
  bike->touched_down = false;
  bike->knockback = 1;
  bike->land_damping = 1;
  bike->lean_limit = 0;
  bike->fell_while_leading = false;
  bike->last_bike_contact_tick = -1;
  bike->first_bike_contact_tick = -1;
  std::memset(bike->lines_in_use, 0, sizeof bike->lines_in_use);
  std::memset(bike->rider_velocity_ring, 0, sizeof bike->rider_velocity_ring);
  erode_stroke_clear(&bike->front_stroke);
  erode_stroke_clear(&bike->rear_stroke);
  // The auto-pilot state is cleared here by its module.

  // The rider sits at its seat on the frame again, joined to it.
  const BikeInfo& info = bike->info;
  dBodyID frame = bike->bodies[BODY_FRAME];
  dBodyID rider = bike->bodies[BODY_RIDER];
  dVector3 seat;
  dBodyGetRelPointPos(frame, info.rider_pos[0] - info.frame_pos[0], info.rider_pos[1] - info.frame_pos[1],
                      info.rider_pos[2] - info.frame_pos[2], seat);
  dBodySetPosition(rider, seat[0], seat[1], seat[2]);
  dBodySetRotation(rider, dBodyGetRotation(frame));
  dJointAttach(bike->joints[JOINT_RIDER], rider, frame);
  std::memset(bike->limb_pos, 0, sizeof bike->limb_pos);
  std::memset(bike->limb_vel, 0, sizeof bike->limb_vel);
}

void bike_rotate(Bike* bike, float angle) {
  dMatrix3 r;
  dRFromAxisAndAngle(r, 0, 1, 0, angle);
  for (dBodyID body : bike->bodies) {
    const dReal* p = dBodyGetPosition(body);
    dVector3 q;
    dMultiply0_331(q, r, p);
    dBodySetRotation(body, r);
    dBodySetPosition(body, q[0], q[1], q[2]);
  }
}

void bike_translate(Bike* bike, const float offset[3]) {
  for (dBodyID body : bike->bodies) {
    const dReal* p = dBodyGetPosition(body);
    dBodySetPosition(body, p[0] + offset[0], p[1] + offset[1], p[2] + offset[2]);
  }
}

void bike_enable(Bike* bike) {
  if (bike->knockback <= KNOCKBACK_SLEEP) clear_forces(bike);
  bike->knockback = 1;
  enable_all(bike, true);
}

void bike_disable(Bike* bike) {
  if (bike->knockback <= KNOCKBACK_SLEEP) clear_forces(bike);
  bike->knockback = 0;
  enable_all(bike, false);
}

void bike_knockback_start(Bike* bike) {
  if (bike->knockback == 0) {
    clear_forces(bike);
    bike->knockback = 1;
    enable_all(bike, true);
  } else if (bike->knockback <= KNOCKBACK_SLEEP) {
    clear_forces(bike);
    bike->knockback = KNOCKBACK_SLEEP;
    enable_all(bike, false);
  }
}

void bike_knockback_tick(Bike* bike) {
  if (bike->knockback <= 0) return;
  float t = bike->knockback - float(SIM_STEP);
  if (bike->knockback <= KNOCKBACK_SLEEP) clear_forces(bike);
  bike->knockback = t < 0 ? 0 : (t > 1 ? 1 : t);
  enable_all(bike, bike->knockback > KNOCKBACK_SLEEP);
}

float bike_frame_speed(const Bike* bike) {
  const dReal* v = dBodyGetLinearVel(bike->bodies[BODY_FRAME]);
  return float(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
}

float bike_forward_speed_mph(const Bike* bike) {
  dBodyID frame = bike->bodies[BODY_FRAME];
  const dReal* r = dBodyGetRotation(frame);
  const dReal* v = dBodyGetLinearVel(frame);
  return float(-(r[2] * v[0] + r[6] * v[1] + r[10] * v[2]) * MPH_PER_FT_S);
}

void bike_correct_joint_drift(Bike* bike) {
  if (sim_tick <= 1 || bike_crashed(bike)) return;
  const dReal* frame = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  dVector3 force = {0, 0, 0};
  dVector3 torque = {0, 0, 0};
  for (int i = 0; i < JOINT_COUNT; i++) {
    dBodyID b1 = dJointGetBody(bike->joints[i], 0);
    dBodyID b2 = dJointGetBody(bike->joints[i], 1);
    if (!b1 || !b2) return;
    const dJointFeedback& fb = bike->joint_feedback[i];
    const dReal* p1 = dBodyGetPosition(b1);
    const dReal* p2 = dBodyGetPosition(b2);
    dVector3 r1 = {p1[0] - frame[0], p1[1] - frame[1], p1[2] - frame[2]};
    dVector3 r2 = {p2[0] - frame[0], p2[1] - frame[1], p2[2] - frame[2]};
    dVector3 m1, m2;
    dCalcVectorCross3(m1, r1, fb.f1);
    dCalcVectorCross3(m2, r2, fb.f2);
    for (int k = 0; k < 3; k++) {
      force[k] += fb.f1[k] + fb.f2[k];
      torque[k] += fb.t1[k] + fb.t2[k] + m1[k] + m2[k];
    }
  }
  dBodyAddForce(bike->bodies[BODY_FRAME], -force[0], -force[1], -force[2]);
  dBodyAddTorque(bike->bodies[BODY_FRAME], -torque[0], -torque[1], -torque[2]);
}

void bike_post_step(Bike* bike) {
  if (bike->knockback <= KNOCKBACK_SLEEP) {
    // A sleeping bike only moves its crash limbs.
    crash_limbs_update(bike);
    return;
  }

  // Stopped after the start: a bike standing still 2 s into the race counts as touched down.
  if (!bike->touched_down && (sim_tick - race_start_tick) * SIM_STEP > STOPPED_AFTER_START_DELAY &&
      bike_frame_speed(bike) < STOPPED_SPEED) {
    bike->touched_down = true;
  }

  // The invulnerability counter moves one step towards 0.
  if (bike->invulnerability < -1) {
    bike->invulnerability += 1;
  } else if (bike->invulnerability > 1) {
    bike->invulnerability -= 1;
  } else {
    bike->invulnerability = 0;
  }

  // Air time: the touchdown tick marks the first step on the ground after a fall, the fall
  // tick the first step moving down after a touchdown. Equal ticks (after a reset) count as
  // not yet touched down, so the first contact starts the bookkeeping.
  if (bike->front.depth > 0 || bike->rear.depth > 0) {
    if (bike->touchdown_tick <= bike->fall_tick) bike->touchdown_tick = sim_tick;
  } else if (dBodyGetLinearVel(bike->bodies[BODY_FRAME])[1] < 0 && bike->touchdown_tick > bike->fall_tick) {
    bike->fall_tick = sim_tick;
  }

  crash_check(bike);
  crash_update(bike);

  // The low-speed aids may override these controls for this step only.
  const float sit_dab = bike->controls.sit_dab;
  const float front_brake = bike->controls.front_brake;
  const float rear_brake = bike->controls.rear_brake;
  low_speed_aids_update(bike);
  rider_springs_update(bike);
  suspension_update(bike);
  if (bike->setup.options & OPTION_ARCADE) {
    arcade_steering_update(bike);
  } else {
    steering_update(bike);
  }
  drivetrain_update(bike);
  steering_damper(bike);

  bike_correct_joint_drift(bike);
  dab_support_update(bike);

  bike->controls.sit_dab = sit_dab;
  bike->controls.front_brake = front_brake;
  bike->controls.rear_brake = rear_brake;

  crash_limbs_update(bike);
  const dReal* v = dBodyGetLinearVel(bike->bodies[BODY_RIDER]);
  float* slot = bike->rider_velocity_ring[sim_tick & 3];
  slot[0] = float(v[0]);
  slot[1] = float(v[1]);
  slot[2] = float(v[2]);
}
