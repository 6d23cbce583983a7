// Models the generator builds: a parametric motocross bike per model base of the bike table,
// the shared wheels, the rider's helmet, skinned body, first-person body and back plate, the
// start gate piece, with the texture atlases their texture coordinates point into.
#pragma once

#include "tools/data/dataset.h"

void models_add_assets(DataSet* set);
