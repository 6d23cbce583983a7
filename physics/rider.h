// The rider on the bike: the soft springs that hold the rider body on the seat and move its
// weight with the lean and sit/dab controls.
#pragma once

#include "physics/bike.h"

// Sets the fore/aft and vertical rider springs (soft contacts between rider and frame) and the
// fore/aft damping of the rider joint for the next step.
void rider_springs_update(Bike* bike);
