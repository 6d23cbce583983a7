// Packing a bike's bodies and joints into a state, and placing the bodies from one.
#include "replay/bike_state.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>

#include "physics/bike.h"
#include "physics/setup.h"
#include "track/terrain.h"

namespace {

constexpr double KNOCKBACK_SIMULATED = 0.25;

// A rigid transform: rotation as a quaternion (w, x, y, z) and a position.
struct Place {
  double q[4];
  double p[3];
};

void quat_multiply(const double* a, const double* b, double* out) {
  double r[4] = {
      a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
      a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
      a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
      a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0],
  };
  for (int i = 0; i < 4; ++i) out[i] = r[i];
}

void rotate(const double* q, const double* v, double* out) {
  double vq[4] = {0, v[0], v[1], v[2]};
  double conj[4] = {q[0], -q[1], -q[2], -q[3]};
  double t[4];
  quat_multiply(q, vq, t);
  quat_multiply(t, conj, t);
  for (int i = 0; i < 3; ++i) out[i] = t[i + 1];
}

void normalise(double* v, int n) {
  double s = 0;
  for (int i = 0; i < n; ++i) s += v[i] * v[i];
  s = std::sqrt(s);
  if (s > 0) {
    for (int i = 0; i < n; ++i) v[i] /= s;
  }
}

// Rotation by angle about a unit axis.
void axis_angle(const double* axis, double angle, double* q) {
  double s = std::sin(angle / 2);
  q[0] = std::cos(angle / 2);
  for (int i = 0; i < 3; ++i) q[i + 1] = axis[i] * s;
}

void cross(const double* a, const double* b, double* out) {
  double r[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  for (int i = 0; i < 3; ++i) out[i] = r[i];
}

// The place of a body that turns by angle about axis through anchor relative to parent;
// axis, anchor and both model positions are in model-pose coordinates (all bodies unrotated).
Place hinged(const Place& parent, const float* parent_model, const float* model, const double* axis,
             const float* anchor, double angle) {
  double turn[4];
  axis_angle(axis, angle, turn);
  Place out;
  quat_multiply(parent.q, turn, out.q);
  double arm[3], turned[3], local[3];
  for (int i = 0; i < 3; ++i) arm[i] = model[i] - anchor[i];
  rotate(turn, arm, turned);
  for (int i = 0; i < 3; ++i) local[i] = anchor[i] - parent_model[i] + turned[i];
  double world[3];
  rotate(parent.q, local, world);
  for (int i = 0; i < 3; ++i) out.p[i] = parent.p[i] + world[i];
  return out;
}

struct BikePlaces {
  Place body[BODY_COUNT];
  double steering_axis[3];  // unit, model coordinates, from the fork's foot to the head
};

const double X_AXIS[3] = {1, 0, 0};

// Every body's place for a pose. Joint angles read as the joints measure them: a hinge's
// angle is its first body's turn relative to its second, the fork slider's position is the
// steering body's offset from the lower fork along the steering axis.
void places_of(const Bike& bike, const BikePose& pose, BikePlaces* out) {
  const BikeInfo& info = bike.info;
  for (int i = 0; i < 3; ++i) out->steering_axis[i] = info.steering_pos[i] - info.fork_lower_pos[i];
  normalise(out->steering_axis, 3);
  Place& frame = out->body[BODY_FRAME];
  for (int i = 0; i < 4; ++i) frame.q[i] = pose.frame_quat[i];
  normalise(frame.q, 4);
  for (int i = 0; i < 3; ++i) frame.p[i] = pose.frame_pos[i];

  Place& steering = out->body[BODY_STEERING];
  steering = hinged(frame, info.frame_pos, info.steering_pos, out->steering_axis, info.steering_pos, pose.steer_angle);

  Place& fork = out->body[BODY_FORK_LOWER];
  double local[3], world[3];
  for (int i = 0; i < 3; ++i) local[i] = info.fork_lower_pos[i] - info.steering_pos[i] - pose.fork_pos * out->steering_axis[i];
  rotate(steering.q, local, world);
  for (int i = 0; i < 4; ++i) fork.q[i] = steering.q[i];
  for (int i = 0; i < 3; ++i) fork.p[i] = steering.p[i] + world[i];

  out->body[BODY_FRONT_WHEEL] = hinged(fork, info.fork_lower_pos, info.front_wheel.pos, X_AXIS, info.front_wheel.pos, -pose.front_axle);
  Place& swingarm = out->body[BODY_SWINGARM];
  swingarm = hinged(frame, info.frame_pos, info.swingarm_pos, X_AXIS, info.swingarm_pivot, pose.swing_angle);
  out->body[BODY_REAR_WHEEL] = hinged(swingarm, info.swingarm_pos, info.rear_wheel.pos, X_AXIS, info.rear_wheel.pos, -pose.rear_axle);

  Place& rider = out->body[BODY_RIDER];
  for (int i = 0; i < 4; ++i) rider.q[i] = pose.rider_quat[i];
  normalise(rider.q, 4);
  for (int i = 0; i < 3; ++i) rider.p[i] = pose.rider_pos[i];
}

struct Movement {
  double v[3];
  double w[3];
};

// Velocity of the point at p carried by a body moving with m whose position is at.
void carried(const Movement& m, const double* at, const double* p, double* out) {
  double arm[3] = {p[0] - at[0], p[1] - at[1], p[2] - at[2]};
  cross(m.w, arm, out);
  for (int i = 0; i < 3; ++i) out[i] += m.v[i];
}

// The bodies' velocities for the joint rates of a motion, through the same chain as places_of.
void movements_of(const Bike& bike, const BikePlaces& places, const BikeMotion& motion, Movement* out) {
  const BikeInfo& info = bike.info;
  const Place* b = places.body;
  Movement& frame = out[BODY_FRAME];
  for (int i = 0; i < 3; ++i) frame.v[i] = motion.frame_velocity[i], frame.w[i] = motion.frame_spin[i];

  // A child turning by rate about axis (model coordinates of its parent) through anchor_world.
  auto turning = [](const Movement& parent, const Place& parent_place, const Place& child, const double* axis,
                    const double* anchor_world, double rate, Movement* m) {
    double axis_world[3], relative[3], arm[3], extra[3];
    rotate(parent_place.q, axis, axis_world);
    for (int i = 0; i < 3; ++i) relative[i] = axis_world[i] * rate;
    carried(parent, parent_place.p, child.p, m->v);
    for (int i = 0; i < 3; ++i) arm[i] = child.p[i] - anchor_world[i];
    cross(relative, arm, extra);
    for (int i = 0; i < 3; ++i) m->v[i] += extra[i], m->w[i] = parent.w[i] + relative[i];
  };
  auto world_point = [](const Place& parent, const float* parent_model, const float* point, double* out_point) {
    double local[3];
    for (int i = 0; i < 3; ++i) local[i] = point[i] - parent_model[i];
    rotate(parent.q, local, out_point);
    for (int i = 0; i < 3; ++i) out_point[i] += parent.p[i];
  };
  double anchor[3];
  world_point(b[BODY_FRAME], info.frame_pos, info.steering_pos, anchor);
  turning(frame, b[BODY_FRAME], b[BODY_STEERING], places.steering_axis, anchor, motion.steer_rate, &out[BODY_STEERING]);

  Movement& fork = out[BODY_FORK_LOWER];
  double slide[3];
  rotate(b[BODY_STEERING].q, places.steering_axis, slide);
  carried(out[BODY_STEERING], b[BODY_STEERING].p, b[BODY_FORK_LOWER].p, fork.v);
  for (int i = 0; i < 3; ++i) fork.v[i] -= slide[i] * motion.fork_rate, fork.w[i] = out[BODY_STEERING].w[i];

  turning(fork, b[BODY_FORK_LOWER], b[BODY_FRONT_WHEEL], X_AXIS, b[BODY_FRONT_WHEEL].p, -motion.front_axle_rate, &out[BODY_FRONT_WHEEL]);
  world_point(b[BODY_FRAME], info.frame_pos, info.swingarm_pivot, anchor);
  turning(frame, b[BODY_FRAME], b[BODY_SWINGARM], X_AXIS, anchor, motion.swing_rate, &out[BODY_SWINGARM]);
  turning(out[BODY_SWINGARM], b[BODY_SWINGARM], b[BODY_REAR_WHEEL], X_AXIS, b[BODY_REAR_WHEEL].p, -motion.rear_axle_rate, &out[BODY_REAR_WHEEL]);

  Movement& rider = out[BODY_RIDER];
  for (int i = 0; i < 3; ++i) rider.v[i] = motion.rider_velocity[i], rider.w[i] = motion.rider_spin[i];
}

}  // namespace

PackGround pack_ground_of(const Terrain& terrain) {
  return {terrain.extent, terrain.min_height, std::max(0.0, double(terrain.max_height) - terrain.min_height) + PACK_HEADROOM};
}

PackRanges bike_pack_ranges(const Bike& bike, const PackGround& ground) {
  PackRanges r;
  r.track_size = ground.track_size;
  r.ground_min = ground.ground_min;
  r.ground_range = ground.ground_range;
  r.swing_limit = bike.info.swingarm_max_angle;
  r.fork_travel = bike.info.fork_travel;
  return r;
}

void bike_pack(const Bike& bike, const PackRanges& ranges, PackedBikeState* out) {
  BikePose pose{};
  const dReal* p = dBodyGetPosition(bike.bodies[BODY_FRAME]);
  const dReal* q = dBodyGetQuaternion(bike.bodies[BODY_FRAME]);
  const dReal* rp = dBodyGetPosition(bike.bodies[BODY_RIDER]);
  const dReal* rq = dBodyGetQuaternion(bike.bodies[BODY_RIDER]);
  for (int i = 0; i < 3; ++i) pose.frame_pos[i] = p[i], pose.rider_pos[i] = rp[i];
  for (int i = 0; i < 4; ++i) pose.frame_quat[i] = q[i], pose.rider_quat[i] = rq[i];
  pose.steer_angle = dJointGetHingeAngle(bike.joints[JOINT_STEERING]);
  pose.swing_angle = dJointGetHingeAngle(bike.joints[JOINT_SWINGARM]);
  pose.fork_pos = dJointGetSliderPosition(bike.joints[JOINT_FORK]);
  pose.front_axle = dJointGetHingeAngle(bike.joints[JOINT_FRONT_AXLE]);
  pose.rear_axle = dJointGetHingeAngle(bike.joints[JOINT_REAR_AXLE]);
  pose.gear = bike.gear;
  pose.dab = bike.dab > 0;
  pose.throttle = bike.controls.throttle;
  pose.crash_timer = bike.crash_timer;
  pose.engine_speed = bike.engine_speed;
  pose.setup_marker = setup_out_of_range;
  packed_state_pack(pose, ranges, out);
}

void bike_set_pose(Bike* bike, const BikePose& pose, const BikeMotion* motion) {
  BikePlaces places;
  places_of(*bike, pose, &places);
  Movement moves[BODY_COUNT] = {};
  if (motion) movements_of(*bike, places, *motion, moves);
  for (int i = 0; i < BODY_COUNT; ++i) {
    dBodyID body = bike->bodies[i];
    dQuaternion q = {places.body[i].q[0], places.body[i].q[1], places.body[i].q[2], places.body[i].q[3]};
    dBodySetQuaternion(body, q);
    dBodySetPosition(body, places.body[i].p[0], places.body[i].p[1], places.body[i].p[2]);
    dBodySetLinearVel(body, moves[i].v[0], moves[i].v[1], moves[i].v[2]);
    dBodySetAngularVel(body, moves[i].w[0], moves[i].w[1], moves[i].w[2]);
  }
  bike->gear = pose.gear == 7 ? bike->gear : pose.gear;
  bike->dab = pose.dab ? 1.0f : 0.0f;
  bike->controls.throttle = float(pose.throttle);
  bike->crash_timer = pose.crash_timer;
  bike->engine_speed = float(pose.engine_speed);
}

void bike_pull_towards(Bike* bike, const BikePose& pose) {
  BikePlaces places;
  places_of(*bike, pose, &places);
  for (int i = 0; i < BODY_COUNT; ++i) {
    dBodyID body = bike->bodies[i];
    const dReal* p = dBodyGetPosition(body);
    const dReal* cq = dBodyGetQuaternion(body);
    double v[3], spin[3];
    for (int k = 0; k < 3; ++k) v[k] = (places.body[i].p[k] - p[k]) / BIKE_PULL_TIME;
    // The turn from the current orientation to the target one, as a rate.
    double conj[4] = {cq[0], -cq[1], -cq[2], -cq[3]}, r[4];
    quat_multiply(places.body[i].q, conj, r);
    if (r[0] < 0) {
      for (double& c : r) c = -c;
    }
    double s = std::sqrt(r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
    double angle = 2 * std::atan2(s, r[0]);
    for (int k = 0; k < 3; ++k) spin[k] = s > 1e-12 ? r[k + 1] / s * angle / BIKE_PULL_TIME : 0.0;
    dBodySetLinearVel(body, v[0], v[1], v[2]);
    dBodySetAngularVel(body, spin[0], spin[1], spin[2]);
  }
}

void history_apply(int slot, Bike* bike, const PackRanges& ranges, int32_t tick) {
  HistorySample sample;
  if (!bike || !history_sample(slot, tick, &sample)) return;
  BikePose pose, from, to;
  packed_state_unpack(sample.state, ranges, &pose);
  if (bike->knockback > KNOCKBACK_SIMULATED) {
    bike_pull_towards(bike, pose);
    return;
  }
  packed_state_unpack(sample.from, ranges, &from);
  packed_state_unpack(sample.to, ranges, &to);
  BikeMotion motion;
  bike_pose_motion(from, to, sample.ticks, &motion);
  bike_set_pose(bike, pose, &motion);
}
