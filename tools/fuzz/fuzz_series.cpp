// Arbitrary bytes as a ".series" file, and the same bytes as standings for a series with
// riders and events; the table of what was read is built as the series page would.
#include <cstdint>
#include <cstring>
#include <string>

#include "race/series.h"

namespace {

int find_track(const char* dir) { return strcmp(dir, "rabbithill") == 0 ? 0 : -1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  Series series;
  std::string error;
  if (series_parse(text, size, find_track, &series, &error)) {
    series_read_standings(&series, text, size);
    series_standings_table(series);
    series_heading(series);
  }
  static const std::string FIELD = [] {
    std::string t = "Field 12 Novice 20 21 22 23 24 25 26 27 28 29 30 31 3";
    for (int k = 0; k < 3; k++) {
      t += " e rabbithill 1 2";
      for (int i = 0; i < 80; i++) t += k == 1 || i >= 40 ? " 0" : " 5";
    }
    return t;
  }();
  Series field;
  if (series_parse(FIELD.data(), FIELD.size(), find_track, &field, &error)) {
    series_read_standings(&field, text, size);
    series_standings_table(field);
    int lineup[160];
    series_next_lineup(field, lineup);
  }
  return 0;
}
