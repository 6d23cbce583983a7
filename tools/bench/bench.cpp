// skorvan-bench MODE [args]: speed figures of the parts that must stay fast.
#include <cstdio>
#include <cstring>

#include "tools/bench/bench.h"

namespace {

const struct Mode {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* about;
} MODES[] = {
    {"vfs-index", bench_vfs_index, "file index over 10,000 loose files and 4 archives [scratch dir]"},
    {"resting", bench_resting, "1, 10, 40 and 160 bikes resting on flat ground against bare world steps"},
    {"ride", bench_ride, "full throttle per class and braking from 40 mph on a flat field"},
    {"erode", bench_erode, "20 scripted laps of ruts and heaps, and erosion cost with 40 bikes [rate, default 10]"},
    {"random-ride", bench_random_ride, "a bike ridden with random controls over steps [minutes, default 10] [seed]"},
    {"race", bench_race, "races of 1, 10, 40 and 160 robots against bare world steps [--seconds S] [--profile FILE] [--record] [BIKES...]"},
    {"terrain", bench_terrain, "ground sampling and a full shading refresh [track dir, default rabbithill]"},
    {"sound", bench_sound, "engine sounds of 1, 10 and 40 bikes synthesised and mixed, per mixed second [BIKES...]"},
};

}  // namespace

int main(int argc, char** argv) {
  for (const Mode& mode : MODES) {
    if (argc >= 2 && strcmp(argv[1], mode.name) == 0) return mode.run(argc - 2, argv + 2);
  }
  fprintf(stderr, "usage: skorvan-bench MODE [args]\n");
  for (const Mode& mode : MODES) fprintf(stderr, "  %-12s %s\n", mode.name, mode.about);
  return 1;
}
