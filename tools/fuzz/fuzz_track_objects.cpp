// Arbitrary bytes as each of a track's object files (billboards, statues, flaggers, decals),
// then the buckets and the flaggers' update over what was read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/vfs.h"
#include "track/objects.h"

namespace {

const std::string& home_dir() {
  static std::string dir;
  if (dir.empty()) {
    char pattern[] = "/tmp/sk_fuzz_objectsXXXXXX";
    dir = mkdtemp(pattern) ? pattern : "/tmp";
    const char* dirs[] = {dir.c_str()};
    vfs_set_search_dirs(dirs, 1);
  }
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = home_dir();
  static const char* const NAMES[] = {"billboards", "statues", "flaggers", "decals"};
  for (const char* name : NAMES) {
    FILE* out = fopen((dir + "/" + name).c_str(), "wb");
    if (!out) return 0;
    fwrite(data, 1, size, out);
    fclose(out);
  }
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
