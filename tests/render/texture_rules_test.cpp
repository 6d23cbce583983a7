// Texture decisions without GL: wrap flags, reductions, border colours and ".seq" animations.
#include <cstring>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "render/texture_rules.h"
#include "tests/support/temp_dir.h"

namespace {

// A chain of the given size whose top level is painted texel by texel.
template <typename Paint>
MipChain painted(int width, int height, int depth, Paint paint) {
  MipChain chain;
  EXPECT_TRUE(mip_chain_alloc(chain, width, height, depth));
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      for (int c = 0; c < depth; c++) chain.pixels[(size_t(y) * width + x) * depth + c] = uint8_t(paint(x, y, c));
  mip_chain_build(chain, "");
  return chain;
}

uint8_t noise(int x, int y, int c) {
  uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return uint8_t(h >> 24);
}

TEST(TextureRules, WrapModesComeFromTheName) {
  struct Case {
    const char* name;
    unsigned flags;
  } cases[] = {
      {"@fence-repeat.png", TEXTURE_REPEAT_S | TEXTURE_REPEAT_T},
      {"@rope-hrepeat.png", TEXTURE_REPEAT_S},
      {"@pole-vrepeat.ppm", TEXTURE_REPEAT_T},
      {"@sign.png", 0},
      {"@repeat.png", 0},           // the dash belongs to the marker
      {"@fence-repeat_norm.png", 0},  // and so does the dot after it
  };
  for (const Case& c : cases) EXPECT_EQ(texture_wrap_from_name(c.name), c.flags) << c.name;
}

TEST(TextureRules, DetailSettingDropsTopLevelsOfLargeTexturesOnly) {
  struct Case {
    int width, height, count;
    int reduced_width, reduced_height;
  } cases[] = {
      {512, 512, 2, 128, 128},
      {512, 512, 5, 128, 128},  // never below 128 on a side
      {512, 512, 0, 512, 512},
      {512, 64, 3, 512, 64},    // one side already small
      {256, 256, 1, 128, 128},
  };
  std::map<std::pair<int, int>, MipChain> pictures;  // one picture per size
  for (const Case& c : cases) {
    auto [at, made] = pictures.try_emplace({c.width, c.height});
    if (made) at->second = painted(c.width, c.height, 3, noise);
    const MipChain& original = at->second;
    MipChain chain = original;
    texture_reduce_by_setting(chain, c.count);
    EXPECT_EQ(chain.width, c.reduced_width) << c.width << "x" << c.height << " by " << c.count;
    EXPECT_EQ(chain.height, c.reduced_height) << c.width << "x" << c.height << " by " << c.count;
    // The chain that is left is the lower part of the original one.
    const size_t skipped = original.pixels.size() - chain.pixels.size();
    EXPECT_EQ(0, memcmp(chain.pixels.data(), original.pixels.data() + skipped, chain.pixels.size()));
  }
}

TEST(TextureRules, LevelsWithoutDetailAreDropped) {
  // A smooth ramp is rebuilt from its smaller levels almost exactly: a blurred picture blown up.
  MipChain smooth = painted(256, 256, 3, [](int x, int y, int c) { return (x + y) / 4 + c * 10; });
  EXPECT_GT(texture_reduce_by_content(smooth), 0);
  EXPECT_LE(smooth.width, 64);
  EXPECT_GE(smooth.width, TEXTURE_CONTENT_MIN);

  MipChain sharp = painted(256, 256, 3, noise);
  EXPECT_EQ(texture_reduce_by_content(sharp), 0);
  EXPECT_EQ(sharp.width, 256);

  // One texel standing out of a flat picture by 10 is detail enough to keep the top level.
  MipChain marked = painted(64, 64, 3, [](int x, int y, int) { return x == 30 && y == 30 ? 110 : 100; });
  EXPECT_EQ(texture_reduce_by_content(marked), 0);
}

TEST(TextureRules, UpsamplingWeighsTheNearerCoarseTexelThreeQuarters) {
  // Level 1 of a 4 x 1 row is (10, 50) after averaging pairs of (0, 20) and (40, 60).
  MipChain row = painted(4, 1, 1, [](int x, int, int) { return x * 20; });
  std::vector<uint8_t> up;
  texture_upsample_level(row, up);
  // x = 0: near 10, far (clamped) 10; x = 1: near 10, far 50 -> (30 + 50) / 4 = 20.
  const std::vector<uint8_t> expected = {10, 20, 40, 50};
  EXPECT_EQ(up, expected);
}

TEST(TextureRules, BorderColourIsTheCommonestEdgeColour) {
  // Red edges with one green corner; the inside does not count.
  MipChain rgb = painted(8, 8, 3, [](int x, int y, int c) {
    const bool edge = x == 0 || y == 0 || x == 7 || y == 7;
    if (!edge) return c == 2 ? 255 : 0;
    if (x == 0 && y == 0) return c == 1 ? 255 : 0;
    return c == 0 ? 200 : 0;  // 200 * 7 / 255 = 5.49: step 5
  });
  float border[4];
  texture_border_colour(rgb, border);
  EXPECT_FLOAT_EQ(border[0], 5.0f / 7);
  EXPECT_FLOAT_EQ(border[1], 0);
  EXPECT_FLOAT_EQ(border[2], 0);
  EXPECT_FLOAT_EQ(border[3], 0);

  MipChain rgba = painted(4, 4, 4, [](int, int, int) { return 255; });
  texture_border_colour(rgba, border);
  EXPECT_FLOAT_EQ(border[0] + border[1] + border[2] + border[3], 0);
}

TEST(TextureRules, AnimationFrames) {
  struct Case {
    int32_t tick;
    bool loop;
    int frame;
  } cases[] = {
      {100, false, 0}, {107, false, 0}, {108, false, 1}, {124, false, 3}, {1000, false, 3},
      {90, false, 0},  // before the start
      {132, true, 0},  {140, true, 1},  {124, true, 3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(texture_anim_frame(c.tick, 100, 8, 4, c.loop), c.frame) << c.tick << " loop " << c.loop;
}

// ---- ".seq" files

std::string v7(int width, int height, uint8_t shade) {
  std::vector<uint8_t> pixels(size_t(width) * height * 4, shade);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(image_encode_own(pixels.data(), width, height, 4, bytes));
  return std::string(bytes.begin(), bytes.end());
}

TEST(TextureRules, SeqFilesReadTheirFrames) {
  TempDir home;
  set_search_dirs(home);
  std::vector<uint8_t> png;
  std::vector<uint8_t> rgba(8 * 8 * 4, 77);
  ASSERT_TRUE(image_encode_png(rgba.data(), 8, 8, 4, png));
  home.write("frame.png", std::string(png.begin(), png.end()));

  const std::string text = "ANIM1 3 2 8 1\n0 1 0\n" + v7(8, 8, 20) + "PNG\n@frame.png  \n";
  TextureSeq seq;
  std::string error;
  ASSERT_TRUE(texture_seq_parse(reinterpret_cast<const uint8_t*>(text.data()), text.size(), seq, &error)) << error;
  EXPECT_EQ(seq.sequence_length, 3);
  EXPECT_EQ(seq.ticks_per_frame, 8);
  EXPECT_EQ(seq.loop, 1);
  EXPECT_EQ(seq.sequence, (std::vector<int>{0, 1, 0}));
  ASSERT_EQ(seq.images.size(), 2u);
  EXPECT_EQ(seq.images[0].pixels[0], 20);
  EXPECT_EQ(seq.images[1].pixels[0], 77);

  // Large frames are cut down to at most 65536 texels.
  const std::string big = "ANIM1 1 1 4 0\n0\n" + v7(512, 256, 9);
  ASSERT_TRUE(texture_seq_parse(reinterpret_cast<const uint8_t*>(big.data()), big.size(), seq, &error)) << error;
  EXPECT_EQ(seq.images[0].width * seq.images[0].height, 256 * 128);
  vfs_set_search_dirs(nullptr, 0);
}

TEST(TextureRules, BrokenSeqFilesSayWhy) {
  TempDir home;
  set_search_dirs(home);
  std::vector<uint8_t> png;
  std::vector<uint8_t> rgb(8 * 8 * 3, 77);
  ASSERT_TRUE(image_encode_png(rgb.data(), 8, 8, 3, png));
  home.write("rgb.png", std::string(png.begin(), png.end()));
  struct Case {
    std::string text;
    const char* error;
  } cases[] = {
      {"ANIM1 2 2 8 0\n0 1\n" + v7(8, 8, 1) + v7(16, 8, 2), "Width/height mismatch reading .seq"},
      {"ANIM1 2 2 8 0\n0 1\n" + v7(8, 8, 1) + "PNG\n@rgb.png\n", "Depth mismatch reading .seq"},
      {"ANIM1 2 2 8 0\n0 1\n" + v7(8, 8, 1) + "GIF\n", "Error reading .seq frame 1"},
      {"ANIM1 1 1 8 0\n0\nPNG", "EOF while reading .seq"},
      {"ANIM1 1 1 8 0\n0\nPNG\n@missing.png\n", "Can't read @missing.png"},
      {"ANIM1 2 1 8 0\n0", "EOF while reading .seq"},
      {"ANIM1 2 1 8 0\n0 1\n" + v7(8, 8, 1), "Bad image index in .seq"},  // would read past the images
      {"ANIM1 0 1 8 0\n", ""},  // not a texture: no message of its own
      {"ANIM1 1 0 8 0\n0\n", ""},
  };
  for (const Case& c : cases) {
    TextureSeq seq;
    std::string error = "unset";
    EXPECT_FALSE(texture_seq_parse(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), seq, &error))
        << c.error;
    EXPECT_EQ(error, c.error);
  }
  // A frame time of 0 would stop the clock with a division by zero: it counts as 1.
  const std::string zero = "ANIM1 1 1 0 0\n0\n" + v7(4, 4, 1);
  TextureSeq seq;
  ASSERT_TRUE(texture_seq_parse(reinterpret_cast<const uint8_t*>(zero.data()), zero.size(), seq, nullptr));
  EXPECT_EQ(seq.ticks_per_frame, 1);
  vfs_set_search_dirs(nullptr, 0);
}

}  // namespace
