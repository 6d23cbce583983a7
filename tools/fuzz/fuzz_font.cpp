// The font loader over arbitrary RGBA images: a byte each for width and height, then pixels.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "render/font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  int width = data[0] % 64 + 1, height = data[1] % 64 + 1;
  data += 2;
  size -= 2;
  MipChain chain;
  if (!mip_chain_alloc(chain, width, height, 4)) return 0;
  std::memcpy(chain.pixels.data(), data, std::min(size, static_cast<size_t>(width) * height * 4));
  static Font font;
  font_from_image(font, std::move(chain), "!\"#0123456789-abcdefghijklmnopqrstuvwxyz");
  float w = font_text_width(font, reinterpret_cast<const char*>("a\tb\x1b[1;31mc\nd"));
  return w < 0;
}
