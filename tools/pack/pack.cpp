// skorvan-pack: packs a directory into a .saf archive, and writes or reads back .scram files.
#include <cstdio>
#include <cstring>
#include <string>

#include "files/saf.h"
#include "files/scramble.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: skorvan-pack DIR ARCHIVE.saf      pack every file below DIR\n"
          "       skorvan-pack --scram IN OUT       write IN in scrambled form\n"
          "       skorvan-pack --unscram IN OUT     read a scrambled file back\n");
  return 1;
}

bool read_whole(const char* path, std::string* out) {
  FILE* in = fopen(path, "rb");
  if (!in) return false;
  char chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) out->append(chunk, got);
  bool ok = !ferror(in);
  fclose(in);
  return ok;
}

int scramble_file(const char* in_path, const char* out_path) {
  std::string data;
  if (!read_whole(in_path, &data)) {
    fprintf(stderr, "skorvan-pack: cannot read %s\n", in_path);
    return 1;
  }
  FILE* out = fopen(out_path, "wb");
  bool ok = out && scram_write(out, data.data(), data.size());
  if (out && fclose(out) != 0) ok = false;
  if (!ok) {
    fprintf(stderr, "skorvan-pack: cannot write %s\n", out_path);
    return 1;
  }
  return 0;
}

int unscramble_file(const char* in_path, const char* out_path) {
  FILE* in = fopen(in_path, "rb");
  ScrambleStream* scramble = in ? scram_open(in, -1) : nullptr;
  if (!scramble) {
    fprintf(stderr, "skorvan-pack: %s is not a scrambled file\n", in_path);
    if (in) fclose(in);
    return 1;
  }
  FILE* out = fopen(out_path, "wb");
  bool ok = out != nullptr;
  char chunk[4096];
  int got;
  while (ok && (got = scram_read(scramble, chunk, sizeof chunk)) > 0)
    ok = fwrite(chunk, 1, size_t(got), out) == size_t(got);
  scram_close(scramble);
  fclose(in);
  if (out && fclose(out) != 0) ok = false;
  if (!ok) {
    fprintf(stderr, "skorvan-pack: cannot write %s\n", out_path);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return usage();
  if (argc == 4 && strcmp(argv[1], "--scram") == 0) return scramble_file(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "--unscram") == 0) return unscramble_file(argv[2], argv[3]);
  if (argc != 3 || argv[1][0] == '-') return usage();
  if (!saf_pack_directory(argv[1], argv[2])) {
    fprintf(stderr, "skorvan-pack: cannot pack %s into %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
