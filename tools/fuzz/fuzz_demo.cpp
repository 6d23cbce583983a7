// Arbitrary bytes as a demo file: header, blocks or records, read ahead, rewound and skipped.
// The first byte picks raw bytes or a valid header of one version in front of the rest, so
// the block and record readers are reached at once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "replay/demo.h"
#include "replay/history.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const HEADERS[] = {
      "", "SK06 2 0 1 0\nt\nm\n1\na\n\nm\n2\nb\n\n", "SK05 2 0\nt\nm\n1\nm\n2\n", "SK04 3 0\nt\nm\n1\nm\n2\nm\n3\n"};
  std::string bytes = HEADERS[data[0] % 4];
  bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
  history_clear_all();
  if (!demo_play_open_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), data[0] & 4)) return 0;
  int32_t tick = 0;
  for (int i = 0; i < 64; ++i, tick += 16) demo_read_ahead(&tick);
  demo_skip_seek(&tick, -1.0);
  for (int i = 0; i < 16; ++i, tick += 16) demo_read_ahead(&tick);
  demo_skip_seek(&tick, 3.0);
  HistorySample sample;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) history_sample(slot, tick, &sample);
  demo_play_close();
  return 0;
}
