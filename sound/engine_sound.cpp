// The engine sound: model templates and ".braap" files, the firing synthesis with its pipe
// feedback, and the voice's rate, volume and pan from the listener.
#include "sound/engine_sound.h"

#include <ode/ode.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "files/vfs.h"
#include "physics/bike.h"
#include "physics/drivetrain.h"
#include "platform/audio.h"

namespace {

constexpr uint32_t PHASE_ONE = 1u << 24;  // one firing period of the 24-bit phase
constexpr int RING_MASK = SOUND_RING - 1;
constexpr float SAMPLE_LIMIT = 16;
constexpr int INITIAL_WRITE_INDEX = 11025;
constexpr double MIN_FIRING_HZ = 5;
constexpr int BRAAP_LINE = 1024;
constexpr int BRAAP_NAME_MAX = 1024;

// Pipe and other defaults of the two engine families.
struct Template {
  bool two_stroke_table;
  float firings_per_rev, low_torque, high_torque, min_rpm;
  float pipe_length, pipe_spread, pipe_gain;
};
constexpr Template FOUR_STROKE = {false, 0.5f, -2.5f, 2.5f, 1000, 5.0f, 0.918207f, -0.85f};
constexpr Template TWO_STROKE = {true, 1.0f, -3.5f, 3.5f, 1000, 1.75f, 0.3f, -0.75f};
constexpr Template FIFTY_CC = {true, 1.0f, -3.5f, 1.5f, 1000, 1.75f, 0.3f, -0.75f};
constexpr float PIPE_DEFAULTS[3] = {5.0f, 0.918207f, -0.85f};

float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }
// Values from files or an unstable simulation may be NaN or infinite: they fall back.
float finite_or(float v, float fallback) { return std::isfinite(v) ? v : fallback; }

uint32_t round_step(double fraction_of_sample) { return static_cast<uint32_t>(std::lround(fraction_of_sample)); }

// Index of the first value above x (count when none), as the pair of neighbours to blend and the
// blend weight of the upper one.
void neighbours(float x, const SoundTableCell* cells, int count, int stride, bool rows, int* lo, int* hi, float* weight) {
  int i = 0;
  while (i < count && !((rows ? cells[i * stride].row_value : cells[i * stride].column_value) > x)) i++;
  *lo = i - 1 < 0 ? 0 : i - 1;
  *hi = i > count - 1 ? count - 1 : i;
  if (*lo == *hi) {
    *weight = 1;
    return;
  }
  float a = rows ? cells[*lo * stride].row_value : cells[*lo * stride].column_value;
  float b = rows ? cells[*hi * stride].row_value : cells[*hi * stride].column_value;
  *weight = b > a ? clampf((x - a) / (b - a), 0, 1) : 1;
}

void fire(EngineSound* s, float rpm, float load) {
  EngineSoundModel& m = s->model;
  const uint32_t k = s->firing_count;
  float speed = (rpm + m.bias[k % m.bias_count]) * m.scale[k % m.scale_count];
  if (!(speed >= m.min_rpm)) speed = finite_or(m.min_rpm, 0);
  const SoundTable* t = m.table;
  int r0, r1, c0, c1;
  float u, v;
  neighbours(speed, t->cells, t->rows, t->columns, true, &r0, &r1, &u);
  neighbours(load, t->cells, t->columns, 1, false, &c0, &c1, &v);
  s->phase -= PHASE_ONE;
  s->firing_count++;
  // One firing per output sample at most keeps the phase arithmetic in range.
  double f = speed * m.firings_per_rev / 60;
  f = f >= MIN_FIRING_HZ ? (f < ENGINE_SOUND_RATE ? f : ENGINE_SOUND_RATE) : MIN_FIRING_HZ;
  s->firing_frequency = f;
  const int cell_index[GRAIN_PLAYERS] = {r0 * t->columns + c0, r1 * t->columns + c0, r0 * t->columns + c1,
                                         r1 * t->columns + c1};
  const float weight[GRAIN_PLAYERS] = {(1 - u) * (1 - v), u * (1 - v), (1 - u) * v, u * v};
  for (int g = 0; g < GRAIN_PLAYERS; g++) {
    GrainPlayer& p = s->grains[g];
    const SoundTableCell& cell = t->cells[cell_index[g]];
    const double q = double(cell.sample_count) / cell.periods;
    const uint32_t count = s->firing_count;
    const int cycle = cell.remap ? cell.remap[count % cell.remap_length] : static_cast<int>(count % cell.periods);
    p.cell = &cell;
    p.weight = weight[g];
    p.phase = static_cast<uint32_t>(std::lround((cycle % cell.periods) * q)) << 10;
    p.step = round_step(f / ENGINE_SOUND_RATE * q * 1024);
  }
}

// The file name with everything from its last "." replaced by ".braap"; false without a ".".
bool braap_name(const char* name, char* out) {
  const char* slash = strrchr(name, '/');
  const char* dot = strrchr(slash ? slash : name, '.');
  if (!dot || dot - name + 7 > BRAAP_NAME_MAX) return false;
  size_t stem = static_cast<size_t>(dot - name);
  memcpy(out, name, stem);
  strcpy(out + stem, ".braap");
  return true;
}

// Cuts the name at its last "-" after the last "/" and appends ".braap"; false without one.
bool cut_at_dash(char* name) {
  const char* slash = strrchr(name, '/');
  char* dash = strrchr(const_cast<char*>(slash ? slash : name), '-');
  if (!dash) return false;
  strcpy(dash, ".braap");
  return true;
}

VfsFile* find_braap(const char* engine_class, const char* name) {
  char candidate[BRAAP_NAME_MAX];
  if (name && braap_name(name, candidate)) {
    do {
      if (VfsFile* f = vfs_open(candidate, "rb")) return f;
    } while (cut_at_dash(candidate));
  }
  static const char* const CLASSES[] = {"50", "125", "250f", "250", "450f"};
  for (const char* c : CLASSES) {
    if (engine_class && strcmp(engine_class, c) == 0) {
      snprintf(candidate, sizeof candidate, "@default%s.braap", c);
      return vfs_open(candidate, "rb");
    }
  }
  return nullptr;
}

// "keyword" at the start of the line after optional white space, followed by white space or the
// end; returns the text after it, or null.
const char* keyword(const char* line, const char* word) {
  while (isspace(static_cast<unsigned char>(*line))) line++;
  size_t n = strlen(word);
  if (strncmp(line, word, n) != 0) return nullptr;
  char next = line[n];
  return next == 0 || isspace(static_cast<unsigned char>(next)) ? line + n : nullptr;
}

// Numbers read with strtod until one fails; an empty list holds the fallback.
int number_list(const char* text, float* values, float fallback) {
  int count = 0;
  while (count < SOUND_LIST_MAX) {
    char* end;
    double v = strtod(text, &end);
    if (end == text) break;
    values[count++] = static_cast<float>(v);
    text = end;
  }
  if (count == 0) values[count++] = fallback;
  return count;
}

uint8_t sample_byte(float s) {
  long b = std::lround(127 * s + 127);
  return static_cast<uint8_t>(b < 0 ? 0 : b > 255 ? 255 : b);
}

uint8_t voice_bytes[ENGINE_SOUND_MAX_BATCH];  // the batch being written into a voice

}  // namespace

void engine_sound_set_pipe(EngineSoundModel* m, float length, float spread, float gain, int first, int last) {
  const int a = first < 0 ? 0 : first > PIPE_TAPS - 1 ? PIPE_TAPS - 1 : first;
  const int e = last < a ? a : last > PIPE_TAPS - 1 ? PIPE_TAPS - 1 : last;
  const int n = e - a + 1;
  const double m_len = std::fmin(length, spread);
  for (int i = 0; i < PIPE_TAPS; i++) {
    double delay_length = 0;
    float tap_gain = 0;
    if (i >= a && i <= e) {
      if (n == 1) {
        tap_gain = gain;
        delay_length = length;
      } else {
        const double x = i - a, r = e - a;
        tap_gain = gain / n;
        delay_length = length - (x + (x / r) * (x / r)) * m_len / n;
      }
    }
    // A delay is a round trip through the pipe; it must stay inside the ring.
    double delay = std::round(2 * delay_length / SPEED_OF_SOUND * ENGINE_SOUND_RATE);
    delay = std::isfinite(delay) ? std::fmin(std::fmax(delay, 0), RING_MASK) : 0;
    m->pipe_delay[i] = SOUND_RING - static_cast<int32_t>(delay);
    m->pipe_gain[i] = finite_or(tap_gain, 0);
  }
}

void engine_sound_template(EngineSoundModel* m, const char* engine_class) {
  const Template* t = &FOUR_STROKE;
  if (engine_class) {
    size_t n = strlen(engine_class);
    if (strcmp(engine_class, "50") == 0) t = &FIFTY_CC;
    else if (n == 0 || engine_class[n - 1] != 'f') t = &TWO_STROKE;
  }
  *m = EngineSoundModel{};
  m->table = t->two_stroke_table ? sound_table_default_two_stroke() : sound_table_default_four_stroke();
  m->firings_per_rev = t->firings_per_rev;
  m->low_torque = t->low_torque;
  m->high_torque = t->high_torque;
  m->min_rpm = t->min_rpm;
  engine_sound_set_pipe(m, t->pipe_length, t->pipe_spread, t->pipe_gain, 0, PIPE_TAPS - 1);
  m->bias[0] = 0;
  m->bias_count = 1;
  m->scale[0] = 1;
  m->scale_count = 1;
}

void engine_sound_read_braap(EngineSoundModel* m, VfsFile* file) {
  engine_sound_set_pipe(m, 1, 1, 0, 0, PIPE_TAPS - 1);
  char line[BRAAP_LINE];
  while (vfs_gets(file, line, sizeof line)) {
    if (char* hash = strchr(line, '#')) *hash = 0;
    float value;
    const char* rest;
    if (strncmp(line, "pipe", 4) == 0) {
      float p[3] = {PIPE_DEFAULTS[0], PIPE_DEFAULTS[1], PIPE_DEFAULTS[2]};
      int taps[2] = {0, PIPE_TAPS - 1};
      sscanf(line + 4, "%f %f %f %d %d", &p[0], &p[1], &p[2], &taps[0], &taps[1]);
      engine_sound_set_pipe(m, p[0], p[1], p[2], taps[0], taps[1]);
    } else if (sscanf(line, "minrpm %f", &value) == 1) {
      m->min_rpm = value;
    } else if (sscanf(line, "lowtorque %f", &value) == 1) {
      m->low_torque = value;
    } else if (sscanf(line, "hightorque %f", &value) == 1) {
      m->high_torque = value;
    } else if ((rest = keyword(line, "bias"))) {
      m->bias_count = number_list(rest, m->bias, 0);
    } else if ((rest = keyword(line, "scale"))) {
      m->scale_count = number_list(rest, m->scale, 1);
    } else if ((rest = keyword(line, "soundtable"))) {
      char name[BRAAP_LINE] = "";
      if (sscanf(rest, "%1023s", name) != 1) continue;
      if (const SoundTable* t = sound_table_get(name)) m->table = t;
      else console_printf("Error reading '%.512s'", name);
    }
  }
}

void engine_sound_load_model(EngineSoundModel* m, const char* engine_class, const char* name) {
  engine_sound_template(m, engine_class);
  if (VfsFile* file = find_braap(engine_class, name)) {
    engine_sound_read_braap(m, file);
    vfs_close(file);
  }
}

void engine_sound_init(EngineSound* s, const Bike* bike, const char* name) {
  static uint8_t silence[SOUND_RING];
  if (!silence[0]) memset(silence, 128, sizeof silence);
  s->voice = audio_voice_create(SOUND_RING, silence, 0);
  audio_voice_set_loop(s->voice, true);
  audio_voice_set_volume(s->voice, 0);
  audio_voice_play(s->voice);
  memset(s->history, 0, sizeof s->history);
  s->write_index = INITIAL_WRITE_INDEX;
  s->firing_frequency = 10;
  s->previous_rpm = 1000;
  s->phase = 0;
  s->firing_count = 0;
  if (!name && bike) name = bike->info.model_files[MODEL_FRAME];
  engine_sound_load_model(&s->model, bike ? bike->info.engine_class : nullptr, name);
  for (GrainPlayer& g : s->grains) g = GrainPlayer{s->model.table->cells, 0, 0, 0};
}

void engine_sound_synthesize(EngineSound* s, int n, float rpm, float torque) {
  EngineSoundModel& m = s->model;
  const float span = m.high_torque - m.low_torque;
  const float load = clampf(finite_or((torque - m.low_torque) / span, 0), 0, 1);
  const float from = finite_or(s->previous_rpm, 0);
  rpm = finite_or(rpm, 0);
  uint32_t step = round_step(s->firing_frequency / ENGINE_SOUND_RATE * PHASE_ONE);
  int w = s->write_index;
  for (int k = 0; k < n; k++) {
    float out = 0;
    for (int i = 0; i < PIPE_TAPS; i++) out += m.pipe_gain[i] * s->history[(w + m.pipe_delay[i]) & RING_MASK];
    for (GrainPlayer& g : s->grains) {
      // A cycle that runs past its recording (rounding of the steps) is silent until the next firing.
      uint32_t index = g.phase >> 10;
      if (index < static_cast<uint32_t>(g.cell->sample_count)) {
        out += g.weight * g.cell->samples[index];
        g.phase += g.step;
      }
    }
    out = out > SAMPLE_LIMIT ? SAMPLE_LIMIT : out < -SAMPLE_LIMIT ? -SAMPLE_LIMIT : out;
    s->history[w] = std::isnan(out) ? 0 : out;
    s->phase += step;
    if (s->phase >= PHASE_ONE) {
      fire(s, from + (rpm - from) * k / n, load);
      step = round_step(s->firing_frequency / ENGINE_SOUND_RATE * PHASE_ONE);
    }
    w = (w + 1) & RING_MASK;
  }
  s->write_index = w;
  s->previous_rpm = rpm;
}

void engine_sound_update_source(EngineSound* s, const EngineSoundSource& source, float volume,
                                const SoundListener& listener) {
  int n = (audio_voice_position(s->voice) + SOUND_RING + ENGINE_SOUND_LEAD - s->write_index) & RING_MASK;
  if (n > 0) {
    if (n > ENGINE_SOUND_MAX_BATCH) n = ENGINE_SOUND_MAX_BATCH;
    engine_sound_synthesize(s, n, source.rpm, source.torque);
    const int start = (s->write_index - n) & RING_MASK;
    for (int k = 0; k < n; k++) voice_bytes[k] = sample_byte(s->history[(start + k) & RING_MASK]);
    audio_voice_write(s->voice, n, voice_bytes, start);
  }

  VoiceSettings settings = engine_sound_listen(source, volume, listener);
  audio_voice_set_rate(s->voice, settings.rate);
  audio_voice_set_volume(s->voice, settings.volume);
  audio_voice_set_pan(s->voice, settings.pan);
}

VoiceSettings engine_sound_listen(const EngineSoundSource& source, float volume, const SoundListener& listener) {
  double d[3], distance2 = 0;
  for (int i = 0; i < 3; i++) {
    d[i] = double(listener.position[i]) - source.position[i];
    distance2 += d[i] * d[i];
  }
  double factor = 1, distance = 0, pan = 0;
  if (distance2 >= 1.0 / 1024) {
    distance = std::sqrt(distance2);
    double a = 1, b = 1;
    for (int i = 0; i < 3; i++) {
      double unit = d[i] / distance;
      a -= listener.velocity[i] * unit / SPEED_OF_SOUND;
      b -= source.velocity[i] * unit / SPEED_OF_SOUND;
      pan -= unit * listener.right[i] * 32767;
    }
    factor = a <= 8 * b ? a / b : 0.125;
  }
  VoiceSettings out;
  double rate = factor * ENGINE_SOUND_RATE;
  out.rate = static_cast<int>(std::isfinite(rate) ? std::fmin(std::fmax(rate, 100), 1000000) : ENGINE_SOUND_RATE);
  const double attenuation = std::fmax(1, 1 + (distance - 1) / 48);
  double level = double(volume) * 32767 / attenuation;
  out.volume = static_cast<int>(std::isfinite(level) ? std::fmin(std::fmax(level, 0), 32767) : 0);
  out.pan = std::isfinite(pan) ? static_cast<int>(std::fmin(std::fmax(pan, -32768), 32767)) : 0;
  return out;
}

void engine_sound_update(EngineSound* s, const Bike* bike, float volume, const SoundListener& listener) {
  EngineSoundSource source;
  source.rpm = engine_rpm(bike);
  source.torque = engine_torque(bike);
  const dReal* p = dBodyGetPosition(bike->bodies[BODY_FRAME]);
  const dReal* v = dBodyGetLinearVel(bike->bodies[BODY_FRAME]);
  for (int i = 0; i < 3; i++) {
    source.position[i] = static_cast<float>(p[i]);
    source.velocity[i] = static_cast<float>(v[i]);
  }
  engine_sound_update_source(s, source, volume, listener);
}

void engine_sound_free(EngineSound* s) {
  audio_voice_free(s->voice);
  s->voice = nullptr;
}
