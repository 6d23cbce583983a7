// A bike's engine sound: each firing starts a recorded cycle blended from a sound table by engine
// speed and load, fed back through delayed copies that ring like the exhaust pipe. The stream
// (44100 Hz nominal) is written ahead of the play position into one looping 8-bit voice, whose
// rate, volume and pan follow the bike relative to the listener (Doppler, distance, side).
#pragma once

#include <cstdint>

#include "sound/sound_table.h"

struct AudioVoice;
struct Bike;
struct VfsFile;

constexpr int SOUND_RING = 32768;        // samples of the history ring and bytes of the voice
constexpr int PIPE_TAPS = 16;
constexpr int SOUND_LIST_MAX = 100;      // bias and scale values
constexpr int GRAIN_PLAYERS = 4;
constexpr double ENGINE_SOUND_RATE = 44100;     // samples per second of the synthesised stream
constexpr double SPEED_OF_SOUND = 1140.63;      // ft/s
constexpr int ENGINE_SOUND_LEAD = 4410;         // samples written ahead of the play position
constexpr int ENGINE_SOUND_MAX_BATCH = 8820;    // samples synthesised per update at most

struct EngineSoundModel {
  const SoundTable* table;
  float firings_per_rev;       // 0.5 four-stroke, 1 two-stroke
  float low_torque, high_torque;  // lbf·ft mapped to load 0 and 1
  float min_rpm;
  int32_t pipe_delay[PIPE_TAPS];  // SOUND_RING - delay in samples
  float pipe_gain[PIPE_TAPS];
  float bias[SOUND_LIST_MAX];  // rpm added to the engine speed, per firing in turn
  int bias_count;
  float scale[SOUND_LIST_MAX];  // factors on the engine speed, per firing in turn
  int scale_count;
};

struct GrainPlayer {
  const SoundTableCell* cell;
  float weight;
  uint32_t phase;  // sample index with 10 fractional bits
  uint32_t step;
};

struct EngineSound {
  AudioVoice* voice;  // null when no audio output is open
  EngineSoundModel model;
  float history[SOUND_RING];  // the output, and the pipe's memory
  int write_index;
  double firing_frequency;  // Hz
  float previous_rpm;
  uint32_t phase;           // 24-bit firing phase
  uint32_t firing_count;
  GrainPlayer grains[GRAIN_PLAYERS];
};

// Where the sound is heard from: the camera's position, velocity (ft, ft/s) and right axis.
struct SoundListener {
  float position[3];
  float velocity[3];
  float right[3];
};

// What the sound reads from its bike each update.
struct EngineSoundSource {
  float rpm;
  float torque;  // lbf·ft
  float position[3];
  float velocity[3];
};

// Templates by engine class text: "50" -> 50 cc; ending in "f" -> four-stroke; else two-stroke;
// null (no bike) -> four-stroke.
void engine_sound_template(EngineSoundModel* model, const char* engine_class);
// The pipe's taps from length (ft), spread, gain and the first and last tap.
void engine_sound_set_pipe(EngineSoundModel* model, float length, float spread, float gain, int first, int last);
// Reads a ".braap" file into the model (starting from no pipe).
void engine_sound_read_braap(EngineSoundModel* model, VfsFile* file);
// The template of the class, then the ".braap" file found from name (or the class default).
void engine_sound_load_model(EngineSoundModel* model, const char* engine_class, const char* name);

// Creates and starts the voice (when audio is open), resets the state and loads the model. name
// is the bike's engine sound name; null takes the bike's frame model file name.
void engine_sound_init(EngineSound* sound, const Bike* bike, const char* name);
// Once per frame: synthesises up to the lead ahead of the play position and sets the voice's
// rate, volume (volume 0 .. 1 is the caller's loudness for this bike) and pan.
void engine_sound_update(EngineSound* sound, const Bike* bike, float volume, const SoundListener& listener);
// The same from explicit values (tools and tests without a bike).
void engine_sound_update_source(EngineSound* sound, const EngineSoundSource& source, float volume,
                                const SoundListener& listener);
// The voice's rate (Doppler), volume (distance) and pan (side) for a source heard by the listener.
struct VoiceSettings {
  int rate, volume, pan;
};
VoiceSettings engine_sound_listen(const EngineSoundSource& source, float volume, const SoundListener& listener);
// Synthesises n samples at history[write_index...] (the update's first half).
void engine_sound_synthesize(EngineSound* sound, int n, float rpm, float torque);
// Frees the voice; the sound may be initialised again.
void engine_sound_free(EngineSound* sound);
