// The engine sound: templates and ".braap" files, sound table files, the pitch of the synthesis,
// the listener's Doppler, distance and pan, safety at extreme inputs, and the stream heard
// through the readback output.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "files/vfs.h"
#include "platform/audio.h"
#include "platform/vant.h"
#include "sound/engine_sound.h"
#include "sound/sound_table.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> messages;

struct EngineSoundTest : ::testing::Test {
  TempDir home;
  void SetUp() override {
    set_search_dirs(home);
    messages.clear();
    console_set_display_hook([](const char* text) { messages.emplace_back(text); });
  }
  void TearDown() override {
    console_set_display_hook(nullptr);
    sound_tables_free();
    vfs_set_search_dirs(nullptr, 0);
  }
  EngineSoundModel braap(const std::string& text, const char* engine_class = "450f") {
    home.write("test.braap", text);
    EngineSoundModel m;
    engine_sound_load_model(&m, engine_class, "@test.vm");
    return m;
  }
};

void expect_same_pipe(const EngineSoundModel& a, const EngineSoundModel& b, const char* label) {
  for (int i = 0; i < PIPE_TAPS; i++) {
    EXPECT_EQ(a.pipe_delay[i], b.pipe_delay[i]) << label << " tap " << i;
    EXPECT_FLOAT_EQ(a.pipe_gain[i], b.pipe_gain[i]) << label << " tap " << i;
  }
}

TEST_F(EngineSoundTest, TemplatesFollowTheEngineClass) {
  struct Case {
    const char* engine_class;
    const char* table;
    float firings_per_rev, low, high;
  } cases[] = {
      {"450f", "default_four_stroke", 0.5f, -2.5f, 2.5f},
      {"250f", "default_four_stroke", 0.5f, -2.5f, 2.5f},
      {nullptr, "default_four_stroke", 0.5f, -2.5f, 2.5f},
      {"250", "default_two_stroke", 1, -3.5f, 3.5f},
      {"125", "default_two_stroke", 1, -3.5f, 3.5f},
      {"50", "default_two_stroke", 1, -3.5f, 1.5f},
  };
  for (const Case& c : cases) {
    EngineSoundModel m;
    engine_sound_template(&m, c.engine_class);
    const char* label = c.engine_class ? c.engine_class : "no bike";
    EXPECT_STREQ(m.table->name, c.table) << label;
    EXPECT_EQ(m.firings_per_rev, c.firings_per_rev) << label;
    EXPECT_EQ(m.low_torque, c.low) << label;
    EXPECT_EQ(m.high_torque, c.high) << label;
    EXPECT_EQ(m.min_rpm, 1000) << label;
    EXPECT_EQ(m.bias_count, 1) << label;
    EXPECT_EQ(m.scale_count, 1) << label;
  }
}

TEST_F(EngineSoundTest, PipeTapsAreRoundTripsThroughTheirLengths) {
  EngineSoundModel m;
  engine_sound_template(&m, "450f");
  // Length 5 ft, spread 0.918207: the first tap is the whole pipe, the last one spread shorter.
  EXPECT_EQ(SOUND_RING - m.pipe_delay[0], 387);
  EXPECT_EQ(SOUND_RING - m.pipe_delay[15], 316);
  for (float gain : m.pipe_gain) EXPECT_FLOAT_EQ(gain, -0.85f / 16);
  // A last tap below the first becomes the first: one tap with the whole gain.
  engine_sound_set_pipe(&m, 2, 1, 0.5f, 9, 4);
  for (int i = 0; i < PIPE_TAPS; i++) EXPECT_EQ(m.pipe_gain[i], i == 9 ? 0.5f : 0) << i;
  EXPECT_EQ(SOUND_RING - m.pipe_delay[9], 155);
  // Lengths no ring can hold stay inside it.
  engine_sound_set_pipe(&m, 1e30f, 1, 1, 0, 0);
  EXPECT_GT(m.pipe_delay[0], 0);
  engine_sound_set_pipe(&m, -1e30f, 1, 1, 0, 0);
  EXPECT_LE(m.pipe_delay[0], SOUND_RING);
}

TEST_F(EngineSoundTest, BraapFilesSetTheModel) {
  EngineSoundModel four;
  engine_sound_template(&four, "450f");

  // Only a minimum speed: the pipe is off, the rest is the template's.
  EngineSoundModel m = braap("minrpm 1500\n");
  EXPECT_EQ(m.min_rpm, 1500);
  for (float gain : m.pipe_gain) EXPECT_EQ(gain, 0);
  EXPECT_EQ(m.table, four.table);
  EXPECT_EQ(m.bias_count, 1);
  EXPECT_EQ(m.bias[0], 0);
  EXPECT_EQ(m.scale_count, 1);
  EXPECT_EQ(m.scale[0], 1);

  // A pipe line with only its length takes the other values' defaults.
  m = braap("pipe 2.0\n");
  EngineSoundModel expected = four;
  engine_sound_set_pipe(&expected, 2.0f, 0.918207f, -0.85f, 0, 15);
  expect_same_pipe(m, expected, "pipe 2.0");

  m = braap("# a comment line\n  bias 10 -10 x 5\nscale 1.1\nlowtorque -1 # torque at no load\nhightorque 4\n"
            "biasx 3\nsoundtable\n");
  ASSERT_EQ(m.bias_count, 2);
  EXPECT_EQ(m.bias[0], 10);
  EXPECT_EQ(m.bias[1], -10);
  ASSERT_EQ(m.scale_count, 1);
  EXPECT_FLOAT_EQ(m.scale[0], 1.1f);
  EXPECT_EQ(m.low_torque, -1);
  EXPECT_EQ(m.high_torque, 4);

  std::string many = "scale";
  for (int i = 0; i < 150; i++) many += " 2";
  m = braap(many + "\nbias\n");
  EXPECT_EQ(m.scale_count, SOUND_LIST_MAX);
  EXPECT_EQ(m.bias_count, 1);  // an empty list holds 0
  EXPECT_EQ(m.bias[0], 0);

  // A table that cannot be read is reported and the previous one kept.
  m = braap("soundtable @missing.table\n", "250");
  EXPECT_STREQ(m.table->name, "default_two_stroke");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Error reading '@missing.table'");
}

TEST_F(EngineSoundTest, BraapFilesAreFoundFromTheNameThenTheClass) {
  home.write("default125.braap", "minrpm 1250\n");
  home.write("yz.braap", "minrpm 1400\n");
  struct Case {
    const char* engine_class;
    const char* name;
    float min_rpm;
  } cases[] = {
      {"125", "@B_frame.vm", 1250},        // nothing next to the model: the class default
      {"125", "@yz-alt-frame.vm", 1400},   // cut at each "-" until one opens
      {"125", "@dir-x/yz", 1250},          // no "." after the last "/": the class default
      {"450f", "@B_frame.vm", 1000},       // no default file: the template
      {"90", nullptr, 1000},               // an unknown class has no default file
  };
  for (const Case& c : cases) {
    EngineSoundModel m;
    engine_sound_load_model(&m, c.engine_class, c.name);
    EXPECT_EQ(m.min_rpm, c.min_rpm) << c.engine_class << " " << (c.name ? c.name : "-");
  }
}

TEST_F(EngineSoundTest, EveryClassFindsItsGeneratedSoundAndTable) {
  set_search_dirs(home, SK_TEST_BIN_DIR);
  vfs_file_list();
  for (const char* engine_class : {"450f", "250f", "250", "125", "50"}) {
    EngineSoundModel m;
    engine_sound_load_model(&m, engine_class, "@B_frame.vm");
    EXPECT_EQ(std::string(m.table->name), std::string("@sounds/") + engine_class + ".table");
    EXPECT_GT(m.table->rows, 1);
    EXPECT_NE(m.pipe_gain[0], 0) << engine_class;
    EXPECT_GT(m.bias_count, 1) << engine_class;
  }
  EXPECT_TRUE(messages.empty()) << messages[0];
}

std::string raw_samples(const std::vector<int16_t>& values) {
  std::string bytes;
  for (int16_t v : values) {
    bytes += static_cast<char>(v & 0xff);
    bytes += static_cast<char>((v >> 8) & 0xff);
  }
  return bytes;
}

TEST_F(EngineSoundTest, SoundTableFilesAndTheirErrors) {
  home.write("a.raw", raw_samples({16384, -16384, 0, 32767}));
  home.write("b.raw", raw_samples({-32768, 0}));
  home.write("empty.raw", "");
  home.write("good.table",
             "SOUNDTABLE 2 1\n3000 8000\n0.5\n"
             "5 1 -1 2 @a.raw\n"
             "-1 1 @b.raw\n");
  const SoundTable* t = sound_table_get("@good.table");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(sound_table_get("@good.table"), t);  // loaded once
  EXPECT_EQ(t->rows, 2);
  EXPECT_EQ(t->columns, 1);
  const SoundTableCell& a = t->cells[0];
  EXPECT_EQ(a.sample_count, 4);
  EXPECT_EQ(a.samples[0], 0.5f);
  EXPECT_EQ(a.samples[1], -0.5f);
  EXPECT_EQ(a.periods, 2);
  ASSERT_EQ(a.remap_length, 2);
  EXPECT_EQ(a.remap[0], 1);  // 5 mod 2
  EXPECT_EQ(a.remap[1], 1);
  EXPECT_EQ(a.row_value, 3000);
  EXPECT_EQ(t->cells[1].row_value, 8000);
  EXPECT_EQ(t->cells[1].column_value, 0.5f);
  EXPECT_EQ(t->cells[1].samples[0], -1.0f);
  EXPECT_EQ(t->cells[1].remap, nullptr);

  struct Case {
    const char* text;
    const char* message;  // null: no message, the caller reports the table
  } cases[] = {
      {"SOUNDTABLE 1 1\n0\n0\n2 x -1 1 @a.raw\n", "(0, 0) Bad remap entry"},
      {"SOUNDTABLE 1 2\n0\n0 1\n-1 1 @a.raw\n-1 1 @none.raw\n", "(0, 1) Error reading '@none.raw'"},
      {"SOUNDTABLE 1 1\n0\n0\n-1 1 @empty.raw\n", "(0, 0) Error reading '@empty.raw'"},
      {"SOUNDTABLE 1 1\n0\n0\n-1 0 @a.raw\n", "(0, 0) Error reading '@a.raw'"},
      {"SOUNDTABLE 1 1\n0\n0\n-1\n", "(0, 0) Error reading ''"},
      {"SOUNDTABLE 0 1\n", nullptr},
      {"SOUNDTABLE 100000 100000\n", nullptr},
      {"SOUNDTABLE 2 2\n1\n", nullptr},
      {"TABLE 1 1\n", nullptr},
  };
  int n = 0;
  for (const Case& c : cases) {
    messages.clear();
    std::string name = "bad" + std::to_string(n++) + ".table";
    home.write(name, c.text);
    EXPECT_EQ(sound_table_get(("@" + name).c_str()), nullptr) << c.text;
    if (c.message) {
      ASSERT_EQ(messages.size(), 1u) << c.text;
      EXPECT_EQ(messages[0], c.message);
    } else {
      EXPECT_TRUE(messages.empty()) << c.text;
    }
  }
}

// A sound with no voice (no output open) and its model's pipe turned off.
std::unique_ptr<EngineSound> quiet_sound(const char* engine_class) {
  auto s = std::make_unique<EngineSound>();
  engine_sound_init(s.get(), nullptr, nullptr);
  engine_sound_template(&s->model, engine_class);
  engine_sound_set_pipe(&s->model, 1, 1, 0, 0, PIPE_TAPS - 1);
  return s;
}

// Samples of the output ring, oldest first.
std::vector<float> last_samples(const EngineSound& s, int n) {
  std::vector<float> out(n);
  for (int i = 0; i < n; i++) out[i] = s.history[(s.write_index - n + i) & (SOUND_RING - 1)];
  return out;
}

// The shortest lag at which the signal nearly repeats itself.
int period_of(const std::vector<float>& x, int max_lag) {
  std::vector<double> c(max_lag + 1, 0);
  double best = 0;
  const int window = static_cast<int>(x.size()) - max_lag;
  for (int lag = 20; lag <= max_lag; lag++) {
    for (int i = 0; i < window; i++) c[lag] += x[i] * x[i + lag];
    best = std::max(best, c[lag]);
  }
  for (int lag = 21; lag <= max_lag; lag++)
    if (c[lag] >= 0.95 * best && c[lag] >= c[lag - 1] && (lag == max_lag || c[lag] >= c[lag + 1])) return lag;
  return 0;
}

TEST_F(EngineSoundTest, PitchFollowsTheEngineSpeed) {
  struct Case {
    const char* engine_class;
    float rpm;
    double firing_hz;
  } cases[] = {
      {"450f", 3000, 25},   // four-stroke: one firing every second turn
      {"450f", 9000, 75},
      {"250", 6000, 100},   // two-stroke: every turn
      {"250", 300, 1000.0 / 60},  // below the minimum speed the minimum paces the firings
  };
  for (const Case& c : cases) {
    auto s = quiet_sound(c.engine_class);
    s->previous_rpm = c.rpm;
    engine_sound_synthesize(s.get(), 8000, c.rpm, 0);  // settle at this speed
    engine_sound_synthesize(s.get(), 8192, c.rpm, 0);
    EXPECT_NEAR(s->firing_frequency, c.firing_hz, 1e-3) << c.engine_class << " " << c.rpm;
    const double period = ENGINE_SOUND_RATE / c.firing_hz;
    int found = period_of(last_samples(*s, 8192), std::min(4000, static_cast<int>(period * 1.5)));
    EXPECT_NEAR(found, period, 2) << c.engine_class << " " << c.rpm;
  }
  // However slow the engine, firings never come less often than 5 Hz.
  auto s = quiet_sound("450f");
  s->model.min_rpm = 0;
  engine_sound_synthesize(s.get(), 20000, 0, 0);
  EXPECT_EQ(s->firing_frequency, 5);
}

TEST_F(EngineSoundTest, ExtremeInputsGiveBoundedSamplesAndVoiceSettings) {
  const float inf = INFINITY, nan = NAN;
  const float values[] = {0, -1e30f, 1e30f, inf, -inf, nan};
  auto s = quiet_sound("450f");
  engine_sound_template(&s->model, "450f");  // with the pipe's feedback
  for (float rpm : values) {
    for (float torque : values) {
      engine_sound_synthesize(s.get(), 500, rpm, torque);
      for (float x : last_samples(*s, 500)) ASSERT_TRUE(std::isfinite(x) && std::fabs(x) <= 16) << rpm << " " << torque;
      EngineSoundSource source{rpm, torque, {rpm, 0, torque}, {torque, rpm, 0}};
      SoundListener listener{{0, 0, 0}, {rpm, 0, 0}, {1, 0, 0}};
      VoiceSettings v = engine_sound_listen(source, rpm, listener);
      EXPECT_TRUE(v.rate >= 100 && v.rate <= 1000000) << v.rate;
      EXPECT_TRUE(v.volume >= 0 && v.volume <= 32767) << v.volume;
      EXPECT_TRUE(v.pan >= -32768 && v.pan <= 32767) << v.pan;
    }
  }
}

TEST_F(EngineSoundTest, ListenerHearsDopplerDistanceAndSide) {
  struct Case {
    const char* label;
    float bike[3], bike_velocity[3];
    int rate, volume, pan;
  } cases[] = {
      {"at the listener", {0, 0, 0}, {50, 0, 0}, 44100, 16383, 0},
      {"49 ft to the right", {49, 0, 0}, {0, 0, 0}, 44100, 8191, 32767},
      {"49 ft to the left", {-49, 0, 0}, {0, 0, 0}, 44100, 8191, -32767},
      {"ahead, coming closer", {0, 0, -100}, {0, 0, 100}, 48337, 5349, 0},
      {"ahead, going away", {0, 0, -100}, {0, 0, -100}, 40545, 5349, 0},
  };
  const SoundListener listener{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
  for (const Case& c : cases) {
    EngineSoundSource source{3000, 0, {c.bike[0], c.bike[1], c.bike[2]},
                             {c.bike_velocity[0], c.bike_velocity[1], c.bike_velocity[2]}};
    VoiceSettings v = engine_sound_listen(source, 0.5f, listener);
    EXPECT_NEAR(v.rate, c.rate, 1) << c.label;
    EXPECT_NEAR(v.volume, c.volume, 1) << c.label;
    EXPECT_NEAR(v.pan, c.pan, 1) << c.label;
  }
}

// One second of a bike's sound through the readback output, updated once per 1/64 s fragment.
std::vector<uint8_t> heard(float volume) {
  EXPECT_TRUE(audio_open_readback(nullptr, 44100, 689));
  auto s = std::make_unique<EngineSound>();
  engine_sound_init(s.get(), nullptr, nullptr);
  EngineSoundSource source{6000, 2, {0, 0, 0}, {0, 0, 0}};
  const SoundListener listener{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
  std::vector<uint8_t> out;
  for (int fragment = 0; fragment < 64; fragment++) {
    engine_sound_update_source(s.get(), source, volume, listener);
    const uint8_t* bytes = audio_mix_fragment();
    out.insert(out.end(), bytes, bytes + 2 * 689);
  }
  engine_sound_free(s.get());
  audio_close();
  return out;
}

TEST_F(EngineSoundTest, TheStreamIsHeardThroughTheVoiceAndSilentAtVolumeZero) {
  std::vector<uint8_t> loud = heard(1);
  // The voice starts with a quarter second of silence before the first written samples.
  int moving = 0;
  for (size_t i = loud.size() / 2; i < loud.size(); i += 2) moving += loud[i] != 128;
  EXPECT_GT(moving, 1000);
  for (size_t i = 0; i < loud.size(); i += 2) ASSERT_EQ(loud[i], loud[i + 1]) << "centred: both sides alike";
  std::vector<uint8_t> quiet = heard(0);
  for (uint8_t b : quiet) ASSERT_EQ(b, 128);
}

}  // namespace
