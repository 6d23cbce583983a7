// The per-step input record of a bike, written by the player's controls, robots, demos and
// the network, and read by the physics.
#pragma once

struct RiderControls {
  float steer;        // -1..1, +1 = torque turning the front wheel left
  float throttle;     // 0..1
  float clutch;       // 0..1 engagement, 1 = engaged
  float front_brake;  // 0..1
  float rear_brake;   // 0..1
  float sit_dab;      // 0..1, sit down / put a foot down
  float back_up;      // 0..1, push the bike backwards
  float lean;         // -1 forward .. +1 backward
};
