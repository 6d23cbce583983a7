// The GL side of the renderer on a real context (a virtual X server when there is no display):
// capabilities, the seven shader programs, the texture manager and the window's mode switches.
#include <GL/gl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "platform/vant.h"
#include "platform/window.h"
#include "render/gl_caps.h"
#include "render/gl_ext.h"
#include "render/shaders.h"
#include "render/textures.h"
#include "tests/support/gl_display.h"
#include "tests/support/temp_dir.h"
#include "track/lighting.h"
#include "track/textures.h"

namespace {

std::vector<std::string> posted;
void capture(const char* text) { posted.push_back(text); }

bool was_posted(const std::string& start) {
  for (const std::string& text : posted)
    if (text.compare(0, start.size(), start) == 0) return true;
  return false;
}

std::string log_path;

class Gl : public testing::Test {
 protected:
  static inline VantWindow* window = nullptr;

  static void SetUpTestSuite() {
    const char* base = getenv("SK_TEST_TMP");
    log_path = std::string(base ? base : "/tmp") + "/gl_test_" + std::to_string(getpid()) + ".log";
    vant_log("VANT_LOGFILE=%s", log_path.c_str());
    if (!gl_test_display()) return;
    window = vant_window_create("GL test", 64, 64, 24, 0, 16, 0, 0);
    if (window) gl_caps_query();
  }
  static void TearDownTestSuite() {
    textures_purge(true);
    shaders_delete();
    vant_window_destroy(window);
    window = nullptr;
    unlink(log_path.c_str());
  }
  void SetUp() override {
    if (!window) GTEST_SKIP() << "no display for a GL context";
    posted.clear();
    console_set_display_hook(capture);
  }
  void TearDown() override { console_set_display_hook(nullptr); }
};

std::string log_text() { return read_file_bytes(log_path); }

TEST_F(Gl, CapabilitiesAndEntryPoints) {
  EXPECT_GE(gl_caps.version_major, 1);
  EXPECT_STRNE(gl_caps.extensions, "NULL");
  // The software driver offers everything the shader path needs.
  EXPECT_TRUE(gl_caps.has_multitexture);
  EXPECT_TRUE(gl_caps.has_vertex_shader && gl_caps.has_fragment_shader);
  EXPECT_GT(gl_caps.texture_units, 3);
  EXPECT_NE(gl_ext.active_texture, nullptr);
  EXPECT_NE(gl_ext.create_shader_object, nullptr);
  EXPECT_NE(gl_ext.uniform_matrix_3fv, nullptr);
  if (gl_caps.has_fbo) {
    EXPECT_NE(gl_ext.gen_framebuffers, nullptr);
  }
  EXPECT_NE(log_text().find(std::to_string(gl_caps.texture_units) + " texture units\n"), std::string::npos);
}

GLint uniform_int(int slot, const char* name) {
  GLint value = -100;
  GLint location = gl_ext.get_uniform_location(shader_program(slot), name);
  if (location >= 0) gl_ext.get_uniform_iv(shader_program(slot), location, &value);
  return value;
}

TEST_F(Gl, SevenProgramsBuildAndTakeTheirUniforms) {
  ASSERT_TRUE(shaders_build());
  for (int slot = 1; slot < SHADER_SLOTS; slot++) {
    EXPECT_NE(shader_program(slot), 0u) << shader_sources[slot].name;
    for (int other = 1; other < slot; other++) EXPECT_NE(shader_program(slot), shader_program(other));
  }
  EXPECT_EQ(shader_program(0), 0u);
  EXPECT_EQ(shader_program(8), 0u);

  // Samplers: the normal map on unit 1, the specular map on unit 2, the ground's base normals on 1.
  EXPECT_EQ(uniform_int(SHADER_NORM_LIT, "nmap"), 1);
  EXPECT_EQ(uniform_int(SHADER_NORM_SPEC_LIT, "smap"), 2);
  EXPECT_EQ(uniform_int(SHADER_TERRAIN, "nmap"), 1);
  EXPECT_EQ(uniform_int(SHADER_TERRAIN, "smap"), 2);
  EXPECT_EQ(uniform_int(SHADER_TERRAIN_NORMALS, "base"), 1);
  EXPECT_EQ(uniform_int(SHADER_LIT, "tex"), 0);

  // Switching counts only real changes.
  const int switches = shader_switches;
  shader_use(SHADER_LIT);
  shader_use(SHADER_LIT);
  EXPECT_EQ(shader_switches, switches + 1);
  GLint bound = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &bound);
  EXPECT_EQ(GLuint(bound), shader_program(SHADER_LIT));

  // Bones of the current program: 2 bones, the second one's translation and rotation.
  const float centres[6] = {0, 0, 0, 1, 2, 3};
  const float translations[6] = {0, 0, 0, 4, 5, 6};
  float rotations[18] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, -1, 0, 0, 0, 0, 1};
  shader_set_bones(2, centres, translations, rotations);
  EXPECT_EQ(uniform_int(SHADER_LIT, "nbones"), 2);
  float t[3] = {};
  gl_ext.get_uniform_fv(shader_program(SHADER_LIT), gl_ext.get_uniform_location(shader_program(SHADER_LIT), "bone_t[1]"), t);
  EXPECT_FLOAT_EQ(t[1], 5);
  float r[9] = {};
  gl_ext.get_uniform_fv(shader_program(SHADER_LIT), gl_ext.get_uniform_location(shader_program(SHADER_LIT), "bone_r[1]"), r);
  EXPECT_FLOAT_EQ(r[1], 1);
  EXPECT_FLOAT_EQ(r[3], -1);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  EXPECT_EQ(uniform_int(SHADER_LIT, "nbones"), 0);

  // The reflection matrix goes to both reflecting programs and leaves the fixed pipeline on.
  const float envmat[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
  shader_set_envmat(envmat);
  EXPECT_EQ(shader_current(), SHADER_FIXED);
  for (int slot : {SHADER_ENV, SHADER_NORM_ENV}) {
    float m[9] = {};
    gl_ext.get_uniform_fv(shader_program(slot), gl_ext.get_uniform_location(shader_program(slot), "envmat"), m);
    EXPECT_FLOAT_EQ(m[2], 1) << slot;
    EXPECT_FLOAT_EQ(m[6], -1) << slot;
  }
  glGetIntegerv(GL_CURRENT_PROGRAM, &bound);
  EXPECT_EQ(bound, 0);

  shaders_decide(true, true, 4);
  EXPECT_TRUE(programs_in_use);
  EXPECT_TRUE(terrain_shaders);
  shaders_decide(false, true, 4);
  EXPECT_FALSE(programs_in_use || terrain_shaders);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Gl, AFailingLastProgramDeletesThemAll) {
  ShaderSource broken[SHADER_SLOTS];
  memcpy(broken, shader_sources, sizeof broken);
  broken[SHADER_TERRAIN].fragment = "void main() { gl_FragColor = no_such_thing; }\n";
  EXPECT_FALSE(shaders_build_from(broken));
  for (int slot = 0; slot < SHADER_SLOTS; slot++) EXPECT_EQ(shader_program(slot), 0u) << slot;
  // No program or shader object is left behind: asking about any handle is an error.
  for (GLhandleARB handle = 1; handle < 256; handle++) {
    while (glGetError() != GL_NO_ERROR) {
    }
    GLint type = 0;
    gl_ext.get_object_parameteriv(handle, GL_OBJECT_TYPE_ARB, &type);
    EXPECT_NE(glGetError(), GLenum(GL_NO_ERROR)) << "object " << handle << " is still there";
  }
  EXPECT_NE(log_text().find("fragment shader status for terrain:\n"), std::string::npos);
  shaders_decide(true, false, 4);
  EXPECT_FALSE(programs_in_use);
  // A later build works again.
  EXPECT_TRUE(shaders_build());
  shaders_delete();
}

// ---- The window's modes

// Pumps the window's messages until its client size is width x height or a second has passed.
bool size_becomes(VantWindow* window, int width, int height) {
  for (int i = 0; i < 100; i++) {
    vant_pump_messages(window);
    int w = 0, h = 0;
    if (vant_window_size(window, &w, &h) && w == width && h == height) return true;
    vant_sleep(0, 10000);
  }
  return false;
}

TEST_F(Gl, WindowSwitchesBetweenWindowedAndFullScreen) {
  vant_request_mode(window, 200, 150, 0);
  EXPECT_TRUE(size_becomes(window, 200, 150));
  EXPECT_FALSE(vant_window_full_screen(window));
  // Full screen at 0 x 0 is the desktop's own size (the virtual screen is 640 x 480).
  vant_request_mode(window, 0, 0, VANT_WINDOW_FULL_SCREEN);
  EXPECT_TRUE(size_becomes(window, 640, 480));
  EXPECT_TRUE(vant_window_full_screen(window));
  vant_request_mode(window, 64, 64, 0);
  EXPECT_TRUE(size_becomes(window, 64, 64));
  EXPECT_FALSE(vant_window_full_screen(window));
  VantFrameInfo* frame = vant_frame_begin(window);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->width, 64);
  EXPECT_EQ(vant_frame_end(window), 1);
}

// ---- Texture manager

// Our own image form of a painted picture (3 or 4 channels), as a file's bytes.
std::string own_image(int width, int height, int channels, uint8_t (*paint)(int x, int y, int c)) {
  std::vector<uint8_t> pixels(size_t(width) * height * channels);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      for (int c = 0; c < channels; c++) pixels[(size_t(y) * width + x) * channels + c] = paint(x, y, c);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(image_encode_own(pixels.data(), width, height, channels, bytes));
  return std::string(bytes.begin(), bytes.end());
}

uint8_t noise(int x, int y, int c) {
  uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return uint8_t(h >> 24);
}

int level_width(int id, int level) {
  GLint width = 0;
  glBindTexture(GL_TEXTURE_2D, GLuint(id));
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
  return width;
}

class Textures : public Gl {
 protected:
  TempDir home;
  void SetUp() override {
    Gl::SetUp();
    set_search_dirs(home, SK_TEST_BIN_DIR);
    texture_reduction = 1;
    texture_compress = 0;
  }
  void TearDown() override {
    textures_purge(true);
    texture_generation = 0;
    texture_memory = 0;
    vfs_set_search_dirs(nullptr, 0);
    Gl::TearDown();
  }
};

TEST_F(Textures, TheDefaultTracksTexturesLoad) {
  vfs_file_list();  // the archive's files join the index
  track_set_texture_loader(texture_load);
  lighting_read("@rabbithill/lighting");
  for (int face = 0; face < SKY_FACES; face++) EXPECT_NE(lighting.sky[face], 0) << face;
  EXPECT_NE(lighting.sky_env, 0);
  ASSERT_FALSE(lighting.flares.empty());
  EXPECT_NE(lighting.flares[0].elements[0].texture, 0);
  // One flare picture serves every element that names it.
  EXPECT_EQ(lighting.flares[0].elements[0].texture, lighting.flares[0].elements[1].texture);
  for (const char* name : {"@ground/dirt.png", "@ground/grass.png", "@roost.png", "@objects/tree1.png"}) {
    const int id = texture_load(name);
    EXPECT_NE(id, 0) << name;
    EXPECT_STREQ(texture_name_of(id), name);
  }
  EXPECT_STREQ(texture_name_of(lighting.sky[SKY_UP]), "@sky/sky-u.ppm");
  EXPECT_GT(texture_memory, 0);
  track_set_texture_loader(nullptr);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Textures, NamesCaseAndLinks) {
  home.write("foo.png", own_image(8, 8, 3, noise));
  home.write("link.png", "LINK  @foo.png \n");
  home.write("loop.png", "LINK @loop.png\n");
  const int foo = texture_load("@foo.png");
  ASSERT_NE(foo, 0);
  EXPECT_EQ(texture_load("@Foo.png"), foo);
  EXPECT_TRUE(was_posted("Warning: case mismatch on '@Foo.png'"));
  EXPECT_EQ(texture_load("!@foo.png"), foo);  // the same name at full size is the same texture
  EXPECT_EQ(texture_load("@link.png"), foo);
  EXPECT_EQ(texture_load("@loop.png"), 0);  // a link to itself ends instead of recursing
  EXPECT_EQ(texture_load("@nothing.png"), 0);
  EXPECT_EQ(texture_load(""), 0);

  // Sizes that are not powers of two are rounded down, with a warning.
  home.write("odd.png", own_image(12, 8, 3, noise));
  const int odd = texture_load("@odd.png");
  EXPECT_TRUE(was_posted("Warning: Non power of 2 texture '@odd.png'"));
  EXPECT_EQ(level_width(odd, 0), 8);
}

TEST_F(Textures, LargeAndDetailFreeTexturesAreReduced) {
  home.write("big.png", own_image(512, 512, 3, noise));
  home.write("big2.png", own_image(512, 512, 3, noise));
  texture_reduction = 2;
  const int reduced = texture_load("@big.png");
  EXPECT_EQ(level_width(reduced, 0), 128);
  EXPECT_EQ(level_width(reduced, 7), 1);  // the whole chain down to 1 x 1
  const int64_t memory = texture_memory;
  const int full = texture_load("!@big2.png");
  EXPECT_EQ(level_width(full, 0), 512);
  EXPECT_EQ(size_t(texture_memory - memory), mip_chain_bytes(512, 512, 3));

  home.write("blur.png", own_image(256, 256, 3, [](int x, int y, int) { return uint8_t((x + y) / 4); }));
  const int blur = texture_load("@blur.png");
  EXPECT_LE(level_width(blur, 0), 64);
  EXPECT_TRUE(was_posted("@blur.png reduced to "));
  EXPECT_TRUE(was_posted("@blur.png reduced to " + std::to_string(level_width(blur, 0)) + "x"));
}

TEST_F(Textures, GenerationsDecideWhatIsPurged) {
  for (const char* name : {"a.png", "b.png", "c.png"}) home.write(name, own_image(16, 16, 3, noise));
  const int a = texture_load("@a.png");  // before any track: kept for good
  textures_new_generation();
  const int b = texture_load("@b.png");
  const int64_t b_bytes = texture_memory;
  EXPECT_GT(b_bytes, 0);
  textures_new_generation();
  EXPECT_EQ(texture_memory, 0);
  const int c = texture_load("@c.png");
  EXPECT_EQ(texture_load("@b.png"), b);  // asked for again: it joins this generation
  EXPECT_EQ(texture_memory, 2 * b_bytes);
  textures_purge(false);
  for (int id : {a, b, c}) EXPECT_TRUE(glIsTexture(GLuint(id))) << id;

  textures_new_generation();
  debug_level = 1;
  textures_purge(false);
  debug_level = 0;
  EXPECT_TRUE(glIsTexture(GLuint(a)));
  EXPECT_FALSE(glIsTexture(GLuint(b)));
  EXPECT_FALSE(glIsTexture(GLuint(c)));
  EXPECT_EQ(texture_name_of(b), nullptr);
  EXPECT_TRUE(was_posted("deleting tid " + std::to_string(c) + " (@c.png)"));
}

// The RGBA texel at the top left of level 0.
uint32_t first_texel(int id) {
  std::vector<uint8_t> pixels(size_t(level_width(id, 0)) * level_width(id, 0) * 4);
  glBindTexture(GL_TEXTURE_2D, GLuint(id));
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return uint32_t(pixels[0]) | uint32_t(pixels[1]) << 8 | uint32_t(pixels[2]) << 16 | uint32_t(pixels[3]) << 24;
}

std::string v7_frame(uint8_t shade) {
  static uint8_t value;
  value = shade;
  return own_image(256, 256, 4, [](int, int, int) { return value; });
}

TEST_F(Textures, AnimationsShowTheirFramesAndHoldTheLast) {
  home.write("flag.seq", "ANIM1 4 4 8 0\n0 1 2 3\n" + v7_frame(10) + v7_frame(20) + v7_frame(30) + v7_frame(40));
  texture_reduction = 2;  // frames keep their size, so each fits the texture
  const int id = texture_load("@flag.seq");
  ASSERT_NE(id, 0);
  EXPECT_EQ(level_width(id, 0), 256);
  EXPECT_EQ(first_texel(id) & 0xFF, 10u);
  texture_anim_start(id, 1000);
  struct Step {
    int32_t tick;
    uint32_t shade;
  } steps[] = {{1007, 10}, {1008, 20}, {1024, 40}, {1500, 40}, {900, 10}};
  for (const Step& s : steps) {
    texture_anims_update(s.tick);
    EXPECT_EQ(first_texel(id) & 0xFF, s.shade) << s.tick;
  }
  texture_anim_stop(id);
  texture_anims_update(1024);
  EXPECT_EQ(first_texel(id) & 0xFF, 10u);  // stopped: not advanced

  home.write("bad.seq", "ANIM1 2 2 8 0\n0 1\n" + own_image(8, 8, 4, noise) + own_image(16, 8, 4, noise));
  EXPECT_EQ(texture_load("@bad.seq"), 0);
  EXPECT_TRUE(was_posted("Width/height mismatch reading .seq"));
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Textures, SoftImagesStayInMemory) {
  home.write("ground.png", own_image(256, 256, 3, noise));
  texture_reduction = 1;
  const SoftImage* image = soft_image_load("@ground.png");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width, 128);  // above 16384 texels the setting's levels are dropped
  EXPECT_STREQ(soft_image_name_of(image->pixels.data()), "@ground.png");
  EXPECT_EQ(soft_image_load("@ground.png"), image);
  EXPECT_EQ(texture_memory, 0);  // nothing uploaded
  home.write("link.png", "LINK @ground.png\n");
  EXPECT_EQ(soft_image_load("@link.png"), nullptr);
}

}  // namespace
