// Arbitrary bytes as stored gzip (or scrambled gzip, or scrambled) data, loose or as an
// archive member followed by a neighbour: the readers must never crash or read past it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "files/vfs_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  int mode = data[0];
  // A member's stored size is the rest of the input less a few neighbour bytes; a loose
  // file has no bound.
  std::vector<uint8_t> stored(data + 1, data + size);
  int compressed = (mode & 3) != 2;
  int scrambled = (mode & 3) >= 2;
  // Sound headers up front let the fuzzer spend its time inside the streams.
  if (mode & 8) {
    static const uint8_t GZIP_HEADER[10] = {31, 139, 8, 0, 0, 0, 0, 0, 0, 3};
    stored.insert(stored.begin(), GZIP_HEADER, GZIP_HEADER + 10);
  }
  if (mode & 16) {
    uint8_t header[SCRAM_HEADER_SIZE] = {'S', 'K', 'S', 'C', 'R', 'A', 'M', '1'};
    header[8] = uint8_t(stored.size());
    header[9] = uint8_t(stored.size() >> 8);
    stored.insert(stored.begin(), header, header + SCRAM_HEADER_SIZE);
  }
  int32_t length = VFS_LENGTH_MAX;
  if (mode & 4) {
    length = int32_t(stored.size());
    stored.insert(stored.end(), {'N', 'E', 'X', 'T'});
  }
  FILE* stream = fmemopen(stored.data(), stored.size(), "rb");
  if (!stream) return 0;
  VfsFile* file = vfs_open_stream(stream, 0, length, compressed, scrambled);
  if (!file) return 0;
  char buffer[700];
  int64_t total = 0;
  // Alternate the kinds of read so each path runs over the inflater and descrambler.
  for (int round = 0; total < (int64_t(1) << 24); round++) {
    int got;
    if (round % 3 == 0) {
      got = vfs_getc(file) >= 0;
    } else if (round % 3 == 1) {
      got = vfs_gets(file, buffer, 1 + round % int(sizeof buffer)) ? 1 : 0;
    } else {
      got = vfs_read(file, buffer, 1 + round % int(sizeof buffer));
    }
    if (got <= 0) break;
    total += got;
  }
  // Plain scrambled data never yields more than the stored bytes hold.
  if (!compressed && total > int64_t(stored.size())) abort();
  vfs_close(file);
  return 0;
}
