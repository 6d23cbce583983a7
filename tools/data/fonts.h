// The generator's fonts: the main text font and the two digit fonts for number plates, drawn
// from our own stroke designs into the marker-cell layout the font loader reads.
#pragma once

#include "tools/data/dataset.h"

// Adds "font.png", "numbers.png" and "numbers-condensed.png".
void fonts_add_assets(DataSet* set);
