// Arbitrary bytes as a bike setup file: read into the setup, written back out and applied to
// a bike at rest.
#include <string>

#include "core/settings.h"
#include "physics/bike.h"
#include "physics/setup.h"
#include "physics/world.h"
#include "tools/fuzz/fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Bike* bike = [] {
    physics_world_create();
    return bike_create("450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  }();
  if (!fuzz_write_input("setups/fuzz", data, size)) return 0;
  settings_reset();
  setup_file_read("fuzz");
  std::string text;
  setup_format(&text);
  setup_apply(bike);
  return 0;
}
