// The points series the default data set ships.
#pragma once

#include "tools/data/dataset.h"

// Adds "rabbithill_cup.series": twenty robots over two rounds of two motos on "rabbithill".
void series_add_files(DataSet* set);
