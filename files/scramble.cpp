// Descrambling stream and writer of the ".scram" form (see scramble.h for the layout).
#include "files/scramble.h"

#include <cstring>

#include "files/digest.h"
#include "files/memory.h"

namespace {

const char MAGIC[8] = {'S', 'K', 'S', 'C', 'R', 'A', 'M', '1'};

uint32_t load_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store_u32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(value >> (8 * i));
}

// XORs bytes with the keystream, advancing state.
void apply_keystream(uint32_t* state, uint8_t* bytes, int n) {
  uint32_t s = *state;
  for (int i = 0; i < n; i++) {
    s = s * 1664525u + 1013904223u;
    bytes[i] ^= uint8_t(s >> 24);
  }
  *state = s;
}

}  // namespace

struct ScrambleStream {
  FILE* stream;
  uint32_t state;
  int64_t plain_left;   // plain bytes still to deliver
  int64_t stored_left;  // stored payload bytes that may still be read; -1 unbounded
  uint8_t block[SCRAM_BLOCK_SIZE];
  int block_read;  // next unread byte of block
  int block_fill;  // plain bytes held in block
};

ScrambleStream* scram_open(FILE* stream, int64_t limit) {
  uint8_t header[SCRAM_HEADER_SIZE];
  if ((limit >= 0 && limit < SCRAM_HEADER_SIZE) ||
      fread(header, 1, SCRAM_HEADER_SIZE, stream) != size_t(SCRAM_HEADER_SIZE)) {
    perror("fread error");
    return nullptr;
  }
  uint32_t length = load_u32(header + 8);
  if (memcmp(header, MAGIC, sizeof MAGIC) != 0 || length > uint32_t(INT32_MAX)) return nullptr;
  auto* scramble = static_cast<ScrambleStream*>(mem_calloc(1, sizeof(ScrambleStream)));
  if (!scramble) return nullptr;
  scramble->stream = stream;
  scramble->state = load_u32(header + 12);
  scramble->plain_left = length;
  scramble->stored_left = limit >= 0 ? limit - SCRAM_HEADER_SIZE : -1;
  return scramble;
}

// Reads and descrambles one whole block into out; 0 when the stored data ends first.
static int read_block(ScrambleStream* scramble, uint8_t* out) {
  if (scramble->stored_left >= 0 && scramble->stored_left < SCRAM_BLOCK_SIZE) return 0;
  if (fread(out, 1, SCRAM_BLOCK_SIZE, scramble->stream) != size_t(SCRAM_BLOCK_SIZE)) return 0;
  if (scramble->stored_left >= 0) scramble->stored_left -= SCRAM_BLOCK_SIZE;
  apply_keystream(&scramble->state, out, SCRAM_BLOCK_SIZE);
  return 1;
}

int scram_read(ScrambleStream* scramble, void* buffer, int n) {
  auto* out = static_cast<uint8_t*>(buffer);
  int done = 0;
  while (done < n) {
    if (scramble->block_read < scramble->block_fill) {
      int take = scramble->block_fill - scramble->block_read;
      if (take > n - done) take = n - done;
      memcpy(out + done, scramble->block + scramble->block_read, size_t(take));
      scramble->block_read += take;
      done += take;
      continue;
    }
    if (scramble->plain_left <= 0) break;
    // Whole blocks go straight into the caller's buffer; a tail goes through block.
    if (n - done >= SCRAM_BLOCK_SIZE && scramble->plain_left >= SCRAM_BLOCK_SIZE) {
      if (!read_block(scramble, out + done)) {
        scramble->plain_left = 0;
        break;
      }
      scramble->plain_left -= SCRAM_BLOCK_SIZE;
      done += SCRAM_BLOCK_SIZE;
      continue;
    }
    if (!read_block(scramble, scramble->block)) {
      scramble->plain_left = 0;
      break;
    }
    int fill = scramble->plain_left < SCRAM_BLOCK_SIZE ? int(scramble->plain_left) : SCRAM_BLOCK_SIZE;
    scramble->plain_left -= fill;
    scramble->block_read = 0;
    scramble->block_fill = fill;
  }
  return done;
}

void scram_close(ScrambleStream* scramble) { mem_free(scramble); }

int scram_write(FILE* out, const void* data, size_t length) {
  if (length > size_t(INT32_MAX)) return 0;
  Digest digest;
  digest_init(&digest);
  digest_update(&digest, data, length);
  const uint8_t* hash = digest_final(&digest);
  uint8_t header[SCRAM_HEADER_SIZE] = {};
  memcpy(header, MAGIC, sizeof MAGIC);
  store_u32(header + 8, uint32_t(length));
  store_u32(header + 12, load_u32(hash));
  if (fwrite(header, 1, sizeof header, out) != sizeof header) return 0;
  uint32_t state = load_u32(hash);
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t at = 0; at < length; at += SCRAM_BLOCK_SIZE) {
    uint8_t block[SCRAM_BLOCK_SIZE] = {};
    size_t take = length - at < size_t(SCRAM_BLOCK_SIZE) ? length - at : size_t(SCRAM_BLOCK_SIZE);
    memcpy(block, bytes + at, take);
    apply_keystream(&state, block, SCRAM_BLOCK_SIZE);
    if (fwrite(block, 1, sizeof block, out) != sizeof block) return 0;
  }
  return 1;
}
