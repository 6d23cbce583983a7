// PPM, PGM and our own "V6"/"V7" images from memory, the writers, and mip chain building.
#include "render/image.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/vant.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes top_level(const MipChain& chain) {
  return Bytes(chain.pixels.begin(), chain.pixels.begin() + size_t(chain.width) * chain.height * chain.depth);
}

Bytes level_of(const MipChain& chain, int level) {
  size_t at = mip_level_offset(chain.width, chain.height, chain.depth, level);
  size_t n = size_t(mip_level_width(chain.width, level)) * mip_level_height(chain.height, level) * chain.depth;
  return Bytes(chain.pixels.begin() + at, chain.pixels.begin() + at + n);
}

// A small image with values that make the predictor wrap and clamp.
Bytes pattern(int width, int height, int depth) {
  Bytes p(size_t(width) * height * depth);
  for (size_t i = 0; i < p.size(); i++) p[i] = uint8_t((i * 97 + (i / 7) * 201) ^ (i * i));
  return p;
}

TEST(OwnImage, DecodesPredictedBytes) {
  // Stored (10,20,30) (1,1,1) / (5,5,5) (0,0,0): left, above and gradient predictions.
  std::string file = "V6\n2 2\n";
  const uint8_t stored[] = {10, 20, 30, 1, 1, 1, 5, 5, 5, 0, 0, 0};
  file.append(reinterpret_cast<const char*>(stored), sizeof stored);
  Bytes data = bytes_of(file);
  ImageCursor in = image_cursor(data.data(), data.size());
  MipChain chain;
  ASSERT_TRUE(image_decode_own(in, 3, chain));
  EXPECT_EQ(top_level(chain), (Bytes{10, 20, 30, 11, 21, 31, 15, 25, 35, 16, 26, 36}));
  EXPECT_EQ(in.pos, data.size());
  EXPECT_EQ(level_of(chain, 1), (Bytes{13, 23, 33}));
}

TEST(OwnImage, RoundTripsWithChannelChoice) {
  struct Case {
    int file_channels, channels;
  } cases[] = {{3, 3}, {4, 4}, {3, 4}, {4, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.file_channels << " -> " << c.channels);
    const int w = 5, h = 4;
    Bytes source = pattern(w, h, c.file_channels);
    Bytes file;
    ASSERT_TRUE(image_encode_own(source.data(), w, h, c.file_channels, file));
    ImageCursor in = image_cursor(file.data(), file.size());
    MipChain chain;
    ASSERT_TRUE(image_decode_own(in, c.channels, chain));
    ASSERT_EQ(chain.width, w);
    ASSERT_EQ(chain.height, h);
    ASSERT_EQ(chain.depth, c.channels);
    ASSERT_EQ(chain.pixels.size(), mip_chain_bytes(w, h, c.channels));
    for (int i = 0; i < w * h; i++) {
      for (int k = 0; k < c.channels; k++) {
        int expected = k < c.file_channels ? source[i * c.file_channels + k] : 255;
        ASSERT_EQ(chain.pixels[i * c.channels + k], expected) << "pixel " << i << " channel " << k;
      }
    }
  }
}

TEST(OwnImage, HeaderCommentsAndInlineUse) {
  // A header with comments, followed by more data that must stay unread (as in an animation).
  std::string file = "V7 # made by hand\n1 # width\n#\n 1\n";
  file += std::string("\x01\x02\x03\x04", 4) + "tail";
  Bytes data = bytes_of(file);
  ImageCursor in = image_cursor(data.data(), data.size());
  MipChain chain;
  ASSERT_TRUE(image_decode_own(in, 4, chain));
  EXPECT_EQ(top_level(chain), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(std::string(data.begin() + in.pos, data.end()), "tail");
}

TEST(OwnImage, BadInputFails) {
  const char* files[] = {
      "",                   // nothing
      "V8\n1 1\nabc",       // unknown magic
      "V6\n",               // no dimensions
      "V6\n-1 1\nabc",      // negative
      "V6\n0 1\n",          // empty
      "V6\n1 1",            // no separator, no data
      "V6\n2 1\nabcde",     // one byte short
      "V6\n99999 99999\n",  // beyond the limits
      "V6\n4294967297 1\nabc",  // wraps to 1 in 32 bits
  };
  for (const char* f : files) {
    SCOPED_TRACE(f);
    Bytes data = bytes_of(f);
    ImageCursor in = image_cursor(data.data(), data.size());
    MipChain chain;
    EXPECT_FALSE(image_decode_own(in, 3, chain));
    EXPECT_TRUE(chain.pixels.empty());
  }
}

struct NetpbmCase {
  const char* name;
  std::string file;
  int width, height;
  Bytes pixels;     // top level on success
  const char* error;  // last-error text on failure
};

TEST(Ppm, ReadsBinaryAndText) {
  NetpbmCase cases[] = {
      {"binary", "P6\n2 1\n255\n" + std::string("\x01\x02\x03\xfd\xfe\xff", 6), 2, 1, {1, 2, 3, 253, 254, 255}, nullptr},
      {"maximum 127 scales to 255", "P6 1 1 127\n" + std::string("\x7f\x40\x00", 3), 1, 1, {255, 128, 0}, nullptr},
      {"16-bit samples", "P6 1 1 65535\n" + std::string("\xff\xff\x80\x00\x00\xff", 6), 1, 1, {255, 127, 0}, nullptr},
      {"comments everywhere", "P3 # a\n# b\n1 # c\n1\n# d\n255 1 # e\n 2\n#f\n3", 1, 1, {1, 2, 3}, nullptr},
      {"text with maximum 15", "P3 1 1 15 15 0 7 ", 1, 1, {255, 0, 119}, nullptr},
      {"text beyond maximum is capped", "P3 1 1 10 11 -4 5", 1, 1, {255, 0, 127}, nullptr},
      {"unknown magic", "P7 1 1 255\n...", 0, 0, {}, "Can't parse PPM header"},
      {"magic longer than a word", "P6P6 1 1 255\n...", 0, 0, {}, "Can't parse PPM header"},
      {"negative width", "P6 -1 1 255\n...", 0, 0, {}, "Can't get PPM dimensions"},
      {"missing maximum", "P6 1 1 ", 0, 0, {}, "Can't get PPM dimensions"},
      {"maximum 0", "P6 1 1 0\n...", 0, 0, {}, "Can't get PPM dimensions"},
      {"zero height", "P6 1 0 255\n", 0, 0, {}, "Can't get PPM dimensions"},
      {"too large", "P6 40000 40000 255\n", 0, 0, {}, "Can't get PPM dimensions"},
      {"truncated binary", "P6 2 2 255\n" + std::string(11, 'x'), 0, 0, {}, "Truncated PPM data"},
      {"truncated 16-bit", "P6 1 1 1000\n" + std::string(5, 'x'), 0, 0, {}, "Truncated PPM data"},
      {"truncated text", "P3 1 1 255 1 2", 0, 0, {}, "Truncated PPM data"},
      {"junk in text", "P3 1 1 255 1 x 2 3 4", 0, 0, {}, "Truncated PPM data"},
  };
  for (const NetpbmCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = bytes_of(c.file);
    ImageCursor in = image_cursor(data.data(), data.size());
    MipChain chain;
    vant_set_error("");
    bool ok = image_decode_ppm(in, chain);
    if (c.error) {
      EXPECT_FALSE(ok);
      EXPECT_TRUE(chain.pixels.empty());
      EXPECT_STREQ(vant_last_error(), c.error);
    } else {
      ASSERT_TRUE(ok) << vant_last_error();
      EXPECT_EQ(chain.width, c.width);
      EXPECT_EQ(chain.height, c.height);
      EXPECT_EQ(chain.depth, 3);
      EXPECT_EQ(top_level(chain), c.pixels);
      EXPECT_EQ(chain.pixels.size(), mip_chain_bytes(c.width, c.height, 3));
    }
  }
}

TEST(Pgm, ReadsBinaryAndText) {
  NetpbmCase cases[] = {
      {"binary", "P5\n3 1\n255\n" + std::string("\x00\x80\xff", 3), 3, 1, {0, 128, 255}, nullptr},
      {"16-bit", "P5 2 1 65535\n" + std::string("\x12\x34\xff\xff", 4), 2, 1, {18, 255}, nullptr},
      {"text", "P2\n# shadows\n2 2\n100\n0 50\n100 25\n", 2, 2, {0, 127, 255, 63}, nullptr},
      {"a PPM is not a PGM", "P6 1 1 255\nabc", 0, 0, {}, "Can't parse PGM header"},
      {"missing height", "P5 4", 0, 0, {}, "Can't get PGM dimensions"},
      {"truncated", "P5 2 2 255\nabc", 0, 0, {}, "Truncated PGM data"},
  };
  for (const NetpbmCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = bytes_of(c.file);
    ImageCursor in = image_cursor(data.data(), data.size());
    Image image;
    vant_set_error("");
    bool ok = image_decode_pgm(in, image);
    if (c.error) {
      EXPECT_FALSE(ok);
      EXPECT_TRUE(image.pixels.empty());
      EXPECT_STREQ(vant_last_error(), c.error);
    } else {
      ASSERT_TRUE(ok) << vant_last_error();
      EXPECT_EQ(image.width, c.width);
      EXPECT_EQ(image.height, c.height);
      EXPECT_EQ(image.depth, 1);
      EXPECT_EQ(image.pixels, c.pixels);
    }
  }
}

TEST(Netpbm, WritersRoundTrip) {
  const int w = 3, h = 2;
  Bytes rgb = pattern(w, h, 3), grey = pattern(w, h, 1), file;
  ASSERT_TRUE(image_encode_ppm(rgb.data(), w, h, file));
  EXPECT_EQ(std::string(file.begin(), file.begin() + 11), "P6\n3 2\n255\n");
  ImageCursor in = image_cursor(file.data(), file.size());
  MipChain chain;
  ASSERT_TRUE(image_decode_ppm(in, chain));
  EXPECT_EQ(top_level(chain), rgb);

  ASSERT_TRUE(image_encode_pgm(grey.data(), w, h, file));
  in = image_cursor(file.data(), file.size());
  Image image;
  ASSERT_TRUE(image_decode_pgm(in, image));
  EXPECT_EQ(image.pixels, grey);
}

TEST(ImageKind, DispatchesOnTheFirstWord) {
  struct Case {
    const char* text;
    ImageKind kind;
  } cases[] = {{"P6 1 1", IMAGE_KIND_PPM}, {"\n P3", IMAGE_KIND_PPM}, {"P5", IMAGE_KIND_PGM}, {"P2\n", IMAGE_KIND_PGM},
               {"V6 1", IMAGE_KIND_V6},    {"V7\n", IMAGE_KIND_V7},    {"\x89PNG", IMAGE_KIND_PNG}, {"", IMAGE_KIND_PNG},
               {"V66", IMAGE_KIND_PNG}};
  for (const Case& c : cases) {
    Bytes data = bytes_of(c.text);
    EXPECT_EQ(image_kind(data.data(), data.size()), c.kind) << c.text;
  }
}

TEST(MipChain, LevelLayout) {
  // 5 x 2: levels 5x2, 2x1, 1x1.
  EXPECT_EQ(mip_level_count(5, 2), 3);
  EXPECT_EQ(mip_level_offset(5, 2, 3, 1), 30u);
  EXPECT_EQ(mip_level_offset(5, 2, 3, 2), 36u);
  EXPECT_EQ(mip_chain_bytes(5, 2, 3), 39u);
  EXPECT_EQ(mip_chain_bytes(1, 1, 4), 4u);
  EXPECT_EQ(mip_chain_bytes(1, 8, 1), 15u);
}

TEST(MipChain, Averaging) {
  struct Case {
    const char* name;
    int width, height, depth;
    Bytes top;
    const char* info;
    Bytes level1;
  } cases[] = {
      {"RGB mean truncates", 2, 2, 3, {1, 0, 255, 2, 0, 255, 2, 0, 255, 2, 0, 254}, "", {1, 0, 254}},
      {"grey pairs along a row", 4, 1, 1, {10, 13, 200, 0}, "", {11, 100}},
      {"pairs down a column", 1, 2, 3, {0, 0, 0, 255, 255, 255}, "", {127, 127, 127}},
      {"odd column left out", 3, 2, 1, {4, 8, 99, 4, 8, 99}, "", {6}},
      // One opaque red texel among transparent black ones keeps its colour.
      {"alpha weighted", 2, 2, 4, {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "", {255, 0, 0, 63}},
      {"maximum alpha", 2, 2, 4, {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "x[mip_max_alpha]", {255, 0, 0, 255}},
      {"weights by alpha", 2, 1, 4, {200, 0, 0, 192, 0, 100, 0, 64}, "", {150, 25, 0, 128}},
      {"all transparent is a plain mean", 2, 2, 4, {8, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0}, "", {2, 1, 0, 0}},
      {"all opaque is a plain mean", 2, 1, 4, {9, 0, 0, 255, 0, 0, 0, 255}, "", {4, 0, 0, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image{c.top, c.width, c.height, c.depth};
    MipChain chain;
    ASSERT_TRUE(mip_chain_from_image(std::move(image), c.info, "t.png", chain));
    EXPECT_EQ(top_level(chain), c.top);
    EXPECT_EQ(level_of(chain, 1), c.level1);
  }
}

std::string last_message;

TEST(MipChain, CustomLevelsFromOneImage) {
  // A 4 x 6 picture holds a 4 x 4 chain: level 0 on top, level 1 (2 x 2) below it at (0, 4),
  // level 2 (1 x 1) beside level 1 at (2, 4). Each texel tells its level.
  const char* rows[] = {"0000", "0000", "0000", "0000", "112.", "11.."};
  Image image;
  image.width = 4;
  image.height = 6;
  image.depth = 1;
  for (const char* row : rows)
    for (int x = 0; x < 4; x++) image.pixels.push_back(uint8_t(row[x]));
  MipChain chain;
  ASSERT_TRUE(mip_chain_from_image(std::move(image), "[mip_custom]", "custom.png", chain));
  EXPECT_EQ(chain.width, 4);
  EXPECT_EQ(chain.height, 4);
  EXPECT_EQ(level_of(chain, 0), Bytes(16, '0'));
  EXPECT_EQ(level_of(chain, 1), Bytes(4, '1'));
  EXPECT_EQ(level_of(chain, 2), Bytes(1, '2'));

  // A height that is not 3/2 of a level's: warned about, then built normally.
  image_set_message_hook([](const char* text) { last_message = text; });
  Image bad{Bytes(4 * 5, 8), 4, 5, 1};
  ASSERT_TRUE(mip_chain_from_image(std::move(bad), "[mip_custom]", "bad.png", chain));
  image_set_message_hook(nullptr);
  EXPECT_EQ(last_message, "Warning: Invalid height for custom MIP map in 'bad.png'");
  EXPECT_EQ(chain.height, 5);
  EXPECT_EQ(level_of(chain, 1), Bytes(2 * 2, 8));
}

TEST(MipChain, RoundsToPowersOfTwo) {
  // 300 x 100 becomes 256 x 64; texel (x, y) comes from (x * 300 / 256, y * 100 / 64).
  MipChain chain;
  ASSERT_TRUE(mip_chain_alloc(chain, 300, 100, 3));
  for (int y = 0; y < 100; y++)
    for (int x = 0; x < 300; x++) {
      uint8_t* p = chain.pixels.data() + (size_t(y) * 300 + x) * 3;
      p[0] = uint8_t(x);
      p[1] = uint8_t(x >> 8);
      p[2] = uint8_t(y);
    }
  ASSERT_TRUE(mip_chain_round_pow2(chain, ""));
  EXPECT_EQ(chain.width, 256);
  EXPECT_EQ(chain.height, 64);
  EXPECT_EQ(chain.pixels.size(), mip_chain_bytes(256, 64, 3));
  const uint8_t* p = chain.pixels.data() + (size_t(63) * 256 + 255) * 3;
  EXPECT_EQ(p[0] | p[1] << 8, 255 * 300 / 256);
  EXPECT_EQ(p[2], 63 * 100 / 64);
  EXPECT_FALSE(mip_chain_round_pow2(chain, ""));
}

}  // namespace
