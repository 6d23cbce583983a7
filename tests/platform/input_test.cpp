// Control names, the event ring, scan codes of reported keys, and the display mode rules.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/display.h"
#include "platform/input.h"
#include "platform/vant.h"

namespace {

TEST(KeyNames, NamesBindTheirCodes) {
  vant_alias_add("cursor-left", "Mouse Left");
  struct Case {
    const char* name;
    int code;  // 0 = does not bind
  } cases[] = {
      {"Left Shift", 4096 + 0x2A}, {"left_shift", 4096 + 0x2A}, {"0x2a", 4096 + 0x2A},
      {"x", 4096 + 0x2D},          {"right ctrl", 4096 + 0x11D}, {"pause", 4096 + 0x45},
      {"\\", 4096 + 0x2B},         {"0", 4096 + 0x0B},           {" ", 4096 + 0x39},
      {"keypad enter", 4096 + 0x11C}, {"close", INPUT_CLOSE},    {"cursor-left", INPUT_MOUSE_LEFT},
      {"Mouse Right", INPUT_MOUSE_RIGHT}, {"0x1ff", 4096 + 511}, {"0x200", 0},
      {"0x2ag", 0},                {"Joystick1.key[3]", 0},       {"", 0},
      {"nonsense", 0},
  };
  for (const Case& c : cases) {
    int code = 0;
    EXPECT_EQ(input_key_code(nullptr, c.name, &code), c.code != 0) << c.name;
    if (c.code) {
      EXPECT_EQ(code, c.code) << c.name;
    }
  }
}

TEST(KeyNames, CodesHaveDisplayNames) {
  struct Case {
    int code;
    const char* name;
  } cases[] = {
      {INPUT_CLOSE, "Close"}, {INPUT_MOUSE_MIDDLE, "Mouse Middle"}, {4096 + 0x39, "Space"},
      {4096 + 0x14B, "Left"}, {4096 + 0x1F0, "0x1f0"}, {65536 + 3, nullptr}, {'a', nullptr},
  };
  for (const Case& c : cases) {
    const char* name = input_key_name(nullptr, c.code);
    if (c.name) {
      EXPECT_STREQ(name, c.name) << c.code;
    } else {
      EXPECT_EQ(name, nullptr) << c.code;
    }
  }
}

TEST(KeyNames, ReportedKeysGetTheirScanCodes) {
  struct Case {
    int usage;
    int scan;
  } cases[] = {
      {4, 0x1E},     {29, 0x2C},    {39, 0x0B},   {40, 0x1C},   {41, 0x01},  {43, 0x0F},
      {56, 0x35},    {69, 0x58},    {72, 0x45},   {79, 0x14D},  {82, 0x148}, {88, 0x11C},
      {99, 0x53},    {224, 0x1D},   {228, 0x11D}, {3, 0},       {102, 0},    {232, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(scan_code_from_usb_usage(c.usage), c.scan) << c.usage;
}

TEST(EventQueue, OrderTimeLimitAndOverflow) {
  InputEventQueue q;
  ASSERT_TRUE(input_queue_init(&q));
  input_queue_push(&q, 4096 + 1, 1, 1, 500);
  input_queue_push(&q, 4096 + 1, 0, 2, 0);
  int code, down;
  EXPECT_TRUE(input_queue_pop_until(&q, &code, &down, 1, 500));
  EXPECT_EQ(code, 4097);
  EXPECT_EQ(down, 1);
  EXPECT_FALSE(input_queue_pop_until(&q, &code, &down, 1, 999999));
  EXPECT_TRUE(input_queue_pop(&q, &code, &down));
  EXPECT_EQ(down, 0);
  EXPECT_FALSE(input_queue_pop(&q, &code, &down));
  // A full ring drops the newest events.
  for (int i = 0; i < INPUT_QUEUE_SIZE + 10; i++) input_queue_push(&q, i, 1, 0, 0);
  for (int i = 0; i < INPUT_QUEUE_SIZE; i++) {
    ASSERT_TRUE(input_queue_pop(&q, &code, &down));
    EXPECT_EQ(code, i);
  }
  EXPECT_FALSE(input_queue_pop(&q, &code, &down));
  input_queue_free(&q);
}

// Joysticks and the mouse as the roll call sets them up, with a made-up state instead of the
// hardware.
class Devices : public ::testing::Test {
 protected:
  void SetUp() override {
    input_devices_clear();
    ASSERT_TRUE(input_queue_init(&queue));
  }
  void TearDown() override {
    input_devices_clear();
    input_queue_free(&queue);
  }
  InputPlatformDevice* add(const char* instance, int axes, int buttons, bool buffered = true,
                           const bool* relative = nullptr) {
    return input_platform_device_create(instance, "test pad", axes, buttons, relative, buffered, &queue);
  }
  struct Event {
    int code, down;
    int64_t ms;
  };
  std::vector<Event> events() {
    std::vector<Event> out;
    int code, down;
    while (queue.count > 0) {
      const int64_t ms = int64_t(queue.seconds[queue.head]) * 1000 + queue.microseconds[queue.head] / 1000;
      input_queue_pop(&queue, &code, &down);
      out.push_back({code, down, ms});
    }
    return out;
  }
  InputEventQueue queue;
};

TEST_F(Devices, NamesAndIds) {
  add("Gamepad", 2, 0);
  add("Gamepad", 2, 0);
  add("Pad v1.2", 0, 1);
  EXPECT_NE(input_device_find("Gamepad"), nullptr);
  EXPECT_NE(input_device_find("Gamepad#2"), nullptr);
  EXPECT_NE(input_device_find("Padv12"), nullptr);
  EXPECT_EQ(add("Dunsel", 0, 0), nullptr);
  EXPECT_EQ(input_device_find("Dunsel"), nullptr);
  // Pairs of bytes: first bytes into a 16-bit sum, second bytes into an 8-bit sum.
  struct Case {
    const char* name;
    int id;
  } cases[] = {
      // J y t c 1 | o s i k; 459 + 256 x (438 mod 256) = 47051, mod 32768
      {"Joystick1", (47051 % 32768) * 65536},
      {"abc", (97 + 99 + 256 * 98) * 65536},
      {"", 65536},  // 0 is no id
  };
  for (const Case& c : cases) EXPECT_EQ(input_device_id(c.name), c.id) << c.name;
  // A taken id moves on to the next one.
  const int first = input_device_id("Joystick1");
  add("Joystick1", 1, 0);
  EXPECT_EQ(input_device_find("Joystick1")->id, first);
  EXPECT_EQ(input_device_id("Joystick1"), first + 65536);
  const char* const* names = vant_device_names(nullptr);
  std::vector<std::string> listed;
  for (; *names; names++) listed.push_back(*names);
  EXPECT_EQ(listed, (std::vector<std::string>{"Gamepad axis 0", "Gamepad axis 1", "Gamepad#2 axis 0",
                                              "Gamepad#2 axis 1", "Joystick1 axis 0"}));
}

TEST_F(Devices, ButtonsAndAxesBindByName) {
  input_register_device_aliases();
  InputPlatformDevice* pad = add("Joystick 1", 3, 4);
  const int id = pad->device.id;
  struct Case {
    const char* name;
    int code;  // 0 = does not bind
  } cases[] = {
      {"Joystick1.key[3]", id + 3}, {"Joystick1.key[4]", 0},   {"Joystick1 button 2", id + 2},
      {"joystick-a-2", id + 1},     {"Joystick2.key[0]", 0},   {"Joystick1.key[-1]", 0},
      {"Joystick1.key[1", 0},
  };
  for (const Case& c : cases) {
    int code = 0;
    EXPECT_EQ(input_key_code(nullptr, c.name, &code), c.code != 0) << c.name;
    if (c.code) {
      EXPECT_EQ(code, c.code) << c.name;
    }
  }
  EXPECT_TRUE(pad->device.buttons_active);
  EXPECT_STREQ(input_key_name(nullptr, id + 3), "Joystick1 button 3");
  EXPECT_EQ(input_key_name(nullptr, id + 65536 * 7 + 3), nullptr);

  pad->axes[0] = 1234;
  pad->axes[2] = -32767;
  InputAxis* by_alias = input_bind_axis(nullptr, "joystick-a-x");
  InputAxis* by_name = input_bind_axis(nullptr, "Joystick1.axis[2]");
  InputAxis* spaced = input_bind_axis(nullptr, "Joystick1 axis 2");
  ASSERT_TRUE(by_alias && by_name && spaced);
  EXPECT_EQ(input_read_axis(by_alias), 1234);
  EXPECT_EQ(input_read_axis(by_name), -32767);
  EXPECT_EQ(input_bind_axis(nullptr, "Joystick1.axis[3]"), nullptr);
  EXPECT_EQ(pad->device.use_count, 3);
  input_release_axis(by_alias);
  input_release_axis(by_name);
  input_release_axis(spaced);
  EXPECT_EQ(pad->device.use_count, 0);
}

TEST_F(Devices, BufferedRecordsBecomeEventsWithTheirTimes) {
  InputPlatformDevice* pad = add("Pad", 1, 3);
  const int id = pad->device.id;
  const InputRecord records[] = {
      {1000, false, 1, 1},   // press
      {1100, false, 1, 1},   // same state: no event
      {1200, true, 0, 500},  // axis
      {1500, false, 1, 0},   // release
      {1600, false, 9, 1},   // no such button
  };
  for (const InputRecord& r : records) input_record_push(pad, r);
  input_platform_poll(pad, 2000);
  std::vector<Event> got = events();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].code, id + 1);
  EXPECT_EQ(got[0].down, 1);
  EXPECT_EQ(got[0].ms, 1000);
  EXPECT_EQ(got[1].down, 0);
  EXPECT_EQ(got[1].ms, 1500);
  EXPECT_EQ(pad->axes[0], 500);

  // A record stamped ahead of the clock is moved back to now, and so are the ones after it.
  input_record_push(pad, {5000, false, 2, 1});
  input_platform_poll(pad, 3000);
  input_record_push(pad, {5500, false, 2, 0});
  input_platform_poll(pad, 4000);
  got = events();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].ms, 3000);
  EXPECT_EQ(got[1].ms, 3500);
  EXPECT_EQ(pad->timestamp_adjustment, 2000);
}

// Too many records between polls: the lost ones must not leave a button stuck.
TEST_F(Devices, LostRecordsAreMadeGoodFromTheState) {
  static uint8_t held[3];
  InputPlatformDevice* pad = add("Pad", 1, 3);
  pad->read_state = [](InputPlatformDevice*, int32_t* axes, uint8_t* buttons) {
    axes[0] = -77;
    for (int i = 0; i < 3; i++) buttons[i] = held[i];
  };
  for (int i = 0; i < INPUT_BUFFER_SIZE; i++) EXPECT_TRUE(input_record_push(pad, {100 + i, true, 0, i}));
  // The press of button 2 no longer fits.
  EXPECT_FALSE(input_record_push(pad, {200, false, 2, 1}));
  held[2] = 0x80;
  input_platform_poll(pad, 300);
  std::vector<Event> got = events();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].code, pad->device.id + 2);
  EXPECT_EQ(got[0].down, 1);
  EXPECT_EQ(got[0].ms, 300);
  EXPECT_EQ(pad->axes[0], -77);
  held[2] = 0;
}

TEST_F(Devices, RelativeAxisGivesItsMotionOnce) {
  static int32_t motion;
  const bool relative[2] = {true, true};
  InputPlatformDevice* mouse = add("Mouse", 2, 5, false, relative);
  mouse->read_state = [](InputPlatformDevice*, int32_t* axes, uint8_t*) {
    axes[0] = motion;
    motion = 0;
  };
  EXPECT_EQ(*vant_device_names(nullptr), nullptr);  // relative axes are not listed
  InputAxis* x = input_bind_axis(nullptr, "Mouse.axis[0]");
  ASSERT_NE(x, nullptr);
  motion = 7;
  // Motion seen by a poll in between is kept for the read.
  input_devices_poll();
  input_platform_poll(mouse, input_clock_ms());
  EXPECT_EQ(input_read_axis(x), 7);
  EXPECT_EQ(input_read_axis(x), 0);
  input_release_axis(x);
}

TEST(DisplayModes, ListDropsDuplicatesAndUnusableDepths) {
  ReportedMode stored{1024, 768, 32, 60};
  ReportedMode reported[] = {
      {640, 480, 32, 60}, {640, 480, 32, 75}, {800, 600, 4, 60}, {1024, 768, 32, 60},
      {800, 600, 32, 60}, {800, 600, 16, 60},
  };
  DisplayMode list[DISPLAY_MODE_MAX + 1];
  int n = display_mode_list_build(&stored, reported, 6, list);
  const DisplayMode expected[] = {{1024, 768, 32}, {640, 480, 32}, {800, 600, 32}, {800, 600, 16}};
  ASSERT_EQ(n, 4);
  for (int i = 0; i < n; i++) {
    EXPECT_EQ(list[i].width, expected[i].width);
    EXPECT_EQ(list[i].height, expected[i].height);
    EXPECT_EQ(list[i].bits, expected[i].bits);
  }
  EXPECT_EQ(list[n].width + list[n].height + list[n].bits, 0);
}

TEST(DisplayModes, FullScreenSizeChoice) {
  DisplayMode list[] = {{640, 480, 32}, {800, 600, 32}, {1024, 768, 32}, {0, 0, 0}};
  struct Case {
    int w, h, chosen_w, chosen_h;
  } cases[] = {
      {800, 600, 800, 600}, {810, 600, 1024, 768}, {2000, 2000, 1920, 1080},
      {0, 600, 1920, 1080}, {1, 1, 640, 480},
  };
  for (const Case& c : cases) {
    int w, h;
    display_mode_choose(list, c.w, c.h, 1920, 1080, &w, &h);
    EXPECT_EQ(w, c.chosen_w) << c.w << "x" << c.h;
    EXPECT_EQ(h, c.chosen_h) << c.w << "x" << c.h;
  }
}

}  // namespace
