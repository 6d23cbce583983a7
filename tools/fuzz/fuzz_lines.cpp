// Arbitrary bytes as a track's lines file, read into the line table of a small course, then
// planned: no input may crash the reader or leave lines the planner cannot use.
#include <cstddef>
#include <cstdint>

#include "files/vfs.h"
#include "race/timing.h"
#include "robots/lines.h"
#include "tools/fuzz/fuzz_input_file.h"

namespace {

// Six checkpoints; a first lap of three counted entries and one timed only, and a lap of three.
void course_setup() {
  timing_clear();
  timing.checkpoint_count = 6;
  for (int i = 0; i < 6; ++i) timing.checkpoints[i] = Checkpoint{10.0f, 100.0f * i, 0, 0, 1, 0, 0};
  const int32_t laps[] = {0, 1, LAP_ENTRY_UNCOUNTED + 2, 3, 4, 5, 0};
  for (int i = 0; i < 7; ++i) timing.lap_list[i] = laps[i];
  timing.first_count = 4;
  timing.normal_count = 3;
  timing_normalise();
  lines_table_create();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (course_setup(), true);
  (void)ready;
  if (!fuzz_write_input("lines", data, size)) return 0;
  VfsFile* file = vfs_open("@lines", "rb");
  if (!file) return 0;
  lines_read(file);
  vfs_close(file);
  lines_analyze();
  LineCosts costs;
  for (int type = 0; type <= LINE_TYPE_EXPLORE; ++type) lines_connectivity_cost(type, 8, type, costs);
  for (int32_t row = 0; row < lines_row_count(); ++row) {
    for (int i = 0; i < LINE_SLOTS; ++i) lines_score(lines_slot(row, i));
  }
  return 0;
}
