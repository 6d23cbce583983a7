// The player's setup on a bike: every setup key reaches the bike, setters clamp and flag far
// out-of-range values, a moving bike refuses the setup, and the slider displays.
#include "physics/setup.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "core/settings.h"
#include "core/constants.h"
#include "physics/contact.h"
#include "physics/drivetrain.h"
#include "tests/physics/one_bike_test.h"
#include "track/terrain.h"

namespace {

constexpr double PI = 3.14159265358979;

std::vector<std::string> messages;
void capture(const char* text) { messages.push_back(text); }

struct SetupTest : OneBikeTest {
  void SetUp() override {
    OneBikeTest::SetUp();
    settings_reset();
    setup_out_of_range = false;
    setup_last_refusal = -20;
    setup_arcade_disabled = false;
    messages.clear();
    console_set_display_hook(capture);
  }
  void TearDown() override {
    console_set_display_hook(nullptr);
    OneBikeTest::TearDown();
  }
  double rider_body_mass() const {
    dMass m;
    dBodyGetMass(bike->bodies[BODY_RIDER], &m);
    return m.mass;
  }
};

bool has(const Bike& b, unsigned option) { return (b.setup.options & option) != 0; }

TEST_F(SetupTest, EverySetupKeyTakesEffectOnTheBike) {
  const BikeInfo& info = bike->info;  // the 450 row: sprockets 13 and 48
  struct Case {
    const char* key;
    const char* value;
    std::function<double(const Bike&)> observe;
    double expected;
  } cases[] = {
      {"leveling", "70", [](const Bike& b) { return b.setup.leveling; }, 70},
      {"roll_damping", "10", [](const Bike& b) { return b.setup.roll_damping; }, 10},
      {"roll_limit_angle", "90", [](const Bike& b) { return b.setup.roll_limit_angle; }, PI / 2},
      {"roll_limit_factor", "64", [](const Bike& b) { return b.setup.roll_limit_factor; }, 64},
      {"steering_damping", "5", [](const Bike& b) { return b.setup.steering_damping; }, 5},
      {"steering_strength", "100", [](const Bike& b) { return b.setup.steering_strength; }, 100},
      {"max_steering_force", "1000", [](const Bike& b) { return b.setup.max_steering_force; }, 1000},
      {"direct_steering", "0.5", [](const Bike& b) { return b.setup.direct_steering; }, 0.5},
      {"slow_damping_speed", "0", [](const Bike& b) { return b.setup.slow_damping_speed; }, 0},
      {"slow_damping_factor", "10", [](const Bike& b) { return b.setup.slow_damping_factor; }, 10},
      {"land_damping_falloff", "0.5", [](const Bike& b) { return b.setup.land_damping_falloff; }, 0.5},
      {"land_damping_factor", "3", [](const Bike& b) { return b.setup.land_damping_factor; }, 3},
      {"full_lock_speed", "30", [](const Bike& b) { return b.setup.full_lock_speed; }, 30},
      {"restricted_lock_speed", "80", [](const Bike& b) { return b.setup.restricted_lock_speed; }, 80},
      {"restricted_lock", "45", [](const Bike& b) { return b.setup.restricted_lock_angle; }, PI / 4},
      {"auto_clutch_rpms", "3000", [](const Bike& b) { return b.setup.auto_clutch_rpm; }, 3000},
      {"brake_torque", "100", [](const Bike& b) { return b.setup.front_brake_torque; }, 100},
      {"rear_brake_torque", "400", [](const Bike& b) { return b.setup.rear_brake_torque; }, 400},
      {"max_dab_speed", "5", [](const Bike& b) { return b.setup.max_dab_speed; }, 7.3333335},
      {"front_sprocket_adjustment", "-2", [](const Bike& b) { return b.final_drive; }, 48.0 / 11},
      {"rear_sprocket_adjustment", "2", [](const Bike& b) { return b.final_drive; }, 50.0 / 13},
      {"fork_compression_adjustment", "100", [](const Bike& b) { return b.setup.fork_hs_comp_k; },
       4 * info.fork_hs_comp},
      {"fork_slow_compression_adjustment", "100", [](const Bike& b) { return b.setup.fork_ls_comp_adj; },
       info.fork_ls_comp},
      {"fork_rebound_adjustment", "0", [](const Bike& b) { return b.setup.fork_hs_reb_k; },
       0.25 * info.fork_hs_reb},
      {"fork_slow_rebound_adjustment", "0", [](const Bike& b) { return b.setup.fork_ls_reb_adj; },
       -info.fork_ls_reb},
      {"fork_spring_rate_adjustment", "100", [](const Bike& b) { return b.setup.fork_spring_k; },
       info.fork_spring_max},
      {"fork_preload_adjustment", "0", [](const Bike& b) { return b.setup.fork_preload; }, info.fork_preload_min},
      {"fork_oil_level_adjustment", "100", [](const Bike& b) { return b.setup.fork_air_gap; }, info.fork_oil_max},
      {"shock_compression_adjustment", "0", [](const Bike& b) { return b.setup.shock_hs_comp_k; },
       0.25 * info.shock_hs_comp},
      {"shock_slow_compression_adjustment", "0", [](const Bike& b) { return b.setup.shock_ls_comp_adj; },
       -info.shock_ls_comp},
      {"shock_rebound_adjustment", "100", [](const Bike& b) { return b.setup.shock_hs_reb_k; },
       4 * info.shock_hs_reb},
      {"shock_slow_rebound_adjustment", "100", [](const Bike& b) { return b.setup.shock_ls_reb_adj; },
       info.shock_ls_reb},
      {"shock_spring_rate_adjustment", "0", [](const Bike& b) { return b.setup.shock_spring_k; },
       info.shock_spring_min},
      {"shock_preload_adjustment", "100", [](const Bike& b) { return b.setup.shock_preload; },
       info.shock_preload_max},
      {"rider_yspring", "80", [](const Bike& b) { return b.setup.rider_vspring; }, 0.8},
      {"rider_ydamping", "10", [](const Bike& b) { return b.setup.rider_vdamping; }, 0.1},
      {"rider_zspring", "0", [](const Bike& b) { return b.setup.rider_fspring; }, 0},
      {"rider_zdamping", "100", [](const Bike& b) { return b.setup.rider_fdamping; }, 1},
      {"rider_mass_distribution", "0.5",
       [](const Bike& b) {
         dMass m;
         dBodyGetMass(b.bodies[BODY_RIDER], &m);
         return m.mass / b.info.rider_mass;
       },
       0.5},
      // The stability presets reach the bike through the fifteen values they set.
      {"stability", "0", [](const Bike& b) { return b.setup.restricted_lock_angle; }, PI / 4},
      {"stability", "0", [](const Bike& b) { return b.setup.roll_limit_angle; }, PI / 2},
      {"arcade", "No", [](const Bike& b) { return double(has(b, OPTION_ARCADE)); }, 0},
      {"front_brake", "Normal", [](const Bike& b) { return double(has(b, OPTION_FRONT_ANTILOCK)); }, 0},
      {"rear_brake", "Antilock", [](const Bike& b) { return double(has(b, OPTION_REAR_ANTILOCK)); }, 1},
      {"stop_wheelies", "No",
       [](const Bike& b) { return double(has(b, OPTION_STOP_WHEELIES) + has(b, OPTION_STOP_STOPPIES)); }, 0},
      {"stop_wheelies", "Front Only",
       [](const Bike& b) { return double(has(b, OPTION_STOP_WHEELIES) * 10 + has(b, OPTION_STOP_STOPPIES)); }, 1},
      {"auto_shift", "No", [](const Bike& b) { return double(has(b, OPTION_AUTO_SHIFT)); }, 0},
      {"auto_dab", "No", [](const Bike& b) { return double(has(b, OPTION_DAB_WHEN_STOPPED)); }, 0},
      {"auto_align", "No", [](const Bike& b) { return double(has(b, OPTION_REALIGN_AFTER_FALL)); }, 0},
  };
  for (const Case& c : cases) {
    settings_reset();
    ASSERT_TRUE(setup_apply(bike)) << c.key;
    double before = c.observe(*bike);
    EXPECT_GT(std::fabs(before - c.expected), 1e-6) << c.key << ": the case shows no change";
    ASSERT_TRUE(setup_read_line(c.key, c.value)) << c.key;
    ASSERT_TRUE(setup_apply(bike)) << c.key;
    EXPECT_NEAR(c.observe(*bike), c.expected, 1e-5 * std::max(1.0, std::fabs(c.expected))) << c.key << "=" << c.value;
  }
  EXPECT_FALSE(setup_out_of_range);
}

TEST_F(SetupTest, TheDefaultSetupTurnsTheAidsOnAndKeepsTheOtherOptionBits) {
  bike->setup.options |= OPTION_STEER_UNLOADED_FRONT;
  ASSERT_TRUE(setup_apply(bike));
  const unsigned expected = OPTION_ARCADE | OPTION_FRONT_ANTILOCK | OPTION_STOP_WHEELIES | OPTION_STOP_STOPPIES |
                            OPTION_AUTO_SHIFT | OPTION_DAB_WHEN_STOPPED | OPTION_REALIGN_AFTER_FALL |
                            OPTION_STEER_UNLOADED_FRONT;
  EXPECT_EQ(bike->setup.options, expected);
  EXPECT_NEAR(bike->setup.max_dab_speed, 88, 1e-4);
  EXPECT_NEAR(bike->setup.shock_hs_comp_k, 2 * bike->info.shock_hs_comp, 1e-3);
  EXPECT_NEAR(rider_body_mass(), 0.33 * bike->info.rider_mass, 1e-6);
}

TEST_F(SetupTest, ArcadeStaysOffWhileTheServerDisablesIt) {
  setup_arcade_disabled = true;
  ASSERT_TRUE(setup_apply(bike));
  EXPECT_FALSE(has(*bike, OPTION_ARCADE));
  setup_set_option(bike, OPTION_ARCADE, true);
  EXPECT_FALSE(has(*bike, OPTION_ARCADE));
  setup_arcade_disabled = false;
  setup_set_option(bike, OPTION_ARCADE, true);
  EXPECT_TRUE(has(*bike, OPTION_ARCADE));
}

TEST_F(SetupTest, SettersClampAtBothEndsAndFlagOnlyFarOutsideTheRange) {
  const BikeInfo& info = bike->info;
  struct Case {
    const char* what;
    std::function<void(Bike*)> set;
    std::function<double(const Bike&)> observe;
    double expected;
    bool flagged;
  } cases[] = {
      {"dab speed 3 mph (4.4 ft/s is within 7 - 11.625)",
       [](Bike* b) { setup_set(b, SETUP_MAX_DAB_SPEED, 3 * 1.4666667f); },
       [](const Bike& b) { return b.setup.max_dab_speed; }, 7, false},
      {"dab speed 200 ft/s", [](Bike* b) { setup_set(b, SETUP_MAX_DAB_SPEED, 200); },
       [](const Bike& b) { return b.setup.max_dab_speed; }, 100, true},
      {"roll limit 200 degrees", [](Bike* b) { setup_set(b, SETUP_ROLL_LIMIT_ANGLE, 200 * PI / 180); },
       [](const Bike& b) { return b.setup.roll_limit_angle; }, PI, false},
      {"roll limit 210 degrees", [](Bike* b) { setup_set(b, SETUP_ROLL_LIMIT_ANGLE, 210 * PI / 180); },
       [](const Bike& b) { return b.setup.roll_limit_angle; }, PI, true},
      {"leveling -12", [](Bike* b) { setup_set(b, SETUP_LEVELING, -12); },
       [](const Bike& b) { return b.setup.leveling; }, 0, false},
      {"leveling -13", [](Bike* b) { setup_set(b, SETUP_LEVELING, -13); },
       [](const Bike& b) { return b.setup.leveling; }, 0, true},
      {"slow damping factor 0 (range 1..10)", [](Bike* b) { setup_set(b, SETUP_SLOW_DAMPING_FACTOR, 0); },
       [](const Bike& b) { return b.setup.slow_damping_factor; }, 1, false},
      {"leveling NaN", [](Bike* b) { setup_set(b, SETUP_LEVELING, std::nanf("")); },
       [](const Bike& b) { return b.setup.leveling; }, 0, true},
      {"fork spring fraction 1.1", [](Bike* b) { setup_set(b, SETUP_FORK_SPRING, 1.1f); },
       [](const Bike& b) { return b.setup.fork_spring_k; }, info.fork_spring_max, false},
      {"shock damping factor 8", [](Bike* b) { setup_set(b, SETUP_SHOCK_HS_REB, 8); },
       [](const Bike& b) { return b.setup.shock_hs_reb_k; }, 4 * info.shock_hs_reb, true},
      {"fork low-speed offset -1.2", [](Bike* b) { setup_set(b, SETUP_FORK_LS_REB, -1.2f); },
       [](const Bike& b) { return b.setup.fork_ls_reb_adj; }, -info.fork_ls_reb, false},
      {"countershaft -2.5", [](Bike* b) { setup_set_sprockets(b, -2.5f, 0); },
       [](const Bike& b) { return b.final_drive; }, 48.0 / 11, false},
      {"rear sprocket +3", [](Bike* b) { setup_set_sprockets(b, 0, 3); },
       [](const Bike& b) { return b.final_drive; }, 50.0 / 13, true},
      {"rider mass share 0.32", [](Bike* b) { setup_rider_mass(b, 0.32f); },
       [](const Bike& b) { return b.setup.rider_mass_distribution; }, 0.33, false},
      {"rider mass share 0.6", [](Bike* b) { setup_rider_mass(b, 0.6f); },
       [](const Bike& b) { return b.setup.rider_mass_distribution; }, 0.5, true},
  };
  for (const Case& c : cases) {
    setup_out_of_range = false;
    c.set(bike);
    EXPECT_NEAR(c.observe(*bike), c.expected, 1e-5 * std::max(1.0, std::fabs(c.expected))) << c.what;
    EXPECT_EQ(setup_out_of_range, c.flagged) << c.what;
  }
  // The flag stays raised: nothing but its owner clears it.
  setup_set(bike, SETUP_LEVELING, 1000);
  setup_set(bike, SETUP_LEVELING, 50);
  ASSERT_TRUE(setup_apply(bike));
  EXPECT_TRUE(setup_out_of_range);
}

TEST_F(SetupTest, NoSetupTheMenusCanMakeRaisesTheFlag) {
  // Every number at its menu minimum, then at its maximum; unparsable extremes in a file are
  // clamped by the options before they reach the bike.
  for (const char* extreme : {"-1e9", "1e9"}) {
    settings_reset();
    std::string text;
    setup_format(&text);
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      std::string line = text.substr(at, end - at);
      at = end + 1;
      std::string key = line.substr(0, line.find('='));
      if (key != "stability") setup_read_line(key.c_str(), extreme);
    }
    ASSERT_TRUE(setup_apply(bike)) << extreme;
    EXPECT_FALSE(setup_out_of_range) << extreme;
  }
}

TEST_F(SetupTest, AMovingBikeKeepsItsSetupAndASecondRefusalTellsThePlayer) {
  const char* const MESSAGE = "Settings not applied.  Mechanic can't keep up error.";
  setup_read_line("brake_torque", "100");
  setup_read_line("rider_mass_distribution", "0.5");
  setup_read_line("front_sprocket_adjustment", "-2");
  AppliedSetup before = bike->setup;
  float final_drive = bike->final_drive;
  double rider_mass = rider_body_mass();

  dBodySetLinearVel(bike->bodies[BODY_FRAME], 0, 0, -0.2);
  EXPECT_FALSE(setup_apply(bike));
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(setup_apply(bike));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], MESSAGE);
  EXPECT_EQ(memcmp(&bike->setup, &before, sizeof before), 0);
  EXPECT_EQ(bike->final_drive, final_drive);
  EXPECT_EQ(rider_body_mass(), rider_mass);

  // Once the last refusal is more than 10 s old, a refusal is silent again.
  setup_last_refusal -= 11;
  EXPECT_FALSE(setup_apply(bike));
  EXPECT_EQ(messages.size(), 1u);

  // Creeping at 0.1 ft/s counts as at rest.
  dBodySetLinearVel(bike->bodies[BODY_FRAME], 0, 0.1, 0);
  EXPECT_TRUE(setup_apply(bike));
  EXPECT_EQ(bike->setup.front_brake_torque, 100);
  EXPECT_NEAR(rider_body_mass(), 0.5 * bike->info.rider_mass, 1e-6);
  EXPECT_FLOAT_EQ(bike->final_drive, 48.0f / 11);
}

TEST_F(SetupTest, SliderDisplaysInPhysicalUnits) {
  // The 450 row: fork springs 0.28..0.68 kg/mm a leg, shock spring 3.7..7.7 kg/mm, preloads up
  // to 1 in and 4 in, the oil's air gap 5 in down to 3 in, sprockets 13 and 48.
  struct Case {
    const char* key;
    double value;
    const char* text;
  } cases[] = {
      {"fork_spring_rate_adjustment", 0, "0.280 kg/mm"},
      {"fork_spring_rate_adjustment", 50, "0.480 kg/mm"},
      {"fork_spring_rate_adjustment", 150, "0.680 kg/mm"},  // the fraction stops at 1
      {"fork_preload_adjustment", 100, "25.40 mm"},
      {"fork_oil_level_adjustment", 0, "127.00 mm"},
      {"fork_oil_level_adjustment", 100, "76.20 mm"},
      {"shock_spring_rate_adjustment", 50, "5.70 kg/mm"},
      {"shock_spring_rate_adjustment", -10, "3.70 kg/mm"},
      {"shock_preload_adjustment", 100, "101.60 mm"},
      {"front_sprocket_adjustment", -2, "11.00 teeth"},
      {"rear_sprocket_adjustment", 2, "50.00 teeth"},
  };
  char text[64];
  for (const Case& c : cases) {
    EXPECT_TRUE(setup_display_text(c.key, bike->info, c.value, text, sizeof text)) << c.key;
    EXPECT_STREQ(text, c.text) << c.key << " " << c.value;
  }
  EXPECT_FALSE(setup_display_text("leveling", bike->info, 50, text, sizeof text));
  EXPECT_STREQ(text, "");
}

// --- Measured on the bike ----------------------------------------------------------------

struct SetupOnGround : SetupTest {
  Terrain terrain{};
  void SetUp() override {
    SetupTest::SetUp();
    ASSERT_TRUE(terrain_allocate(&terrain, 6, 4, 0, 0));  // 256 ft square, flat at 0
  }
  void TearDown() override {
    terrain_free(&terrain);
    SetupTest::TearDown();
  }
  void step(int steps) {
    for (int i = 0; i < steps; i++) {
      bike_ground_contacts(bike, &terrain);
      physics_world_step();
      bike_post_step(bike);
      sim_tick++;
    }
  }
  void place(float height) {
    bike_reset(bike);
    const float offset[3] = {128, height, 128};
    bike_translate(bike, offset);
  }
  double fork() const { return dJointGetSliderPosition(bike->joints[JOINT_FORK]); }
  double swingarm() const { return dJointGetHingeAngle(bike->joints[JOINT_SWINGARM]); }
};

TEST_F(SetupOnGround, MoreReboundDampingExtendsTheSuspensionMoreSlowly) {
  // Settle at rest, then lift the bike clear of the ground: the springs push the wheels out
  // against the rebound damping. Share of the sag recovered after 1/32 s, for both dampers
  // turned fully soft and fully hard.
  double fork_recovered[2], shock_recovered[2];
  const char* const SETTINGS[2] = {"0", "100"};
  for (int i = 0; i < 2; i++) {
    settings_reset();
    for (const char* key : {"fork_rebound_adjustment", "fork_slow_rebound_adjustment", "shock_rebound_adjustment",
                            "shock_slow_rebound_adjustment"})
      setup_read_line(key, SETTINGS[i]);
    place(0.05f);
    ASSERT_TRUE(setup_apply(bike));
    step(TICKS_PER_SECOND);
    double fork_sag = fork(), swingarm_sag = swingarm();
    ASSERT_LT(fork_sag, -0.05);
    ASSERT_LT(swingarm_sag, -0.02);
    const float lift[3] = {0, 2, 0};
    bike_translate(bike, lift);
    step(TICKS_PER_SECOND / 32);
    fork_recovered[i] = 1 - fork() / fork_sag;
    shock_recovered[i] = 1 - swingarm() / swingarm_sag;
  }
  EXPECT_GT(fork_recovered[0], 1.5 * fork_recovered[1]);
  EXPECT_GT(shock_recovered[0], 1.5 * shock_recovered[1]);
  EXPECT_GT(fork_recovered[0], 0.1);
  EXPECT_GT(shock_recovered[0], 0.1);
}

}  // namespace
