// Arbitrary bytes against the PPM, PGM and "V6"/"V7" readers.
#include <cstddef>
#include <cstdint>

#include "render/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MipChain chain;
  Image image;
  ImageCursor in = image_cursor(data, size);
  image_decode_ppm(in, chain);
  in = image_cursor(data, size);
  image_decode_pgm(in, image);
  for (int channels : {3, 4}) {
    in = image_cursor(data, size);
    image_decode_own(in, channels, chain);
  }
  return 0;
}
