// Writes the C++ source that tells the game the accepted digest of its standard shape files,
// taken from a generated data set, so the fixed-file check follows the data the build ships.
//   skorvan-fixed-digest DATA_DIR SOURCE_FILE
// The source is rewritten only when its text changes.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "files/fixed_files.h"
#include "files/vfs.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: skorvan-fixed-digest DATA_DIR SOURCE_FILE\n");
    return 1;
  }
  const char* dirs[] = {argv[1]};
  vfs_set_search_dirs(dirs, 1);
  for (const char* name : FIXED_FILES) {
    VfsFile* file = vfs_open(name, "rb");
    if (!file) {
      fprintf(stderr, "skorvan-fixed-digest: '%s' is not in '%s'\n", name, argv[1]);
      return 1;
    }
    vfs_close(file);
  }
  uint8_t digest[DIGEST_SIZE];
  fixed_files_digest(digest);
  char hex[2 * DIGEST_SIZE + 1];
  digest_to_hex(digest, hex);
  const std::string text =
      "// Written by skorvan-fixed-digest: the digest of the standard shape files of the data set\n"
      "// built with this program.\n"
      "#include \"tools/data/game_data.h\"\n\n"
      "const char* fixed_files_accepted_digest() { return \"" + std::string(hex) + "\"; }\n";
  std::ifstream old(argv[2], std::ios::binary);
  std::stringstream existing;
  existing << old.rdbuf();
  if (old && existing.str() == text) return 0;
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    fprintf(stderr, "skorvan-fixed-digest: can't write '%s'\n", argv[2]);
    return 1;
  }
  vfs_shutdown();
  return 0;
}
