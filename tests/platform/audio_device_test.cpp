// The sound device output over SDL's dummy driver: the mixing thread plays a voice and closes
// cleanly; without any device the game goes on silent.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/audio.h"
#include "platform/vant.h"
#include "tests/support/temp_dir.h"

namespace {

// The log is opened once per process: every test reads the lines added since it started.
struct AudioDevice : ::testing::Test {
  static std::string log_path() {
    static TempDir dir;
    static std::string path = [] {
      std::string p = dir.file("lastlog.txt");
      setenv("VANT_LOGFILE", p.c_str(), 1);
      return p;
    }();
    return path;
  }
  void SetUp() override {
    const std::string path = log_path();  // names the log before its first line
    vant_log("start\n");
    log_start = read_file_bytes(path).size();
  }
  std::string log_since_start() { return read_file_bytes(log_path()).substr(log_start); }
  size_t log_start = 0;
};

TEST_F(AudioDevice, TheMixingThreadPlaysAVoiceAndStopsOnClose) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  vant_option_set_text("[sound-mixahead:50]");
  ASSERT_TRUE(audio_open(nullptr));
  EXPECT_FALSE(audio_open(nullptr));  // one output at a time
  uint8_t samples[4096];
  for (int i = 0; i < 4096; i++) samples[i] = static_cast<uint8_t>(i);
  AudioVoice* v = audio_voice_create(4096, samples, 0);
  ASSERT_NE(v, nullptr);
  audio_voice_set_loop(v, true);
  audio_voice_play(v);
  // The thread mixes ahead on its own; the voice's position moves without any call from here.
  int position = 0;
  for (int i = 0; i < 100 && position == 0; i++) {
    vant_sleep(0, 10000);
    position = audio_voice_position(v);
  }
  EXPECT_GT(position, 0);
  audio_voice_free(v);
  audio_close();
  EXPECT_FALSE(audio_is_open());
  std::string log = log_since_start();
  for (const char* line : {"Opening waveOut audio...\n", "Waveout rate: 22050\n", "Waveout channels: 16\n",
                           "Waveout mixahead: 46\n", "Audio opened!\n", "Audio thread begin\n", "Audio already open\n",
                           "Closing audio\n", "Audio thread end\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
  vant_option_set_text("");
}

TEST_F(AudioDevice, NoDeviceLeavesTheGameSilent) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_FALSE(audio_open(nullptr));
  EXPECT_FALSE(audio_is_open());
  EXPECT_NE(log_since_start().find("No audio device\n"), std::string::npos) << log_since_start();
  uint8_t byte = 128;
  EXPECT_EQ(audio_voice_create(1, &byte, 0), nullptr);
}

}  // namespace
