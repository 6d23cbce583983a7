// Fork and shock: force-limited joint motors driven by a spring, air and damper model with a
// rising-rate linkage on the shock; the steering torque path and the front wheel damper.
#pragma once

#include "physics/bike.h"

struct Terrain;

// The ground the steering lock (grip and height under the front wheel) and the rider's feet
// read; set with the track. Without one the lock takes full grip and a wheel on the ground,
// and the feet find flat ground at height 0.
extern const Terrain* steering_terrain;

// Damping force (lbf) at velocity v (ft/s, positive = extending) from the linear coefficients
// and the signed low-speed offsets; always within 1/8..8 times the linear term, 0 at rest.
float damping_force(float v, float hs_comp, float ls_comp_adj, float hs_reb, float ls_reb_adj);
// Fork force (lbf, positive pushes the legs apart) at slider position x (ft, 0 extended,
// -fork_travel bottomed) and rate v.
float fork_force(const Bike* bike, float x, float v);
// Shock compression (ft) and motion ratio (ft per unit travel) at swing arm travel u (0..1).
struct Linkage {
  float compression;
  float ratio;
};
Linkage shock_linkage(const BikeInfo& info, float u);
// Shock torque on the swing arm hinge (lbf·ft, positive extends) at hinge angle theta (rad,
// 0 extended) and rate omega.
float shock_torque(const Bike* bike, float theta, float omega);

// Sets the fork and shock motors for the next step.
void suspension_update(Bike* bike);
// Angle (rad) between the front wheel's direction of travel and the fork's forward direction.
float steer_heading_angle(const Bike* bike);
// Torque (lbf·ft) about the steering axis: on the front wheel, the opposite on the frame.
void apply_steering_torque(Bike* bike, float torque);
// The rider's steering torque with the stability aids (leveling, roll damping, roll limit,
// slow and landing damping, lean steering) and the steering lock by speed and grip.
void steering_update(Bike* bike);
// Arcade physics instead of steering_update: a motor holds the lean the steer input asks for,
// the front wheel follows the direction of travel, and a tail drag keeps the bike pointing
// where it goes.
void arcade_steering_update(Bike* bike);
// Damps every rotation of the front wheel except its spin.
void steering_damper(Bike* bike);
