// Engine sounds of N bikes mixed through the readback output as the game does it: once per
// 1/64 s frame every sound is synthesised up to its lead and written into its voice, then one
// fragment is mixed. Prints CPU microseconds per mixed second for synthesis and mixing.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "files/vfs.h"
#include "platform/audio.h"
#include "platform/vant.h"
#include "sound/engine_sound.h"
#include "tools/bench/bench.h"
#include "tools/bench/cpu_clock.h"

namespace {

constexpr int SECONDS = 10;
constexpr int WARM_UP_FRAMES = 64;  // until every voice plays what was written

struct Figures {
  double synth_us, mix_us;  // per mixed second
};

Figures measure(int bikes, int rate, int channels) {
  char options[64];
  snprintf(options, sizeof options, "[sound-channels:%d]", channels);
  vant_option_set_text(options);
  const int samples = rate / AUDIO_FRAGMENTS_PER_SECOND;
  if (!audio_open_readback(nullptr, rate, samples)) return Figures{0, 0};
  std::vector<std::unique_ptr<EngineSound>> sounds;
  std::vector<EngineSoundSource> sources;
  static const char* const CLASSES[] = {"450f", "250f", "250", "125", "50"};
  for (int i = 0; i < bikes; i++) {
    auto s = std::make_unique<EngineSound>();
    engine_sound_init(s.get(), nullptr, nullptr);
    engine_sound_load_model(&s->model, CLASSES[i % 5], nullptr);
    for (GrainPlayer& g : s->grains) g.cell = s->model.table->cells;
    sounds.push_back(std::move(s));
    // Spread round the listener, riding past at different speeds and engine speeds.
    const float x = float(i % 8) * 20 - 70, z = float(i / 8) * 25 - 40;
    sources.push_back(EngineSoundSource{3000.0f + 250.0f * float(i % 37), 2.0f, {x, 0, z}, {0, 0, -40.0f - float(i % 5) * 5}});
  }
  const SoundListener listener{{0, 4, 0}, {0, 0, -40}, {1, 0, 0}};
  double synth = 0, mix = 0;
  for (int frame = 0; frame < WARM_UP_FRAMES + SECONDS * AUDIO_FRAGMENTS_PER_SECOND; frame++) {
    const double t0 = bench_cpu_seconds();
    for (int i = 0; i < bikes; i++) {
      EngineSoundSource& s = sources[i];
      s.rpm = 3000.0f + float((frame * 37 + i * 101) % 8000);  // the throttle keeps moving
      engine_sound_update_source(sounds[i].get(), s, 1.0f, listener);
    }
    const double t1 = bench_cpu_seconds();
    audio_mix_fragment();
    const double t2 = bench_cpu_seconds();
    if (frame >= WARM_UP_FRAMES) {
      synth += t1 - t0;
      mix += t2 - t1;
    }
  }
  for (auto& s : sounds) engine_sound_free(s.get());
  audio_close();
  vant_option_set_text("");
  return Figures{synth * 1e6 / SECONDS, mix * 1e6 / SECONDS};
}

}  // namespace

int bench_sound(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 0; i < argc; i++) counts.push_back(atoi(argv[i]));
  if (counts.empty()) counts = {1, 10, 40};
  vfs_file_list();  // the generated engine sounds come from the data set when it is there
  printf("engine sound: CPU microseconds per mixed second (64 updates and fragments), %d s each\n", SECONDS);
  printf("%-8s %-16s %12s %12s %12s %14s\n", "bikes", "output", "synth_us", "mix_us", "total_us", "us_per_bike");
  struct Output {
    const char* label;
    int rate, channels;
  } outputs[] = {{"22050 Hz, 16", 22050, 16}, {"22050 Hz, all", 22050, 1000}};
  for (int bikes : counts) {
    for (const Output& o : outputs) {
      Figures f = measure(bikes, o.rate, o.channels);
      const double total = f.synth_us + f.mix_us;
      printf("%-8d %-16s %12.0f %12.0f %12.0f %14.1f\n", bikes, o.label, f.synth_us, f.mix_us, total,
             bikes ? total / bikes : 0);
    }
  }
  return 0;
}
