// PNG reading against files another encoder wrote (ImageMagick's convert), our PNG writer
// read back by ourselves and by convert, and PNG input that must be refused.
#include "render/image.h"

#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes load(const std::string& path) {
  std::string s = read_file_bytes(path);
  return Bytes(s.begin(), s.end());
}

void save(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// Runs convert with the arguments; the test fails when it cannot.
void convert(const std::string& arguments) {
  std::string command = "convert " + arguments + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Reads back the colour type byte of a PNG's header, to check that convert wrote the form a
// case is about.
int colour_type_of(const Bytes& png) { return png.size() > 25 ? png[25] : -1; }
int bit_depth_of(const Bytes& png) { return png.size() > 24 ? png[24] : -1; }
bool is_interlaced(const Bytes& png) { return png.size() > 28 && png[28] == 1; }

// 7 x 5: odd sizes so every interlace pass has partial blocks.
constexpr int W = 7, H = 5;

Bytes grey_pattern() {
  Bytes p(W * H);
  for (int i = 0; i < W * H; i++) p[i] = uint8_t(i * 37 % 256);
  return p;
}

Bytes rgba_pattern() {
  Bytes p(W * H * 4);
  for (int i = 0; i < W * H; i++) {
    p[i * 4 + 0] = uint8_t(i * 53);
    p[i * 4 + 1] = uint8_t(255 - i * 7);
    p[i * 4 + 2] = uint8_t(i * i);
    p[i * 4 + 3] = uint8_t(i % 3 == 0 ? 0 : i * 9);
  }
  return p;
}

// Expected texture pixels: grey copied to R, G and B.
Bytes grey_as_rgb(const Bytes& grey) {
  Bytes rgb;
  for (uint8_t v : grey) rgb.insert(rgb.end(), {v, v, v});
  return rgb;
}

TEST(PngRead, FilesFromAnotherEncoder) {
  TempDir dir;
  Bytes grey = grey_pattern(), rgba = rgba_pattern(), file;
  ASSERT_TRUE(image_encode_pgm(grey.data(), W, H, file));
  save(dir.file("grey.pgm"), file);
  // 16-bit source: each sample v * 257 + 1 so the low byte differs from the high byte.
  std::string p16 = "P5\n7 5\n65535\n";
  for (uint8_t v : grey) {
    int s = v * 257 + (v < 255 ? 1 : 0);
    p16 += char(s >> 8);
    p16 += char(s & 255);
  }
  dir.write("grey16.pgm", p16);
  // Colour source with only a few colours, so that a palette holds it exactly.
  Bytes few(W * H * 3);
  for (int i = 0; i < W * H; i++) {
    few[i * 3 + 0] = uint8_t(i % 3 * 100);
    few[i * 3 + 1] = uint8_t(i % 4 * 60);
    few[i * 3 + 2] = 7;
  }
  Bytes bw(W * H);
  for (int i = 0; i < W * H; i++) bw[i] = i % 3 ? 255 : 0;
  ASSERT_TRUE(image_encode_pgm(bw.data(), W, H, file));
  save(dir.file("bw.pgm"), file);
  ASSERT_TRUE(image_encode_ppm(few.data(), W, H, file));
  save(dir.file("few.ppm"), file);
  ASSERT_TRUE(image_encode_png(rgba.data(), W, H, 4, file));
  save(dir.file("rgba.png"), file);
  // Binary alpha: a palette with a transparency chunk.
  Bytes cut = rgba;
  for (int i = 0; i < W * H; i++) {
    cut[i * 4 + 0] = uint8_t(i % 2 * 200);
    cut[i * 4 + 1] = cut[i * 4 + 2] = 50;
    cut[i * 4 + 3] = i % 5 == 0 ? 0 : 255;
  }
  ASSERT_TRUE(image_encode_png(cut.data(), W, H, 4, file));
  save(dir.file("cut.png"), file);

  struct Case {
    const char* name;
    std::string source, arguments;  // convert reads source, writes out.png
    int colour_type, bit_depth;
    bool interlaced;
    int depth;
    Bytes pixels;
  } cases[] = {
      {"grey 8-bit", "grey.pgm", "-define png:color-type=0 -define png:bit-depth=8", 0, 8, false, 3, grey_as_rgb(grey)},
      {"grey 16-bit keeps the high byte", "grey16.pgm", "-define png:color-type=0 -define png:bit-depth=16", 0, 16, false, 3,
       grey_as_rgb(grey)},
      {"palette of 4 bits", "few.ppm", "-define png:color-type=3 -define png:bit-depth=4", 3, 4, false, 3, few},
      {"grey of 1 bit", "bw.pgm", "-define png:color-type=0 -define png:bit-depth=1", 0, 1, false, 3, grey_as_rgb(bw)},
      {"RGBA", "rgba.png", "-define png:color-type=6", 6, 8, false, 4, rgba},
      {"RGBA interlaced", "rgba.png", "-interlace PNG -define png:color-type=6", 6, 8, true, 4, rgba},
      {"grey interlaced", "grey.pgm", "-interlace PNG -define png:color-type=0 -define png:bit-depth=8", 0, 8, true, 3,
       grey_as_rgb(grey)},
      {"palette with transparency", "cut.png", "-define png:format=png8", 3, 8, false, 4, cut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    convert(dir.file(c.source) + " " + c.arguments + " " + dir.file("out.png"));
    Bytes png = load(dir.file("out.png"));
    ASSERT_EQ(colour_type_of(png), c.colour_type);
    ASSERT_EQ(bit_depth_of(png), c.bit_depth);
    ASSERT_EQ(is_interlaced(png), c.interlaced);
    Image image;
    std::string info;
    ASSERT_TRUE(image_decode_png(png.data(), png.size(), image, &info));
    EXPECT_EQ(image.width, W);
    EXPECT_EQ(image.height, H);
    ASSERT_EQ(image.depth, c.depth);
    if (c.depth == 4) {
      // Colour under alpha 0 is the encoder's choice; compare what can be seen.
      for (int i = 0; i < W * H; i++) {
        if (c.pixels[i * 4 + 3] == 0) {
          EXPECT_EQ(image.pixels[i * 4 + 3], 0) << i;
        } else {
          EXPECT_EQ(Bytes(image.pixels.begin() + i * 4, image.pixels.begin() + i * 4 + 4),
                    Bytes(c.pixels.begin() + i * 4, c.pixels.begin() + i * 4 + 4))
              << i;
        }
      }
    } else {
      EXPECT_EQ(image.pixels, c.pixels);
    }
  }
}

TEST(PngRead, Grey16FromAnotherEncoder) {
  TempDir dir;
  Bytes grey = grey_pattern(), file;
  std::string p16 = "P5\n7 5\n65535\n";
  std::vector<uint16_t> samples;
  for (int i = 0; i < W * H; i++) {
    uint16_t s = uint16_t(i * 1871 + 3);
    samples.push_back(s);
    p16 += char(s >> 8);
    p16 += char(s & 255);
  }
  dir.write("grey16.pgm", p16);
  ASSERT_TRUE(image_encode_pgm(grey.data(), W, H, file));
  save(dir.file("grey.pgm"), file);
  std::vector<uint16_t> widened;
  for (uint8_t v : grey) widened.push_back(uint16_t(v * 257));

  // Grey values with the first texel transparent: written as a palette with transparency.
  Bytes cut;
  for (uint8_t v : grey) cut.insert(cut.end(), {v, v, v, uint8_t(cut.empty() ? 0 : 255)});
  ASSERT_TRUE(image_encode_png(cut.data(), W, H, 4, file));
  save(dir.file("cut.png"), file);

  struct Case {
    const char* name;
    std::string source, arguments;
    std::vector<uint16_t> samples;
  } cases[] = {
      {"16-bit grey", "grey16.pgm", "-define png:color-type=0 -define png:bit-depth=16", samples},
      {"8-bit grey widened", "grey.pgm", "-define png:color-type=0 -define png:bit-depth=8", widened},
      {"grey-valued RGB", "grey.pgm", "-define png:color-type=2", widened},
      {"grey-valued palette", "grey.pgm", "-define png:color-type=3", widened},
      {"16-bit grey with alpha", "grey16.pgm", "-alpha on -define png:color-type=4 -define png:bit-depth=16", samples},
      {"palette with transparency", "cut.png", "-define png:format=png8", widened},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    convert(dir.file(c.source) + " " + c.arguments + " " + dir.file("out.png"));
    Bytes png = load(dir.file("out.png"));
    GreyImage16 image;
    ASSERT_TRUE(image_decode_png_grey16(png.data(), png.size(), image));
    EXPECT_EQ(image.width, W);
    EXPECT_EQ(image.height, H);
    // The colour under the transparent first texel is the encoder's choice.
    ASSERT_EQ(image.samples.size(), c.samples.size());
    EXPECT_EQ(std::vector<uint16_t>(image.samples.begin() + 1, image.samples.end()),
              std::vector<uint16_t>(c.samples.begin() + 1, c.samples.end()));
  }
}

TEST(PngRead, TextChunksFormTheInfoText) {
  TempDir dir;
  Bytes grey = grey_pattern(), file;
  ASSERT_TRUE(image_encode_pgm(grey.data(), W, H, file));
  save(dir.file("grey.pgm"), file);
  convert(dir.file("grey.pgm") + " -set comment 'a [mip_max_alpha] b' " + dir.file("out.png"));
  Bytes png = load(dir.file("out.png"));
  Image image;
  std::string info;
  ASSERT_TRUE(image_decode_png(png.data(), png.size(), image, &info));
  EXPECT_NE(info.find("a [mip_max_alpha] b"), std::string::npos) << info;
}

TEST(PngWrite, ReadBackByUsAndByAnotherDecoder) {
  TempDir dir;
  Bytes grey = grey_pattern(), rgba = rgba_pattern(), rgb, png;
  for (int i = 0; i < W * H; i++) rgb.insert(rgb.end(), {rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]});

  struct Case {
    const char* name;
    int depth;
    const Bytes& pixels;
    Bytes expected;  // as the texture reader delivers it
  } cases[] = {{"grey", 1, grey, grey_as_rgb(grey)}, {"RGB", 3, rgb, rgb}, {"RGBA", 4, rgba, rgba}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(image_encode_png(c.pixels.data(), W, H, c.depth, png));
    Image image;
    ASSERT_TRUE(image_decode_png(png.data(), png.size(), image, nullptr));
    EXPECT_EQ(image.pixels, c.expected);
    // Another decoder sees the same pixels, as raw RGBA bytes.
    save(dir.file("ours.png"), png);
    convert(dir.file("ours.png") + " -depth 8 RGBA:" + dir.file("out.rgba"));
    Bytes raw = load(dir.file("out.rgba"));
    image_convert_depth(image, 4);
    EXPECT_EQ(raw, image.pixels);
  }

  std::vector<uint16_t> samples;
  for (int i = 0; i < W * H; i++) samples.push_back(uint16_t(i * 1871 + 3));
  ASSERT_TRUE(image_encode_png_grey16(samples.data(), W, H, png));
  EXPECT_EQ(bit_depth_of(png), 16);
  GreyImage16 back;
  ASSERT_TRUE(image_decode_png_grey16(png.data(), png.size(), back));
  EXPECT_EQ(back.samples, samples);
  save(dir.file("ours16.png"), png);
  convert(dir.file("ours16.png") + " -depth 16 -endian MSB GRAY:" + dir.file("out.gray"));
  Bytes raw = load(dir.file("out.gray"));
  ASSERT_EQ(raw.size(), samples.size() * 2);
  for (size_t i = 0; i < samples.size(); i++) EXPECT_EQ(raw[2 * i] << 8 | raw[2 * i + 1], samples[i]) << i;
}

// Rewrites a chunk's CRC after the test changed its contents.
void fix_crc(Bytes& png, size_t chunk) {
  uint32_t length = uint32_t(png[chunk]) << 24 | png[chunk + 1] << 16 | png[chunk + 2] << 8 | png[chunk + 3];
  uint32_t crc = uint32_t(crc32(0, png.data() + chunk + 4, length + 4));
  for (int i = 0; i < 4; i++) png[chunk + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
}

void put_u32(Bytes& png, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) png[at + i] = uint8_t(v >> (24 - 8 * i));
}

TEST(PngRead, BadInputFailsCleanly) {
  // A plain 64 x 64 grey picture compresses to a few bytes.
  Bytes flat(64 * 64, 9), good;
  ASSERT_TRUE(image_encode_png(flat.data(), 64, 64, 1, good));
  const size_t IHDR = 8;
  struct Case {
    const char* name;
    Bytes png;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"signature only", Bytes(good.begin(), good.begin() + 8)});
  cases.push_back({"not a PNG", Bytes{'P', '6', ' ', '1', ' ', '1', ' ', '2', '5', '5', '\n', 0, 0, 0}});
  cases.push_back({"cut inside the header", Bytes(good.begin(), good.begin() + 20)});
  cases.push_back({"cut inside the image data", Bytes(good.begin(), good.end() - 20)});
  cases.push_back({"no end chunk", Bytes(good.begin(), good.end() - 12)});
  Bytes bad_crc = good;
  bad_crc[IHDR + 8] ^= 1;
  cases.push_back({"header CRC wrong", bad_crc});
  Bytes zero = good;
  put_u32(zero, IHDR + 8, 0);
  fix_crc(zero, IHDR);
  cases.push_back({"zero width", zero});
  Bytes huge = good;
  put_u32(huge, IHDR + 8, 0x7fffffff);
  put_u32(huge, IHDR + 12, 0x7fffffff);
  fix_crc(huge, IHDR);
  cases.push_back({"huge", huge});
  // 8192 x 8192 is allowed in size, but a few bytes of image data cannot fill it.
  Bytes big = good;
  put_u32(big, IHDR + 8, 8192);
  put_u32(big, IHDR + 12, 8192);
  fix_crc(big, IHDR);
  cases.push_back({"too little data for its size", big});
  Bytes depth = good;
  depth[IHDR + 16] = 3;  // grey of bit depth 3 does not exist
  fix_crc(depth, IHDR);
  cases.push_back({"bad bit depth", depth});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image;
    std::string info = "old";
    EXPECT_FALSE(image_decode_png(c.png.data(), c.png.size(), image, &info));
    EXPECT_TRUE(image.pixels.empty());
    GreyImage16 grey;
    EXPECT_FALSE(image_decode_png_grey16(c.png.data(), c.png.size(), grey));
    EXPECT_TRUE(grey.samples.empty());
  }
}

}  // namespace
