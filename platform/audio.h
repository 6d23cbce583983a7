// Audio output: a small voice API (8-bit sample buffers with rate, volume, pan and loop) over a
// software mixer, fed either to the sound device by a mixing thread or read back by the caller.
#pragma once

#include <cstdint>

struct VantWindow;
struct AudioVoice;

constexpr int AUDIO_FRAGMENTS_PER_SECOND = 64;  // a fragment is 1/64 s
constexpr int AUDIO_FRAGMENT_RING = 64;         // fragments the device thread cycles through
constexpr int AUDIO_LEVELS = 32;                // mixing levels 0 (silent) .. 31
constexpr int AUDIO_VOLUME_MAX = 32767;

// Opens the sound device (options sound-rate, sound-channels, sound-mixahead, waveout) and starts
// the mixing thread. 0 with the reason logged when no device opens; the game then runs silent.
// Defined by the device layer (sk_platform_sdl).
int audio_open(VantWindow* window);
// Opens the readback output: stereo unsigned 8-bit, mixed only when the caller asks.
int audio_open_readback(VantWindow* window, int rate, int samples_per_fragment);
// Closes the active output; voices stay allocated until freed.
void audio_close();
// Once per frame after the sound updates; nothing to do for the outputs here.
int audio_commit();
// Readback only: mixes one fragment and returns its interleaved stereo bytes (2 per frame),
// valid until the next call; null for the device output or when nothing is open.
const uint8_t* audio_mix_fragment();
// True while an output is open.
bool audio_is_open();
// The open output's rate (samples per second) and frames per fragment; 0 when closed.
int audio_output_rate();
int audio_samples_per_fragment();

// Voices. Every call accepts a null voice and does nothing, so a silent game needs no checks.
// Copies length unsigned 8-bit samples (128 = silence); a source_rate other than 0 resamples them
// to the output rate. Null when no output is open or out of memory.
AudioVoice* audio_voice_create(int length, const uint8_t* data, int source_rate);
// A new, stopped voice sharing the samples of voice.
AudioVoice* audio_voice_duplicate(AudioVoice* voice);
void audio_voice_free(AudioVoice* voice);
// Starts the voice; a playing voice restarts from the beginning at the next fragment.
void audio_voice_play(AudioVoice* voice);
// Stops at the next zero crossing; the voice leaves the mix at the end of the next fragment.
void audio_voice_stop(AudioVoice* voice);
void audio_voice_set_rate(AudioVoice* voice, int rate);  // samples per second
void audio_voice_set_volume(AudioVoice* voice, int volume);  // 0 .. 32767
void audio_voice_set_pan(AudioVoice* voice, int pan);  // -32768 (left) .. 32767 (right)
void audio_voice_set_loop(AudioVoice* voice, bool on);
// Byte offset of the play position while playing (0 otherwise or while a restart is pending).
int audio_voice_position(AudioVoice* voice);
// Writes length bytes into the samples as a ring, starting at position modulo their length.
void audio_voice_write(AudioVoice* voice, int length, const uint8_t* source, int position);
