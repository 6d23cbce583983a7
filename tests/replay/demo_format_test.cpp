// Demo header text and block links: what the writer makes reads back, and what a reader of
// shared files must refuse.
#include "replay/demo_format.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

bool parse(const std::string& text, DemoHeader* header, size_t* data_start) {
  return demo_header_parse(reinterpret_cast<const uint8_t*>(text.data()), text.size(), header, data_start);
}

const std::string V6_TWO_RIDERS =
    "SK06 2 7680 3 1792\n"
    "rabbithill\n"
    "yz250f(2017)|@rider.png|@bike.png||@helmet.png\n"
    "412\n"
    "Player One\n"
    "\n"
    "kx250f|||\n"
    "7\n"
    "\n"
    "\n";

TEST(DemoHeader, WrittenHeaderReadsBack) {
  static DemoHeader in{}, out{};
  in.rider_count = 2;
  in.duration = 7680;
  in.laps = 3;
  in.race_start_tick = 1792;
  in.track = "rabbithill";
  in.riders[0] = {"yz250f(2017)", "@rider.png", "@bike.png", nullptr, "@helmet.png", "412", "Player One"};
  // Breaks and bars in names would shift the lines of everything after them.
  in.riders[1] = {"cr|125", nullptr, nullptr, nullptr, nullptr, "7", "two\nlines"};
  std::string text;
  demo_header_write(in, &text);
  text += "DATA";
  size_t start;
  ASSERT_TRUE(parse(text, &out, &start));
  EXPECT_EQ(text.substr(start), "DATA");
  EXPECT_EQ(out.version, 6);
  EXPECT_EQ(out.rider_count, 2);
  EXPECT_EQ(out.duration, 7680);
  EXPECT_EQ(out.laps, 3);
  EXPECT_EQ(out.race_start_tick, 1792);
  EXPECT_STREQ(out.track, "rabbithill");
  EXPECT_STREQ(out.riders[0].model, "yz250f(2017)");
  EXPECT_STREQ(out.riders[0].bike_graphics, "@bike.png");
  EXPECT_EQ(out.riders[0].wheel_graphics, nullptr);
  EXPECT_STREQ(out.riders[0].helmet_graphics, "@helmet.png");
  EXPECT_STREQ(out.riders[0].number, "412");
  EXPECT_STREQ(out.riders[0].name, "Player One");
  EXPECT_STREQ(out.riders[1].model, "cr 125");
  EXPECT_STREQ(out.riders[1].name, "two lines");
}

TEST(DemoHeader, ReadsOlderVersionsDefaultsAndAliases) {
  static DemoHeader h;
  size_t start;
  ASSERT_TRUE(parse("SK05 2 0\nrabbithill\ncrf250|a|b|c|d\n12345\nrmz250\n9\nXX", &h, &start));
  EXPECT_EQ(h.version, 5);
  EXPECT_EQ(h.laps, 0);
  EXPECT_EQ(h.race_start_tick, 14 * 128);
  EXPECT_STREQ(h.riders[0].model, "crf250(2008)");
  EXPECT_STREQ(h.riders[0].helmet_graphics, "d");
  EXPECT_STREQ(h.riders[0].number, "123");
  EXPECT_EQ(h.riders[0].name, nullptr);
  EXPECT_STREQ(h.riders[1].model, "rmz250(2008)");
  ASSERT_TRUE(parse(V6_TWO_RIDERS, &h, &start));
  EXPECT_STREQ(h.riders[1].model, "kx250f(2008)");
  EXPECT_EQ(start, V6_TWO_RIDERS.size());
}

TEST(DemoHeader, RejectsBadHeaders) {
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"wrong magic", "XK06 1 0 0 0\nt\nm\n1\nn\n\n"},
      {"version 3", "SK03 0 0 0 0\nt\n"},
      {"version 7", "SK07 0 0 0 0\nt\n"},
      {"two numbers", "SK06 1\nt\nm\n1\nn\n\n"},
      {"negative riders", "SK06 -1 0 0 0\nt\n"},
      {"more riders than slots", "SK06 161 0 0 0\nt\n"},
      {"huge rider count", "SK06 99999999999 0 0 0\nt\n"},
      {"first line cut", "SK06 1 0 0 0"},
      {"no track line", "SK06 0 0 0 0\n"},
      {"rider lines missing", "SK06 2 0 0 0\nt\nm\n1\nn\n\n"},
      {"blank line cut", "SK06 1 0 0 0\nt\nm\n1\nn\n"},
      {"line too long", "SK06 0 0 0 0\n" + std::string(5000, 'x') + "\n"},
  };
  static DemoHeader h;
  for (const auto& c : cases) {
    size_t start;
    EXPECT_FALSE(parse(c.text, &h, &start)) << c.what;
  }
  size_t start;
  EXPECT_TRUE(parse("SK06 0 0 0 0\nt\n", &h, &start));
  EXPECT_TRUE(parse("SK06 160 0 0 0\nt\n" + std::string(160 * 5, '\n'), &h, &start));
}

TEST(DemoBlocks, LinksWalkForwardAndBack) {
  // Three blocks of payload lengths 44, 5 and 0 after a 3-byte header.
  std::vector<uint8_t> bytes = {'h', 'd', '\n'};
  const uint32_t lengths[] = {44, 5, 0};
  uint32_t previous = 0;
  for (int i = 0; i < 3; ++i) {
    size_t at = bytes.size();
    bytes.resize(at + DEMO_BLOCK_HEAD + lengths[i], uint8_t(i));
    demo_block_head_put(&bytes[at], lengths[i], previous, 100 + 16 * i, uint8_t(i + 1));
    previous = lengths[i];
  }
  size_t pos = 3;
  uint32_t last = 0;
  for (int i = 0; i < 3; ++i) {
    DemoBlock b;
    ASSERT_TRUE(demo_block_at(bytes.data(), bytes.size(), pos, last, &b));
    EXPECT_EQ(b.length, lengths[i]);
    EXPECT_EQ(b.tick, 100 + 16 * i);
    EXPECT_EQ(b.type, i + 1);
    pos += DEMO_BLOCK_HEAD + b.length;
    last = b.length;
  }
  DemoBlock b;
  EXPECT_FALSE(demo_block_at(bytes.data(), bytes.size(), pos, last, &b));
  // Back from the end to the first block.
  for (int i = 2; i >= 0; --i) {
    size_t start;
    uint32_t before;
    ASSERT_TRUE(demo_block_before(bytes.data(), bytes.size(), 3, pos, last, &start, &before));
    ASSERT_TRUE(demo_block_at(bytes.data(), bytes.size(), start, before, &b));
    EXPECT_EQ(b.tick, 100 + 16 * i);
    pos = start;
    last = before;
  }
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(last, 0u);
  size_t start;
  uint32_t before;
  EXPECT_FALSE(demo_block_before(bytes.data(), bytes.size(), 3, pos, last, &start, &before));
  // A link that claims more payload than the file holds, or a length that reaches back
  // before the data, is refused.
  EXPECT_FALSE(demo_block_at(bytes.data(), bytes.size(), 3, 0xffffffffu, &b));
  EXPECT_FALSE(demo_block_before(bytes.data(), bytes.size(), 3, bytes.size(), 0xfffffff0u, &start, &before));
}

TEST(DemoBlocks, OldRecordsBecomeStates) {
  PackedBikeState s;
  for (int i = 0; i < PACKED_STATE_SIZE; ++i) s.bytes[i] = uint8_t(i + 1);
  uint8_t record[DEMO_V4_RECORD_SIZE];
  demo_state_to_v4_record(s, record);
  PackedBikeState back;
  demo_record_to_state(record, 4, &back);
  // Frame, hinges, axles, controls and engine survive; the rider sits on the frame.
  EXPECT_EQ(0, std::memcmp(back.bytes, s.bytes, 20));
  EXPECT_EQ(0, std::memcmp(back.bytes + 34, s.bytes + 34, 5));
  EXPECT_EQ(0, std::memcmp(back.bytes + 26, s.bytes + 9, 8));
  EXPECT_EQ(back.bytes[21], 0x80);
}

}  // namespace
