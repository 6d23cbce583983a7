// PNG reading: the input is either a whole file whose chunk CRCs the harness corrects, or
// (first byte odd) a 13-byte header followed by pixel rows that the harness compresses, so
// the fuzzer reaches the decoder's transforms instead of stopping at checksums.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/image.h"

namespace {

const uint8_t SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (24 - 8 * i)));
}

void add_chunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
  put_u32(out, uint32_t(size));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  put_u32(out, uint32_t(crc32(0, out.data() + start, uInt(size + 4))));
}

// Rewrites every complete chunk's CRC so the checksum never hides what follows it.
void fix_crcs(std::vector<uint8_t>& png) {
  size_t pos = 8;
  while (png.size() - pos >= 12) {
    uint32_t length = uint32_t(png[pos]) << 24 | png[pos + 1] << 16 | png[pos + 2] << 8 | png[pos + 3];
    if (length > png.size() - pos - 12) break;
    uint32_t crc = uint32_t(crc32(0, png.data() + pos + 4, length + 4));
    for (int i = 0; i < 4; i++) png[pos + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
    pos += 12 + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::vector<uint8_t> png(SIGNATURE, SIGNATURE + 8);
  if (data[0] & 1) {
    if (size < 14) return 0;
    add_chunk(png, "IHDR", data + 1, 13);
    std::vector<uint8_t> packed(compressBound(uLong(size - 14)));
    uLongf packed_size = packed.size();
    compress(packed.data(), &packed_size, data + 14, uLong(size - 14));
    add_chunk(png, "IDAT", packed.data(), packed_size);
    add_chunk(png, "IEND", nullptr, 0);
  } else {
    png.insert(png.end(), data + 1, data + size);
    fix_crcs(png);
  }
  Image image;
  std::string info;
  if (image_decode_png(png.data(), png.size(), image, &info)) {
    MipChain chain;
    mip_chain_from_image(std::move(image), info.c_str(), "fuzz.png", chain);
  }
  GreyImage16 grey;
  image_decode_png_grey16(png.data(), png.size(), grey);
  return 0;
}
