// The data set being generated: named files held in memory, then written out in name order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DataFile {
  std::string name;  // data name, "/" separators, e.g. "rabbithill/terrain.hf"
  std::vector<uint8_t> bytes;
};

struct DataSet {
  std::vector<DataFile> files;
};

void dataset_add(DataSet* set, const std::string& name, std::vector<uint8_t> bytes);
void dataset_add_text(DataSet* set, const std::string& name, const std::string& text);
// Adds every file below dir (recursively) under its path relative to dir.
bool dataset_add_tree(DataSet* set, const std::string& dir);
// The file of that name, or null.
const DataFile* dataset_find(const DataSet& set, const std::string& name);

// Empties dir (creating it) and writes every file into it. False with a message on stderr
// when a file cannot be written or two files share a name.
bool dataset_write(const DataSet& set, const std::string& dir);

// printf into a growing text; numbers in data files are written with "%f" and "%d".
void text_printf(std::string* text, const char* format, ...) __attribute__((format(printf, 2, 3)));
