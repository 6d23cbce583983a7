// Setters of a bike's controls: every value is clamped to its range, and the rider's own
// inputs go dead while the rider is down.
#include "physics/controls.h"

#include <algorithm>

#include "physics/bike.h"

namespace {

// Clamped, with NaN (from a damaged record) taken as 0.
float bounded(float value, float lo, float hi) {
  if (!(value == value)) return 0;
  return std::clamp(value, lo, hi);
}

// 0 while crashed: the rider is not on the bike to give this input.
float rider_input(const Bike* bike, float value, float lo, float hi) {
  return bike_crashed(bike) ? 0 : bounded(value, lo, hi);
}

}  // namespace

void controls_set_steer(Bike* bike, float value) { bike->controls.steer = bounded(value, -1, 1); }
void controls_set_throttle(Bike* bike, float value) { bike->controls.throttle = rider_input(bike, value, 0, 1); }
void controls_set_clutch(Bike* bike, float value) { bike->controls.clutch = bounded(value, 0, 1); }
void controls_set_front_brake(Bike* bike, float value) { bike->controls.front_brake = bounded(value, 0, 1); }
void controls_set_rear_brake(Bike* bike, float value) { bike->controls.rear_brake = bounded(value, 0, 1); }
void controls_set_sit_dab(Bike* bike, float value) { bike->controls.sit_dab = rider_input(bike, value, 0, 1); }
void controls_set_back_up(Bike* bike, float value) { bike->controls.back_up = rider_input(bike, value, 0, 1); }
void controls_set_lean(Bike* bike, float value) { bike->controls.lean = rider_input(bike, value, -1, 1); }
