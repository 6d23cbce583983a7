// The engine sounds of the default data set: a ".braap" file per engine class with its sound table.
#pragma once

struct DataSet;

void engine_sounds_add(DataSet* set);
