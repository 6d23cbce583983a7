// The engine sounds of the default data set: one ".braap" file per engine class with its sound
// table of recorded-like firing cycles (raw 16-bit samples), all computed, so the set is the same
// on every build.
#include "tools/data/engine_sounds.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/data/dataset.h"

namespace {

constexpr int CYCLE_SAMPLES = 1024;  // samples per engine cycle
constexpr int PERIODS = 2;           // cycles per cell, slightly different, played in turn
constexpr int ROWS = 4;

struct EngineClass {
  const char* name;
  const char* pipe;         // the pipe line: length, spread, gain, first and last tap
  float firings_per_rev;    // as the class's template
  float min_rpm, low_torque, high_torque;
  float rows_rpm[ROWS];
  float formant_hz;         // ring of the exhaust pulse
  float decay_s;            // how fast each pulse dies away
  float sharpness;          // 0 soft .. 1 buzzing (two-strokes)
};

const EngineClass CLASSES[] = {
    {"450f", "5.0 0.918207 -0.85 0 15", 0.5f, 1300, -2.5f, 2.5f, {1300, 4000, 7500, 11000}, 170, 0.006f, 0.2f},
    {"250f", "4.2 0.8 -0.8 0 15", 0.5f, 1600, -2.5f, 2.5f, {1600, 5000, 9500, 14000}, 240, 0.005f, 0.3f},
    {"250", "1.75 0.3 -0.75 0 15", 1.0f, 1400, -3.5f, 3.5f, {1400, 4000, 7000, 9500}, 320, 0.003f, 0.7f},
    {"125", "1.5 0.3 -0.75 0 15", 1.0f, 1800, -3.5f, 3.5f, {1800, 5000, 9000, 12500}, 420, 0.0025f, 0.8f},
    {"50", "1.2 0.3 -0.7 0 15", 1.0f, 2000, -3.5f, 1.5f, {2000, 6000, 10000, 14000}, 560, 0.002f, 0.9f},
};

// Small deterministic noise for the rough edge of combustion.
struct Noise {
  uint32_t state;
  float next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>((state >> 8) & 0xFFFF) / 32768.0f - 1.0f;
  }
};

// PERIODS cycles of one firing each at the row's speed and the column's load.
std::vector<uint8_t> cell_samples(const EngineClass& c, float rpm, float load, uint32_t seed) {
  const double firing_hz = rpm * c.firings_per_rev / 60;
  const double cycle_s = 1 / firing_hz;
  Noise noise{seed};
  std::vector<double> wave(CYCLE_SAMPLES * PERIODS);
  for (int p = 0; p < PERIODS; p++) {
    // The second cycle fires a little weaker and later, as real engines never repeat exactly.
    const double strength = (0.35 + 0.65 * load) * (p == 0 ? 1.0 : 0.9);
    const double delay = p == 0 ? 0 : 0.03;
    for (int n = 0; n < CYCLE_SAMPLES; n++) {
      const double x = double(n) / CYCLE_SAMPLES;
      const double t = (x - delay) * cycle_s;
      double v = 0;
      if (t >= 0) {
        const double envelope = std::exp(-t / c.decay_s);
        const double ring = std::sin(2 * M_PI * c.formant_hz * t);
        const double buzz = ring >= 0 ? 1 : -1;
        v = envelope * ((1 - c.sharpness) * ring + c.sharpness * buzz * 0.6);
      }
      // Intake and mechanical noise, louder under load.
      v += (0.03 + 0.05 * load) * noise.next();
      // The slow swell of the pipe's pressure across the cycle.
      v += 0.15 * load * std::sin(2 * M_PI * x);
      wave[p * CYCLE_SAMPLES + n] = strength * v;
    }
  }
  double peak = 1e-9;
  for (double v : wave) peak = std::fmax(peak, std::fabs(v));
  const double gain = 0.8 * (0.4 + 0.6 * load) / peak;
  std::vector<uint8_t> bytes;
  bytes.reserve(wave.size() * 2);
  for (double v : wave) {
    const int16_t s = static_cast<int16_t>(std::lround(v * gain * 32767));
    bytes.push_back(static_cast<uint8_t>(s & 0xFF));
    bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  }
  return bytes;
}

}  // namespace

void engine_sounds_add(DataSet* set) {
  uint32_t seed = 1;
  for (const EngineClass& c : CLASSES) {
    const std::string base = std::string("sounds/") + c.name;
    std::string table;
    text_printf(&table, "SOUNDTABLE %d %d\n", ROWS, 2);
    for (float rpm : c.rows_rpm) text_printf(&table, "%f ", rpm);
    text_printf(&table, "\n%f %f\n", 0.0, 1.0);
    for (int r = 0; r < ROWS; r++) {
      for (int column = 0; column < 2; column++) {
        const std::string sample = base + "-" + std::to_string(r) + "-" + std::to_string(column) + ".raw";
        dataset_add(set, sample, cell_samples(c, c.rows_rpm[r], static_cast<float>(column), seed++));
        text_printf(&table, "-1 %f @%s\n", double(PERIODS), sample.c_str());
      }
    }
    dataset_add_text(set, base + ".table", table);

    std::string braap;
    text_printf(&braap, "# Engine sound of the %s class\n", c.name);
    text_printf(&braap, "pipe %s\n", c.pipe);
    text_printf(&braap, "minrpm %f\nlowtorque %f\nhightorque %f\n", c.min_rpm, c.low_torque, c.high_torque);
    // Firings a little uneven, as a real engine's are.
    text_printf(&braap, "bias 0 35 -20 10 -25\nscale 1 1.006 0.995\n");
    text_printf(&braap, "soundtable @%s.table\n", base.c_str());
    dataset_add_text(set, std::string("default") + c.name + ".braap", braap);
  }
}
