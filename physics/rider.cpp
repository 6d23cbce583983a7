// The rider: seat springs, low-speed aids, crashes and their recovery, and the crash limbs.
#include "physics/rider.h"

#include <algorithm>
#include <cmath>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/contact.h"
#include "physics/steering.h"
#include "physics/suspension.h"
#include "physics/world.h"
#include "track/terrain.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr float RIDER_MASS_SCALE = 0.21333334f;  // 1 / 4.6875 slugs: springs scale with the rider's mass
constexpr float OUT_OF_RANGE_SPRING = 2500;      // lbf/ft and lbf·s/ft once the rider leaves the seat range
constexpr float GRAVITY = 32;                    // ft/s²
constexpr float SLOW = 5;                        // ft/s: walking speed
constexpr float FAST = 15;                       // ft/s
constexpr float DAB_SPEED_WHILE_PROTECTED = 75;  // ft/s: max dab speed while crash tests are off
constexpr float PROTECTED_DAB_COUNTER = -512;    // invulnerability at or below which it applies
constexpr float CRASH_SPEED = 31;                // ft/s of the rider against the frame
constexpr float CRASH_ACCELERATION = 1376;       // ft/s², 43 g
constexpr float TUMBLING_SPEED = 2;              // ft/s: the crash timer waits while the rider moves
constexpr int SEAT_PULL_STEPS = 384;             // the pull back to the seat shortens over these steps
constexpr int SEAT_PULL_END = 128;               // and holds the rider on the seat from here on
constexpr int LIMBS_TO_PEGS = 320;               // below this the limbs go back to the foot pegs
constexpr double ROPE_STIFFNESS = 5000;          // lbf/ft
constexpr double ROPE_DAMPING = 500;             // lbf·s/ft
constexpr double HANDLEBAR_TETHER = 8;           // ft, right after the crash
constexpr double BACK_UP_PUSH = 0.0494739;       // rad per step of the push cycle
constexpr double BACK_UP_SPEED = 4;              // ft/s
constexpr double AID_FORCE = 2000;               // lbf and lbf·ft of the back-up servo and yaw motor
constexpr double HOLD_FORCE = 1000;              // lbf holding a stopped bike
constexpr float REALIGN_MIN_ROLL = 0.3926991f;   // 22.5°
constexpr float REALIGN_MAX_ROLL = 1.0995574f;   // 63°
constexpr float FAST_DAB_ROLL = 0.5890486f;      // 33.75°
constexpr float RIGHTING_RATE = 0.3926991f;      // rad/s
constexpr float RIGHTING_FORCE = 400;            // lbf
constexpr float LIMB_GROUND_CLEARANCE = 0.25f;   // ft
constexpr float LIMB_DAMPING = 0.9375f;          // velocity kept per step
constexpr float LIMB_STEERING = 8;               // 1/s: how fast the limbs return to the pegs

Vec3d to_vec(const dReal* v) { return {v[0], v[1], v[2]}; }

Vec3d body_point(dBodyID body, const float p[3]) {
  dVector3 w;
  dBodyGetRelPointPos(body, p[0], p[1], p[2], w);
  return {w[0], w[1], w[2]};
}

Vec3d body_axis(dBodyID body, double x, double y, double z) {
  dVector3 w;
  dBodyVectorToWorld(body, x, y, z, w);
  return {w[0], w[1], w[2]};
}

float ground_height(float x, float z) { return steering_terrain ? terrain_height_at(steering_terrain, x, z) : 0; }

// Distance of a point above the ground, measured along the ground's normal.
double height_above_ground(Vec3d p) {
  double h = p.y - ground_height(float(p.x), float(p.z));
  if (!steering_terrain) return h;
  Vec3f n = terrain_normal_at(steering_terrain, float(p.x), float(p.z));
  double length = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
  return length > 0 ? h * n.y / length : h;
}

// The seat: the frame's point where the rider body sits in the model pose.
Vec3d seat_point(const Bike* bike, const float offset[3]) {
  const BikeInfo& info = bike->info;
  float p[3];
  for (int i = 0; i < 3; i++) p[i] = info.rider_pos[i] - info.frame_pos[i] + (offset ? offset[i] : 0);
  return body_point(bike->bodies[BODY_FRAME], p);
}

float max_dab_speed(const Bike* bike) {
  float speed = bike->setup.max_dab_speed;
  if (bike->invulnerability <= PROTECTED_DAB_COUNTER) speed = std::max(speed, DAB_SPEED_WHILE_PROTECTED);
  return speed;
}

bool touching(const WheelState& wheel) { return wheel.depth > 0; }

// A rope from point pa of body a to point pb of body b (world points): slack up to length,
// beyond it a spring pulls a back towards b.
void rope(dBodyID a, Vec3d pa, dBodyID b, Vec3d pb, double length) {
  Vec3d d = pb - pa;
  double distance = dot(d, d) > 0 ? std::sqrt(dot(d, d)) : 0;
  if (distance <= length || distance <= 0) return;
  make_contact(a, b, pa, d * (1 / distance), distance - length, 0, ROPE_STIFFNESS, ROPE_DAMPING, nullptr);
}

// A one-axis angular motor about the world vertical, for this step only.
void yaw_motor(dBodyID frame, double speed, double force_limit) {
  dJointID motor = dJointCreateAMotor(physics_world, contact_group);
  dJointAttach(motor, frame, nullptr);
  dJointSetAMotorNumAxes(motor, 1);
  dJointSetAMotorAxis(motor, 0, 0, 0, 1, 0);
  dJointSetAMotorParam(motor, dParamVel, speed);
  dJointSetAMotorParam(motor, dParamFMax, force_limit);
}

// The rider's shape spheres against those of another body of the bike.
void rider_sphere_contacts(Bike* bike, int other) {
  const Shape* rider = bike->shapes[BODY_RIDER];
  const Shape* shape = bike->shapes[other];
  if (!rider || !shape) return;
  dBodyID rb = bike->bodies[BODY_RIDER];
  dBodyID ob = bike->bodies[other];
  for (int a = 0; a < rider->sphere_count; a++) {
    const ShapeSphere& s = rider->spheres[a];
    ContactSphere mine = {body_point(rb, s.centre), s.radius, s.friction, SHAPE_SPHERE_STIFFNESS,
                          SHAPE_SPHERE_DAMPING, rb};
    for (int b = 0; b < shape->sphere_count; b++) {
      const ShapeSphere& t = shape->spheres[b];
      ContactSphere theirs = {body_point(ob, t.centre), t.radius, t.friction, SHAPE_SPHERE_STIFFNESS,
                              SHAPE_SPHERE_DAMPING, ob};
      sphere_sphere_contact(mine, theirs, SPHERE_JOINT, nullptr);
    }
  }
}

void set3(float* out, Vec3d v) {
  out[0] = float(v.x);
  out[1] = float(v.y);
  out[2] = float(v.z);
}

Vec3d get3(const float* v) { return {v[0], v[1], v[2]}; }

// The limbs stand on the rider's feet and move with the rider body.
void limbs_on_feet(Bike* bike) {
  FootTargets feet = rider_foot_targets(bike);
  for (int i = 0; i < 2; i++) {
    dVector3 v;
    dBodyGetPointVel(bike->bodies[BODY_RIDER], feet.point[i][0], feet.point[i][1], feet.point[i][2], v);
    for (int k = 0; k < 3; k++) {
      bike->limb_pos[i][k] = feet.point[i][k];
      bike->limb_vel[i][k] = float(v[k]);
    }
  }
}

// Keeps a limb within reach of a point, dropping the velocity that would carry it further.
void keep_within(Vec3d* p, Vec3d* v, Vec3d centre, double reach) {
  Vec3d d = *p - centre;
  double distance = length(d);
  if (distance <= reach || distance <= 0) return;
  Vec3d n = d * (1 / distance);
  *p = centre + n * reach;
  double outward = dot(*v, n);
  if (outward > 0) *v = *v - n * outward;
}

// The servo pushes on the frame only.
void hold_still(Bike* bike, double force_limit) {
  const double zero[3] = {0, 0, 0};
  horizontal_velocity_servo(bike->bodies[BODY_FRAME], zero, force_limit);
}

// Turns a fallen bike about the vertical towards its course and lifts its wheels off the
// ground so it can turn.
void realign(Bike* bike) {
  dBodyID frame = bike->bodies[BODY_FRAME];
  float target[3];
  if (rider_hooks.realign_target && rider_hooks.realign_target(bike, target)) {
    Vec3d forward = body_axis(frame, 0, 0, -1);
    const dReal* p = dBodyGetPosition(frame);
    double dx = target[0] - p[0], dz = target[2] - p[2];
    // Signed angle from the heading to the target about +y.
    double turn = std::atan2(forward.z * dx - forward.x * dz, forward.x * dx + forward.z * dz);
    double top = bike->invulnerability < 0 ? PI : PI / 2;
    // Proportional within a quarter radian-per-second of alignment, so it settles.
    yaw_motor(frame, std::clamp(turn * 4, -top, top), 320 * bike->total_mass);
  }
  for (const WheelState* wheel : {&bike->front, &bike->rear}) {
    if (touching(*wheel)) dBodyAddForce(wheel->body, 0, GRAVITY * bike->total_mass, 0);
  }
}

}  // namespace

int crash_delay_table[CRASH_DELAY_COUNT] = {};
RiderHooks rider_hooks = {};

void crash_delays_set(const int values[CRASH_DELAY_COUNT]) {
  for (int i = 0; i < CRASH_DELAY_COUNT; i++) crash_delay_table[i] = std::clamp(values[i], 0, CRASH_DELAY_MAX);
}

void horizontal_velocity_servo(dBodyID body, const double target[3], double force_limit) {
  const dReal* v = dBodyGetLinearVel(body);
  Vec3d e = {v[0] - target[0], v[1] - target[1], v[2] - target[2]};
  double e2 = dot(e, e);
  if (e2 < 1.0 / 16) return;
  double size = std::sqrt(e2);
  double s = std::clamp((size - 0.25) * 0.8, 0.0, 1.0);
  Vec3d f = e * (-s * force_limit / size);
  dBodyAddForce(body, f.x, 0, f.z);
}

void rider_springs_update(Bike* bike) {
  if (!dJointGetBody(bike->joints[JOINT_RIDER], 0)) return;  // the rider flew off in a crash
  const AppliedSetup& s = bike->setup;
  const RiderControls& controls = bike->controls;
  double m = bike->info.rider_mass * RIDER_MASS_SCALE;
  dBodyID frame = bike->bodies[BODY_FRAME];
  dBodyID rider = bike->bodies[BODY_RIDER];
  Vec3d seat = seat_point(bike, nullptr);
  Vec3d at = to_vec(dBodyGetPosition(rider));
  Vec3d frame_y = body_axis(frame, 0, 1, 0);
  Vec3d frame_z = body_axis(frame, 0, 0, 1);
  Vec3d d = seat - at;
  float z = float(dot(d, frame_z));
  float y = float(dot(d, frame_y));

  // Fore/aft: the lean moves the rider's target along the frame.
  float target = std::clamp((controls.sit_dab * 0.5f + 0.5f) * y - controls.lean, -0.75f, 0.75f);
  float e = z - target;
  float k = OUT_OF_RANGE_SPRING, c = OUT_OF_RANGE_SPRING;
  if (!(z < -0.75f || z >= 0.75f)) {
    k = std::fabs(e) * 100 + s.rider_fspring * 600;
    c = 0;
  }
  if (k + c > 0) make_contact(rider, frame, at, e < 0 ? -frame_z : frame_z, std::fabs(e), 0, k * m, c * m, nullptr);

  // Vertical: sit/dab lowers the rider.
  e = y + 0.125f - 0.5f * controls.sit_dab;
  k = c = OUT_OF_RANGE_SPRING;
  if (!(y > 0.5f || y < -0.75f)) {
    k = s.rider_vspring * 400;
    c = s.rider_vdamping * 100;
  }
  if (k + c > 0) make_contact(rider, frame, at, e < 0 ? -frame_y : frame_y, std::fabs(e), 0, k * m, c * m, nullptr);

  dJointSetHinge2Param(bike->joints[JOINT_RIDER], dParamSuspensionERP, 0);
  dJointSetHinge2Param(bike->joints[JOINT_RIDER], dParamSuspensionCFM, 1 / ((s.rider_fdamping * 30 + 5) * m));
}

void low_speed_aids_update(Bike* bike) {
  RiderControls& controls = bike->controls;
  dBodyID frame = bike->bodies[BODY_FRAME];
  const float v = bike_frame_speed(bike);
  const bool crashed = bike_crashed(bike);

  const bool backing_up = controls.back_up > 0 && v < SLOW;
  if (backing_up) {
    // One push a second; before the start only one second in four, so a rider waiting at the
    // gate cannot creep back far.
    double w = (1 - std::cos((sim_tick % 128) * BACK_UP_PUSH)) * 0.5;
    int32_t gate_time = (race_start_tick + 128) & ~int32_t(127);
    if (sim_tick < gate_time && (sim_tick & 0x180) != 0) w = 0;
    controls.sit_dab = crashed ? 0 : 1;
    Vec3d back = body_axis(frame, 0, 0, 1);
    const double target[3] = {BACK_UP_SPEED * w * back.x, BACK_UP_SPEED * w * back.y, BACK_UP_SPEED * w * back.z};
    horizontal_velocity_servo(frame, target, AID_FORCE);
    yaw_motor(frame, -controls.steer * w * PI / 2, AID_FORCE);
    return;
  }

  if (!(bike->setup.options & OPTION_DAB_WHEN_STOPPED)) return;
  const float maxdab = max_dab_speed(bike);
  if (v > maxdab) return;
  const float roll = std::fabs(roll_angle(bike));
  if (v > FAST && roll < std::clamp((v - FAST) / FAST, 0.0f, 1.0f) * float(PI / 4)) return;
  const bool idle = controls.throttle == 0 || controls.clutch == 0;
  if (idle || v < SLOW || roll > float(PI / 16)) {
    controls.sit_dab = crashed ? 0 : std::max(controls.sit_dab, std::clamp(1 - v / maxdab, 0.0f, 1.0f));
    if (v < SLOW && idle && touching(bike->front) && touching(bike->rear)) {
      controls.front_brake = 1;
      controls.rear_brake = 1;
      hold_still(bike, HOLD_FORCE);
    }
  }
}

void dab_support_update(Bike* bike) {
  if (bike_crashed(bike)) {
    bike->dab = std::min(1.0f, bike->dab + 8 * float(SIM_STEP));
    return;
  }
  const RiderControls& controls = bike->controls;
  if (controls.sit_dab == 0) return;
  dBodyID frame = bike->bodies[BODY_FRAME];
  if (!touching(bike->front)) {
    // In the air only while the rider is near the ground: a sphere round the rider body.
    double reach = bike->info.rider_pos[1] + 1;
    if (height_above_ground(to_vec(dBodyGetPosition(bike->bodies[BODY_RIDER]))) >= reach) return;
  }
  const float v = bike_frame_speed(bike);
  const float maxdab = max_dab_speed(bike);
  const float roll = roll_angle(bike);
  const float lean = std::fabs(roll);
  if (v > maxdab) return;
  if (v > FAST && !(touching(bike->front) && touching(bike->rear) && lean >= FAST_DAB_ROLL)) return;
  bike->dab = std::min(1.0f, bike->dab + 8 * float(SIM_STEP));
  const unsigned options = bike->setup.options;
  if (options & OPTION_ARCADE) return;

  if (v >= SLOW) {
    if (bike->invulnerability > 0) return;
  } else if (lean > REALIGN_MIN_ROLL && lean < REALIGN_MAX_ROLL) {
    if (rider_hooks.leading_in_race && rider_hooks.leading_in_race(bike)) {
      bike->fell_while_leading = true;
    } else if ((options & OPTION_REALIGN_AFTER_FALL) && controls.back_up <= 0.125f) {
      realign(bike);
    }
  }

  // The push towards upright, as a roll rate to reach.
  float r0 = roll >= 0 ? -RIGHTING_RATE : RIGHTING_RATE;
  if ((options & OPTION_DAB_WHEN_STOPPED) && bike->invulnerability < 0) r0 *= 3;
  if (lean < 0.1963495f) r0 *= lean * 5.092958f;
  const float rate = roll_rate(bike);
  float m = 0;
  if (r0 > 0 && rate < r0) m = -RIGHTING_FORCE;
  if (r0 < 0 && rate > r0) m = RIGHTING_FORCE;
  if (lean < 0.0981748f) m *= lean * 10.185916f;

  if (!(controls.back_up > 0 && v < SLOW)) {
    // Only past the lean a rider at this speed would hold, unless steering into the fall.
    float limit;
    const float v2 = v * v, max2 = maxdab * maxdab;
    const float angle = bike->setup.roll_limit_angle;
    if (v <= FAST) {
      limit = (1 - std::pow(std::max(0.0f, 1 - v2 / max2), 32.0f)) * angle;
    } else {
      float f = std::clamp((v2 - FAST * FAST) / std::max(max2 - FAST * FAST, 1.0f), 0.0f, 1.0f);
      limit = angle + f * (float(2 * PI) - angle);
    }
    float o = std::clamp((lean - 1.25f * limit) / 0.25f, 0.0f, 1.0f);
    float t = std::clamp(((roll >= 0 ? -controls.steer : controls.steer) - 0.5f) * 2, 0.0f, 1.0f);
    m *= o + t * (1 - o);
    if (v > SLOW) m *= bike->lean_limit;
  }
  if (m == 0) return;
  if (body_axis(frame, 0, 1, 0).y >= 0.707) {
    dBodyAddForceAtRelPos(frame, 0, std::fabs(m) / 8, 0, 0, 4, 0);
    dBodyAddRelForceAtRelPos(frame, m, 0, 0, 0, 4, 0);
  } else {
    dBodyAddForceAtRelPos(frame, 0, std::fabs(m), 0, 0, 4, 0);
  }
}

void crash_check(Bike* bike) {
  if (bike_crashed(bike) || (bike->setup.options & OPTION_ARCADE)) return;
  if (bike->invulnerability < 0) return;
  // Right after a long jump the tolerance drops for a moment: a hard landing throws the rider.
  float f = 1.5f;
  if (bike->touchdown_tick >= bike->fall_tick) {
    float air = float(bike->touchdown_tick - bike->fall_tick) * float(SIM_STEP);
    float since = float(sim_tick - bike->touchdown_tick) * float(SIM_STEP);
    f = 1.5f - 0.5f * std::clamp((air - 0.559f) * 7.9365087f, 0.0f, 1.0f) * std::clamp((0.25f - since) * 8, 0.0f, 1.0f);
  }
  dBodyID rider = bike->bodies[BODY_RIDER];
  const dReal* p = dBodyGetPosition(rider);
  Vec3d velocity = to_vec(dBodyGetLinearVel(rider));
  dVector3 frame_velocity;
  dBodyGetPointVel(bike->bodies[BODY_FRAME], p[0], p[1], p[2], frame_velocity);
  Vec3d relative = velocity - to_vec(frame_velocity);
  if (length(relative) > CRASH_SPEED * f) {
    crash_start(bike);
    return;
  }
  Vec3d before = get3(bike->rider_velocity_ring[sim_tick & 3]);  // four steps ago
  Vec3d a = (velocity - before) * (0.25 / SIM_STEP) + Vec3d{0, GRAVITY, 0};
  if (length(a) > CRASH_ACCELERATION * f) crash_start(bike);
}

void crash_start(Bike* bike) {
  dJointAttach(bike->joints[JOINT_RIDER], nullptr, nullptr);
  limbs_on_feet(bike);
  bike->crash_timer = CRASH_BASE_STEPS + crash_delay_table[std::min(bike->crash_count, CRASH_DELAY_COUNT - 1)];
  bike->crash_count++;
}

void crash_update(Bike* bike) {
  if (!bike_crashed(bike)) return;
  const RiderPosePoints& pose = bike->info.rider_pose;
  dBodyID rider = bike->bodies[BODY_RIDER];
  dBodyID frame = bike->bodies[BODY_FRAME];
  dBodyID steering = bike->bodies[BODY_STEERING];
  if (length(to_vec(dBodyGetLinearVel(rider))) >= TUMBLING_SPEED) {
    // Still tumbling: the hands hold on to the bars and the rider knocks against the bike.
    double arm = 0.875 * (pose.upper_arm + pose.forearm);
    for (int i = 0; i < 2; i++) rope(rider, body_point(rider, pose.shoulder[i]), steering, body_point(steering, pose.hand[i]), arm);
    if (bike->crash_timer >= CRASH_BASE_STEPS) {
      rope(rider, to_vec(dBodyGetPosition(rider)), steering, to_vec(dBodyGetPosition(steering)), HANDLEBAR_TETHER);
    }
    rider_sphere_contacts(bike, BODY_FRAME);
    rider_sphere_contacts(bike, BODY_STEERING);
  } else {
    bike->crash_timer--;
  }

  if (bike->crash_timer < CRASH_BASE_STEPS) {
    // Back to the seat: three ropes that shorten to nothing also turn the rider upright.
    double length = 5 * std::clamp(double(bike->crash_timer - SEAT_PULL_END) / SEAT_PULL_STEPS, 0.0, 1.0);
    const float offsets[3][3] = {{0, 0, 0}, {-5, 10, 0}, {5, 10, 0}};
    for (const float* o : offsets) rope(rider, body_point(rider, o), frame, seat_point(bike, o), length);
  }

  if (bike->crash_timer <= 0) {
    bike->crash_timer = 0;
    Vec3d seat = seat_point(bike, nullptr);
    dBodySetPosition(rider, seat.x, seat.y, seat.z);
    dBodySetRotation(rider, dBodyGetRotation(frame));
    dJointAttach(bike->joints[JOINT_RIDER], rider, frame);
  }
}

void crash_limbs_update(Bike* bike) {
  bike->dab = std::max(0.0f, bike->dab - 4 * float(SIM_STEP));
  if (!bike_crashed(bike)) {
    limbs_on_feet(bike);
    return;
  }
  const RiderPosePoints& pose = bike->info.rider_pose;
  dBodyID rider = bike->bodies[BODY_RIDER];
  const double reach = pose.thigh + pose.shin;
  const Vec3d below = to_vec(dBodyGetPosition(rider)) - Vec3d{0, 1, 0};
  for (int i = 0; i < 2; i++) {
    Vec3d p = get3(bike->limb_pos[i]);
    Vec3d v = get3(bike->limb_vel[i]);
    if (bike->crash_timer < LIMBS_TO_PEGS) {
      // Back towards the foot pegs as the rider is pulled onto the seat.
      Vec3d peg = body_point(bike->bodies[BODY_FRAME], bike->info.rider_pose.foot_peg[i]);
      v = v + (peg - p) * (LIMB_STEERING * SIM_STEP);
    }
    p = p + v * SIM_STEP;
    v.y -= GRAVITY * SIM_STEP;
    double floor = ground_height(float(p.x), float(p.z)) + LIMB_GROUND_CLEARANCE;
    if (p.y < floor) {
      p.y = floor;
      v = {0, 0, 0};
    }
    v = v * LIMB_DAMPING;
    keep_within(&p, &v, body_point(rider, pose.hip[i]), reach);
    keep_within(&p, &v, below, reach);
    set3(bike->limb_pos[i], p);
    set3(bike->limb_vel[i], v);
  }
}

FootTargets rider_foot_targets(const Bike* bike) {
  FootTargets feet = {};
  const RiderPosePoints& pose = bike->info.rider_pose;
  dBodyID frame = bike->bodies[BODY_FRAME];
  dBodyID rider = bike->bodies[BODY_RIDER];
  const int c = bike->crash_timer;
  Vec3d foot[2];
  for (int i = 0; i < 2; i++) {
    float peg[3] = {pose.foot_peg[i][0], pose.foot_peg[i][1], pose.foot_peg[i][2]};
    if (c >= 1) {
      // Thrown off: the feet spread, rise and go back with the crash timer.
      float w = float(std::clamp(c, 1, 128)) / 128;
      float spread = 0.5f * std::clamp((w - 0.5f) * 2, 0.0f, 1.0f);
      peg[0] += i == 0 ? -spread : spread;
      peg[1] += 1.75f * std::clamp(2 * w, 0.0f, 1.0f);
      peg[2] += std::clamp(w * 1.3333334f, 0.0f, 1.0f);
    }
    foot[i] = body_point(frame, peg);
  }

  if (bike->dab != 0 && c < 128) {
    // A foot put down on the side the bike leans to, further forward at speed.
    Vec3d z = body_axis(frame, 0, 0, 1);
    float forward = float(std::clamp(-dot(z, to_vec(dBodyGetLinearVel(frame))) / FAST, 0.0, 1.0));
    float roll = roll_angle(bike);
    float e = std::clamp(std::fabs(roll) * 4 / float(PI), 0.0f, 1.0f);
    float ahead = (1.25f * forward - 0.25f) * e * 2.5f;
    Vec3d hip_left = body_point(rider, pose.hip[0]);
    Vec3d hip_right = body_point(rider, pose.hip[1]);
    Vec3d q = hip_right - hip_left;
    float slack = 1 - bike->dab;
    auto put_down = [&](int i, Vec3d hip, double out, float weight) {
      Vec3d ground = {hip.x + q.x * out - ahead * z.x, 0, hip.z + q.z * out - ahead * z.z};
      ground.y = ground_height(float(ground.x), float(ground.z)) + 0.125;
      foot[i] = foot[i] + (ground - foot[i]) * weight;
      feet.weight[i] = weight;
    };
    if (roll > -0.1f) put_down(0, hip_left, 0.5 * e - 0.5, 1 - std::clamp((roll + 0.5f) * 2.5f, 0.0f, 1.0f) * slack);
    if (roll < 0.1f) put_down(1, hip_right, 0.5 - 0.5 * e, 1 - std::clamp((roll - 0.5f) * -2.5f, 0.0f, 1.0f) * slack);
  }

  if (c > 0) {
    float k = float(std::clamp(2 * c - 128, 1, 128)) / 128;
    for (int i = 0; i < 2; i++) {
      foot[i] = foot[i] + (get3(bike->limb_pos[i]) - foot[i]) * k;
      feet.weight[i] = 1;
    }
  }
  for (int i = 0; i < 2; i++) set3(feet.point[i], foot[i]);
  return feet;
}
