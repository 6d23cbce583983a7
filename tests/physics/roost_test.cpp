// Roost from a bike's wheels: the tile's roost types, the density, the spread of a spinning
// rear wheel against the front, splashes, replayed bikes, and the fixed pool with its
// billboards until the particles land.
#include "physics/roost.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/tick.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/world.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr float ROOST_EDGE = 64;  // ft: tiles west of this throw dirt, east of it nothing

// A flat field whose western half is dirt with one roost type and whose eastern half has
// none, with a 450 standing on the dirt and the pool's billboards reserved.
struct RoostTest : ::testing::Test {
  Terrain terrain{};
  Bike* bike = nullptr;
  std::mt19937 random{7};

  void SetUp() override {
    physics_world_create();
    sim_tick = 0;
    ASSERT_TRUE(terrain_allocate(&terrain, 6, 1, 0, 0));
    RoostType& dirt = terrain.tiles[0].roost[0];
    dirt = roost_type_defaults();
    dirt.mode = ROOST_DIRT;
    dirt.texture = 7;
    dirt.r = 120, dirt.g = 90, dirt.b = 60, dirt.a = 200;
    terrain.tile_count = 2;
    const int side = 1 << terrain.level;
    for (int row = 0; row < side; row++) {
      for (int col = 0; col < side; col++) terrain.tilemap[row * side + col] = col * 2 >= ROOST_EDGE ? 1 : 0;
    }
    objects_reset(&terrain);
    for (int i = 0; i < ROOST_PARTICLE_MAX; i++) billboard_add(0, 0, 0, 1, 1, "");
    roost_pool_attach(0);
    bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    place(32);
  }
  void TearDown() override {
    bike_destroy(bike);
    roost_pool_attach(-1);
    objects_reset(nullptr);
    terrain_free(&terrain);
  }
  RoostType& dirt() { return terrain.tiles[0].roost[0]; }
  // Stands the bike at x on the ground, facing -z, and lets it settle.
  void place(float x) {
    bike_reset(bike);
    const float at[3] = {x, 0.05f, 64};
    bike_translate(bike, at);
    for (int i = 0; i < TICKS_PER_SECOND; i++) {
      bike_ground_contacts(bike, &terrain);
      physics_world_step();
      bike_post_step(bike);
      sim_tick++;
    }
  }
  // The bike rolls forward at 2 ft/s while its rear wheel spins at `spin` rad/s; the wheel
  // contacts are found again for that motion.
  void spin_rear(double spin) {
    for (dBodyID body : bike->bodies) dBodySetLinearVel(body, 0, 0, -2);
    // Rolling forward (-z) turns a wheel about -x.
    dBodySetAngularVel(bike->bodies[BODY_REAR_WHEEL], -spin, 0, 0);
    bike_ground_contacts(bike, &terrain);
    dJointGroupEmpty(contact_group);
  }
  int emit(int frequency, bool local = true) {
    const int before = roost_pool.active_count;
    bike_emit_roost(bike, local, &terrain, frequency, random);
    return roost_pool.active_count - before;
  }
};

TEST_F(RoostTest, SpinningRearWheelThrowsTheTilesDirtByTheDensity) {
  spin_rear(100);
  ASSERT_GT(bike->rear.depth, 0);
  struct Case {
    int frequency;
    float count;
    int fewest, most;
  } cases[] = {
      {0, 10, 0, 0}, {100, 10, 1, 1}, {150, 10, 1, 2}, {1000, 10, 10, 10}, {1000, 2.5f, 2, 3}, {1000, 0, 0, 0},
  };
  for (const Case& c : cases) {
    dirt().count = c.count;
    for (int i = 0; i < 40; i++) {
      // The front wheel rolls with the ground: it throws nothing.
      const int made = emit(c.frequency);
      ASSERT_GE(made, c.fewest) << c.frequency << " " << c.count;
      ASSERT_LE(made, c.most) << c.frequency << " " << c.count;
    }
    roost_pool_reset();
  }
  emit(1000);
  for (int i = roost_pool.active_head; i >= 0; i = roost_pool.particles[i].next) {
    const RoostParticle& p = roost_pool.particles[i];
    EXPECT_EQ(p.type, &dirt());
    const Billboard& b = track_objects.billboards[size_t(p.billboard)];
    EXPECT_EQ(b.texture, 7);
    EXPECT_FLOAT_EQ(b.height, dirt().size);
    EXPECT_EQ(b.a, 200);
    EXPECT_FLOAT_EQ(b.x, p.position[0]);
  }
}

TEST_F(RoostTest, TileWithoutRoostThrowsNothing) {
  place(ROOST_EDGE + 20);
  spin_rear(100);
  ASSERT_GT(bike->rear.depth, 0);
  EXPECT_EQ(emit(1000), 0);
}

// Angle between a particle's velocity and the tyre's velocity at the contact point: how far
// round the tyre it left (the bike's own 2 ft/s is small beside the tyre's speed).
double throw_angle(const RoostParticle& p, const WheelState& wheel) {
  const float* s = wheel.slip_velocity;
  const double d = p.velocity[0] * s[0] + p.velocity[1] * s[1] + p.velocity[2] * s[2];
  const double a = std::sqrt(p.velocity[0] * p.velocity[0] + p.velocity[1] * p.velocity[1] + p.velocity[2] * p.velocity[2]);
  const double b = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
  return std::acos(std::clamp(d / (a * b), -1.0, 1.0));
}

TEST_F(RoostTest, SpinningRearThrowsUpToTheFastAngleTheFrontNeverBeyondAnEighthTurn) {
  dirt().randomize = 0;
  dirt().fast_angle = float(PI / 2);
  struct Case {
    const char* what;
    bool front;
    double widest;
  } cases[] = {{"rear", false, PI / 2}, {"front", true, PI / 8}};
  for (const Case& c : cases) {
    spin_rear(0);
    WheelState& wheel = c.front ? bike->front : bike->rear;
    if (c.front) {
      dBodySetAngularVel(wheel.body, -100, 0, 0);
      bike_ground_contacts(bike, &terrain);
      dJointGroupEmpty(contact_group);
    } else {
      spin_rear(100);
    }
    roost_pool_reset();
    double widest = 0;
    for (int i = 0; i < 100; i++) {
      wheel_emit_roost(&wheel, true, &terrain, 1, c.front ? ROOST_FRONT_SPREAD : ROOST_REAR_SPREAD, random);
      widest = std::max(widest, throw_angle(roost_pool.particles[roost_pool.active_head], wheel));
    }
    EXPECT_LE(widest, c.widest + 0.03) << c.what;
    EXPECT_GT(widest, c.widest * 0.9) << c.what;
  }
}

TEST_F(RoostTest, ReplayedBikeFindsItsOwnContactsAndSplashesNeedNoSpin) {
  spin_rear(100);
  bike->rear.depth = bike->front.depth = 0;
  EXPECT_EQ(emit(1000, true), 0);
  EXPECT_EQ(emit(1000, false), 10);
  EXPECT_GT(bike->rear.depth, 0);

  roost_pool_reset();
  dirt().mode = ROOST_SPLASH;
  dirt().randomize = 0;
  spin_rear(0);
  // Both wheels splash while rolling, thrown up and out to the sides.
  EXPECT_EQ(emit(1000), 20);
  for (int i = roost_pool.active_head; i >= 0; i = roost_pool.particles[i].next) {
    EXPECT_GE(roost_pool.particles[i].velocity[1], 0);
  }
}

// A pool with little or no room keeps the particles that fit, exactly as thrown with room to
// spare, and the session's random numbers go on as if every particle had been made: robots and
// later throws draw from the same sequence.
TEST_F(RoostTest, AFullPoolKeepsWhatFitsAndDrawsTheSameRandomNumbers) {
  RoostType& splash = terrain.tiles[0].roost[1];
  splash = dirt();
  splash.mode = ROOST_SPLASH;
  splash.texture = 9;
  spin_rear(100);
  ASSERT_GT(bike->rear.depth, 0);
  struct Thrown {
    std::vector<std::vector<float>> particles;  // position and velocity, oldest first
    std::vector<uint32_t> next_randoms;
  };
  auto throw_with_room = [&](int room, uint32_t seed) {
    roost_pool_reset();
    const float nowhere[3] = {0, 0, 0};
    for (int i = 0; i < ROOST_PARTICLE_MAX - room; i++) roost_particle_add(nowhere, nowhere, &dirt());
    std::mt19937 numbers(seed);
    const int before = roost_pool.active_count;
    for (int k = 0; k < 3; k++) bike_emit_roost(bike, true, &terrain, 1000, numbers);
    Thrown out;
    int32_t at = roost_pool.active_head;
    for (int i = before; i < roost_pool.active_count; i++, at = roost_pool.particles[at].next) {
      const RoostParticle& p = roost_pool.particles[at];
      out.particles.insert(out.particles.begin(), {p.position[0], p.position[1], p.position[2], p.velocity[0],
                                                   p.velocity[1], p.velocity[2], float(p.type->texture)});
    }
    for (int i = 0; i < 8; i++) out.next_randoms.push_back(numbers());
    return out;
  };
  for (uint32_t seed : {1u, 2u, 3u}) {
    const Thrown plenty = throw_with_room(ROOST_PARTICLE_MAX, seed);
    // Three throws of both wheels, dirt and splash alike, make dozens of particles.
    ASSERT_GT(plenty.particles.size(), 40u);
    for (int room : {0, 1, 7, 33}) {
      const Thrown tight = throw_with_room(room, seed);
      ASSERT_EQ(tight.particles.size(), size_t(room)) << "seed " << seed << " room " << room;
      for (int i = 0; i < room; i++) ASSERT_EQ(tight.particles[size_t(i)], plenty.particles[size_t(i)]) << i;
      EXPECT_EQ(tight.next_randoms, plenty.next_randoms) << "seed " << seed << " room " << room;
    }
  }
}

TEST_F(RoostTest, PoolNeverHoldsMoreThanItsParticlesAndLandedOnesReturn) {
  spin_rear(100);
  for (int i = 0; i < 300; i++) emit(1000);
  EXPECT_EQ(roost_pool.active_count, ROOST_PARTICLE_MAX);
  EXPECT_EQ(roost_pool.free_head, -1);
  int listed = 0;
  for (int i = roost_pool.active_head; i >= 0; i = roost_pool.particles[i].next) listed++;
  EXPECT_EQ(listed, ROOST_PARTICLE_MAX);

  // Everything thrown comes down within a few seconds, hides its billboard and is free again.
  // Landed particles leave the active list without disturbing the order of the rest and go to
  // the head of the free list in the active list's order, so later throws reuse the same places.
  auto list = [](int32_t head) {
    std::vector<int32_t> out;
    for (int32_t i = head; i >= 0; i = roost_pool.particles[i].next) out.push_back(i);
    return out;
  };
  bool some_landed_together = false;
  for (int i = 0; i < 10 * TICKS_PER_SECOND && roost_pool.active_count > 0; i++) {
    const std::vector<int32_t> before = list(roost_pool.active_head);
    const std::vector<int32_t> free_before = list(roost_pool.free_head);
    roost_particles_move(&terrain);
    std::vector<int32_t> kept, freed;
    for (int32_t index : before) (track_objects.billboards[size_t(index)].texture != 0 ? kept : freed).push_back(index);
    std::vector<int32_t> free_expected(freed.rbegin(), freed.rend());
    free_expected.insert(free_expected.end(), free_before.begin(), free_before.end());
    ASSERT_EQ(list(roost_pool.active_head), kept) << "step " << i;
    ASSERT_EQ(list(roost_pool.free_head), free_expected) << "step " << i;
    ASSERT_EQ(roost_pool.active_count, int(kept.size()));
    some_landed_together |= freed.size() > 1;
  }
  EXPECT_TRUE(some_landed_together);
  EXPECT_EQ(roost_pool.active_count, 0);
  for (int i = 0; i < ROOST_PARTICLE_MAX; i++) ASSERT_EQ(track_objects.billboards[size_t(i)].texture, 0) << i;
  EXPECT_EQ(emit(1000), 10);
}

// The flight step written plainly, one particle at a time, to hold the pool's loop to.
struct ReferenceParticle {
  float position[3], velocity[3], height;
  int tint[4];
  bool landed;
};

void reference_move(ReferenceParticle& q, const RoostType& type, const Terrain* terrain) {
  const float dt = float(SIM_STEP);
  for (int k = 0; k < 3; k++) q.position[k] += q.velocity[k] * dt;
  for (int k = 0; k < 3; k++) q.velocity[k] -= q.velocity[k] * (dt * type.drag);
  q.velocity[1] -= ROOST_GRAVITY * dt;
  q.height += dt * type.grow;
  const uint8_t fades[4] = {type.fade_r, type.fade_g, type.fade_b, type.fade_a};
  for (int k = 0; k < 4; k++) q.tint[k] = std::clamp(q.tint[k] + int(int8_t(fades[k])), 0, 255);
  q.landed = q.velocity[1] < 0 && terrain_height_at(terrain, q.position[0], q.position[2]) > q.position[1];
}

TEST_F(RoostTest, ParticlesFlyAndLandBitForBitAsThePlainStepSays) {
  // A ramp under the particles, so the landing test reads real heights.
  const int side = terrain.grid_size;
  for (int row = 0; row < side; row++) {
    for (int col = 0; col < side; col++) terrain_set_height(&terrain, col, row, 0.37f * float(col));
  }
  struct Case {
    float drag, grow;
    uint8_t fade[4];  // signed steps; 0 leaves a byte alone
    float velocity[3];
  };
  const Case cases[] = {
      {0, 0, {0, 0, 0, 0}, {3.1f, 17.3f, -2.2f}},             // no drag, no fade
      {0.7f, 1.3f, {3, 0xfd, 0, 0x80}, {-11.7f, 9.9f, 5.5f}},  // fades saturating both ways
      {2.9f, -0.4f, {0x7f, 0x7f, 0x7f, 0x7f}, {0.3f, -1.1f, 0.7f}},
  };
  std::vector<RoostType> types;
  for (const Case& c : cases) {
    RoostType type = roost_type_defaults();
    type.mode = ROOST_DIRT;
    type.texture = 5;
    type.size = 0.75f;
    type.r = 250, type.g = 4, type.b = 128, type.a = 1;
    type.drag = c.drag, type.grow = c.grow;
    type.fade_r = c.fade[0], type.fade_g = c.fade[1], type.fade_b = c.fade[2], type.fade_a = c.fade[3];
    types.push_back(type);
  }
  std::vector<ReferenceParticle> expected;
  for (size_t i = 0; i < types.size(); i++) {
    const float position[3] = {20.5f + 3 * float(i), 0.37f * (20.5f + 3 * float(i)) + 0.5f, 30.25f};
    roost_particle_add(position, cases[i].velocity, &types[i]);
    ReferenceParticle q{};
    for (int k = 0; k < 3; k++) q.position[k] = position[k], q.velocity[k] = cases[i].velocity[k];
    q.height = types[i].size;
    q.tint[0] = types[i].r, q.tint[1] = types[i].g, q.tint[2] = types[i].b, q.tint[3] = types[i].a;
    expected.push_back(q);
  }
  // Newest at the head: particle i of the cases is the one added i-th.
  std::vector<int32_t> index(types.size());
  int32_t at = roost_pool.active_head;
  for (size_t i = types.size(); i-- > 0; at = roost_pool.particles[at].next) index[i] = at;

  std::vector<bool> gone(types.size(), false);
  for (int step = 0; step < 4 * TICKS_PER_SECOND && roost_pool.active_count > 0; step++) {
    roost_particles_move(&terrain);
    for (size_t i = 0; i < types.size(); i++) {
      if (gone[i]) continue;
      ReferenceParticle& q = expected[i];
      reference_move(q, types[i], &terrain);
      const RoostParticle& p = roost_pool.particles[index[i]];
      const Billboard& b = track_objects.billboards[size_t(p.billboard)];
      for (int k = 0; k < 3; k++) {
        ASSERT_EQ(p.position[k], q.position[k]) << "case " << i << " step " << step;
        ASSERT_EQ(p.velocity[k], q.velocity[k]) << "case " << i << " step " << step;
      }
      ASSERT_EQ(b.x, q.position[0]);
      ASSERT_EQ(b.y, q.position[1]);
      ASSERT_EQ(b.z, q.position[2]);
      ASSERT_EQ(b.height, q.height) << "case " << i << " step " << step;
      const int tint[4] = {b.r, b.g, b.b, b.a};
      for (int k = 0; k < 4; k++) ASSERT_EQ(tint[k], q.tint[k]) << "case " << i << " step " << step;
      if (q.landed) {
        EXPECT_EQ(b.texture, 0) << "case " << i << " step " << step;
        gone[i] = true;
      } else {
        ASSERT_EQ(b.texture, 5) << "case " << i << " step " << step;
      }
    }
  }
  for (size_t i = 0; i < types.size(); i++) EXPECT_TRUE(gone[i]) << "case " << i;
  EXPECT_EQ(roost_pool.active_count, 0);
}

}  // namespace
