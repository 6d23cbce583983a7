// The default points series: a cup on the default track for the robots with race numbers 20
// to 39 (the roster's first twenty) and the player.
#include "tools/data/series_files.h"

#include <string>

namespace {

// Points for places 1..20; places 21..40 score nothing.
const int PLACE_POINTS[20] = {25, 22, 20, 18, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};

void points_row(std::string* text, bool scores) {
  for (int i = 0; i < 40; i++) text_printf(text, "%d ", scores && i < 20 ? PLACE_POINTS[i] : 0);
  *text += "\n";
}

}  // namespace

void series_add_files(DataSet* set) {
  std::string text = "\"Rabbit Hill Cup\"\n20 Amateur\n";
  for (int number = 20; number < 40; number++) text_printf(&text, "%d ", number);
  text += "\n4\n";
  for (int round = 1; round <= 2; round++) {
    for (int moto = 1; moto <= 2; moto++) {
      text_printf(&text, "\"Round %d Moto %d\" rabbithill 0 3\n", round, moto);
      points_row(&text, true);
      // The first moto of a round ends no round; its points carry into the second.
      points_row(&text, moto == 2);
    }
  }
  dataset_add_text(set, "rabbithill_cup.series", text);
}
