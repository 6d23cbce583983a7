// A bike's bodies and packed states: posing a bike and packing it again gives the same joint
// positions, posing with motion gives the joints those rates, and a slot's history poses the
// bike between its states; frame heights keep room above the highest ground.
#include "replay/bike_state.h"

#include <cmath>

#include <gtest/gtest.h>

#include "physics/bike.h"
#include "physics/setup.h"
#include "physics/world.h"
#include "track/terrain.h"

namespace {

constexpr double PI = 3.14159265358979323846;
const PackRanges RANGES = {1024.0, -20.0, 100.0, 0.5, 0.9};

struct BikeState : ::testing::Test {
  Bike* bike = nullptr;
  void SetUp() override {
    physics_world_create();
    history_clear_all();
    bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override { bike_destroy(bike); }

  PackRanges ranges() const {
    PackRanges r = RANGES;
    r.swing_limit = bike->info.swingarm_max_angle;
    r.fork_travel = bike->info.fork_travel;
    return r;
  }
};

BikePose pose_with(double yaw, double roll, double steer, double swing_share, double fork_share, double front,
                   double rear, const Bike& bike) {
  BikePose p{};
  p.frame_pos[0] = 500;
  p.frame_pos[1] = 10;
  p.frame_pos[2] = 300;
  double qy[4] = {std::cos(yaw / 2), 0, std::sin(yaw / 2), 0};
  double qz[4] = {std::cos(roll / 2), 0, 0, std::sin(roll / 2)};
  p.frame_quat[0] = qy[0] * qz[0];
  // qy * qz
  p.frame_quat[1] = qy[2] * qz[3];
  p.frame_quat[2] = qy[2] * qz[0];
  p.frame_quat[3] = qy[0] * qz[3];
  for (int i = 0; i < 3; ++i) p.rider_pos[i] = p.frame_pos[i] + bike.info.rider_pos[i] - bike.info.frame_pos[i];
  for (int i = 0; i < 4; ++i) p.rider_quat[i] = p.frame_quat[i];
  p.steer_angle = steer;
  p.swing_angle = -swing_share * bike.info.swingarm_max_angle;
  p.fork_pos = -fork_share * bike.info.fork_travel;
  p.front_axle = front;
  p.rear_axle = rear;
  p.gear = 2;
  return p;
}

TEST_F(BikeState, PosedBikePacksToItsPose) {
  struct Case {
    double yaw, roll, steer, swing, fork, front, rear;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0, 0, 0},
      {0.7, 0.3, 0.4, 0.5, 0.3, 2.0, -2.5},
      {-2.5, -0.6, -0.7, 1.0, 1.0, -3.0, 3.0},
  };
  for (const Case& c : cases) {
    BikePose in = pose_with(c.yaw, c.roll, c.steer, c.swing, c.fork, c.front, c.rear, *bike);
    bike_set_pose(bike, in, nullptr);
    PackedBikeState packed;
    bike_pack(*bike, ranges(), &packed);
    BikePose out;
    packed_state_unpack(packed, ranges(), &out);
    EXPECT_NEAR(out.steer_angle, in.steer_angle, 0.01) << c.steer;
    EXPECT_NEAR(out.swing_angle, in.swing_angle, 0.01) << c.swing;
    EXPECT_NEAR(out.fork_pos, in.fork_pos, 0.01) << c.fork;
    EXPECT_NEAR(std::remainder(out.front_axle - in.front_axle, 2 * PI), 0, 0.03) << c.front;
    EXPECT_NEAR(std::remainder(out.rear_axle - in.rear_axle, 2 * PI), 0, 0.03) << c.rear;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(out.frame_pos[i], in.frame_pos[i], 0.001);
  }
}

TEST_F(BikeState, PosingWithMotionGivesTheJointRates) {
  BikePose p = pose_with(0.4, 0.1, 0.2, 0.4, 0.5, 1.0, -1.0, *bike);
  BikeMotion m{};
  m.frame_velocity[2] = -30;
  m.frame_spin[1] = 0.5;
  m.steer_rate = 0.8;
  m.swing_rate = -0.3;
  m.fork_rate = 0.6;
  m.front_axle_rate = 25;
  m.rear_axle_rate = 24;
  bike_set_pose(bike, p, &m);
  EXPECT_NEAR(dJointGetHingeAngleRate(bike->joints[JOINT_STEERING]), m.steer_rate, 1e-6);
  EXPECT_NEAR(dJointGetHingeAngleRate(bike->joints[JOINT_SWINGARM]), m.swing_rate, 1e-6);
  EXPECT_NEAR(dJointGetSliderPositionRate(bike->joints[JOINT_FORK]), m.fork_rate, 1e-6);
  EXPECT_NEAR(dJointGetHingeAngleRate(bike->joints[JOINT_FRONT_AXLE]), m.front_axle_rate, 1e-6);
  EXPECT_NEAR(dJointGetHingeAngleRate(bike->joints[JOINT_REAR_AXLE]), m.rear_axle_rate, 1e-6);
  EXPECT_NEAR(dBodyGetLinearVel(bike->bodies[BODY_FRAME])[2], -30, 1e-9);
}

// Once a setter was given a value far outside its range, every state packed from then on carries
// the marker, so a demo or another player sees it.
TEST_F(BikeState, PackedStatesCarryTheSetupMarker) {
  for (bool out_of_range : {false, true}) {
    setup_out_of_range = out_of_range;
    PackedBikeState packed;
    bike_pack(*bike, ranges(), &packed);
    BikePose pose;
    packed_state_unpack(packed, ranges(), &pose);
    EXPECT_EQ(pose.setup_marker, out_of_range);
  }
  setup_out_of_range = false;
}

TEST_F(BikeState, HistoryPosesTheBikeBetweenStates) {
  BikePose a = pose_with(0, 0, 0, 0.2, 0.2, 0, 0, *bike), b = a;
  b.frame_pos[0] += 4;  // 4 ft in 8 ticks: 64 ft/s
  PackedBikeState sa, sb;
  packed_state_pack(a, ranges(), &sa);
  packed_state_pack(b, ranges(), &sb);
  history_add(3, sa, 100);
  history_add(3, sb, 108);
  bike->knockback = 0;
  history_apply(3, bike, ranges(), 102);
  EXPECT_NEAR(dBodyGetPosition(bike->bodies[BODY_FRAME])[0], a.frame_pos[0] + 1, 0.001);
  EXPECT_NEAR(dBodyGetLinearVel(bike->bodies[BODY_FRAME])[0], 64, 0.01);
  // A knocked bike is pulled, not placed.
  bike->knockback = 1;
  history_apply(3, bike, ranges(), 108);
  EXPECT_NEAR(dBodyGetPosition(bike->bodies[BODY_FRAME])[0], a.frame_pos[0] + 1, 0.001);
  EXPECT_NEAR(dBodyGetLinearVel(bike->bodies[BODY_FRAME])[0], 3 / BIKE_PULL_TIME, 0.01);
}

}  // namespace

// A frame in the air over the highest ground, or over a flat field with no height range at
// all, packs and unpacks at its own height.
TEST(PackGround, FrameHeightAboveTheHighestGroundKeepsItsHeight) {
  struct Case {
    float lowest, highest;
    double above;  // ft above the highest ground
  };
  const Case cases[] = {{0, 0, 4}, {0, 0, 200}, {-20, 80, 2}, {-20, 80, 120}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.above);
    Terrain terrain{};
    terrain.extent = 1024;
    terrain.min_height = c.lowest;
    terrain.max_height = c.highest;
    const PackGround ground = pack_ground_of(terrain);
    const PackRanges ranges = {ground.track_size, ground.ground_min, ground.ground_range, 0.5, 0.9};
    BikePose pose{};
    pose.frame_pos[0] = pose.frame_pos[2] = 512;
    pose.frame_pos[1] = c.highest + c.above;
    pose.frame_quat[0] = pose.rider_quat[0] = 1;
    PackedBikeState packed;
    packed_state_pack(pose, ranges, &packed);
    BikePose out;
    packed_state_unpack(packed, ranges, &out);
    EXPECT_NEAR(out.frame_pos[1], pose.frame_pos[1], ground.ground_range / 16777215);
  }
}
