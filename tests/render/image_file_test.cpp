// Image files through the file system: every writer read back by name, stored variants, and
// the ".info" sidecar of a PNG.
#include "render/image.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/files/vfs_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ImageFiles = VfsTest;

Bytes top_level(const MipChain& chain) {
  return Bytes(chain.pixels.begin(), chain.pixels.begin() + size_t(chain.width) * chain.height * chain.depth);
}

// 3 x 2 RGBA with a transparent texel; the RGB form is the same without alpha.
const Bytes RGBA = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};

Bytes without_alpha(const Bytes& rgba) {
  Bytes rgb;
  for (size_t i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
  return rgb;
}

Bytes with_opaque_alpha(const Bytes& rgb) {
  Bytes rgba;
  for (size_t i = 0; i < rgb.size(); i += 3) rgba.insert(rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 255});
  return rgba;
}

TEST_F(ImageFiles, WritersReadBackByName) {
  const Bytes rgb = without_alpha(RGBA);
  ASSERT_TRUE(image_save_png("@pics/rgba.png", RGBA.data(), 3, 2, 4));
  ASSERT_TRUE(image_save_png("@pics/rgb.png", rgb.data(), 3, 2, 3));
  ASSERT_TRUE(image_save_ppm("@pics/rgb.ppm", rgb.data(), 3, 2));
  ASSERT_TRUE(image_save_own("@pics/rgb.v6", rgb.data(), 3, 2, 3));
  ASSERT_TRUE(image_save_own("@pics/rgba.v7", RGBA.data(), 3, 2, 4));
  struct Case {
    const char* name;
    int channels;
    Bytes pixels;
  } cases[] = {
      {"@pics/rgba.png", 0, RGBA}, {"@pics/rgba.png", 3, rgb}, {"@pics/rgb.png", 0, rgb},
      {"@pics/rgb.png", 4, with_opaque_alpha(rgb)}, {"@pics/rgb.ppm", 0, rgb}, {"@pics/rgb.ppm", 4, with_opaque_alpha(rgb)},
      {"@pics/rgb.v6", 0, rgb}, {"@pics/rgb.v6", 4, with_opaque_alpha(rgb)}, {"@pics/rgba.v7", 0, RGBA},
      {"@pics/rgba.v7", 3, rgb},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " channels " << c.channels);
    MipChain chain;
    ASSERT_TRUE(image_load(c.name, c.channels, chain, nullptr));
    EXPECT_EQ(chain.width, 3);
    EXPECT_EQ(chain.height, 2);
    EXPECT_EQ(top_level(chain), c.pixels);
    EXPECT_EQ(chain.pixels.size(), mip_chain_bytes(3, 2, chain.depth));
  }

  const Bytes grey = {0, 1, 2, 253, 254, 255};
  ASSERT_TRUE(image_save_pgm("@pics/grey.pgm", grey.data(), 3, 2));
  Image image;
  ASSERT_TRUE(image_load_pgm("@pics/grey.pgm", image));
  EXPECT_EQ(image.pixels, grey);

  const std::vector<uint16_t> heights = {0, 1, 256, 40000, 65534, 65535};
  ASSERT_TRUE(image_save_png_grey16("@pics/terrain.png", heights.data(), 3, 2));
  GreyImage16 height_image;
  ASSERT_TRUE(image_load_png_grey16("@pics/terrain.png", height_image));
  EXPECT_EQ(height_image.samples, heights);

  MipChain chain;
  EXPECT_FALSE(image_load("@pics/missing.png", 0, chain, nullptr));
  EXPECT_FALSE(image_load("@pics/grey.pgm", 0, chain, nullptr));  // PGM only where one is expected
  EXPECT_FALSE(image_save_png("/proc/no/such/place.png", RGBA.data(), 3, 2, 4));
}

TEST_F(ImageFiles, CompressedPngWithSidecar) {
  // One opaque red texel among three transparent ones: the sidecar's tag keeps the mip
  // texel opaque.
  const Bytes texels = {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Bytes png;
  ASSERT_TRUE(image_encode_png(texels.data(), 2, 2, 4, png));
  root.write("data/flag.png.gz", gzip_tool(root, std::string(png.begin(), png.end()), "-n"));
  root.write("data/flag.png.info", "[compress]\n[mip_max_alpha]\n");
  MipChain chain;
  std::string info;
  ASSERT_TRUE(image_load("@flag.png", 0, chain, &info));
  EXPECT_EQ(info, "[compress]\n[mip_max_alpha]\n");
  EXPECT_EQ(Bytes(chain.pixels.begin() + 16, chain.pixels.end()), (Bytes{255, 0, 0, 255}));
}

}  // namespace
