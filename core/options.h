// The option records shared by the settings file and the menus: a choice among labels
// and a number with its menu step and range.
#pragma once

struct ChoiceOption {
  const char* label;            // menu label, e.g. "Robot Skill"
  const char* const* choices;   // choice labels
  int count;                    // number of choices
  int index;                    // current choice
};

struct NumberOption {
  const char* label;  // menu label, e.g. "Field Of View"
  double value;
  double step;        // menu step
  double minimum;
  double maximum;
};

// The label of the current choice.
inline const char* choice_label(const ChoiceOption& option) {
  return option.index >= 0 && option.index < option.count ? option.choices[option.index] : "";
}
