// RIPEMD-160 message digest: the fingerprint of data files, archives and tracks.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int DIGEST_SIZE = 20;

struct Digest {
  uint32_t words[5];
  uint64_t length;  // bytes hashed so far
  uint8_t block[64];
  int fill;
  uint8_t result[DIGEST_SIZE];
};

void digest_init(Digest* state);
void digest_update(Digest* state, const void* bytes, size_t length);
// Finishes the hash; the 20 result bytes are also left in state->result.
const uint8_t* digest_final(Digest* state);

// 1 when hex holds the same 20 bytes as two-digit hexadecimal numbers (either case).
int digest_equals_hex(const char* hex, const uint8_t* digest);
// Writes 40 lower-case hexadecimal digits and a terminating zero.
void digest_to_hex(const uint8_t* digest, char out[2 * DIGEST_SIZE + 1]);
