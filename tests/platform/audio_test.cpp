// The software mixer through the readback output: levels from volume and pan, the voice budget,
// level changes held to zero crossings, looping and one-shot voices, resampling, ring writes.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio.h"
#include "platform/vant.h"

namespace {

constexpr int RATE = 22050;

struct Readback : ::testing::Test {
  void open(int samples, const char* options = "") {
    vant_option_set_text(options);
    ASSERT_TRUE(audio_open_readback(nullptr, RATE, samples));
  }
  void TearDown() override {
    for (AudioVoice* v : voices) audio_voice_free(v);
    if (audio_is_open()) audio_close();
    vant_option_set_text("");
  }
  AudioVoice* voice(std::vector<uint8_t> bytes, int source_rate = 0) {
    AudioVoice* v = audio_voice_create(static_cast<int>(bytes.size()), bytes.data(), source_rate);
    voices.push_back(v);
    return v;
  }
  // One fragment as (left, right) pairs.
  std::vector<uint8_t> mix() {
    const uint8_t* out = audio_mix_fragment();
    return std::vector<uint8_t>(out, out + 2 * audio_samples_per_fragment());
  }
  std::vector<AudioVoice*> voices;
};

// Volume that puts a fully left-panned voice at the given left level.
int volume_for_level(int level) { return static_cast<int>((int64_t(level) << 26) / 65535 + 1); }

TEST_F(Readback, LevelsFollowVolumeAndPan) {
  open(16);
  // A constant sample of 255 (+127) adds floor(126 * level / 32) at each channel's level.
  struct Case {
    int pan, volume;
    uint8_t left, right;
  } cases[] = {
      {0, 32767, 128 + 59, 128 + 59},     // centred, full: level 15 each side
      {-32768, 32767, 128 + 122, 128},    // fully left: level 31 there, nothing right
      {32767, 32767, 128, 128 + 122},     // fully right
      {0, 0, 128, 128},                   // silent
      {-32768, volume_for_level(20), 128 + 78, 128},
  };
  for (const Case& c : cases) {
    AudioVoice* v = voice(std::vector<uint8_t>(64, 255));
    audio_voice_set_loop(v, true);
    audio_voice_set_pan(v, c.pan);
    audio_voice_set_volume(v, c.volume);
    audio_voice_play(v);
    std::vector<uint8_t> out = mix();
    EXPECT_EQ(out[0], c.left) << c.pan << " " << c.volume;
    EXPECT_EQ(out[1], c.right) << c.pan << " " << c.volume;
    audio_voice_free(v);
    voices.pop_back();
  }
}

TEST_F(Readback, OnlyTheLoudestVoicesWithinTheBudgetAreHeardButAllAdvance) {
  open(100, "[sound-channels:2]");
  // Byte 161 (+33) adds exactly the level, so the sum names the voices heard.
  AudioVoice* heard[3];
  const int levels[3] = {5, 31, 20};
  for (int i = 0; i < 3; i++) {
    heard[i] = voice(std::vector<uint8_t>(1000, 161));
    audio_voice_set_pan(heard[i], -32768);
    audio_voice_set_volume(heard[i], volume_for_level(levels[i]));
    audio_voice_play(heard[i]);
  }
  std::vector<uint8_t> out = mix();
  EXPECT_EQ(out[0], 128 + 31 + 20);
  for (AudioVoice* v : heard) EXPECT_EQ(audio_voice_position(v), 100);
}

TEST_F(Readback, VolumeChangesWaitForTheNextMidpointCrossing) {
  open(32);
  // A square wave of period 20: ten samples above the midpoint, ten below.
  std::vector<uint8_t> wave(20);
  for (int i = 0; i < 20; i++) wave[i] = i < 10 ? 255 : 1;
  AudioVoice* v = voice(wave);
  audio_voice_set_loop(v, true);
  audio_voice_set_pan(v, -32768);
  audio_voice_play(v);
  std::vector<uint8_t> first = mix();  // ends 12 samples into the wave, above the midpoint
  EXPECT_EQ(first[0], 128 + 122);
  audio_voice_set_volume(v, volume_for_level(10));
  std::vector<uint8_t> second = mix();
  // Samples 12..19 lie below the midpoint like the first of them: the old level holds until the
  // wave crosses back up at sample 0.
  for (int i = 0; i < 8; i++) EXPECT_EQ(second[2 * i], 128 - 122) << i;
  EXPECT_EQ(second[2 * 8], 128 + 39);  // floor(126 * 10 / 32) at the new level
}

TEST_F(Readback, OneShotVoicesEndWithTheirDataAndLoopingOnesWrap) {
  open(8);
  // Three samples at half the output rate become six, each held twice.
  AudioVoice* once = voice({255, 1, 255}, RATE / 2);
  audio_voice_set_pan(once, -32768);
  audio_voice_play(once);
  std::vector<uint8_t> out = mix();
  const uint8_t high = 128 + 122, low = 128 - 122;
  const uint8_t expected[8] = {high, high, low, low, high, high, 128, 128};
  for (int i = 0; i < 8; i++) EXPECT_EQ(out[2 * i], expected[i]) << i;
  EXPECT_EQ(audio_voice_position(once), 0);  // finished and out of the mix
  EXPECT_EQ(mix()[0], 128);

  AudioVoice* loop = voice({255, 1, 1});
  audio_voice_set_loop(loop, true);
  audio_voice_set_pan(loop, -32768);
  audio_voice_play(loop);
  for (int fragment = 0; fragment < 3; fragment++) {
    out = mix();
    for (int i = 0; i < 8; i++) EXPECT_EQ(out[2 * i], (fragment * 8 + i) % 3 == 0 ? high : low);
  }
}

TEST_F(Readback, ALongWriteKeepsOnlyItsLastBytesInRingOrder) {
  constexpr int SIZE = 32768, LENGTH = 40000, POSITION = 30000;
  open(SIZE);
  AudioVoice* v = voice(std::vector<uint8_t>(SIZE, 128));
  audio_voice_set_pan(v, -32768);
  std::vector<uint8_t> source(LENGTH);
  for (int i = 0; i < LENGTH; i++) source[i] = (i * 7919) % 5 == 0 ? 255 : 1;
  audio_voice_write(v, LENGTH, source.data(), POSITION);
  audio_voice_play(v);
  std::vector<uint8_t> out = mix();
  // Byte j of the kept part (source[7232 + j]) lies at (POSITION + 7232 + j) mod SIZE.
  for (int j = 0; j < SIZE; j++) {
    int at = (POSITION + (LENGTH - SIZE) + j) % SIZE;
    ASSERT_EQ(out[2 * at], source[LENGTH - SIZE + j] == 255 ? 128 + 122 : 128 - 122) << j;
  }
}

TEST_F(Readback, NoVoicesWithoutAnOpenOutput) {
  uint8_t byte = 128;
  EXPECT_EQ(audio_voice_create(1, &byte, 0), nullptr);
  EXPECT_EQ(audio_mix_fragment(), nullptr);
  // Every voice call takes the null voice a silent game holds.
  audio_voice_play(nullptr);
  audio_voice_set_volume(nullptr, 1);
  audio_voice_write(nullptr, 1, &byte, 0);
  EXPECT_EQ(audio_voice_position(nullptr), 0);
  audio_voice_free(nullptr);
}

}  // namespace
