// The software mixer behind every audio output: voices in per-level lists, integer mixing through
// volume tables with level changes and restarts held back to zero crossings, and the readback
// output that mixes a fragment whenever the caller asks (recording the game's audio).
#include "platform/audio.h"

#include <algorithm>
#include <cstring>

#include "files/memory.h"
#include "platform/audio_mixer.h"
#include "platform/vant.h"

AudioMixer audio_mixer;

namespace {

constexpr unsigned FLAG_LOOP = 1, FLAG_PLAYING = 2, FLAG_STEREO = 4, FLAG_RESTART = 8, FLAG_FINISHED = 16;
constexpr int LEFT = 0, RIGHT = 1;
constexpr int MAX_RATE = 1 << 24;          // keeps the 31-bit step arithmetic in range
constexpr int64_t MAX_LENGTH = 1 << 28;    // samples of one voice after resampling
constexpr uint32_t FRACTION_MASK = 0x7fffffff;

}  // namespace

// Samples shared by a voice and its duplicates.
struct SampleData {
  int references;
  uint32_t length;
  uint8_t* samples;
};

// A voice's place in one channel's level lists.
struct AudioNode {
  AudioVoice* voice;
  AudioNode* previous;
  AudioNode* next;
  uint32_t position;  // byte offset in the samples
  uint32_t fraction;  // 31-bit fraction of the position
  int level;          // 0..31 for this fragment
  int mixed_level;    // the level the previous fragment was mixed at
};

struct AudioVoice {
  AudioNode node[2];  // left, right
  int output_rate;
  int rate;
  int volume;
  int pan;
  unsigned flags;
  uint32_t step;           // whole samples advanced per output sample
  uint32_t step_fraction;  // and the 31-bit fraction
  SampleData* data;
};

namespace {

AudioNode* lists[2][AUDIO_LEVELS];  // per channel, per level: the playing voices
int8_t volume_table[AUDIO_LEVELS][256];
bool tables_built = false;
uint8_t* readback_output = nullptr;

// Table v maps an unsigned sample byte to its signed contribution at level v; level 0 is silent.
void build_volume_tables() {
  if (tables_built) return;
  for (int v = 1; v < AUDIO_LEVELS; v++) {
    for (int m = 0; m < 256; m++) {
      int j = m - 128;
      int value = 0;
      if (m == 0) value = -(127 * v / 32);
      else if (j > 0) value = (j - 1) * v / 32;
      else if (j < 0) value = -((-j - 1) * v / 32);
      volume_table[v][m] = static_cast<int8_t>(value);
    }
  }
  tables_built = true;
}

// Voice calls from the game thread never run during a fragment mix of the device thread.
struct MixerLock {
  VantMutex* mutex = audio_mixer.mutex;
  MixerLock() {
    if (mutex) vant_mutex_lock(mutex);
  }
  ~MixerLock() {
    if (mutex) vant_mutex_unlock(mutex);
  }
};

void link(AudioNode* node, int channel) {
  AudioNode*& head = lists[channel][node->level];
  node->previous = nullptr;
  node->next = head;
  if (head) head->previous = node;
  head = node;
}

void unlink(AudioNode* node, int channel) {
  if (node->previous) node->previous->next = node->next;
  else lists[channel][node->level] = node->next;
  if (node->next) node->next->previous = node->previous;
  node->previous = node->next = nullptr;
}

bool linked_right(const AudioVoice* v) { return (v->flags & FLAG_STEREO) != 0; }

void voice_link(AudioVoice* v) {
  link(&v->node[LEFT], LEFT);
  if (linked_right(v)) link(&v->node[RIGHT], RIGHT);
}

void voice_unlink(AudioVoice* v) {
  unlink(&v->node[LEFT], LEFT);
  if (linked_right(v)) unlink(&v->node[RIGHT], RIGHT);
}

// Levels from volume and pan, moving a playing voice to its new lists.
void voice_set_levels(AudioVoice* v) {
  const bool playing = v->flags & FLAG_PLAYING;
  if (playing) voice_unlink(v);
  uint32_t volume = static_cast<uint32_t>(v->volume);
  v->node[LEFT].level = static_cast<int>((static_cast<uint32_t>(32767 - v->pan) * volume) >> 26);
  v->node[RIGHT].level = static_cast<int>((volume * static_cast<uint32_t>(v->pan + 32768)) >> 26);
  if (playing) voice_link(v);
}

void voice_set_step(AudioVoice* v) {
  v->step = static_cast<uint32_t>(v->rate / v->output_rate);
  v->step_fraction = static_cast<uint32_t>((static_cast<uint64_t>(v->rate % v->output_rate) << 31) / v->output_rate);
}

// One output sample's advance; false when the position has run past the end of the samples.
inline bool advance(AudioNode* node, const AudioVoice* v, uint32_t length) {
  node->fraction += v->step_fraction;
  node->position += v->step + (node->fraction >> 31);
  node->fraction &= FRACTION_MASK;
  return node->position < length;
}

// Past the end: a looping voice wraps, any other is finished and back at the start.
void end_of_data(AudioNode* node, AudioVoice* v, uint32_t length) {
  if (v->flags & FLAG_LOOP) {
    node->position %= length;
  } else {
    v->flags |= FLAG_FINISHED;
    node->position = 0;
    node->fraction = 0;
  }
}

// Mixes at the old level until the samples cross the midpoint, the fragment is full or the
// samples end; returns the frames mixed. Level changes and restarts so happen without a click.
int mix_to_crossing(AudioNode* node, AudioVoice* v, int32_t* acc, int count, int level) {
  const SampleData* d = v->data;
  const int8_t* table = volume_table[level];
  const uint8_t top = d->samples[node->position] & 0x80;
  int i = 0;
  while (i < count) {
    uint8_t s = d->samples[node->position];
    if ((s & 0x80) != top) break;
    acc[i++] += table[s];
    if (!advance(node, v, d->length)) {
      end_of_data(node, v, d->length);
      break;
    }
  }
  return i;
}

void mix_run(AudioNode* node, AudioVoice* v, int32_t* acc, int count, int level) {
  const SampleData* d = v->data;
  const int8_t* table = volume_table[level];
  for (int i = 0; i < count; i++) {
    acc[i] += table[d->samples[node->position]];
    if (!advance(node, v, d->length)) {
      end_of_data(node, v, d->length);
      if (v->flags & FLAG_FINISHED) return;
    }
  }
}

// A silent node keeps its place in time: the position moves on by the fragment's worth.
void skip_run(AudioNode* node, AudioVoice* v, int count) {
  const uint32_t length = v->data->length;
  uint64_t position = node->position + static_cast<uint64_t>(count) * static_cast<uint64_t>(v->rate) /
                                           static_cast<uint64_t>(v->output_rate);
  node->fraction = 0;
  if (position < length) {
    node->position = static_cast<uint32_t>(position);
  } else if (v->flags & FLAG_LOOP) {
    node->position = static_cast<uint32_t>(position % length);
  } else {
    v->flags |= FLAG_FINISHED;
    node->position = 0;
  }
}

void mix_node(AudioNode* node, int32_t* acc, bool audible) {
  AudioVoice* v = node->voice;
  const int count = audio_mixer.samples;
  const int a = audible && !(v->flags & FLAG_FINISHED) ? node->level : 0;
  const int b = node->mixed_level;
  int done = 0;
  if (b != 0 && (a != b || (v->flags & FLAG_RESTART))) done = mix_to_crossing(node, v, acc, count, b);
  node->mixed_level = a;
  if (v->flags & FLAG_RESTART) {
    node->position = 0;
    node->fraction = 0;
  }
  if ((v->flags & FLAG_FINISHED) || done == count) return;
  if (a != 0) mix_run(node, v, acc + done, count - done, a);
  else skip_run(node, v, count - done);
}

inline uint8_t to_byte(int32_t v) { return v < -127 ? 0 : v > 126 ? 255 : static_cast<uint8_t>(v + 128); }

const uint8_t* readback_mix() {
  mixer_mix(readback_output);
  return readback_output;
}

void readback_close() {
  mixer_release();
  readback_output = nullptr;
}

const AudioDriver READBACK = {"readback", readback_close, readback_mix};

}  // namespace

bool mixer_allocate(bool own_output) {
  const size_t frames = static_cast<size_t>(audio_mixer.samples);
  const size_t channels = audio_mixer.stereo ? 2 : 1;
  const size_t bytes = frames * channels * sizeof(int32_t) + (own_output ? frames * channels : 0);
  auto* block = static_cast<uint8_t*>(mem_alloc(bytes));
  if (!block) return false;
  audio_mixer.left = reinterpret_cast<int32_t*>(block);
  audio_mixer.right = audio_mixer.stereo ? audio_mixer.left + frames : nullptr;
  audio_mixer.output = own_output ? block + frames * channels * sizeof(int32_t) : nullptr;
  return true;
}

void mixer_release() {
  mem_free(audio_mixer.left);
  audio_mixer.left = audio_mixer.right = nullptr;
  audio_mixer.output = nullptr;
}

void mixer_mix(uint8_t* out) {
  const int count = audio_mixer.samples;
  const bool stereo = audio_mixer.stereo;
  memset(audio_mixer.left, 0, sizeof(int32_t) * count);
  if (stereo) memset(audio_mixer.right, 0, sizeof(int32_t) * count);
  // The loudest voices are heard first; once the budget is used up the rest only advance.
  int budget = audio_mixer.voice_budget;
  for (int level = AUDIO_LEVELS - 1; level >= 0; level--) {
    AudioNode* l = lists[LEFT][level];
    AudioNode* r = stereo ? lists[RIGHT][level] : nullptr;
    while (l || r) {
      for (int channel = LEFT; channel <= RIGHT; channel++) {
        AudioNode*& node = channel == LEFT ? l : r;
        if (!node) continue;
        bool audible = budget > 0 && level >= 1;
        if (audible) budget--;
        mix_node(node, channel == LEFT ? audio_mixer.left : audio_mixer.right, audible);
        node = node->next;
      }
    }
  }
  // Both channels stay in step; finished voices leave the mix.
  for (AudioNode* head : lists[LEFT]) {
    for (AudioNode* node = head; node;) {
      AudioNode* next = node->next;
      AudioVoice* v = node->voice;
      v->flags &= ~FLAG_RESTART;
      v->node[RIGHT].position = node->position;
      v->node[RIGHT].fraction = node->fraction;
      if (v->flags & FLAG_FINISHED) {
        v->flags &= ~(FLAG_FINISHED | FLAG_PLAYING);
        voice_unlink(v);
      }
      node = next;
    }
  }
  if (stereo) {
    for (int i = 0; i < count; i++) {
      out[2 * i] = to_byte(audio_mixer.left[i]);
      out[2 * i + 1] = to_byte(audio_mixer.right[i]);
    }
  } else {
    for (int i = 0; i < count; i++) out[i] = to_byte(audio_mixer.left[i]);
  }
}

int audio_open_readback(VantWindow*, int rate, int samples_per_fragment) {
  vant_log("Opening readback audio...\n");
  if (audio_mixer.driver) {
    vant_log("Audio already open\n");
    return 0;
  }
  if (rate <= 0 || rate > MAX_RATE || samples_per_fragment <= 0) return 0;
  int budget = vant_option_int("sound-channels", 16);
  audio_mixer.voice_budget = budget < 0 ? 0 : budget;
  audio_mixer.stereo = true;
  audio_mixer.rate = rate;
  audio_mixer.samples = samples_per_fragment;
  audio_mixer.mutex = nullptr;
  if (!mixer_allocate(true)) {
    vant_log("Malloc failed\n");
    return 0;
  }
  readback_output = audio_mixer.output;
  audio_mixer.driver = &READBACK;
  vant_log("Audio opened!\n");
  return 1;
}

void audio_close() {
  if (!audio_mixer.driver) {
    vant_log("Can't close audio, not open\n");
    return;
  }
  audio_mixer.driver->close();
  audio_mixer.driver = nullptr;
  audio_mixer.rate = audio_mixer.samples = 0;
}

int audio_commit() { return 1; }

const uint8_t* audio_mix_fragment() {
  if (!audio_mixer.driver || !audio_mixer.driver->mix_fragment) return nullptr;
  return audio_mixer.driver->mix_fragment();
}

bool audio_is_open() { return audio_mixer.driver != nullptr; }
int audio_output_rate() { return audio_mixer.driver ? audio_mixer.rate : 0; }
int audio_samples_per_fragment() { return audio_mixer.driver ? audio_mixer.samples : 0; }

AudioVoice* audio_voice_create(int length, const uint8_t* data, int source_rate) {
  if (!audio_mixer.driver || length <= 0 || source_rate < 0) return nullptr;
  const int output_rate = audio_mixer.rate;
  int64_t new_length = source_rate ? int64_t(length) * output_rate / source_rate : length;
  if (new_length <= 0 || new_length > MAX_LENGTH) return nullptr;
  build_volume_tables();
  auto* voice = static_cast<AudioVoice*>(mem_calloc(1, sizeof(AudioVoice)));
  auto* shared = static_cast<SampleData*>(mem_alloc(sizeof(SampleData)));
  auto* samples = static_cast<uint8_t*>(mem_alloc(static_cast<size_t>(new_length)));
  if (!voice || !shared || !samples) {
    mem_free(voice);
    mem_free(shared);
    mem_free(samples);
    return nullptr;
  }
  if (source_rate) {
    // Nearest earlier source sample, stepping by length / new_length with the remainder carried.
    const int64_t whole = length / new_length, part = length % new_length;
    int64_t from = 0, carried = 0;
    for (int64_t i = 0; i < new_length; i++) {
      samples[i] = data[from];
      from += whole;
      carried += part;
      if (carried >= new_length) {
        carried -= new_length;
        from++;
      }
    }
  } else {
    memcpy(samples, data, static_cast<size_t>(length));
  }
  *shared = SampleData{1, static_cast<uint32_t>(new_length), samples};
  voice->data = shared;
  voice->node[LEFT].voice = voice->node[RIGHT].voice = voice;
  voice->output_rate = output_rate;
  voice->rate = output_rate;
  voice->volume = AUDIO_VOLUME_MAX;
  voice->flags = audio_mixer.stereo ? FLAG_STEREO : 0;
  voice->pan = audio_mixer.stereo ? 0 : -32768;
  voice_set_step(voice);
  voice_set_levels(voice);
  return voice;
}

AudioVoice* audio_voice_duplicate(AudioVoice* voice) {
  if (!voice) return nullptr;
  auto* copy = static_cast<AudioVoice*>(mem_alloc(sizeof(AudioVoice)));
  if (!copy) return nullptr;
  MixerLock lock;
  *copy = *voice;
  copy->flags &= FLAG_LOOP | FLAG_STEREO;
  for (AudioNode& node : copy->node) node = AudioNode{copy, nullptr, nullptr, 0, 0, node.level, 0};
  copy->data->references++;
  return copy;
}

void audio_voice_free(AudioVoice* voice) {
  if (!voice) return;
  {
    MixerLock lock;
    if (voice->flags & FLAG_PLAYING) voice_unlink(voice);
  }
  if (--voice->data->references == 0) {
    mem_free(voice->data->samples);
    mem_free(voice->data);
  }
  mem_free(voice);
}

void audio_voice_play(AudioVoice* voice) {
  if (!voice) return;
  MixerLock lock;
  voice->flags &= ~FLAG_FINISHED;
  if (voice->flags & FLAG_PLAYING) {
    voice->flags |= FLAG_RESTART;
    return;
  }
  for (AudioNode& node : voice->node) {
    node.position = node.fraction = 0;
    node.mixed_level = 0;
  }
  voice->flags |= FLAG_PLAYING;
  voice_link(voice);
}

void audio_voice_stop(AudioVoice* voice) {
  if (!voice) return;
  MixerLock lock;
  if (voice->flags & FLAG_PLAYING) voice->flags |= FLAG_FINISHED;
}

void audio_voice_set_rate(AudioVoice* voice, int rate) {
  if (!voice) return;
  MixerLock lock;
  voice->rate = rate < 0 ? 0 : rate > MAX_RATE ? MAX_RATE : rate;
  voice_set_step(voice);
}

void audio_voice_set_volume(AudioVoice* voice, int volume) {
  if (!voice) return;
  MixerLock lock;
  voice->volume = volume < 0 ? 0 : volume > AUDIO_VOLUME_MAX ? AUDIO_VOLUME_MAX : volume;
  voice_set_levels(voice);
}

void audio_voice_set_pan(AudioVoice* voice, int pan) {
  if (!voice) return;
  MixerLock lock;
  voice->pan = !(voice->flags & FLAG_STEREO) ? -32768 : pan < -32768 ? -32768 : pan > 32767 ? 32767 : pan;
  voice_set_levels(voice);
}

void audio_voice_set_loop(AudioVoice* voice, bool on) {
  if (!voice) return;
  MixerLock lock;
  if (on) voice->flags |= FLAG_LOOP;
  else voice->flags &= ~FLAG_LOOP;
}

int audio_voice_position(AudioVoice* voice) {
  if (!voice) return 0;
  MixerLock lock;
  if ((voice->flags & FLAG_PLAYING) && !(voice->flags & FLAG_RESTART)) return static_cast<int>(voice->node[LEFT].position);
  return 0;
}

void audio_voice_write(AudioVoice* voice, int length, const uint8_t* source, int position) {
  if (!voice || length <= 0) return;
  MixerLock lock;
  const uint32_t size = voice->data->length;
  uint32_t at = static_cast<uint32_t>((static_cast<int64_t>(position) % size + size) % size);
  if (static_cast<uint32_t>(length) > size) {
    // Only the last size bytes survive a longer write.
    at = static_cast<uint32_t>((at + (static_cast<uint32_t>(length) - size)) % size);
    source += length - size;
    length = static_cast<int>(size);
  }
  const uint32_t first = std::min<uint32_t>(static_cast<uint32_t>(length), size - at);
  memcpy(voice->data->samples + at, source, first);
  memcpy(voice->data->samples, source + first, static_cast<size_t>(length) - first);
}
