// Arbitrary bytes against the ".seq" animation reader (frames named by file find nothing).
#include <cstddef>
#include <cstdint>
#include <string>

#include "render/texture_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TextureSeq seq;
  std::string error;
  auto no_files = [](const char*, MipChain&) { return false; };
  if (texture_seq_parse(data, size, seq, &error, no_files)) {
    // Every frame of the sequence names an image that is there.
    for (int index : seq.sequence)
      if (index < 0 || index >= int(seq.images.size())) __builtin_trap();
  }
  return 0;
}
