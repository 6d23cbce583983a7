// Erosion strokes and their bytes, hostile stroke data, the crater and heap shapes, the queue
// with its budget, deferral, depth limit and overflow, strokes drawn by a wheel, and a bike
// ridden hard over a dirt field.
#include "physics/erosion.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "core/constants.h"
#include "physics/bike.h"
#include "physics/contact.h"
#include "physics/world.h"
#include "tests/physics/erosion_support.h"

namespace {

// Adds one point of `samples` equal samples to a stroke through its own bookkeeping.
void add_point(ErodeStroke* s, float x, float z, float ex, float ez, int samples, float extent) {
  s->sum_x = x * samples;
  s->sum_z = z * samples;
  s->sum_ex = ex * samples;
  s->sum_ez = ez * samples;
  s->sample_count = samples;
  erode_stroke_add_point(s, extent);
}

std::vector<StrokePoint> decode(const uint8_t* data, size_t length, float extent) {
  std::vector<StrokePoint> out;
  erode_stroke_decode(data, length, extent,
                      [](const StrokePoint& p, void* user) { static_cast<std::vector<StrokePoint>*>(user)->push_back(p); },
                      &out);
  return out;
}

std::vector<StrokePoint> decode(const std::vector<uint8_t>& data, float extent) {
  return decode(data.data(), data.size(), extent);
}

// Points of a stroke: n points from (x0, z0) with steps that may vary along it.
struct StrokeShape {
  const char* what;
  int n;
  float x0, z0;
  float (*step_x)(int i);
  float (*step_z)(int i);
};

TEST(StrokeBytes, DecodedPointsStayWithinTheirQuantum) {
  constexpr float EXTENT = 2048;
  const StrokeShape shapes[] = {
      {"one point", 1, 1000, 1000, [](int) { return 0.0f; }, [](int) { return 0.0f; }},
      {"straight", 20, 100, 1500, [](int) { return 1.0f; }, [](int) { return -0.25f; }},
      {"curve", 40, 700, 300, [](int i) { return std::cos(i * 0.1f); }, [](int i) { return std::sin(i * 0.1f); }},
      {"landing after a jump", 12, 50, 50, [](int i) { return i == 6 ? 40.0f : 0.8f; }, [](int) { return 0.5f; }},
      {"full", 64, 10, 2000, [](int i) { return 0.9f + 0.003f * i; }, [](int) { return -0.9f; }},
      {"far edges", 3, 0, 2047.99f, [](int) { return 0.001f; }, [](int) { return -1.0f; }},
  };
  for (const StrokeShape& shape : shapes) {
    ErodeStroke stroke{};
    std::vector<StrokePoint> truth;
    float x = shape.x0, z = shape.z0;
    for (int i = 0; i < shape.n; i++) {
      if (i > 0) x += shape.step_x(i), z += shape.step_z(i);
      const float angle = i * 0.7f;
      const float strength = 0.125f + 0.875f * float(i % 8) / 7;
      const StrokePoint p = {x, z, std::cos(angle) * strength, std::sin(angle) * strength, 1 + i % 16};
      add_point(&stroke, p.x, p.z, p.ex, p.ez, p.samples, EXTENT);
      truth.push_back(p);
    }
    ASSERT_EQ(stroke.point_count, shape.n) << shape.what;
    uint8_t data[STROKE_DATA_MAX];
    const int length = erode_stroke_encode(&stroke, EXTENT, data);
    EXPECT_EQ(length, 17 + 4 * (shape.n - 1)) << shape.what;
    const std::vector<StrokePoint> back = decode(data, size_t(length), EXTENT);
    ASSERT_EQ(back.size(), truth.size()) << shape.what;
    // Half a step quantum of the widest axis (with the bounds' padding), plus float rounding.
    const float spread = std::max(stroke.hi_step[0] - stroke.lo_step[0], stroke.hi_step[1] - stroke.lo_step[1]) + 0.125f;
    const float position_error = spread / 255 / 2 + EXTENT / 16777215 + 1e-3f;
    for (size_t i = 0; i < truth.size(); i++) {
      SCOPED_TRACE(std::string(shape.what) + " point " + std::to_string(i));
      EXPECT_NEAR(back[i].x, truth[i].x, position_error);
      EXPECT_NEAR(back[i].z, truth[i].z, position_error);
      // Components are cut to their 32nd, never rounded up.
      EXPECT_LE(back[i].ex, truth[i].ex + 1e-6f);
      EXPECT_GT(back[i].ex, truth[i].ex - 1.0f / 32 - 1e-6f);
      EXPECT_LE(back[i].ez, truth[i].ez + 1e-6f);
      EXPECT_GT(back[i].ez, truth[i].ez - 1.0f / 32 - 1e-6f);
      // The 4-bit field holds 1..15: a point of 16 samples is sent as 15.
      EXPECT_EQ(back[i].samples, std::min(truth[i].samples, 15));
    }
  }
}

// Every direction component comes back cut to its 32nd, including those where the rounded 8-bit
// value and the cut one fall on different sides of a byte boundary (just above 0.5, or 0).
TEST(StrokeBytes, DirectionComponentsComeBackCutNeverJumped) {
  constexpr float EXTENT = 256;
  for (float e : {-1.0f, -0.5f, 0.0f, 0.0001f, 0.25f, 0.5f, 0.5005f, 0.501f, 0.9999f, 1.0f}) {
    ErodeStroke stroke{};
    add_point(&stroke, 100, 100, e, -e, 1, EXTENT);
    uint8_t data[STROKE_DATA_MAX];
    const std::vector<StrokePoint> back = decode(data, size_t(erode_stroke_encode(&stroke, EXTENT, data)), EXTENT);
    ASSERT_EQ(back.size(), 1u) << e;
    const float expected = std::min(std::floor((e + 1) * 32), 63.0f) / 32 - 1;
    const float expected_z = std::min(std::floor((1 - e) * 32), 63.0f) / 32 - 1;
    EXPECT_FLOAT_EQ(back[0].ex, expected) << e;
    EXPECT_FLOAT_EQ(back[0].ez, expected_z) << e;
  }
}

TEST(StrokeBytes, ShortUntaggedAndHostileDataYieldOnlyPointsOnTheField) {
  constexpr float EXTENT = 256;
  // A valid header: bounds at the Q16 code for 0 (32768 = 0.0156 ft), point 0 at the middle of
  // the field, erosion bytes with sample bits 1.
  std::vector<uint8_t> header = {1, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80,
                                 0x00, 0x00, 0x80, 0x00, 0x00, 0x80, 0x81, 0x80};
  auto with = [&](std::vector<uint8_t> tail) {
    std::vector<uint8_t> d = header;
    d.insert(d.end(), tail.begin(), tail.end());
    return d;
  };
  std::vector<uint8_t> untagged = header;
  untagged[0] = 2;
  std::vector<uint8_t> zero_samples = header;
  zero_samples[15] = 0x80;
  // Bounds of +1024 ft a step: the second point leaves the field.
  std::vector<uint8_t> runaway = with({255, 255, 0x80, 0x80, 255, 255, 0x80, 0x80});
  for (int k = 1; k <= 7; k += 2) runaway[k] = 0xff, runaway[k + 1] = 0xff;
  // Point 0 at the far corner: exactly the extent, which is off the field.
  std::vector<uint8_t> corner = header;
  for (int k = 9; k < 15; k++) corner[k] = 0xff;
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    float extent;
    size_t points;
  } cases[] = {
      {"empty", {}, EXTENT, 0},
      {"16 bytes", std::vector<uint8_t>(header.begin(), header.end() - 1), EXTENT, 0},
      {"untagged", untagged, EXTENT, 0},
      {"17 bytes", header, EXTENT, 1},
      {"20 bytes", with({0, 0, 0x80}), EXTENT, 1},
      {"21 bytes", with({0, 0, 0x80, 0x80}), EXTENT, 2},
      {"runaway steps", runaway, EXTENT, 1},
      {"far corner", corner, EXTENT, 0},
      {"no field", header, 0, 0},
      {"field not a number", header, std::nanf(""), 0},
  };
  for (const Case& c : cases) {
    const std::vector<StrokePoint> points = decode(c.data, c.extent);
    EXPECT_EQ(points.size(), c.points) << c.what;
    for (const StrokePoint& p : points) {
      EXPECT_TRUE(p.x >= 0 && p.x < c.extent && p.z >= 0 && p.z < c.extent) << c.what;
      EXPECT_TRUE(p.samples >= 1 && p.samples <= 15) << c.what;
    }
  }
  EXPECT_EQ(decode(zero_samples, EXTENT).at(0).samples, 1);
  EXPECT_EQ(decode(header, EXTENT).at(0).samples, 1);
  EXPECT_NEAR(decode(header, EXTENT).at(0).x, 128, 1e-3);
  EXPECT_EQ(erode_stroke_decode(nullptr, 40, EXTENT, [](const StrokePoint&, void*) {}, nullptr), 0);
}

using ErosionGround = ErosionField;

TEST_F(ErosionGround, DigAndDepositMoveTheSameDirtAndStayOnTheField) {
  struct Case {
    const char* what;
    float x, z;
    bool touches;
  } cases[] = {
      {"middle", 64.3f, 60.8f, true},     {"corner", 0.2f, 0.1f, true},   {"far edge", 127.9f, 64, true},
      {"just outside", -2, 64, true},     {"far outside", -500, 64, false}, {"beyond the far side", 64, 1e9f, false},
      {"not a number", std::nanf(""), 64, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const float moved = terrain_dig(&terrain, c.x, c.z, 4, -0.1f);
    EXPECT_EQ(moved < 0, c.touches);
    EXPECT_NEAR(volume_change(), moved, 1e-3);
    terrain_deposit(&terrain, c.x + 2, c.z, 4, -moved);
    EXPECT_NEAR(volume_change(), 0, 1e-3);
    EXPECT_TRUE(base_untouched());
    for (size_t k = 0; k < samples(); k++) terrain.heights[k] = 0;
  }
  // The crater's deepest point is under its centre, the full amount deep.
  terrain_dig(&terrain, 64, 64, 4, -0.5f);
  EXPECT_FLOAT_EQ(terrain_height_at(&terrain, 64, 64), -0.5f);
  EXPECT_FLOAT_EQ(terrain_height_at(&terrain, 68, 64), 0);
  EXPECT_EQ(terrain_dig(&terrain, 64, 64, 0, -1), 0);
  EXPECT_EQ(terrain_dig(&terrain, 64, 64, 4, 0), 0);
}

// Queued points straight from a stroke's true points, without its bytes.
void queue_true_points(const ErodeStroke& stroke) {
  for (int i = 0; i < stroke.point_count; i++) {
    const StrokePoint& p = stroke.points[i];
    erode_queue.entries[(erode_queue.read + erode_queue.count) % ERODE_QUEUE_SIZE] = {p.x, p.z, p.ex, p.ez, p.samples};
    erode_queue.count++;
  }
}

void process_all(Terrain* terrain, float strength) {
  while (erode_queue.count > 0) erode_queue_process(terrain, nullptr, strength);
}

TEST_F(ErosionGround, StrokeBytesChangeTheGroundLikeTheTruePointsAndReplayExactly) {
  ErodeStroke stroke{};
  for (int i = 0; i < 48; i++) {
    const float angle = i * 0.05f;
    const float x = 30 + 40 * std::sin(angle), z = 20 + 40 * (1 - std::cos(angle));
    // The tyre pushed forward and into the turn, stronger as it goes.
    add_point(&stroke, x, z, -0.6f * std::cos(angle) - 0.2f, -0.6f * std::sin(angle), 4 + i % 12, terrain.extent);
  }
  ASSERT_EQ(stroke.point_count, 48);
  uint8_t data[STROKE_DATA_MAX];
  const int length = erode_stroke_encode(&stroke, terrain.extent, data);

  queue_true_points(stroke);
  process_all(&terrain, 40);
  const std::vector<float> truth(terrain.heights, terrain.heights + samples());
  const float deepest = *std::min_element(truth.begin(), truth.end());
  const float highest = *std::max_element(truth.begin(), truth.end());
  ASSERT_LT(deepest, -0.05f);

  erode_ground_restore(&terrain);
  erode_stroke_apply(data, size_t(length), terrain.extent);
  process_all(&terrain, 40);
  const std::vector<float> decoded(terrain.heights, terrain.heights + samples());
  float worst = 0;
  for (size_t k = 0; k < samples(); k++) worst = std::max(worst, std::fabs(decoded[k] - truth[k]));
  // Within a few hundredths of the ground's relief: the cut erosion components shift each
  // heap a little.
  EXPECT_LT(worst, 0.06f * (highest - deepest));

  // The same bytes again (a demo played back, a stroke relayed by the server) give exactly
  // the same ground.
  erode_ground_restore(&terrain);
  for (size_t k = 0; k < samples(); k++) ASSERT_EQ(terrain.heights[k], 0);
  erode_stroke_apply(data, size_t(length), terrain.extent);
  process_all(&terrain, 40);
  for (size_t k = 0; k < samples(); k++) ASSERT_EQ(terrain.heights[k], decoded[k]) << k;
  EXPECT_TRUE(base_untouched());
}

// One queued point at (x, z) pushing dirt towards -x.
void queue_point_at(float x, float z, int count = 1) {
  for (int i = 0; i < count; i++) {
    erode_queue.entries[(erode_queue.read + erode_queue.count) % ERODE_QUEUE_SIZE] = {x, z, 1, 0, 15};
    erode_queue.count++;
  }
}

TEST_F(ErosionGround, QueueSpendsItsBudgetAndLetsTheLocalRiderWaitAtMostTwoSeconds) {
  queue_point_at(20, 20, 200);
  erode_queue_process(&terrain, nullptr, 1);
  EXPECT_EQ(erode_queue.count, 200 - (200 / 64 + 32));
  erode_ground_restore(&terrain);
  EXPECT_EQ(erode_queue.count, 0);

  // A point beside the rider waits; one farther off does not.
  sim_tick = 1000;
  const float rider[2] = {64, 64};
  queue_point_at(64, 70);
  erode_queue_process(&terrain, rider, 1);
  EXPECT_EQ(erode_queue.count, 1);
  for (sim_tick = 1001; sim_tick <= 1000 + ERODE_DEFER_TICKS; sim_tick++) {
    erode_queue_process(&terrain, rider, 1);
    ASSERT_EQ(erode_queue.count, 1) << sim_tick;
  }
  erode_queue_process(&terrain, rider, 1);
  EXPECT_EQ(erode_queue.count, 0);
  EXPECT_LT(terrain_height_at(&terrain, 64, 70), 0);

  queue_point_at(64, 80);
  erode_queue_process(&terrain, rider, 1);
  EXPECT_EQ(erode_queue.count, 0);
}

TEST_F(ErosionGround, RutStopsDeepeningAtTheDepthLimit) {
  ErodeParams& e = terrain.tiles[0].erode;
  e.radius = 2;
  e.inner_radius = 1;
  e.displacement = 20;  // the heap lands well away from the rut
  queue_point_at(40, 64, 3000);
  process_all(&terrain, 10);
  const float rut = terrain_height_at(&terrain, 40, 64);
  EXPECT_LT(rut, -0.95f);
  EXPECT_GE(rut, -1.0f - 1e-4f);
  // The heap of the moved dirt stands 20 ft against the push.
  EXPECT_GT(terrain_height_at(&terrain, 20, 64), 0.5f);
  EXPECT_NEAR(volume_change(), 0, 0.05);
  EXPECT_TRUE(base_untouched());
}

TEST_F(ErosionGround, FullQueueDropsPointsAndSaysSoOnce) {
  static std::vector<std::string> lines;
  lines.clear();
  console_set_display_hook([](const char* text) { lines.emplace_back(text); });
  erode_queue.full_reported = false;
  ErodeStroke stroke{};
  add_point(&stroke, 10, 10, 1, 0, 4, terrain.extent);
  uint8_t data[STROKE_DATA_MAX];
  const int length = erode_stroke_encode(&stroke, terrain.extent, data);
  for (int i = 0; i < ERODE_QUEUE_SIZE + 5; i++) erode_stroke_apply(data, size_t(length), terrain.extent);
  console_set_display_hook(nullptr);
  EXPECT_EQ(erode_queue.count, ERODE_QUEUE_SIZE);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Erode queue full!", 0), 0u);
}

// A wheel whose contact state and ground force the test sets by hand, over the erosion field.
struct WheelStrokes : ErosionField {
  WheelState wheel{};
  ErodeStroke stroke{};
  StrokeCatcher catcher;
  void SetUp() override {
    ErosionField::SetUp();
    physics_world_create();
    wheel.body = dBodyCreate(physics_world);
    erode_stroke_clear(&stroke);
  }
  void TearDown() override {
    dBodyDestroy(wheel.body);
    ErosionField::TearDown();
  }
  // The tyre touching at (x, z), the wheel moving along +x at speed, the ground pushing it
  // with (fx, 500, fz) lbf.
  void touch(float x, float z, float speed, float fx, float fz) {
    dBodySetLinearVel(wheel.body, speed, 0, 0);
    wheel.contact_point[0] = x, wheel.contact_point[1] = 0, wheel.contact_point[2] = z;
    wheel.depth = 0.05f;
    wheel.feedback.f1[0] = fx, wheel.feedback.f1[1] = 500, wheel.feedback.f1[2] = fz;
    wheel_erode(&wheel, &stroke, &terrain, false);
    sim_tick++;
  }
  void airborne() {
    wheel.depth = 0;
    wheel_erode(&wheel, &stroke, &terrain, false);
    sim_tick++;
  }
};

TEST_F(WheelStrokes, FullStrokeIsSentAndANewOneBegun) {
  // 1.5 ft a step: every sample closes the point before it.
  for (int i = 0; i < 65; i++) touch(5 + 1.5f * i, 30, 30, -300, 0);
  EXPECT_EQ(stroke.point_count, 64);
  EXPECT_TRUE(catcher.strokes().empty());
  touch(5 + 1.5f * 65, 30, 30, -300, 0);
  ASSERT_EQ(catcher.strokes().size(), 1u);
  EXPECT_EQ(catcher.strokes()[0].size(), size_t(STROKE_DATA_MAX));
  EXPECT_EQ(stroke.point_count, 1);
  const std::vector<StrokePoint> sent = decode(catcher.strokes()[0], terrain.extent);
  ASSERT_EQ(sent.size(), 64u);
  for (size_t i = 0; i < sent.size(); i++) {
    EXPECT_NEAR(sent[i].x, 5 + 1.5f * i, 0.01f);
    EXPECT_NEAR(sent[i].z, 30, 0.01f);
    // Braking: the ground pushes the tyre back at full strength.
    EXPECT_FLOAT_EQ(sent[i].ex, -1);
    EXPECT_FLOAT_EQ(sent[i].ez, 0);
  }
}

TEST_F(WheelStrokes, StrokeOfALiftedWheelIsSentHalfASecondAfterItsLastPoint) {
  for (int i = 0; i < 10; i++) touch(20 + 1.5f * i, 30, 30, 0, 400);
  const int32_t last_point = stroke.last_tick;
  while (sim_tick <= last_point + STROKE_CLOSE_TICKS) airborne();
  EXPECT_TRUE(catcher.strokes().empty());
  airborne();
  ASSERT_EQ(catcher.strokes().size(), 1u);
  const std::vector<StrokePoint> sent = decode(catcher.strokes()[0], terrain.extent);
  ASSERT_EQ(sent.size(), 10u);  // nine closed points and the pending sample
  // Pushed sideways (+z) by the ground in a turn.
  EXPECT_NEAR(sent[0].ez, 0.96875f, 1e-6f);
  EXPECT_EQ(stroke.point_count, 0);
  EXPECT_EQ(stroke.sample_count, 0);
}

TEST_F(WheelStrokes, SamplesAveragePerFootOrSixteenStepsAndWeakPushesLeaveNone) {
  // Too slow, and too weak a push: no samples.
  for (int i = 0; i < 20; i++) touch(40, 40, 5, -3000, 0);
  for (int i = 0; i < 20; i++) touch(40, 40, 30, -40, 20);
  EXPECT_EQ(stroke.sample_count + stroke.point_count, 0);
  // Standing on the spot: 16 samples make a point.
  for (int i = 0; i < 17; i++) touch(40, 40, 30, -300, 0);
  EXPECT_EQ(stroke.point_count, 1);
  EXPECT_EQ(stroke.points[0].samples, 16);
  EXPECT_EQ(stroke.sample_count, 1);
  // A tenth of a foot a step: a point every foot.
  erode_stroke_clear(&stroke);
  for (int i = 0; i <= 25; i++) touch(40 + 0.1f * i, 40, 30, -300, 0);
  ASSERT_EQ(stroke.point_count, 2);
  EXPECT_NEAR(stroke.points[1].x - stroke.points[0].x, 1.0f, 0.15f);
}

TEST_F(WheelStrokes, WideStepSpreadSendsTheStrokeSoFar) {
  for (float x : {10.0f, 11.5f, 13.0f, 100.0f, 101.5f}) touch(x, 50, 30, -300, 0);
  ASSERT_EQ(catcher.strokes().size(), 1u);
  EXPECT_EQ(decode(catcher.strokes()[0], terrain.extent).size(), 3u);
  EXPECT_EQ(stroke.point_count, 1);
  EXPECT_FLOAT_EQ(stroke.points[0].x, 100);
}

// A 450 ridden flat out and then braked to a stop over a dirt field that erodes strongly.
TEST_F(ErosionGround, HardRideRutsTheLineAndPushesUpDirtAndAResetRestoresIt) {
  Terrain big{};
  ASSERT_TRUE(terrain_allocate(&big, 7, 1, 0, 0));
  big.tiles[0].erode = terrain.tiles[0].erode;
  physics_world_create();
  Bike* bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  const float start[3] = {128, 0.05f, 240};
  bike_translate(bike, start);
  bike->setup.options |= OPTION_AUTO_SHIFT;
  bike->controls.clutch = 1;
  const float strength = 20;
  for (int i = 0; i < 4 * TICKS_PER_SECOND; i++) {
    const bool braking = i >= int(2.5 * TICKS_PER_SECOND);
    bike->controls.throttle = braking ? 0 : 1;
    bike->controls.front_brake = bike->controls.rear_brake = braking ? 1 : 0;
    bike_ground_contacts(bike, &big);
    physics_world_step();
    bike_erode(bike, &big);
    erode_queue_process(&big, nullptr, strength);
    bike_post_step(bike);
    sim_tick++;
  }
  // The wheels' last strokes go out once they have been off the ground long enough.
  bike->front.depth = bike->rear.depth = 0;
  sim_tick += STROKE_CLOSE_TICKS + 1;
  bike_erode(bike, &big);
  process_all(&big, strength);
  const float end_z = float(dBodyGetPosition(bike->bodies[BODY_FRAME])[2]);
  bike_destroy(bike);
  ASSERT_LT(end_z, 200);

  // Along the line the ground is lower.
  double line_sum = 0;
  int line_count = 0;
  float deepest = 0, highest = 0;
  const size_t n = size_t(big.grid_size) * size_t(big.grid_size);
  for (float z = end_z + 5; z <= 235; z += 1, line_count++) line_sum += terrain_height_at(&big, 128, z);
  for (size_t k = 0; k < n; k++) {
    deepest = std::min(deepest, big.heights[k] - big.base_heights[k]);
    highest = std::max(highest, big.heights[k] - big.base_heights[k]);
  }
  EXPECT_LT(line_sum / line_count, -0.01);
  EXPECT_LT(deepest, -0.05f);
  // Braking pushes the dirt ahead of the tyres into a heap.
  EXPECT_GT(highest, 0.05f);
  EXPECT_TRUE(std::all_of(big.base_heights, big.base_heights + n, [](float h) { return h == 0; }));

  erode_ground_restore(&big);
  EXPECT_TRUE(std::equal(big.heights, big.heights + n, big.base_heights));
  EXPECT_EQ(erode_queue.count, 0);
  terrain_free(&big);
}

}  // namespace
