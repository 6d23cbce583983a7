// Arbitrary bytes as a .saf archive: the header reader must accept or reject, never misread.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "files/saf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!stream) return 0;
  std::vector<SafMember> members;
  if (saf_read_header(stream, int64_t(size), &members)) {
    // Every accepted member lies inside the archive, after the header.
    for (const SafMember& member : members) {
      if (member.size < 0 || member.offset < 2 || member.offset + member.size > int64_t(size)) abort();
    }
  } else if (!members.empty()) {
    abort();
  }
  fclose(stream);
  return 0;
}
