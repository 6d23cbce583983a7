// The per-step input record of a bike, written by the player's controls, robots, demos and
// the network, and read by the physics; and its setters.
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

struct Bike;

// Each setter clamps to the control's range. Throttle, sit/dab, back up and lean are 0 while
// the rider is down; steering, clutch and brakes still work on the riderless bike.
void controls_set_steer(Bike* bike, float value);
void controls_set_throttle(Bike* bike, float value);
void controls_set_clutch(Bike* bike, float value);
void controls_set_front_brake(Bike* bike, float value);
void controls_set_rear_brake(Bike* bike, float value);
void controls_set_sit_dab(Bike* bike, float value);
void controls_set_back_up(Bike* bike, float value);
void controls_set_lean(Bike* bike, float value);
