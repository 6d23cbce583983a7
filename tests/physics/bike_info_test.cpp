// The model table: keys in order, class columns, drivetrain rows, torque curve shapes and the
// name lookup with its fallback.
#include "physics/bike_info.h"

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "core/console.h"

namespace {

const char* const KEYS =
    "450sxf(2018) crf450(2018) fc450(2018) kx450f(2018) rmz450(2018) yz450f(2018) 450sxf(2017) "
    "crf450(2017) fc450(2017) kx450f(2017) rmz450(2017) yz450f(2017) 350sxf(2017) 450sxf(2016) "
    "crf450(2016) kx450f(2016) rmz450(2016) yz450f(2016) crf450(2013) kx450f(2013) rmz450(2013) "
    "yz450f(2013) 450sxf(2013) 350sxf(2013) crf450(2011) kx450f(2011) rmz450(2011) yz450f(2011) "
    "450sxf(2011) 350sxf(2011) 250sx(2012) cr250(2007) kx250(2006) rm250(2008) yz250(2012) "
    "crf250(2018) fc250(2018) kx250f(2018) rmz250(2018) yz250f(2018) 250sxf(2018) crf250(2017) "
    "fc250(2017) kx250f(2017) rmz250(2017) yz250f(2017) 250sxf(2017) crf250(2016) kx250f(2016) "
    "rmz250(2016) yz250f(2016) 250sxf(2016) crf250(2013) kx250f(2013) rmz250(2013) yz250f(2013) "
    "250sxf(2013) crf250(2009) kx250f(2009) rmz250(2009) yz250f(2009) 250sxf(2009) crf250(2008) "
    "kx250f(2008) rmz250(2008) yz250f(2008) cr125 kx125 rm125 yz125 125sx crf250(2007) "
    "kx250f(2007) rmz250(2007) yz250f(2007) yz250f_se(2006) rs50cr rs50kx rs50rm rs50yz";

int row_index(const char* name) {
  for (int i = 0; i < BIKE_INFO_COUNT; i++) {
    if (std::strcmp(bike_info_table[i].name, name) == 0) return i;
  }
  return -1;
}

TEST(BikeInfo, KeysAreInTableOrder) {
  std::istringstream keys(KEYS);
  std::string key;
  int i = 0;
  while (keys >> key) {
    ASSERT_LT(i, BIKE_INFO_COUNT);
    EXPECT_EQ(key, bike_info_table[i].name) << "row " << i;
    i++;
  }
  EXPECT_EQ(i, BIKE_INFO_COUNT);
}

// The class columns, by the row ranges of each class.
TEST(BikeInfo, ClassColumns) {
  struct ClassCase {
    const char* first;
    const char* last;
    float frame_mass, fork_mass, fork_spring_min, fork_spring_max, swingarm_mass, shock_spring_min,
        shock_spring_max, rider_mass, fork_hs_reb, shock_hs_reb;
  };
  const ClassCase cases[] = {
      {"450sxf(2018)", "350sxf(2011)", 4.735f, 0.703125f, 376.303f, 913.878f, 0.5025f, 2486.29f, 5174.16f,
       5.46875f, 32, 650},
      {"250sx(2012)", "yz250(2012)", 4.365625f, 0.75375f, 322.545f, 860.12f, 0.589375f, 2083.1f, 4770.98f,
       5.46875f, 30, 600},
      {"crf250(2018)", "yz250f(2008)", 4.24f, 0.703125f, 335.984f, 873.56f, 0.504375f, 2217.5f, 4905.37f,
       4.6875f, 30, 600},
      {"cr125", "125sx", 3.65375f, 0.739688f, 322.545f, 860.12f, 0.541875f, 1814.32f, 4502.19f, 4.6875f, 30, 600},
      {"crf250(2007)", "yz250f_se(2006)", 4.24f, 0.703125f, 335.984f, 873.56f, 0.504375f, 2217.5f, 4905.37f,
       4.6875f, 30, 600},
      {"rs50cr", "rs50yz", 3.34125f, 0.739688f, 309.106f, 846.681f, 0.541875f, 1814.32f, 4502.19f, 4.6875f, 30,
       600},
  };
  int covered = 0;
  for (const ClassCase& c : cases) {
    int first = row_index(c.first), last = row_index(c.last);
    ASSERT_GE(first, 0);
    ASSERT_GE(last, first);
    for (int i = first; i <= last; i++, covered++) {
      const BikeInfo& r = bike_info_table[i];
      SCOPED_TRACE(r.name);
      EXPECT_EQ(r.frame_mass, c.frame_mass);
      EXPECT_EQ(r.fork_mass, c.fork_mass);
      EXPECT_EQ(r.fork_spring_min, c.fork_spring_min);
      EXPECT_EQ(r.fork_spring_max, c.fork_spring_max);
      EXPECT_EQ(r.swingarm_mass, c.swingarm_mass);
      EXPECT_EQ(r.shock_spring_min, c.shock_spring_min);
      EXPECT_EQ(r.shock_spring_max, c.shock_spring_max);
      EXPECT_EQ(r.rider_mass, c.rider_mass);
      EXPECT_EQ(r.fork_hs_reb, c.fork_hs_reb);
      EXPECT_EQ(r.shock_hs_reb, c.shock_hs_reb);
    }
  }
  EXPECT_EQ(covered, BIKE_INFO_COUNT);
}

TEST(BikeInfo, EngineClasses) {
  for (int i = 0; i < BIKE_INFO_COUNT; i++) {
    const BikeInfo& r = bike_info_table[i];
    std::string name = r.name;
    std::string expected;
    if (name == "350sxf(2017)" || name == "350sxf(2013)") {
      expected = "250f";
    } else if (i < 30) {
      expected = "450f";
    } else if (i < 35) {
      expected = "250";
    } else if (name.find("125") != std::string::npos) {
      expected = "125";
    } else if (name.rfind("rs50", 0) == 0) {
      expected = "50";
    } else {
      expected = "250f";
    }
    EXPECT_EQ(expected, r.engine_class) << name;
  }
}

TEST(BikeInfo, SharedGeometry) {
  for (int i = 0; i < BIKE_INFO_COUNT; i++) {
    const BikeInfo& r = bike_info_table[i];
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.front_wheel.pos[1], 1.09f);
    EXPECT_EQ(r.front_wheel.ring_radius, 0.8333333f);
    EXPECT_EQ(r.rear_wheel.pos[2], 6.0f);
    EXPECT_EQ(r.rear_wheel.hub_mass, 0.3125f);
    EXPECT_EQ(r.swingarm_pivot[2], 4.08f);
    EXPECT_EQ(r.link_end, 0.413386f);
    EXPECT_EQ(r.rider_pos[1], 4.5f);
    EXPECT_EQ(r.state_offset[1], 0.0833333f);
    EXPECT_EQ(r.state_rider_offset[0], -0.6666667f);
    EXPECT_EQ(r.rider_pose.shin, 1.701f);
    EXPECT_EQ(r.rider_bone_centres[8][1], -0.88f);
  }
}

// Rows whose drivetrain is fixed, with the peak of the full-throttle curve.
TEST(BikeInfo, DrivetrainRows) {
  struct DriveCase {
    const char* name;
    float primary, front, rear;
    float gears[GEAR_COUNT];
    float inertia, stiffness, damping, down, up, max;
    float peak, peak_rpm;
  };
  const DriveCase cases[] = {
      {"450sxf(2018)", 2.451613f, 13, 48, {2, 1.666667f, 1.4f, 1.181818f, 1, -1}, 0.0088501f, 7500, 0.75f,
       6000, 10500, 12000, 35.7494f, 7500},
      {"crf450(2018)", 2.321429f, 13, 49, {2.133333f, 1.705882f, 1.421053f, 1.210526f, 1.043478f, -1},
       0.0088501f, 7500, 0.75f, 6000, 10500, 12000, 35.4f, 7500},
      {"250sx(2012)", 2.769231f, 13, 48, {2, 1.6f, 1.333333f, 1.142857f, 0.954545f, -1}, 0.0068359f, 7500,
       0.75f, 6000, 9000, 10500, 32.6f, 8000},
      {"crf250(2018)", 3.473684f, 13, 49, {2.230769f, 1.8f, 1.470588f, 1.227273f, 1.043478f, -1}, 0.0048828f,
       7500, 0.75f, 8000, 12500, 13250, 18.4f, 10000},
      {"250sxf(2013)", 3.041667f, 13, 50, {2.461538f, 2, 1.647059f, 1.368421f, 1.190476f, 1.090909f},
       0.0048828f, 7500, 0.75f, 8000, 12500, 13250, 18.9f, 8500},
      {"cr125", 3.15f, 13, 52, {2.357143f, 1.866667f, 1.578947f, 1.294118f, 1.133333f, -1}, 0.0048828f, 7500,
       0.75f, 9400, 12000, 12750, 16.0f, 10000},
      {"rs50yz", 3.714286f, 12, 55, {3.090909f, 2, 1.5f, 1.2f, 1.045455f, 0.956522f}, 0.0011936f, 1200, 1,
       9400, 12000, 12750, 4.3f, 9500},
  };
  for (const DriveCase& c : cases) {
    SCOPED_TRACE(c.name);
    int i = row_index(c.name);
    ASSERT_GE(i, 0);
    const BikeInfo& r = bike_info_table[i];
    EXPECT_EQ(r.primary_ratio, c.primary);
    EXPECT_EQ(r.front_sprocket, c.front);
    EXPECT_EQ(r.rear_sprocket, c.rear);
    for (int g = 0; g < GEAR_COUNT; g++) EXPECT_EQ(r.gear_ratio[g], c.gears[g]) << "gear " << g;
    EXPECT_EQ(r.engine_inertia, c.inertia);
    EXPECT_EQ(r.driveline_stiffness, c.stiffness);
    EXPECT_EQ(r.driveline_damping, c.damping);
    EXPECT_EQ(r.shift_down_rpm, c.down);
    EXPECT_EQ(r.shift_up_rpm, c.up);
    EXPECT_EQ(r.max_rpm, c.max);
    int peak = 0;
    for (int k = 1; k < TORQUE_POINTS; k++) {
      if (r.open_torque[k] > r.open_torque[peak]) peak = k;
    }
    EXPECT_NEAR(r.open_torque[peak], c.peak, 0.05f);
    EXPECT_EQ(peak * 500, c.peak_rpm);
  }
}

TEST(BikeInfo, ReferenceTorqueCurves) {
  const BikeInfo& r = bike_info_table[0];
  const float closed[] = {2, 2, 1, 0, -1, -1, -2, -2, -3};
  for (int k = 0; k < 9; k++) EXPECT_EQ(r.closed_torque[k], closed[k]) << k;
  EXPECT_EQ(r.closed_torque[49], -23);
  EXPECT_EQ(r.open_torque[4], 5);
  EXPECT_EQ(r.open_torque[5], 8.70099f);
  EXPECT_EQ(r.open_torque[15], 35.7494f);
  EXPECT_EQ(r.open_torque[23], 12.1658f);
  EXPECT_EQ(r.open_torque[24], 0);
  EXPECT_EQ(r.open_torque[25], -10);
  EXPECT_EQ(r.open_torque[49], -34);
}

// Every row: rise to one peak, fall, cut to 0 at max_rpm (on the 500 rpm grid) and a falling
// negative tail; the closed-throttle curve starts positive and falls to a negative value.
TEST(BikeInfo, EveryTorqueCurveHasTheShape) {
  for (int i = 0; i < BIKE_INFO_COUNT; i++) {
    const BikeInfo& r = bike_info_table[i];
    SCOPED_TRACE(r.name);
    const float* open = r.open_torque;
    int cut = int(std::ceil(r.max_rpm / 500));
    int peak = 0;
    for (int k = 0; k < cut; k++) {
      if (open[k] > open[peak]) peak = k;
    }
    EXPECT_GT(peak, 4);
    for (int k = 1; k <= peak; k++) EXPECT_GE(open[k], open[k - 1]) << k;
    for (int k = peak + 1; k < cut; k++) EXPECT_LT(open[k], open[k - 1]) << k;
    EXPECT_GT(open[cut - 2], 0.5f * open[peak]);
    EXPECT_EQ(open[cut], 0);
    EXPECT_LT(open[cut + 1], 0);
    for (int k = cut + 2; k < TORQUE_POINTS; k++) EXPECT_LT(open[k], open[k - 1]) << k;
    EXPECT_GT(r.closed_torque[0], 0);
    EXPECT_LT(r.closed_torque[TORQUE_POINTS - 1], 0);
    for (int k = 1; k < TORQUE_POINTS; k++) EXPECT_LE(r.closed_torque[k], r.closed_torque[k - 1]);
  }
}

TEST(BikeInfo, FiveGearRowsEndInMinusOne) {
  const BikeInfo* r = bike_info_find("crf450(2018)");
  EXPECT_EQ(r->gear_ratio[4], 1.043478f);
  EXPECT_EQ(r->gear_ratio[5], -1);
}

TEST(BikeInfo, ModelFileNames) {
  const BikeInfo* r = bike_info_find("450sxf(2018)");
  EXPECT_STREQ(r->model_files[MODEL_FRAME], "@450sxfv2016_frame.vm");
  EXPECT_STREQ(r->model_files[SHAPE_FRAME], "@generic_frame.shp");
  EXPECT_STREQ(r->model_files[TEXTURE_BIKE], "@450sxfv2016.png");
  EXPECT_STREQ(r->model_files[MODEL_STEERING], "@450sxfv2016_fork_upper.vm");
  EXPECT_STREQ(r->model_files[SHAPE_FORK_LOWER], "@generic_fork_lower.shp");
  EXPECT_STREQ(r->model_files[SHAPE_REAR_WHEEL], "@rear_wheel.shp");
  EXPECT_STREQ(r->model_files[SHAPE_RIDER], "@generic_rider.shp");
  EXPECT_STREQ(r->model_files[MODEL_SIDE_PLATES], "@450sxfv2016_side_plates.vm");
  EXPECT_STREQ(r->model_files[MODEL_FRONT_PLATE], "@450sxfv2016_front_plate.vm");
  EXPECT_STREQ(r->model_files[MODEL_RIDER_PLATE], "@rider_plate.vm");
  // Models without a year use their key; the 50s use the 125 of their make.
  EXPECT_STREQ(bike_info_find("kx125")->model_files[MODEL_SWINGARM], "@kx125_swingarm.vm");
  EXPECT_STREQ(bike_info_find("rs50yz")->model_files[MODEL_FORK_LOWER], "@yz125_fork_lower.vm");
}

TEST(BikeInfo, FindWithFallback) {
  struct FindCase {
    const char* request;
    const char* found;
  };
  // An unknown name takes the first row containing "125" if it asks for one, else the first
  // containing "250f" (kx250f(2018): the crf250 keys read "f250(").
  const FindCase cases[] = {
      {"yz250f(2017)", "yz250f(2017)"}, {"rs50rm", "rs50rm"},        {"my125special", "cr125"},
      {"crf250", "kx250f(2018)"},       {"nothing", "kx250f(2018)"}, {"", "kx250f(2018)"},
  };
  for (const FindCase& c : cases) EXPECT_STREQ(bike_info_find(c.request)->name, c.found) << c.request;
}

std::string last_message;

TEST(BikeInfo, FallbackIsAnnounced) {
  console_set_display_hook([](const char* text) { last_message = text; });
  last_message.clear();
  bike_info_find("kx250f(2018)");
  EXPECT_EQ(last_message, "");
  bike_info_find("a-very-long-model-name-125");
  EXPECT_EQ(last_message, "bike info for 'a-very-long-model-na' not found using 'cr125' instead");
  console_set_display_hook(nullptr);
}

}  // namespace
