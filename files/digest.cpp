// RIPEMD-160 as published: little-endian message words, two parallel lines of five
// rounds each, the result as the five chaining words in little-endian byte order.
#include "files/digest.h"

#include <cstdio>
#include <cstring>

namespace {

inline uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t f(int j, uint32_t x, uint32_t y, uint32_t z) {
  switch (j / 16) {
    case 0: return x ^ y ^ z;
    case 1: return (x & y) | (~x & z);
    case 2: return (x | ~y) ^ z;
    case 3: return (x & z) | (y & ~z);
    default: return x ^ (y | ~z);
  }
}

constexpr uint32_t K_LEFT[5] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xA953FD4E};
constexpr uint32_t K_RIGHT[5] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x7A6D76E9, 0x00000000};

constexpr uint8_t R_LEFT[80] = {
    0, 1, 2,  3,  4,  5,  6,  7,  8, 9, 10, 11, 12, 13, 14, 15, 7,  4,  13, 1,
    10, 6, 15, 3, 12, 0,  9,  5,  2, 14, 11, 8, 3,  10, 14, 4,  9,  15, 8,  1,
    2,  7, 0,  6, 13, 11, 5,  12, 1, 9,  11, 10, 0,  8,  12, 4,  13, 3,  7,  15,
    14, 5, 6,  2, 4,  0,  5,  9,  7, 12, 2,  10, 14, 1,  3,  8,  11, 6,  15, 13};
constexpr uint8_t R_RIGHT[80] = {
    5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12, 6,  11, 3,  7,
    0,  13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,  15, 5,  1,  3,  7,  14, 6,  9,
    11, 8,  12, 2, 10, 0,  4,  13, 8,  6,  4,  1,  3,  11, 15, 0,  5,  12, 2,  13,
    9,  7,  10, 14, 12, 15, 10, 4,  1,  5,  8,  7,  6,  2,  13, 14, 0,  3,  9,  11};
constexpr uint8_t S_LEFT[80] = {
    11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,  7,  6,  8,  13,
    11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12, 11, 13, 6,  7,  14, 9,  13, 15,
    14, 8,  13, 6,  5,  12, 7,  5,  11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,
    8,  6,  5,  12, 9,  15, 5,  11, 6,  8,  13, 12, 5,  12, 13, 14, 11, 8,  5,  6};
constexpr uint8_t S_RIGHT[80] = {
    8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,  9,  13, 15, 7,
    12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11, 9,  7,  15, 11, 8,  6,  6,  14,
    12, 13, 5,  14, 13, 13, 7,  5,  15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,
    12, 5,  15, 8,  8,  5,  12, 9,  12, 5,  14, 6,  8,  13, 6,  5,  15, 13, 11, 11};

void compress(uint32_t* h, const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; i++)
    x[i] = block[4 * i] | block[4 * i + 1] << 8 | block[4 * i + 2] << 16 |
           static_cast<uint32_t>(block[4 * i + 3]) << 24;
  uint32_t al = h[0], bl = h[1], cl = h[2], dl = h[3], el = h[4];
  uint32_t ar = al, br = bl, cr = cl, dr = dl, er = el;
  for (int j = 0; j < 80; j++) {
    uint32_t t = rol(al + f(j, bl, cl, dl) + x[R_LEFT[j]] + K_LEFT[j / 16], S_LEFT[j]) + el;
    al = el, el = dl, dl = rol(cl, 10), cl = bl, bl = t;
    t = rol(ar + f(79 - j, br, cr, dr) + x[R_RIGHT[j]] + K_RIGHT[j / 16], S_RIGHT[j]) + er;
    ar = er, er = dr, dr = rol(cr, 10), cr = br, br = t;
  }
  uint32_t t = h[1] + cl + dr;
  h[1] = h[2] + dl + er;
  h[2] = h[3] + el + ar;
  h[3] = h[4] + al + br;
  h[4] = h[0] + bl + cr;
  h[0] = t;
}

}  // namespace

void digest_init(Digest* state) {
  static constexpr uint32_t INITIAL[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                          0xC3D2E1F0};
  memcpy(state->words, INITIAL, sizeof INITIAL);
  state->length = 0;
  state->fill = 0;
  memset(state->block, 0, sizeof state->block);
  memset(state->result, 0, sizeof state->result);
}

void digest_update(Digest* state, const void* bytes, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  state->length += length;
  while (length > 0) {
    size_t take = 64 - state->fill;
    if (take > length) take = length;
    memcpy(state->block + state->fill, p, take);
    state->fill += static_cast<int>(take);
    p += take;
    length -= take;
    if (state->fill == 64) {
      compress(state->words, state->block);
      state->fill = 0;
    }
  }
}

const uint8_t* digest_final(Digest* state) {
  uint64_t bits = state->length * 8;
  uint8_t pad[72] = {0x80};
  size_t pad_length = (state->fill < 56 ? 56 : 120) - state->fill;
  uint8_t tail[8];
  for (int i = 0; i < 8; i++) tail[i] = static_cast<uint8_t>(bits >> (8 * i));
  digest_update(state, pad, pad_length);
  digest_update(state, tail, 8);
  for (int i = 0; i < 5; i++)
    for (int b = 0; b < 4; b++) state->result[4 * i + b] = static_cast<uint8_t>(state->words[i] >> (8 * b));
  return state->result;
}

int digest_equals_hex(const char* hex, const uint8_t* digest) {
  for (int i = 0; i < DIGEST_SIZE; i++) {
    unsigned value = 0;
    for (int k = 0; k < 2; k++) {
      char c = hex[2 * i + k];
      int v = c >= '0' && c <= '9' ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (v < 0) return 0;
      value = value * 16 + static_cast<unsigned>(v);
    }
    if (value != digest[i]) return 0;
  }
  return 1;
}

void digest_to_hex(const uint8_t* digest, char out[2 * DIGEST_SIZE + 1]) {
  for (int i = 0; i < DIGEST_SIZE; i++) snprintf(out + 2 * i, 3, "%02x", digest[i]);
}
