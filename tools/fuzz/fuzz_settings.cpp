// Arbitrary bytes as a settings file, read line by line like "@config".
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/settings.h"

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at;
};

// Hands out lines the way the file reader does: up to a newline, at most size - 1 bytes.
bool next_line(void* context, char* buffer, int size) {
  Bytes* b = static_cast<Bytes*>(context);
  if (b->at >= b->size) return false;
  int n = 0;
  while (n < size - 1 && b->at < b->size) {
    char c = static_cast<char>(b->data[b->at++]);
    buffer[n++] = c;
    if (c == '\n') break;
  }
  buffer[n] = 0;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  settings_reset();
  Bytes bytes{data, size, 0};
  settings_read_lines(next_line, &bytes);
  std::string text;
  settings_format(&text);
  return 0;
}
