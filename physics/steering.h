// Steering, suspension and stability of a bike: the lean measure the contacts, the stability
// aids and the robots read.
#pragma once

#include "physics/bike.h"

// Signed lean of the frame (rad): 0 upright, positive when the bike leans to its left.
float roll_angle(const Bike* bike);
// Roll rate of the frame (rad/s) about its own z axis: positive leans it further left.
float roll_rate(const Bike* bike);
