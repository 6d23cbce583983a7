// Control names, the event ring, scan codes of reported keys, and the display mode rules.
#include <cstring>

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
