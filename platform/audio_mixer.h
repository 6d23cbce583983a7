// The software mixer shared by the audio outputs: its state and the calls an output driver makes
// to open, mix and close it. Game code uses platform/audio.h instead.
#pragma once

#include <cstdint>

struct VantMutex;

// What the active output provides beyond the shared mixer.
struct AudioDriver {
  const char* name;
  void (*close)();
  const uint8_t* (*mix_fragment)();  // readback only; null for outputs that mix on their own
};

struct AudioMixer {
  uint8_t* output;       // the current fragment: unsigned bytes, left and right interleaved in stereo
  int32_t* left;         // accumulators, one per frame
  int32_t* right;        // stereo only
  int voice_budget;      // voices heard per fragment
  bool stereo;
  int rate;              // output samples per second
  int samples;           // frames per fragment
  VantMutex* mutex;      // taken by every voice call while a mixing thread runs; null otherwise
  const AudioDriver* driver;  // null when no output is open
};
extern AudioMixer audio_mixer;

// Allocates the accumulators (and the output buffer when own_output) for the mixer's rate,
// samples and stereo flag; false when out of memory.
bool mixer_allocate(bool own_output);
void mixer_release();
// Mixes one fragment into out (samples frames, one byte per channel). The caller holds the
// mutex when one exists.
void mixer_mix(uint8_t* out);
