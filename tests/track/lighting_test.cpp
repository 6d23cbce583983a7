// The "lighting" and "cameras" files.
#include <cmath>
#include <string>

#include "tests/track/terrain_support.h"
#include "track/cameras.h"
#include "track/lighting.h"

namespace {

struct LightingFile {
  TempDir dir;
  ConsoleCapture console;
  explicit LightingFile(const std::string& text) { lighting_read(dir.write("lighting", text).c_str()); }
};

TEST(Lighting, ClippingPlanesAndSun) {
  struct Case {
    const char* text;
    float near_plane, far_plane;
    float sun[3];
  } cases[] = {
      {"near_plane 0\n", 1.0f / 1024, 5000, {0.57735026f, 0.57735026f, 0.57735026f}},
      {"far_plane 0.1\n", 0.25f, 0.25f, {0.57735026f, 0.57735026f, 0.57735026f}},
      {"near_plane 3\nfar_plane 1e9\n", 0.875f, 1048576, {0.57735026f, 0.57735026f, 0.57735026f}},
      {"sun_vector [ 0 2 0 ]\n", 0.25f, 5000, {0, 1, 0}},
      {"sun_vector [ 0 0\n", 0.25f, 5000, {0, 0, 1}},  // unmatched components keep their value
      {"sun_vector [ 0 0 0 ]\n", 0.25f, 5000, {0.57735026f, 0.57735026f, 0.57735026f}},
  };
  for (const Case& c : cases) {
    LightingFile f(c.text);
    EXPECT_FLOAT_EQ(lighting.near_plane, c.near_plane) << c.text;
    EXPECT_FLOAT_EQ(lighting.far_plane, c.far_plane) << c.text;
    for (int k = 0; k < 3; k++) EXPECT_NEAR(lighting.sun_vector[k], c.sun[k], 1e-6) << c.text;
  }
}

TEST(Lighting, UnknownKeyStopsReadingButDefaultsApply) {
  LightingFile f(
      "  ambient\t[ 0.1 0.2 0.3 ]  \r\n\n   \nsky_n @north.ppm\nsun_colour [ 1 0 0 ]\nsky_e @east.ppm\n"
      "dynamic_lighting 1\n");
  EXPECT_FLOAT_EQ(lighting.ambient[2], 0.3f);
  EXPECT_STREQ(lighting.sky_names[SKY_NORTH], "@north.ppm");
  EXPECT_STREQ(lighting.sky_names[SKY_EAST], "@sky-e.ppm");
  EXPECT_STREQ(lighting.sky_env_name, "@sky-env.ppm");
  EXPECT_FALSE(lighting.dynamic_lighting);
  EXPECT_EQ(f.console.all(), "Error reading lighting: Unknown identifier 'sun_colour'\n");
}

TEST(Lighting, FlaresFogAndMissingFile) {
  std::string element = "flare_element [ 0.5 -1 ] [ 1 0.5 0.25 ] 2 @glow.png\n";
  std::string nine;
  for (int k = 0; k < 9; k++) nine += element;
  LightingFile f(element + element + "flare_element [ 1 1 ] [ 1 1 ] 1 @bad.png\nflare_vector [ 0 1 0 ]\n" + nine +
                 "flare_point [ 10 20 30 ]\nfog [ 0.5 0.6 0.7 ] 0.002\ndynamic_lighting 2\n");
  ASSERT_EQ(lighting.flares.size(), 2u);
  EXPECT_TRUE(lighting.flares[0].is_vector);
  EXPECT_EQ(lighting.flares[0].element_count, 2);
  EXPECT_EQ(lighting.flares[0].elements[1].offset[1], -1);
  EXPECT_EQ(lighting.flares[0].elements[1].color[2], 0.25f);
  EXPECT_STREQ(lighting.flares[0].elements[0].texture_name, "@glow.png");
  EXPECT_FALSE(lighting.flares[1].is_vector);
  EXPECT_EQ(lighting.flares[1].element_count, FLARE_ELEMENT_MAX);
  EXPECT_EQ(lighting.flares[1].position[2], 30);
  EXPECT_EQ(lighting.fog_density, 0.002f);
  EXPECT_TRUE(lighting.dynamic_lighting);

  // A fog line with a value missing is not applied; a track without fog keeps the colour.
  LightingFile partial("fog [ 0.1 0.1 0.1 ]\n");
  EXPECT_EQ(lighting.fog_color[1], 0.6f);
  EXPECT_EQ(lighting.fog_density, 0);
  EXPECT_TRUE(lighting.flares.empty());

  TempDir dir;
  lighting_read(dir.file("none").c_str());
  EXPECT_EQ(lighting.sky_names[SKY_UP], nullptr);
  EXPECT_EQ(lighting.fog_color[2], 0.7f);
  EXPECT_FLOAT_EQ(lighting.far_plane, 5000);
}

TEST(Cameras, PlacementFieldOfViewAndGates) {
  TerrainPtr ground = make_field(0, 2, {0, 1, 4, 2, 7, 3, 5, 0, 6});
  TempDir dir;
  std::string path = dir.write("cameras",
                               "fov -60\nautofovsize -12\ngate 3 7 300 9\naddcamera 2 10 2\n"
                               "gate 4\naddcamera 1 1\nnonsense\naddcamera 4 0.5 0\n");
  cameras_read(ground.get(), path.c_str());
  ASSERT_EQ(tv_cameras.size(), 2u);
  EXPECT_EQ(tv_cameras[0].fov, 60);
  EXPECT_EQ(tv_cameras[0].autofovsize, 12);
  EXPECT_EQ(tv_cameras[0].position[1], 17);  // ground 7 + 10
  EXPECT_EQ(tv_cameras[1].fov, 90);
  EXPECT_EQ(tv_cameras[1].autofovsize, 0);
  EXPECT_EQ(tv_cameras[1].position[1], 4.5f);
  EXPECT_EQ(gate_camera[3], 0);
  EXPECT_EQ(gate_camera[7], 0);
  EXPECT_EQ(gate_camera[9], -1);
  EXPECT_EQ(gate_camera[4], 1);

  cameras_read(ground.get(), dir.file("missing").c_str());
  EXPECT_TRUE(tv_cameras.empty());
  EXPECT_EQ(gate_camera[3], -1);
}

}  // namespace
