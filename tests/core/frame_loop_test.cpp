// Frame pacing with an injected clock, and the step loop's event dispatch and controls.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "core/command_line.h"
#include "core/controls.h"
#include "core/game.h"
#include "core/settings.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "platform/input.h"

namespace {

struct FakeClock {
  double t = 0;
  double sleep_total = 0;
};
double fake_now(void* c) { return static_cast<FakeClock*>(c)->t; }
void fake_sleep(void* c, double s) {
  static_cast<FakeClock*>(c)->t += s;
  static_cast<FakeClock*>(c)->sleep_total += s;
}

TEST(FramePacing, AdvanceFollowsRealTimeLockedRateOrWarp) {
  struct Case {
    const char* what;
    PacingInputs inputs;
    double frame_time;  // real time the frame took before pacing
    double advance;
    double slept;
  } cases[] = {
      {"1 s stall is capped", {}, 1.0, 0.125, 0},
      {"normal frame", {}, 0.02, 0.02, 0},
      {"short frame waits for a step", {}, 0.001, SIM_STEP, SIM_STEP - 0.001},
      {"locked fast frame", {false, 30}, 0.01, 1.0 / 30, 1.0 / 30 - 0.01},
      {"locked slow frame", {false, 30}, 0.2, 1.0 / 30, 0},
      {"warp", {false, 0, true}, 0.5, 100 * SIM_STEP, 0},
      {"lock ignored online", {true, 30, false, 1, 0, false}, 0.02, 0.02, 0},
  };
  for (const Case& c : cases) {
    FakeClock clock;
    clock.t = 10;
    FramePacer pacer;
    frame_pacer_start(&pacer, clock.t);
    clock.t += c.frame_time;
    double advance = frame_pace(&pacer, PacingClock{fake_now, fake_sleep, &clock}, c.inputs);
    EXPECT_NEAR(advance, c.advance, 1e-12) << c.what;
    EXPECT_NEAR(clock.sleep_total, c.slept, 1e-12) << c.what;
    EXPECT_DOUBLE_EQ(pacer.frame_clock, clock.t) << c.what;
  }
}

TEST(FramePacing, LockedRateAdvancesExactlyOneFramePerFrame) {
  FakeClock clock;
  FramePacer pacer;
  frame_pacer_start(&pacer, 0);
  PacingInputs locked{false, 30};
  const double frame_times[] = {0.001, 0.05, 0.02, 0.3, 0.0};
  double total = 0;
  for (double e : frame_times) {
    clock.t += e;
    total += frame_pace(&pacer, PacingClock{fake_now, fake_sleep, &clock}, locked);
  }
  EXPECT_DOUBLE_EQ(total, 5.0 / 30);
}

TEST(FramePacing, HistogramClassesAndClockFollowing) {
  FrameTimeHistogram h{};
  for (double t : {0.005, 0.0078125, 0.01, 0.4, 0.6, 1.0}) frame_histogram_count(&h, t);
  int expected[FRAME_CLASS_COUNT] = {1, 2, 0, 0, 0, 0, 1, 2};
  for (int k = 0; k < FRAME_CLASS_COUNT; k++) EXPECT_EQ(h.count[k], expected[k]) << k;

  struct Case {
    double g;
    bool started;
    double factor;
  } cases[] = {
      {-2, true, 0.5}, {-0.5, true, 0.75}, {0, true, 1}, {0.0625, true, 1.0625},
      {1, true, 1.125}, {0.5, false, 2.5}, {2, false, 4},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(clock_follow_factor(c.g, c.started), c.factor) << c.g;
}

// --- The step loop -----------------------------------------------------------------------

InputEventQueue queue;
int queue_next(void*, int* code, int* down, int32_t s, int32_t us) {
  return input_queue_pop_until(&queue, code, down, s, us);
}

// The player's bike in slot 0; its controls are what the step loop writes.
Bike* bike = nullptr;
std::vector<float> throttle_per_step;
void record_step() { throttle_per_step.push_back(bike->controls.throttle); }

constexpr int THROTTLE_CODE = INPUT_KEY_BASE + 0x2D;  // "X"

class StepLoop : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    physics_world_create();
    bike = bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  }
  static void TearDownTestSuite() {
    bike_destroy(bike);
    bike = nullptr;
    physics_world_destroy();
  }
  void SetUp() override {
    settings_reset();
    game_reset();
    controls_resolve(nullptr);
    input_queue_init(&queue);
    bike_reset(bike);
    throttle_per_step.clear();
    game_hooks = GameHooks{};
    game_hooks.session_step = record_step;
    game.slot_bike[0] = bike;
    game.slot_kind[0] = SLOT_LOCAL;
    game.track_loaded = true;
    game.menu_page = MENU_NONE;
    game_update_view_mode();
  }
  void TearDown() override {
    input_queue_free(&queue);
    game_hooks = GameHooks{};
  }
  int frame(double end, double advance) {
    return game_run_steps(end, advance, EventSource{queue_next, nullptr});
  }
};

TEST_F(StepLoop, AOneSecondFrameRunsSixteenSteps) {
  ASSERT_EQ(bindings[BIND_THROTTLE].key_code, THROTTLE_CODE);
  FakeClock clock;
  FramePacer pacer;
  frame_pacer_start(&pacer, 0);
  clock.t = 1.0;
  double advance = frame_pace(&pacer, PacingClock{fake_now, fake_sleep, &clock}, PacingInputs{});
  EXPECT_EQ(frame(pacer.frame_clock, advance), 16);
  EXPECT_DOUBLE_EQ(game.stepped_time, 0.125);
}

TEST_F(StepLoop, AnEventActsInTheStepWhoseRealTimeItFallsIn) {
  // Steps of the frame ending at 1.125 s have real times 1 + k/128, k = 1..16.
  input_queue_push(&queue, THROTTLE_CODE, 1, 1, 50000);   // 1.05 s: step 7 (1.0546875)
  input_queue_push(&queue, THROTTLE_CODE, 0, 1, 101000);  // 1.101 s: step 13 (1.1015625)
  input_queue_push(&queue, THROTTLE_CODE, 1, 1, 200000);  // after the frame: stays queued
  game.target_time = game.stepped_time = 5;  // session time runs apart from real time
  ASSERT_EQ(frame(1.125, 0.125), 16);
  std::vector<float> expected(16, 0.0f);
  for (int k = 7; k <= 12; k++) expected[k - 1] = 1.0f;
  EXPECT_EQ(throttle_per_step, expected);
  EXPECT_EQ(queue.count, 1);
}

TEST_F(StepLoop, PauseStopsStepsAndMenusStopControls) {
  input_queue_push(&queue, bindings[BIND_PAUSE].key_code, 1, 0, 0);
  frame(1.0, 0.0625);
  EXPECT_TRUE(throttle_per_step.empty());
  EXPECT_TRUE(game.paused);
  // The Step key runs one step while paused.
  input_queue_push(&queue, bindings[BIND_STEP].key_code, 1, 0, 0);
  frame(1.1, SIM_STEP);
  EXPECT_EQ(throttle_per_step.size(), 1u);
  // Online, Pause does nothing and the paused flag is cleared every step.
  game.net.connected = true;
  game.net.tick_received = true;
  input_queue_push(&queue, bindings[BIND_PAUSE].key_code, 1, 0, 0);
  frame(1.2, SIM_STEP);
  EXPECT_FALSE(game.paused);
  EXPECT_EQ(throttle_per_step.size(), 2u);
}

TEST_F(StepLoop, ControlsReachTheRider) {
  struct Case {
    BindingId key;
    float RiderControls::*field;
    float value;
  } cases[] = {
      {BIND_LEFT, &RiderControls::steer, -1},  // reversed steering by default
      {BIND_RIGHT, &RiderControls::steer, 1},
      {BIND_LEAN_FORWARD, &RiderControls::lean, -1},
      {BIND_LEAN_BACKWARD, &RiderControls::lean, 1},
      {BIND_REAR_BRAKE, &RiderControls::rear_brake, 1},
      {BIND_SIT_DAB, &RiderControls::sit_dab, 1},
  };
  for (const Case& c : cases) {
    bike->controls = RiderControls{};
    input_queue_push(&queue, bindings[c.key].key_code, 1, 0, 0);
    frame(1.0, SIM_STEP);
    EXPECT_EQ(bike->controls.*c.field, c.value) << bindings[c.key].label;
    controls_clear_values();
  }
}

TEST_F(StepLoop, ARiderWhoIsDownGivesNoThrottleLeanSitOrShift) {
  const int gear = bike->gear;
  bike->crash_timer = 100;
  for (BindingId key : {BIND_THROTTLE, BIND_LEAN_FORWARD, BIND_SIT_DAB, BIND_BACK_UP, BIND_UPSHIFT, BIND_LEFT,
                        BIND_FRONT_BRAKE})
    input_queue_push(&queue, bindings[key].key_code, 1, 0, 0);
  frame(1.0, SIM_STEP);
  const RiderControls& c = bike->controls;
  EXPECT_EQ(c.throttle, 0);
  EXPECT_EQ(c.lean, 0);
  EXPECT_EQ(c.sit_dab, 0);
  EXPECT_EQ(c.back_up, 0);
  EXPECT_EQ(bike->gear, gear);
  // The riderless bike still steers and brakes.
  EXPECT_EQ(c.steer, -1);
  EXPECT_EQ(c.front_brake, 1);
  // Back on the bike, the held keys act again, the shift included.
  bike->crash_timer = 0;
  frame(1.0, SIM_STEP);
  EXPECT_EQ(c.throttle, 1);
  EXPECT_EQ(c.lean, -1);
  EXPECT_EQ(bike->gear, gear + 1);
}

TEST_F(StepLoop, StickySitDabTogglesOnEachPress) {
  settings.setup.sticky_dab.index = 1;
  int key = bindings[BIND_SIT_DAB].key_code;
  const struct {
    int down;
    float sit_dab;
  } presses[] = {{1, 1}, {0, 1}, {1, 0}, {0, 0}, {1, 1}};
  for (const auto& p : presses) {
    input_queue_push(&queue, key, p.down, 0, 0);
    frame(1.0, SIM_STEP);
    EXPECT_EQ(bike->controls.sit_dab, p.sit_dab);
  }
}

TEST_F(StepLoop, ClutchEngagesOverAQuarterSecond) {
  binding_table[7].value = 1;  // "Clutch" held: the lever disengages
  frame(1.0, SIM_STEP);
  EXPECT_EQ(bike->controls.clutch, 0);
  binding_table[7].value = 0;
  frame(1.0, 16 * SIM_STEP);
  EXPECT_NEAR(bike->controls.clutch, 0.5, 1e-6);
  frame(1.0, 32 * SIM_STEP);
  EXPECT_EQ(bike->controls.clutch, 1);
}

// The editor's view: keys reach the editor first (releases too), a consumed key goes no further,
// Tab always passes, and the editor's update replaces the rider's controls.
std::vector<std::pair<int, bool>> editor_events;
int editor_updates = 0;

TEST_F(StepLoop, TheEditorViewTakesKeysFirstAndUpdatesInsteadOfTheControls) {
  start_options_reset();
  start_options.editor = true;
  editor_events.clear();
  editor_updates = 0;
  game_hooks.editor_key = [](int code, bool down) {
    editor_events.push_back({code, down});
    return code == 'p';  // the editor keeps 'p', passes the rest on
  };
  game_hooks.editor_update = [] { editor_updates++; };
  game_dispatch_event(KEY_TAB, 1);
  ASSERT_EQ(game.view_mode, VIEW_EDITOR);
  EXPECT_TRUE(editor_events.empty());  // not in the editor yet when Tab came
  const int pause = bindings[BIND_PAUSE].key_code;
  game_dispatch_event(pause, 1);
  EXPECT_TRUE(game.paused);  // the editor passed it on
  game_dispatch_event(pause, 1);
  game_dispatch_event('p', 1);
  game_dispatch_event(INPUT_MOUSE_LEFT, 0);
  const std::vector<std::pair<int, bool>> expected = {{pause, true}, {pause, true}, {'p', true}, {INPUT_MOUSE_LEFT, false}};
  EXPECT_EQ(editor_events, expected);
  input_queue_push(&queue, THROTTLE_CODE, 1, 0, 0);  // throttle held: the rider does not get it
  EXPECT_EQ(frame(1.0, 4 * SIM_STEP), 4);
  EXPECT_EQ(editor_updates, 4);
  EXPECT_EQ(bike->controls.throttle, 0);
  game_dispatch_event(KEY_TAB, 1);
  EXPECT_EQ(game.view_mode, VIEW_CHASE);
  start_options_reset();
}

TEST(GameView, TabCyclesViewsAndCloseQuits) {
  settings_reset();
  game_reset();
  controls_resolve(nullptr);
  static int a_bike;
  game.slot_bike[0] = reinterpret_cast<Bike*>(&a_bike);
  game.track_loaded = true;
  game.menu_page = MENU_NONE;
  game_update_view_mode();
  ASSERT_EQ(game.view_mode, VIEW_RIDER);
  const int expected[] = {VIEW_CHASE, VIEW_TV, VIEW_RIDER};
  for (int view : expected) {
    game_dispatch_event(KEY_TAB, 1);
    EXPECT_EQ(game.view_mode, view);
  }
  // Riding, the TV view is not kept unless spy mode is on.
  game.slot_kind[0] = SLOT_LOCAL;
  game.view_mode = VIEW_TV;
  game_update_view_mode();
  EXPECT_EQ(game.view_mode, VIEW_RIDER);
  settings.spy = 1;
  game.view_mode = VIEW_TV;
  game_update_view_mode();
  EXPECT_EQ(game.view_mode, VIEW_TV);
  // Esc opens and closes the main menu; close ends the loop.
  int esc = menu_keys.esc;
  game_dispatch_event(esc, 1);
  EXPECT_EQ(game.menu_page, MENU_MAIN);
  game_dispatch_event(esc, 1);
  EXPECT_EQ(game.menu_page, MENU_NONE);
  game_dispatch_event(INPUT_CLOSE, 1);
  EXPECT_TRUE(game.quit);
}

TEST(Controls, AxisValues) {
  struct Case {
    int raw;
    double minimum, maximum, value;
  } cases[] = {
      {0, -1, 1, 0.5}, {32767, 0, 1, 32767 / 32768.0}, {-32768, 0, 1, 0},
      {16384, 0.5, 0.0, 0.0}, {8192, 0.5, 0.0, 0.5}, {100, 0.25, 0.25, 0}, {16384, 0.25, 0.25, 1},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(axis_binding_value(c.raw, c.minimum, c.maximum), c.value) << c.raw;
}

}  // namespace
