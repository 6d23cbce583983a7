// Engine, clutch, gearbox and brakes.
#include "physics/drivetrain.h"

#include <algorithm>
#include <cmath>

#include "core/constants.h"
#include "core/tick.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr float SLIDE_SPEED2 = 4;  // (ft/s)²: a wheel sliding faster than 2 ft/s
constexpr int AUTO_SHIFT_PERIOD = 32;  // steps between automatic shift decisions

float clampf(float v, float lo, float hi) { return std::min(std::max(v, lo), hi); }

float wrap_angle(double a) {
  a = std::remainder(a, 2 * PI);
  return float(a);
}

int valid_gear(const Bike* bike, int gear) {
  gear = std::clamp(gear, 0, GEAR_COUNT - 1);
  while (gear > 0 && !(bike->info.gear_ratio[gear] > 0)) gear--;
  return gear;
}

bool touching(const WheelState& wheel) { return wheel.depth > 0; }

float slip2(const WheelState& wheel) {
  const float* s = wheel.slip_velocity;
  return s[0] * s[0] + s[1] * s[1] + s[2] * s[2];
}

void automatic_shift(Bike* bike) {
  if (sim_tick % AUTO_SHIFT_PERIOD != 0) return;
  if (!(dJointGetHingeAngle(bike->joints[JOINT_SWINGARM]) < -0.01)) return;
  if (touching(bike->rear) && slip2(bike->rear) > SLIDE_SPEED2) return;
  double rpm = total_ratio(bike) * dJointGetHingeAngleRate(bike->joints[JOINT_REAR_AXLE]) * RPM_PER_RAD_S;
  if (rpm < bike->info.shift_down_rpm) {
    bike->gear = valid_gear(bike, bike->gear - 1);
  } else if (rpm > bike->info.shift_up_rpm) {
    bike->gear = valid_gear(bike, bike->gear + 1);
  }
}

void set_brake(dJointID axle, float torque) {
  dJointSetHingeParam(axle, dParamVel, 0);
  dJointSetHingeParam(axle, dParamFMax, torque);
}

}  // namespace

float engine_rpm(const Bike* bike) { return float(bike->engine_speed * RPM_PER_RAD_S); }

float total_ratio(const Bike* bike) {
  return bike->info.gear_ratio[bike->gear] * bike->info.primary_ratio * bike->final_drive;
}

float engine_torque(const Bike* bike) {
  const BikeInfo& info = bike->info;
  float x = clampf(engine_rpm(bike) * 0.002f, 0, TORQUE_POINTS - 1);
  int k = int(std::floor(x));
  float f = x - float(k);
  int k1 = std::min(k + 1, TORQUE_POINTS - 1);
  float closed = info.closed_torque[k] + f * (info.closed_torque[k1] - info.closed_torque[k]);
  float open = info.open_torque[k] + f * (info.open_torque[k1] - info.open_torque[k]);
  float torque = closed + (open - closed) * bike->controls.throttle;
  if ((bike->setup.options & OPTION_STOP_WHEELIES) && !touching(bike->front) && touching(bike->rear) && torque > 0) {
    dVector3 w;
    const dReal* av = dBodyGetAngularVel(bike->bodies[BODY_FRAME]);
    dBodyVectorFromWorld(bike->bodies[BODY_FRAME], av[0], av[1], av[2], w);
    if (w[0] > -1.0 / 32) torque = 0;
  }
  return torque;
}

void gear_shift(Bike* bike, int input) {
  if (bike_crashed(bike) || input == bike->last_shift || input < -1 || input > 1) return;
  bike->last_shift = input;
  bike->gear = valid_gear(bike, bike->gear + input);
}

void gear_set(Bike* bike, int gear) { bike->gear = valid_gear(bike, gear); }

float sprocket_teeth(float stock, float adjustment) {
  return std::max(3.0f, std::floor(clampf(adjustment, -2, 2) + stock));
}

void final_drive_set(Bike* bike, float front_adjustment, float rear_adjustment) {
  bike->final_drive = sprocket_teeth(bike->info.rear_sprocket, rear_adjustment) /
                      sprocket_teeth(bike->info.front_sprocket, front_adjustment);
}

void drivetrain_update(Bike* bike) {
  const BikeInfo& info = bike->info;
  const RiderControls& controls = bike->controls;
  dJointID rear_axle = bike->joints[JOINT_REAR_AXLE];

  if (bike->setup.options & OPTION_AUTO_SHIFT) automatic_shift(bike);
  float ratio = total_ratio(bike);
  float torque = engine_torque(bike);
  double wheel_angle = dJointGetHingeAngle(rear_axle);
  double wheel_rate = dJointGetHingeAngleRate(rear_axle);
  float twist = wrap_angle(bike->drive_angle - wheel_angle);

  // The automatic clutch is open at or below its rpm and closes over the next 2000 rpm.
  float rpm = engine_rpm(bike);
  float a = bike->setup.auto_clutch_rpm;
  float engagement = controls.clutch;
  if (rpm <= a + AUTO_CLUTCH_SPAN_RPM) engagement = std::min(clampf((rpm - a) / AUTO_CLUTCH_SPAN_RPM, 0, 1), controls.clutch);

  float damping = clampf(float((bike->engine_speed - ratio * wheel_rate) * info.driveline_damping), -500, 500);
  float coupling = info.driveline_stiffness * twist + damping;
  // Under engine braking the automatic clutch stays as the rider holds it.
  if (coupling < 0) engagement = controls.clutch;
  coupling = clampf(coupling, -1e6f, 1e6f);

  // The twist cannot exceed a quarter turn times the engagement: beyond it the clutch slips.
  float slack = engagement * float(PI / 4);
  if (twist > slack) {
    bike->drive_angle = wrap_angle(wheel_angle + slack);
  } else if (twist < -slack) {
    bike->drive_angle = wrap_angle(wheel_angle - slack);
  }

  float transmitted = engagement * engagement * coupling;
  dBodyAddRelTorque(bike->bodies[BODY_REAR_WHEEL], -transmitted, 0, 0);
  dBodyAddRelTorque(bike->bodies[BODY_FRAME], transmitted, 0, 0);

  bike->engine_speed += float(SIM_STEP) * (torque - transmitted / ratio) / bike->engine_inertia;
  bike->drive_angle = wrap_angle(bike->drive_angle + SIM_STEP * bike->engine_speed / ratio);

  unsigned options = bike->setup.options;
  float front = bike->setup.front_brake_torque * controls.front_brake;
  if ((options & OPTION_FRONT_ANTILOCK) && touching(bike->front) && slip2(bike->front) > SLIDE_SPEED2) front = 0;
  if ((options & OPTION_STOP_STOPPIES) && touching(bike->front) && !touching(bike->rear)) front = 0;
  set_brake(bike->joints[JOINT_FRONT_AXLE], front);

  float rear = bike->setup.rear_brake_torque * controls.rear_brake;
  if ((options & OPTION_REAR_ANTILOCK) && touching(bike->rear) && slip2(bike->rear) > SLIDE_SPEED2) rear = 0;
  set_brake(rear_axle, rear);
}
