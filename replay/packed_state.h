// The 39-byte packed pose of a bike (history, demos, game messages): packing, unpacking,
// interpolation between two packed states and the motion implied by two of them.
#pragma once

#include <cstdint>

constexpr int PACKED_STATE_SIZE = 39;

struct PackedBikeState {
  uint8_t bytes[PACKED_STATE_SIZE];
};

// The ranges a state is packed into: from the loaded height field and the bike's model.
struct PackRanges {
  double track_size;      // ft, x and z run over 0..track_size
  double ground_min;      // ft, lowest ground height
  double ground_range;    // ft, highest minus lowest ground height
  double swing_limit;     // rad, the swing arm hinge runs over -swing_limit..0
  double fork_travel;     // ft, the fork slider runs over -fork_travel..0
};

// Everything a packed state holds, as plain numbers. Quaternions are (w, x, y, z) and turn
// body coordinates into world coordinates.
struct BikePose {
  double frame_pos[3];    // ft
  double frame_quat[4];
  double steer_angle;     // rad, -pi/4..pi/4
  double swing_angle;     // rad, -swing_limit..0
  double fork_pos;        // ft, -fork_travel..0
  double rider_pos[3];    // ft, world position of the rider body
  double rider_quat[4];
  double front_axle;      // rad, -pi..pi
  double rear_axle;       // rad, -pi..pi
  int gear;               // 0..6
  bool dab;               // the rider's dab amount is above 0
  double throttle;        // 0..1
  int crash_timer;        // steps; above 0 while the rider is down
  double engine_speed;    // rad/s
  // Bit 0 of the fork byte: the sender's setup went far outside a setter's range (a setup no
  // menu makes), so demos and other players can tell such a rider apart.
  bool setup_marker;
};

// Rates implied by two poses some ticks apart: what a posed bike's bodies move with.
struct BikeMotion {
  double frame_velocity[3];   // ft/s
  double frame_spin[3];       // rad/s, world axes
  double rider_velocity[3];   // ft/s
  double rider_spin[3];       // rad/s, world axes
  double steer_rate;          // rad/s
  double swing_rate;          // rad/s
  double fork_rate;           // ft/s
  double front_axle_rate;     // rad/s
  double rear_axle_rate;      // rad/s
};

void packed_state_pack(const BikePose& pose, const PackRanges& ranges, PackedBikeState* out);

// Unpacking loses what packing quantised. A rider who is down unpacks with gear 7 and a
// crash timer that packs back to the same byte; throttle then reads 0.
void packed_state_unpack(const PackedBikeState& state, const PackRanges& ranges, BikePose* out);

// Interpolates from a (w = 0) to b (w = 1); w above 1 extrapolates. Byte 36 comes from a.
void packed_state_interpolate(const PackedBikeState& a, const PackedBikeState& b, double w,
                              PackedBikeState* out);

// The rates that take pose a to pose b in ticks steps (ticks >= 1).
void bike_pose_motion(const BikePose& a, const BikePose& b, int ticks, BikeMotion* out);
