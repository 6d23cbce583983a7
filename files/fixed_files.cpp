// The digest of the standard shape files and its comparison with the accepted values.
#include "files/fixed_files.h"

#include "files/vfs.h"

const char* const FIXED_FILES[FIXED_FILE_COUNT] = {
    "@generic_frame.shp",    "@generic_fork_upper.shp", "@generic_fork_lower.shp", "@generic_swingarm.shp",
    "@front_wheel.shp",      "@rear_wheel.shp",         "@generic_rider.shp",
};

void fixed_files_digest(uint8_t out[DIGEST_SIZE]) {
  Digest digest;
  digest_init(&digest);
  for (const char* name : FIXED_FILES) {
    VfsFile* file = vfs_open(name, "rb");
    if (!file) continue;
    uint8_t block[1024];
    int n;
    while ((n = vfs_read(file, block, sizeof block)) > 0) digest_update(&digest, block, size_t(n));
    vfs_close(file);
  }
  const uint8_t* result = digest_final(&digest);
  for (int i = 0; i < DIGEST_SIZE; i++) out[i] = result[i];
}

bool fixed_files_check(const char* const* accepted_hex, int count) {
  uint8_t digest[DIGEST_SIZE];
  fixed_files_digest(digest);
  for (int i = 0; i < count && i < FIXED_FILES_ACCEPTED_MAX; i++) {
    if (accepted_hex[i] && digest_equals_hex(accepted_hex[i], digest)) return true;
  }
  return false;
}
