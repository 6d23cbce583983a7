// The game's sound from the main loop: every bike of the session gets its engine sound, updated
// once per frame with the loudness the view and the settings give it; and "--record-audio"
// writes what is mixed, one step at a time. The session step itself never touches audio.
#pragma once

#include <cstdio>

#include "sound/engine_sound.h"

constexpr int RECORD_AUDIO_RATE = 88320;         // samples per second of simulated time
constexpr int RECORD_AUDIO_STEP_SAMPLES = 690;   // per SIM_STEP

// Opens the file and the readback output at RECORD_AUDIO_RATE, a step per fragment. False when
// either fails (the game then runs silent).
bool game_sound_record_open(const char* path);
// After each step while recording: mixes the step and appends its 1380 bytes (left and right
// unsigned 8-bit per sample).
void game_sound_record_step();

// The loudness of the frame (0 .. 1) before the per-slot rules: the view, menus, pause and the
// "volume" setting.
double game_sound_frame_volume();
// Once per frame while an output is open: gives new bikes their sound, frees those whose bike
// left, and updates each from the listener (the viewed bike, where the rider camera sits).
void game_sound_update();
// Frees every slot's sound.
void game_sound_free_all();
// Shutdown: frees the sounds, closes the output and the recording, frees the sound tables.
void game_sound_close();
