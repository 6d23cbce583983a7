// The capability rules: extension words, version strings and which programs are used.
#include <gtest/gtest.h>

#include "render/gl_caps.h"

namespace {

TEST(GlCaps, ExtensionsMatchAsWholeWordsOnly) {
  struct Case {
    const char* extensions;
    bool present;
  } cases[] = {
      {"GL_ARB_multitexture", true},
      {"GL_EXT_a GL_ARB_multitexture GL_EXT_b", true},
      {"GL_ARB_multitexture_more GL_EXT_b", false},     // only the start of a longer word
      {"XGL_ARB_multitexture", false},                  // only the end of a longer word
      {"GL_ARB_multitextureX GL_ARB_multitexture", true},  // a later whole word still counts
      {"", false},
      {nullptr, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(gl_extension_present(c.extensions, "GL_ARB_multitexture"), c.present)
        << (c.extensions ? c.extensions : "(null)");
}

TEST(GlCaps, VersionDecidesCompression) {
  struct Case {
    const char* version;
    int major, minor;
    bool compression;
  } cases[] = {
      {"1.5.0 NVIDIA 1.2", 1, 5, false},
      {"2.1 Mesa 7.0", 2, 1, true},
      {"4.5 (Compatibility Profile) Mesa 23.2.1", 4, 5, true},
      {"OpenGL ES 2.0", 0, 0, false},
      {nullptr, 0, 0, false},
  };
  for (const Case& c : cases) {
    GlCaps caps{};
    gl_caps_from_strings(&caps, "v", "r", c.version, "");
    EXPECT_EQ(caps.version_major, c.major) << (c.version ? c.version : "(null)");
    EXPECT_EQ(caps.version_minor, c.minor) << (c.version ? c.version : "(null)");
    EXPECT_EQ(gl_caps_compression_usable(caps), c.compression) << (c.version ? c.version : "(null)");
  }
}

TEST(GlCaps, DriverStringsFillTheFlags) {
  GlCaps caps{};
  gl_caps_from_strings(&caps, nullptr, nullptr, nullptr, nullptr);
  EXPECT_STREQ(caps.vendor, "NULL");
  EXPECT_STREQ(caps.extensions, "NULL");
  EXPECT_FALSE(caps.has_multitexture || caps.has_fbo || caps.has_fragment_shader || caps.has_vertex_shader ||
               caps.has_generate_mipmap);

  gl_caps_from_strings(&caps, "v", "r", "2.1",
                       "GL_SGIS_generate_mipmap GL_EXT_framebuffer_object GL_ARB_multitexture "
                       "GL_ARB_fragment_shader GL_ARB_vertex_shader");
  EXPECT_TRUE(caps.has_generate_mipmap && caps.has_fbo && caps.has_multitexture &&
              caps.has_fragment_shader && caps.has_vertex_shader);
}

TEST(GlCaps, ProgramsAreUsedOnlyWithEverythingInPlace) {
  struct Case {
    bool setting, fragment;
    int units;
    bool built, in_use;
  } cases[] = {
      {true, true, 4, true, true},
      {true, true, 3, true, false},  // three units are too few even with both extensions
      {false, true, 8, true, false},
      {true, false, 8, true, false},
      {true, true, 8, false, false},
  };
  for (const Case& c : cases) {
    GlCaps caps{};
    caps.has_fragment_shader = c.fragment;
    caps.texture_units = c.units;
    EXPECT_EQ(programs_in_use_decide(c.setting, caps, c.built), c.in_use)
        << c.setting << c.fragment << c.units << c.built;
  }
  const bool terrain[] = {false, false, false, true, true};
  for (int choice = 0; choice < 5; choice++) {
    EXPECT_EQ(terrain_shaders_decide(true, choice), terrain[choice]) << choice;
    EXPECT_FALSE(terrain_shaders_decide(false, choice)) << choice;
  }
}

}  // namespace
