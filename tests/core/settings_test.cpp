// The settings store: reading lines, clamping, choices, bindings, presets and the round trip.
#include "core/settings.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/bindings.h"
#include "platform/display.h"

namespace {

class Settings : public testing::Test {
 protected:
  void SetUp() override { settings_reset(); }
};

// Feeds text through the line reader with a small buffer, as the file reader does.
struct MemoryLines {
  std::string text;
  size_t at = 0;
};
bool memory_source(void* context, char* buffer, int size) {
  MemoryLines* m = static_cast<MemoryLines*>(context);
  if (m->at >= m->text.size()) return false;
  int n = 0;
  while (n < size - 1 && m->at < m->text.size()) {
    char c = m->text[m->at++];
    buffer[n++] = c;
    if (c == '\n') break;
  }
  buffer[n] = 0;
  return true;
}
void read_text(const std::string& text) {
  MemoryLines lines{text};
  settings_read_lines(memory_source, &lines);
}

TEST_F(Settings, LinesSetTheirOptionWithClampingAndExactChoices) {
  struct Case {
    const char* text;
    std::function<bool()> holds;
  } cases[] = {
      {"map_scale=20\n", [] { return settings.map_scale == 8; }},
      {"map_scale=0.01\n", [] { return settings.map_scale == 0.125; }},
      {"fov=5\n", [] { return settings.fov.value == 10; }},
      {"fov=95.5\r\n", [] { return settings.fov.value == 95.5; }},
      {"skill=Expert\n", [] { return settings.skill.index == 2; }},
      {"skill=expert\n", [] { return settings.skill.index == 0; }},
      {"skill=Expert \n", [] { return settings.skill.index == 0; }},
      {"slot05=Robot (2 stroke)\n", [] { return settings.gate[5].index == GATE_ROBOT_2_STROKE; }},
      {"xres=800\nyres=600\n", [] { return settings.xres == 800 && settings.yres == 600; }},
      {"track=mudpit\n", [] { return strcmp(settings.track, "mudpit") == 0; }},
      {"bike=crf250\n", [] { return strcmp(settings.setup.bike, "crf250(2008)") == 0; }},
      {"bike=kx450f(2018)\n", [] { return strcmp(settings.setup.bike, "kx450f(2018)") == 0; }},
      {"laps=3\nlaps=7\n", [] { return settings.laps.value == 7; }},
      {"max_dab_speed=2\n", [] { return settings.setup.max_dab_speed.value == 5; }},
      {"use_fbo=Yes\n", [] { return settings.render_texture.index == 2; }},
      {"use_fbo=No\n", [] { return settings.render_texture.index == 1; }},
      {"use_fbo=Yes\nrender_texture=Shaders/Copy\n",
       [] { return settings.render_texture.index == 3; }},
      {"stability=0\nroll_damping=55\n",
       [] {
         const BikeSetup& s = settings.setup;
         return s.roll_damping.value == 55 && s.restricted_lock.value == 45 &&
                s.roll_limit_angle.value == 90 && s.direct_steering.value == 1 &&
                s.stability.value == 0;
       }},
      {"stability=50\n",
       [] {
         const BikeSetup& s = settings.setup;
         return s.roll_damping.value == 65 && s.restricted_lock.value == 7.5 &&
                s.roll_limit_factor.value == 21;
       }},
      {"throttle_key=(k)left shift\n",
       [] { return strcmp(bindings[BIND_THROTTLE].key_name, "left shift") == 0; }},
      {"left_key=  q\n", [] { return strcmp(bindings[BIND_LEFT].key_name, "q") == 0; }},
      {"clutch_key=(-0.500000,1.000000)Joystick1.axis[2]\n",
       [] {
         const ControlBinding& b = bindings[BIND_CLUTCH];
         return b.key_name == nullptr && strcmp(b.axis_name, "Joystick1.axis[2]") == 0 &&
                b.axis_minimum == -0.5 && b.axis_maximum == 1;
       }},
  };
  for (const Case& c : cases) {
    settings_reset();
    read_text(c.text);
    EXPECT_TRUE(c.holds()) << c.text;
  }
}

TEST_F(Settings, RecentServersLongerThan126CharactersAreIgnored) {
  std::string ok(126, 'a'), too_long(127, 'b');
  read_text("server_name_hist03=" + ok + "\nserver_name_hist04=" + too_long + "\n");
  EXPECT_EQ(settings.server_name_hist[3], ok);
  EXPECT_STREQ(settings.server_name_hist[4], "");
}

TEST_F(Settings, BadLinesLeaveOptionsUnchangedAndTheRestStillApplies) {
  std::string defaults;
  settings_format(&defaults);
  const char* bad[] = {
      "fov\n",
      "fov=\n",
      "fov=abc\n",
      "fov=nan\n",
      "fov=inf\n",
      "fov=-\n",
      "=110\n",
      "xres=99999999999\n",
      "xres=0\n",
      "yres=-480\n",
      "message_lines=100000\n",
      "skill=\n",
      "clutch_key=(0.1,)x\n",
      "clutch_key=(0.1 0.2)x\n",
      "clutch_key=(,0.2)x\n",
      "unknown_key=1\n",
      "\x01\x02\xff=\xfe\n",
  };
  for (const char* line : bad) {
    settings_reset();
    read_text(std::string(line) + "volume=3\n");
    EXPECT_EQ(settings.volume.value, 3) << line;
    settings.volume.value = 10;
    std::string after;
    settings_format(&after);
    EXPECT_EQ(after, defaults) << line;
  }
}

TEST_F(Settings, AnOverLongLineIsDroppedWholeSoItsTailIsNotReadAsALine) {
  std::string junk(5000, 'x');
  read_text("laps=9\n" + junk + "fov=50\nvolume=3\n");
  EXPECT_EQ(settings.laps.value, 9);
  EXPECT_EQ(settings.fov.value, 110);
  EXPECT_EQ(settings.volume.value, 3);
  // The same at the end of the data, without a final newline.
  settings_reset();
  read_text("volume=2\n" + junk + "fov=50");
  EXPECT_EQ(settings.volume.value, 2);
  EXPECT_EQ(settings.fov.value, 110);
}

TEST_F(Settings, WrittenTextReadsBackToTheSameText) {
  settings.xres = 1024;
  settings.skill.index = 1;
  settings.gate[0].index = GATE_ROBOT_4_STROKE;
  settings.fov.value = 93.25;
  settings.map_scale = 2.5;
  settings.setup.rider_mass_distribution.value = 0.41;
  strcpy(settings.setup.name, "Name With Spaces = and more");
  strcpy(settings.server_name_hist[0], "race.example.org");
  binding_parse(&bindings[BIND_STEP], "(-0.250000,0.750000)cursor.axis[1]");
  std::string first;
  settings_format(&first);
  settings_reset();
  read_text(first);
  std::string second;
  settings_format(&second);
  EXPECT_EQ(second, first);
  EXPECT_NE(first.find("step_key=(-0.250000,0.750000)cursor.axis[1]\n"), std::string::npos);
}

TEST_F(Settings, AnUnboundBindingIsNotWritten) {
  binding_parse(&bindings[BIND_PAUSE], "(k)");
  std::string text;
  settings_format(&text);
  EXPECT_EQ(text.find("pause_key="), std::string::npos);
}

TEST_F(Settings, KeysAreWrittenInTheirOrder) {
  std::string text;
  settings_format(&text);
  EXPECT_EQ(text.rfind("xres=640\nyres=480\ndraw_fps=0\n", 0), 0u);
  const char* in_order[] = {
      "track=rabbithill\n", "slot17=Robot\n", "slot19=Human\n", "slot39=Empty\n",
      "time_trial_abort=Yes\nbike=yz250f(2017)\nname=Dan Dirtline\nnumber=999\n",
      "stability=100.000000\nleveling=20.000000\nroll_damping=80.000000\n",
      "rider_mass_distribution=0.330000\nvideo_mode=Default Fullscreen\nserver_name=",
      "server_name_hist15=\nground_detail=70.000000\n",
      "map_scale=1.000000\nthrottle_key=(k)x\n",
      "console_key=(k)t\nscreenshot_key=(k)s\n",
  };
  size_t at = 0;
  for (const char* piece : in_order) {
    size_t found = text.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece;
    at = found;
  }
  EXPECT_EQ(text.size(), at + strlen("console_key=(k)t\nscreenshot_key=(k)s\n"));
}

TEST_F(Settings, SetupFilesHoldOnlyTheSetupKeys) {
  std::string setup;
  setup_format(&setup);
  EXPECT_EQ(setup.rfind("bike=yz250f(2017)\n", 0), 0u);
  EXPECT_EQ(setup.find("xres="), std::string::npos);
  EXPECT_TRUE(setup_read_line("rear_brake", "Antilock"));
  EXPECT_EQ(settings.setup.rear_brake.index, 1);
  EXPECT_FALSE(setup_read_line("fov", "50"));
}

TEST_F(Settings, GraphicsPresets) {
  graphics_preset_apply(PRESET_HIGH_FPS);
  EXPECT_EQ(settings.ground_detail.value, 50);
  EXPECT_STREQ(choice_label(settings.render_texture), "Hardware/Direct");
  EXPECT_STREQ(choice_label(settings.use_shader), "No");
  EXPECT_EQ(settings.roost_density.value, 0);
  graphics_preset_apply(PRESET_HIGH_DETAIL);
  EXPECT_STREQ(choice_label(settings.ground_texture_dim), "256x256");
  EXPECT_EQ(settings.reshade_delay.value, 0);
}

TEST_F(Settings, DerivedRenderingParameters) {
  struct Case {
    double model_detail;
    double lod_scale, lod_bias;
  } cases[] = {
      {50, 1.0, 0.0},
      {0, 8.0, 50.0},   // s = 2 > 1: cubed
      {75, 0.5, 0.0},
      {20, 4.096, 25.0},
  };
  for (const Case& c : cases) {
    settings.model_detail.value = c.model_detail;
    render_params_derive();
    EXPECT_NEAR(render_params.lod_scale, c.lod_scale, 1e-12) << c.model_detail;
    EXPECT_NEAR(render_params.lod_bias, c.lod_bias, 1e-12) << c.model_detail;
  }
  settings_reset();
  render_params_derive();
  EXPECT_EQ(render_params.ground_texture_size, 64);
  EXPECT_EQ(render_params.ground_texture_detail, 1);
  EXPECT_EQ(render_params.texture_detail, 1);
  EXPECT_EQ(render_params.roost_frequency, 1000);
  EXPECT_DOUBLE_EQ(render_params.terrain_detail_scale, 0.125 / 70);
}

TEST_F(Settings, RecentServerList) {
  recent_server_push("a");
  recent_server_push("b");
  recent_server_push("b");
  recent_server_push("a");
  recent_server_push("");
  EXPECT_STREQ(settings.server_name_hist[0], "a");
  EXPECT_STREQ(settings.server_name_hist[1], "b");
  EXPECT_STREQ(settings.server_name_hist[2], "a");
  EXPECT_STREQ(settings.server_name_hist[3], "");
  for (int i = 0; i < 20; i++) recent_server_push(std::to_string(i).c_str());
  EXPECT_STREQ(settings.server_name_hist[0], "19");
  EXPECT_STREQ(settings.server_name_hist[15], "4");
}

TEST_F(Settings, VideoModeChoicesFollowTheFirstModesDepth) {
  DisplayMode modes[] = {{1024, 768, 32}, {800, 600, 32}, {640, 480, 16}, {0, 0, 0}};
  video_mode_list_build(modes);
  ASSERT_EQ(video_mode_count, 4);
  EXPECT_STREQ(video_mode_list[3].label, "800x600");
  EXPECT_EQ(video_mode_list[2].width, 1024);
  read_text("video_mode=800x600\n");
  EXPECT_EQ(settings.video_mode.index, 3);
  read_text("video_mode=640x480\n");
  EXPECT_EQ(settings.video_mode.index, 3);
  read_text("video_mode=Windowed\n");
  EXPECT_EQ(settings.video_mode.index, VIDEO_WINDOWED);
  video_mode_list_build(nullptr);
}

TEST_F(Settings, VideoModeAsksForAWindowOrAFullScreenSize) {
  DisplayMode modes[] = {{1024, 768, 32}, {800, 600, 32}, {0, 0, 0}};
  video_mode_list_build(modes);
  settings.xres = 700;
  settings.yres = 500;
  struct Case {
    const char* line;
    bool full_screen;
    int width, height;
  } cases[] = {
      {"video_mode=Windowed\n", false, 700, 500},
      {"video_mode=Default Fullscreen\n", true, 0, 0},  // the platform picks the desktop's size
      {"video_mode=800x600\n", true, 800, 600},
  };
  for (const Case& c : cases) {
    read_text(c.line);
    int width = -1, height = -1;
    EXPECT_EQ(video_mode_target(&width, &height), c.full_screen) << c.line;
    EXPECT_EQ(width, c.width) << c.line;
    EXPECT_EQ(height, c.height) << c.line;
  }
  video_mode_list_build(nullptr);
}

}  // namespace

// --- The settings file through the file system ----------------------------------------------

#include "core/console.h"
#include "files/vfs.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> messages;
void capture(const char* text) { messages.push_back(text); }

class SettingsFile : public testing::Test {
 protected:
  TempDir home;
  void SetUp() override {
    set_search_dirs(home);
    settings_reset();
    messages.clear();
    console_set_display_hook(capture);
  }
  void TearDown() override {
    console_set_display_hook(nullptr);
    vfs_shutdown();
  }
};

TEST_F(SettingsFile, WriteReadWriteGivesIdenticalBytes) {
  settings.xres = 800;
  settings.fov.value = 75.5;
  strcpy(settings.setup.number, "42");
  ASSERT_TRUE(settings_write());
  std::string first = read_file_bytes(home.file("config"));
  settings_reset();
  settings_read();
  EXPECT_EQ(settings.xres, 800);
  ASSERT_TRUE(settings_write());
  EXPECT_EQ(read_file_bytes(home.file("config")), first);
  EXPECT_FALSE(std::filesystem::exists(home.file("config.tmp")));
}

TEST_F(SettingsFile, MissingOrCorruptFileLeavesDefaults) {
  std::string defaults;
  settings_format(&defaults);
  settings_read();  // no file at all
  std::string binary("\x00\xff\x01=\x02\n\n=\n", 9);
  home.write("config", binary + std::string(10000, '=') + "\nfov=abc\nxres=-1");
  settings_read();
  std::string after;
  settings_format(&after);
  EXPECT_EQ(after, defaults);
}

TEST_F(SettingsFile, AFailedWriteKeepsThePreviousFile) {
  home.write("config", "fov=90\n");
  // A directory in the way of the temporary file makes the write fail.
  std::filesystem::create_directories(home.file("config.tmp/x"));
  EXPECT_FALSE(settings_write());
  EXPECT_EQ(read_file_bytes(home.file("config")), "fov=90\n");
}

TEST_F(SettingsFile, SetupFilesRoundTripAndReadOnlyTheSetupKeys) {
  settings.setup.brake_torque.value = 120;
  settings.setup.stop_wheelies.index = 2;
  strcpy(settings.setup.name, "Zed");
  ASSERT_TRUE(setup_file_write("race"));
  std::string expected;
  setup_format(&expected);
  EXPECT_EQ(read_file_bytes(home.file("setups/race")), expected);
  EXPECT_FALSE(std::filesystem::exists(home.file("setups/race.tmp")));

  settings_reset();
  ASSERT_TRUE(setup_file_read("race"));
  EXPECT_EQ(settings.setup.brake_torque.value, 120);
  EXPECT_STREQ(choice_label(settings.setup.stop_wheelies), "Front Only");
  EXPECT_STREQ(settings.setup.name, "Zed");

  // Other settings in a setup file are not setup keys; an over-long line is dropped whole.
  home.write("setups/mixed", "fov=50\nxres=800\nrear_brake_torque=" + std::string(5000, '1') +
                                 "\nrear_brake_torque=130\r\n");
  ASSERT_TRUE(setup_file_read("mixed"));
  EXPECT_EQ(settings.fov.value, 110);
  EXPECT_EQ(settings.xres, 640);
  EXPECT_EQ(settings.setup.rear_brake_torque.value, 130);
  EXPECT_EQ(messages, (std::vector<std::string>{"Setup written", "Setup updated", "Setup updated"}));
}

TEST_F(SettingsFile, SetupFileErrorsKeepTheSavedFile) {
  home.write("setups/mine", "brake_torque=10\n");
  // A directory in the way of the temporary file makes the write fail.
  std::filesystem::create_directories(home.file("setups/mine.tmp/x"));
  EXPECT_FALSE(setup_file_write("mine"));
  EXPECT_EQ(read_file_bytes(home.file("setups/mine")), "brake_torque=10\n");
  EXPECT_FALSE(setup_file_write(""));
  EXPECT_FALSE(setup_file_read("missing"));
  EXPECT_FALSE(setup_file_read(""));
  // A name is a file in the setups folder: it cannot reach the settings beside it.
  home.write("config", "fov=90\nbrake_torque=20\n");
  EXPECT_FALSE(setup_file_write("../config"));
  EXPECT_FALSE(setup_file_write("..\\config"));
  EXPECT_FALSE(setup_file_read("../config"));
  EXPECT_EQ(read_file_bytes(home.file("config")), "fov=90\nbrake_torque=20\n");
  EXPECT_EQ(settings.setup.brake_torque.value, 500);
  EXPECT_EQ(messages, (std::vector<std::string>{"Error writing setup", "Error writing setup", "Error reading setup",
                                                "Error reading setup", "Error writing setup", "Error writing setup",
                                                "Error reading setup"}));
}

}  // namespace
