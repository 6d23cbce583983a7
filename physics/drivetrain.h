// Engine, clutch, gearbox and brakes: throttle, clutch, gear and brake inputs turned into
// torques on the rear wheel and the frame, and brake motors on the axles.
#pragma once

#include "physics/bike.h"

constexpr float AUTO_CLUTCH_SPAN_RPM = 2000;  // the automatic clutch closes over this range

// Engine torque (lbf·ft) at the present engine speed and throttle.
float engine_torque(const Bike* bike);
// Automatic shifting, the driveline coupling, engine integration and the brakes, each step.
void drivetrain_update(Bike* bike);
// The rider's shift input (-1, 0, 1): shifts once per change of the input.
void gear_shift(Bike* bike, int input);
// Sets the gear (0 = first), clamped and lowered to a gear the gearbox has.
void gear_set(Bike* bike, int gear);
float engine_rpm(const Bike* bike);
// Sprocket tooth adjustments (each -2..2) on the row's stock sprockets, at least 3 teeth each.
void final_drive_set(Bike* bike, float front_adjustment, float rear_adjustment);
// Tooth count of a sprocket after an adjustment (shared with the setup display).
float sprocket_teeth(float stock, float adjustment);
// The overall ratio from engine to rear wheel in the present gear.
float total_ratio(const Bike* bike);
