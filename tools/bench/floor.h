// The floor of a race: at sample steps, the world's own bodies, joints and contacts of that very
// step stepped again by bare world steps, in a forked copy of the process so the race never
// sees them.
#pragma once

struct FloorSamples {
  int every;    // world steps between samples
  int repeats;  // timed bare steps per sample
  int steps;    // world steps seen since sampling started
  int samples;  // samples taken
  int failed;   // samples whose copy could not be made or reported nothing
  double step_seconds;   // CPU seconds of one bare step, summed over the samples
  double apart_step_seconds;  // the same with no contact between two bikes, summed
  int solver_messages;   // the physics library's messages in the copies
};

// Starts sampling every `every` world steps, half-way through each period, with `repeats`
// timed bare steps per sample; figures go to *samples until floor_sampling_stop.
void floor_sampling_start(FloorSamples* samples, int every, int repeats);
void floor_sampling_stop();

// Mean CPU seconds of one bare step over the samples taken; 0 when none.
double floor_step_seconds(const FloorSamples& samples);

// The same with the contacts between bikes left out: the floor of a field that never touches.
double floor_apart_step_seconds(const FloorSamples& samples);
