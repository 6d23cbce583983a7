// Engine sounds kept in step with the session's slots, their loudness by view and settings, and
// the audio recording.
#include "core/game_sound.h"

#include <ode/ode.h>

#include "core/game.h"
#include "core/session.h"
#include "core/settings.h"
#include "files/memory.h"
#include "physics/bike.h"
#include "platform/audio.h"
#include "platform/vant.h"

namespace {

// A slot's sound and the bike it was made for: a new bike in the slot gets a new sound.
struct SlotSound {
  EngineSound* sound;
  const Bike* bike;
};
SlotSound slot_sounds[SLOT_COUNT];

FILE* record_file = nullptr;

void free_slot(SlotSound& s) {
  if (!s.sound) return;
  engine_sound_free(s.sound);
  mem_free(s.sound);
  s = SlotSound{};
}

// Until the cameras hand over their own, the listener rides with the viewed bike, where the
// rider camera sits; with no bike in view it stands still at the origin.
SoundListener listener_from_view() {
  SoundListener listener{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
  const Bike* bike = game.slot_bike[game.viewed_slot];
  if (!bike) return listener;
  const dBodyID frame = bike->bodies[BODY_FRAME];
  const dReal* p = dBodyGetPosition(frame);
  const dReal* v = dBodyGetLinearVel(frame);
  const dReal* r = dBodyGetRotation(frame);
  for (int i = 0; i < 3; i++) {
    listener.position[i] = static_cast<float>(p[i]);
    listener.velocity[i] = static_cast<float>(v[i]);
    listener.right[i] = static_cast<float>(r[4 * i]);  // the frame's +x axis in the world
  }
  return listener;
}

}  // namespace

bool game_sound_record_open(const char* path) {
  record_file = fopen(path, "wb");
  if (!record_file) {
    vant_log("Can't open '%s' to record audio\n", path);
    return false;
  }
  if (!audio_open_readback(nullptr, RECORD_AUDIO_RATE, RECORD_AUDIO_STEP_SAMPLES)) {
    fclose(record_file);
    record_file = nullptr;
    return false;
  }
  return true;
}

void game_sound_record_step() {
  if (!record_file) return;
  const uint8_t* fragment = audio_mix_fragment();
  if (!fragment) return;
  const size_t bytes = 2 * RECORD_AUDIO_STEP_SAMPLES;
  if (fwrite(fragment, 1, bytes, record_file) != bytes) {
    // A full disk ends the recording rather than leaving a file with a hole in it.
    vant_log("Error writing the audio recording; recording stopped\n");
    fclose(record_file);
    record_file = nullptr;
  }
}

double game_sound_frame_volume() {
  double factor = 1;
  if (game.paused || game.view_mode == VIEW_EDITOR) factor = 0;
  else if (game.menu_page != MENU_NONE) factor = game_riding() ? 0 : 0.25;
  return factor * settings.volume.value * 0.1;
}

void game_sound_update() {
  if (!audio_is_open()) return;
  const double frame_volume = game_sound_frame_volume();
  const SoundListener listener = listener_from_view();
  for (int slot = 0; slot < SLOT_COUNT; slot++) {
    SlotSound& s = slot_sounds[slot];
    const Bike* bike = game.slot_bike[slot];
    if (s.bike != bike) free_slot(s);
    if (!bike) continue;
    if (!s.sound) {
      s.sound = static_cast<EngineSound*>(mem_alloc_or_die(sizeof(EngineSound)));
      engine_sound_init(s.sound, bike, nullptr);
      s.bike = bike;
    }
    double volume = slot == game.viewed_slot ? frame_volume : frame_volume * settings.comp_volume.value * 0.1;
    if (session_slot_hidden(slot)) volume = 0;
    engine_sound_update(s.sound, bike, static_cast<float>(volume), listener);
  }
  audio_commit();
}

void game_sound_free_all() {
  for (SlotSound& s : slot_sounds) free_slot(s);
}

void game_sound_close() {
  game_sound_free_all();
  if (audio_is_open()) audio_close();
  if (record_file) fclose(record_file);
  record_file = nullptr;
  sound_tables_free();
}
