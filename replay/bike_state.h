// Packed states and the bodies of a bike: packing a bike, posing its seven bodies from a
// state (at rest or moving), pulling them towards one, and posing a slot's bike from its
// history.
#pragma once

#include <cstdint>

#include "replay/history.h"
#include "replay/packed_state.h"

struct Bike;
struct Terrain;

// Room kept above the highest ground for packed frame heights (ft). Without it a bike in the air
// over the highest ground would replay clamped down to that height, and on a flat field (no
// height range at all) every bike would replay with its frame on the ground.
constexpr double PACK_HEADROOM = 256;

// Where packed positions lie on a ground: x and z over 0..track_size, the frame height from the
// lowest ground up to the highest plus PACK_HEADROOM. Taken once when the ground is loaded, so
// erosion or the editor widening the height range later does not move states already packed.
struct PackGround {
  double track_size;   // ft
  double ground_min;   // ft
  double ground_range; // ft
};
PackGround pack_ground_of(const Terrain& terrain);

// The ranges a bike's states pack into on a ground.
PackRanges bike_pack_ranges(const Bike& bike, const PackGround& ground);

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
