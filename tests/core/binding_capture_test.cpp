// Binding a control by moving a stick or pressing a key while the capture watches.
#include <gtest/gtest.h>

#include "core/binding_capture.h"
#include "platform/input.h"

namespace {

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    input_devices_clear();
    bindings_reset();
    pad = input_platform_device_create("Pad", "test pad", 2, 4, nullptr, true, nullptr);
    ASSERT_NE(pad, nullptr);
    pad->axes[1] = 1000;  // a stick resting a little off centre
  }
  void TearDown() override {
    binding_capture_end();
    for (ControlBinding& b : bindings) {
      if (b.axis) input_release_axis(b.axis);
      b.axis = nullptr;
    }
    input_devices_clear();
  }
  InputPlatformDevice* pad;
  ControlBinding& throttle = bindings[BIND_THROTTLE];
};

TEST_F(Capture, AStickPushedFarEnoughBecomesAnAxisBinding) {
  binding_capture_start(nullptr, &throttle, 10.0);
  EXPECT_EQ(pad->device.use_count, 2);
  pad->axes[1] = -31768;
  EXPECT_TRUE(binding_capture_update(10.1));
  EXPECT_TRUE(binding_capture_update(10.3));  // 0.2 s since the new extreme
  EXPECT_FALSE(binding_capture_update(10.36));
  EXPECT_STREQ(throttle.axis_name, "Pad axis 1");
  EXPECT_EQ(throttle.key_name, nullptr);
  // From 1/16 to 15/16 of the way from rest to the extreme.
  const double rest = 1000 / 32768.0, extreme = -31768 / 32768.0;
  EXPECT_DOUBLE_EQ(throttle.axis_minimum, rest + (extreme - rest) / 16);
  EXPECT_DOUBLE_EQ(throttle.axis_maximum, rest + 15 * (extreme - rest) / 16);
  // The watched axes are released; the binding holds its own handle.
  ASSERT_NE(throttle.axis, nullptr);
  EXPECT_EQ(pad->device.use_count, 1);
}

TEST_F(Capture, AKeyWinsWhenNoStickMovedFarEnough) {
  binding_capture_start(nullptr, &throttle, 0);
  pad->axes[0] = 16000;  // under half travel
  EXPECT_TRUE(binding_capture_update(0.01));
  binding_capture_key('q', 0.05);  // the typed character of a key, not a key
  binding_capture_key(INPUT_KEY_BASE + 0x10, 0.05);
  EXPECT_TRUE(binding_capture_update(0.2));
  EXPECT_FALSE(binding_capture_update(0.31));
  EXPECT_STREQ(throttle.key_name, "Q");
  EXPECT_EQ(throttle.key_code, INPUT_KEY_BASE + 0x10);
  EXPECT_EQ(throttle.axis_name, nullptr);
  EXPECT_EQ(pad->device.use_count, 0);
}

TEST_F(Capture, EscLeavesTheBindingAndNothingMovingKeepsWaiting) {
  binding_capture_start(nullptr, &throttle, 0);
  EXPECT_TRUE(binding_capture_update(5.0));
  EXPECT_TRUE(binding_capture_update(60.0));
  binding_capture_key(INPUT_KEY_BASE + 0x01, 61.0);
  EXPECT_FALSE(binding_capture_update(62.0));
  EXPECT_STREQ(throttle.key_name, "x");
  EXPECT_EQ(pad->device.use_count, 0);
}

}  // namespace
