// Arbitrary VANT_OPTIONS text against the option readers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/vant.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  // Cut at the first zero byte, as the environment would.
  vant_option_set_text(text.c_str());
  static const char* const NAMES[] = {"threaded", "sound-rate", "sound-channels", "dsnd", "x", ""};
  for (const char* name : NAMES) {
    vant_option_bool(name, 1);
    vant_option_int(name, 7);
  }
  return 0;
}
