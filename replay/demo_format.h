// The demo file format: the text header and the data blocks, read and written on byte
// buffers. Readers treat the bytes as hostile: every read is bounded by the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/constants.h"
#include "replay/packed_state.h"

constexpr int DEMO_VERSION = 6;
constexpr int DEMO_OLDEST_VERSION = 4;
constexpr int DEMO_BLOCK_HEAD = 9;           // length link, tick, type
constexpr int DEMO_ENTRY_SIZE = 44;          // rider index, tick, packed state
constexpr int DEMO_V4_RECORD_SIZE = 26;
constexpr int DEMO_V5_RECORD_SIZE = PACKED_STATE_SIZE;
constexpr int DEMO_MAX_RIDERS = SLOT_COUNT;
constexpr int DEMO_LINE_MAX = 1023;          // longest header line, without its "\n"
constexpr int DEMO_NUMBER_MAX = 3;           // characters kept of a race number
constexpr int32_t DEMO_DEFAULT_START_TICK = 14 * TICKS_PER_SECOND;

enum DemoBlockType : uint8_t {
  DEMO_BLOCK_STATES = 1,
  DEMO_BLOCK_CONSOLE = 2,
  DEMO_BLOCK_COMMAND = 3,
  DEMO_BLOCK_EROSION = 5,
};

// One rider of the header. Names are shared strings; an absent name is null.
struct DemoRider {
  const char* model;
  const char* rider_graphics;
  const char* bike_graphics;
  const char* wheel_graphics;
  const char* helmet_graphics;
  char number[DEMO_NUMBER_MAX + 1];
  const char* name;               // from version 6
};

struct DemoHeader {
  int version;
  int rider_count;
  int32_t duration;               // race duration in ticks, 0 = no time limit
  int laps;
  int32_t race_start_tick;
  const char* track;              // track directory name
  DemoRider riders[DEMO_MAX_RIDERS];
};

// Appends the version-6 header text. Line breaks inside names, and "|" inside the names of
// the models line, become spaces so the header always reads back line for line.
void demo_header_write(const DemoHeader& header, std::string* out);

// Reads a header of version 4, 5 or 6 from the start of the bytes. On success fills header
// and data_start (the offset of the first data byte). Fails on a wrong magic, a rider count
// outside 0..DEMO_MAX_RIDERS, a line without "\n" or longer than DEMO_LINE_MAX.
bool demo_header_parse(const uint8_t* data, size_t size, DemoHeader* header, size_t* data_start);

// Writes a block head: the payload length XOR the previous payload length, tick and type.
void demo_block_head_put(uint8_t* out, uint32_t length, uint32_t previous_length, int32_t tick,
                         uint8_t type);

// Writes one states entry (DEMO_ENTRY_SIZE bytes).
void demo_entry_put(uint8_t* out, int rider, int32_t tick, const PackedBikeState& state);

struct DemoBlock {
  size_t start;          // offset of the block head
  uint32_t length;       // payload length
  int32_t tick;
  uint8_t type;
  const uint8_t* payload;
};

// The block at pos, given the payload length of the block before it. False when the head or
// the payload does not fit in the bytes.
bool demo_block_at(const uint8_t* data, size_t size, size_t pos, uint32_t previous_length,
                   DemoBlock* out);

// The start of the block that ends at pos, given its payload length, and the payload length
// of the block before that one. False when that block would start before data_start.
bool demo_block_before(const uint8_t* data, size_t size, size_t data_start, size_t pos,
                       uint32_t length, size_t* start, uint32_t* length_before);

// One states entry: rider index, tick and state.
void demo_entry_get(const uint8_t* at, int* rider, int32_t* tick, PackedBikeState* state);

// A record of the older fixed-record versions as a packed state.
void demo_record_to_state(const uint8_t* record, int version, PackedBikeState* state);

// Writes a state as a version-4 record (for tests of old demos).
void demo_state_to_v4_record(const PackedBikeState& state, uint8_t* record);

uint32_t demo_get_u32(const uint8_t* at);
void demo_put_u32(uint8_t* at, uint32_t value);
