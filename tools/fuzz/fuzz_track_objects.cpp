// Arbitrary bytes as each of a track's object files (billboards, statues, flaggers, decals),
// then the buckets and the flaggers' update over what was read.
#include <cstddef>
#include <cstdint>

#include "tools/fuzz/fuzz_input_file.h"
#include "track/objects.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const NAMES[] = {"billboards", "statues", "flaggers", "decals"};
  for (const char* name : NAMES)
    if (!fuzz_write_input(name, data, size)) return 0;
  objects_reset(nullptr);
  // The files lie directly in the home directory: the track directory is "." there.
  flaggers_read(".", 10);
  billboards_read(".");
  statues_read(".");
  decals_read(".", true);
  statue_buckets_build(1024);
  decal_buckets_build(1024);
  bool down[FLAGGER_GATE_MAX] = {true, false, true};
  flaggers_update(FlaggerRace{13.5, 14.2, 2, 3, 1, down});
  return 0;
}
