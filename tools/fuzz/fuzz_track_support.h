// Shared by the track file fuzzers: the input is written to a scratch file and opened through
// the file system, as the game opens a track's files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

inline const char* fuzz_scratch_file(const uint8_t* data, size_t size) {
  static std::string path = [] {
    std::string p = "/tmp/sk_fuzz_track_" + std::to_string(getpid());
    atexit([] { unlink(("/tmp/sk_fuzz_track_" + std::to_string(getpid())).c_str()); });
    return p;
  }();
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return nullptr;
  fwrite(data, 1, size, f);
  fclose(f);
  return path.c_str();
}
