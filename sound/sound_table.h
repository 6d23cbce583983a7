// Sound tables: recorded engine waveforms by engine speed (rows) and load (columns), the two
// built-in ones and those read from "SOUNDTABLE" files with their raw 16-bit sample files. Tables
// and samples are loaded once, shared by name, and kept until sound_tables_free.
#pragma once

struct VfsFile;

constexpr int SOUND_TABLE_MAX_CELLS = 4096;
constexpr int SOUND_SAMPLES_MAX = 1 << 20;  // samples of one sample file (keeps 10-bit phases in range)
constexpr int SOUND_REMAP_MAX = 1024;

struct SoundTableCell {
  const float* samples;  // -1 .. 1
  int sample_count;
  int periods;           // engine cycles recorded in the samples, >= 1
  const int* remap;      // cycle order, each entry in 0 .. periods - 1; null = in turn
  int remap_length;
  float row_value;       // engine speed, rpm
  float column_value;    // load, 0 .. 1
};

struct SoundTable {
  const char* name;
  int rows, columns;
  SoundTableCell* cells;  // rows x columns, row-major
};

// The built-in tables, made on first use: one row, load columns 0 and 1, one cycle each.
const SoundTable* sound_table_default_four_stroke();
const SoundTable* sound_table_default_two_stroke();

// The loaded table of that name, or the file of that name read as a sound table (errors are
// posted on the console and give null).
const SoundTable* sound_table_get(const char* name);
// Reads an open sound table file; the table takes name. Null on an error (posted).
const SoundTable* sound_table_read(VfsFile* file, const char* name);

// Frees every table and sample file (the built-in tables are made again when next asked for).
void sound_tables_free();
