// The sound device output: a thread mixes fragments of 1/64 s under the mixer mutex and queues
// them on the device, keeping at most mix-ahead fragments queued; a device that stops taking
// fragments is reset after about a second.
#include <SDL.h>
#include <pthread.h>

#include <atomic>

#include "files/memory.h"
#include "platform/audio.h"
#include "platform/audio_mixer.h"
#include "platform/vant.h"

namespace {

constexpr int WAIT_US = 15000;           // between looks at the device queue
constexpr int TIMEOUT_US = 985000;       // a fragment not played by then resets the device
constexpr int AFTER_RESET_US = 1000000;  // before the next reset

struct DeviceOutput {
  SDL_AudioDeviceID device;
  int mix_ahead;           // fragments queued at most
  uint8_t* fragments;      // the ring of AUDIO_FRAGMENT_RING fragments
  size_t fragment_bytes;
  pthread_t thread;
  std::atomic<bool> stop_request;
};
DeviceOutput output;

// Waits until the fragment written mix-ahead fragments ago has played, i.e. until no more than
// mix-ahead - 1 fragments are still queued. False when a stop was requested meanwhile.
bool wait_for_device(int written) {
  const Uint32 limit = static_cast<Uint32>((output.mix_ahead - 1) * output.fragment_bytes);
  int waited_us = 0, timeout_us = TIMEOUT_US;
  while (SDL_GetQueuedAudioSize(output.device) > limit) {
    if (output.stop_request) return false;
    vant_sleep(0, WAIT_US);
    waited_us += WAIT_US;
    if (waited_us >= timeout_us) {
      SDL_ClearQueuedAudio(output.device);
      vant_log("Audio thread: Timeout on fragment %d\n", written);
      waited_us = 0;
      timeout_us = AFTER_RESET_US;
    }
  }
  return true;
}

void* audio_thread(void*) {
  vant_log("Audio thread begin\n");
  int k = 0, written = 0;
  while (!output.stop_request) {
    uint8_t* fragment = output.fragments + static_cast<size_t>(k) * output.fragment_bytes;
    vant_mutex_lock(audio_mixer.mutex);
    mixer_mix(fragment);
    vant_mutex_unlock(audio_mixer.mutex);
    if (SDL_QueueAudio(output.device, fragment, static_cast<Uint32>(output.fragment_bytes)) != 0)
      vant_log("Audio thread: Write error\n");
    written++;
    k = (k + 1) % AUDIO_FRAGMENT_RING;
    if (written >= output.mix_ahead && !wait_for_device(written)) break;
  }
  vant_log("Audio thread end\n");
  output.stop_request = false;
  return nullptr;
}

void device_close() {
  vant_log("Closing audio\n");
  output.stop_request = true;
  pthread_join(output.thread, nullptr);
  vant_mutex_destroy(audio_mixer.mutex);
  audio_mixer.mutex = nullptr;
  SDL_ClearQueuedAudio(output.device);
  SDL_CloseAudioDevice(output.device);
  output.device = 0;
  mem_free(output.fragments);
  output.fragments = nullptr;
  mixer_release();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

const AudioDriver DEVICE = {"device", device_close, nullptr};

// Everything opened so far is closed again on a failure.
int fail(const char* message, int opened_device) {
  vant_log("%s", message);
  if (audio_mixer.mutex) vant_mutex_destroy(audio_mixer.mutex);
  audio_mixer.mutex = nullptr;
  mixer_release();
  mem_free(output.fragments);
  output.fragments = nullptr;
  if (opened_device) SDL_CloseAudioDevice(output.device);
  output.device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return 0;
}

}  // namespace

int audio_open(VantWindow*) {
  if (!vant_option_bool("waveout", 1)) return 0;
  vant_log("Opening waveOut audio...\n");
  if (audio_mixer.driver) {
    vant_log("Audio already open\n");
    return 0;
  }
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    vant_log("No audio device\n");
    return 0;
  }
  char* name = nullptr;
  SDL_AudioSpec device_spec;
  if (SDL_GetDefaultAudioInfo(&name, &device_spec, 0) != 0) {
    // Drivers that cannot name their default device still open one.
    name = nullptr;
    device_spec.channels = 2;
  }
  vant_log("Found a %s\n", name ? name : SDL_GetCurrentAudioDriver());
  SDL_free(name);

  int budget = vant_option_int("sound-channels", 16);
  int rate = vant_option_int("sound-rate", 22050);
  if (rate < AUDIO_FRAGMENTS_PER_SECOND) rate = AUDIO_FRAGMENTS_PER_SECOND;
  int mix_ahead = vant_option_int("sound-mixahead", 125) * AUDIO_FRAGMENTS_PER_SECOND / 1000;
  mix_ahead = mix_ahead < 1 ? 1 : mix_ahead > AUDIO_FRAGMENT_RING / 2 ? AUDIO_FRAGMENT_RING / 2 : mix_ahead;
  audio_mixer.voice_budget = budget < 0 ? 0 : budget;
  audio_mixer.rate = rate;
  audio_mixer.samples = rate / AUDIO_FRAGMENTS_PER_SECOND;
  audio_mixer.stereo = device_spec.channels != 1;  // devices of more channels take stereo
  vant_log("Waveout rate: %d\n", rate);
  vant_log("Waveout channels: %d\n", audio_mixer.voice_budget);
  vant_log("Waveout mixahead: %d\n", mix_ahead * 1000 / AUDIO_FRAGMENTS_PER_SECOND);

  SDL_AudioSpec want{};
  want.freq = rate;
  want.format = AUDIO_U8;
  want.channels = audio_mixer.stereo ? 2 : 1;
  want.samples = 512;
  output.device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  if (output.device == 0) return fail("Can't open waveOut\n", 0);
  output.mix_ahead = mix_ahead;
  output.fragment_bytes = static_cast<size_t>(audio_mixer.samples) * want.channels;
  output.fragments = static_cast<uint8_t*>(mem_alloc(output.fragment_bytes * AUDIO_FRAGMENT_RING));
  if (!output.fragments) return fail("GlobalAlloc() failed\n", 1);
  if (!mixer_allocate(false)) return fail("malloc() failed\n", 1);
  audio_mixer.mutex = vant_mutex_create();
  if (!audio_mixer.mutex) return fail("Can't create mutex\n", 1);
  output.stop_request = false;
  if (pthread_create(&output.thread, nullptr, audio_thread, nullptr) != 0) return fail("Can't create thread\n", 1);
  audio_mixer.driver = &DEVICE;
  SDL_PauseAudioDevice(output.device, 0);
  vant_log("Audio opened!\n");
  return 1;
}
