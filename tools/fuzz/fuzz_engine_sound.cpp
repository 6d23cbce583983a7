// Arbitrary bytes as a ".braap" engine sound file (then a short synthesis with the model it gives)
// and as a sound table file.
#include "files/vfs.h"
#include "sound/engine_sound.h"
#include "sound/sound_table.h"
#include "tools/fuzz/fuzz_track_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static EngineSound sound;
  if (VfsFile* file = fuzz_open(data, size)) {
    engine_sound_init(&sound, nullptr, nullptr);
    engine_sound_read_braap(&sound.model, file);
    vfs_close(file);
    engine_sound_synthesize(&sound, 256, 7000, 1);
    engine_sound_free(&sound);
  }
  if (VfsFile* file = fuzz_open(data, size)) {
    sound_table_read(file, "fuzz");
    vfs_close(file);
  }
  sound_tables_free();
  return 0;
}
