// Setup values of a bike: the values it has right after it is built, and the transforms from
// the setup sliders to physical values.
#pragma once

#include "physics/bike.h"

// High-speed damping key (0..100) to a factor 0.25..4 (50 gives 1).
float setup_damping_factor(float key);
// Low-speed damping key (0..100) to an offset -1..1 (50 gives 0).
float setup_damping_offset(float key);
// Spring, preload and oil keys (0..100) to a fraction 0..1.
float setup_fraction(float key);

// The applied values of a newly built bike, before any setup is applied.
void setup_defaults(Bike* bike);
// Puts the share d (0.33..0.5) of the rider's mass on the rider body.
void setup_rider_mass(Bike* bike, float d);
