// The modes of skorvan-bench: each builds its own fixture, measures, and prints figures.
#pragma once

// Index over 10,000 small loose files and a few archives; optional argument: scratch folder.
int bench_vfs_index(int argc, char** argv);
// Ground sampling and a full shading refresh on a track; optional argument: the track's
// directory name in the game data (default the default track).
int bench_terrain(int argc, char** argv);
// N = 1, 10, 40 and 160 bikes resting on flat ground: microseconds per bike-step with
// contacts and post-step, against bare world steps of the same bodies and joints.
int bench_resting(int argc, char** argv);
// Full-throttle runs from rest per engine class (0-30, 0-60 mph, top speed), part-throttle
// starts, and braking from 40 mph on a flat field.
int bench_ride(int argc, char** argv);
// Ground erosion: 20 scripted laps over one line (ruts, heaps, base heights, restore) and the
// per-step cost with 40 bikes; optional argument: the erosion rate (default 10).
int bench_erode(int argc, char** argv);
// A bike ridden with random controls over rolling ground with steps: NaN, bodies under the
// ground, runaway speeds, crashes and recoveries. Optional arguments: minutes (10), seed (1).
int bench_random_ride(int argc, char** argv);
// Races of N = 1, 10, 40 and 160 robots (or the counts given) from the start gate of the
// default track: steps per second, real-time factor, stage shares, and the cost per bike against
// bare world steps of the same bodies, joints and contacts. Options: --seconds S, --profile FILE
// (stage times per simulated second), --record (each race recorded as a demo). The build keeps
// its symbols, so `perf record -g skorvan-bench race 40` profiles it.
int bench_race(int argc, char** argv);
// Engine sounds of N = 1, 10 and 40 bikes (or the counts given) synthesised and mixed through the
// readback output once per 1/64 s: CPU microseconds per mixed second, in all and per bike.
int bench_sound(int argc, char** argv);
