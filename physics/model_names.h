// Old short model names that older settings, demos and the robot roster use for the 2008 rows of
// the bike table.
#pragma once

#include <cstring>

// The table key a model name stands for: the "(2008)" row for the four short names, else the
// name itself.
inline const char* bike_model_alias(const char* name) {
  static const char* const ALIASES[][2] = {
      {"crf250", "crf250(2008)"},
      {"kx250f", "kx250f(2008)"},
      {"rmz250", "rmz250(2008)"},
      {"yz250f", "yz250f(2008)"},
  };
  if (!name) return name;
  for (const auto& alias : ALIASES) {
    if (std::strcmp(name, alias[0]) == 0) return alias[1];
  }
  return name;
}
