// Packed states and the bodies of a bike: packing a bike, posing its seven bodies from a
// state (at rest or moving), pulling them towards one, and posing a slot's bike from its
// history.
#pragma once

#include <cstdint>

#include "replay/history.h"
#include "replay/packed_state.h"

struct Bike;
struct Terrain;

// The ranges a bike's states pack into on the loaded ground.
PackRanges bike_pack_ranges(const Bike& bike, const Terrain& terrain);

void bike_pack(const Bike& bike, const PackRanges& ranges, PackedBikeState* out);

// Sets every body from a pose: the frame and the rider as given, the steering, fork and swing
// arm by their joint positions, the wheels by their axle angles. With motion the bodies move
// with those rates; without it they are at rest.
void bike_set_pose(Bike* bike, const BikePose& pose, const BikeMotion* motion);

// While a knocked bike is simulated, steers its bodies towards the pose instead of placing
// them: each body gets the velocity that closes its distance to the pose in PULL_TIME.
constexpr double BIKE_PULL_TIME = 0.125;  // s
void bike_pull_towards(Bike* bike, const BikePose& pose);

// Poses a slot's bike from the slot's history at tick: from the state there with the
// velocities between the entries around it, or pulled towards it while the bike's
// knock-back timer is above 0.25. Nothing happens without history.
void history_apply(int slot, Bike* bike, const PackRanges& ranges, int32_t tick);
