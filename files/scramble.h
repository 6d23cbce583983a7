// The ".scram" stored form: a 64-byte header and 16-byte blocks XORed with a keystream.
// It only keeps casual eyes off data files; the key sits in the header, so it protects nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Layout:
//   header, 64 bytes: "SKSCRAM1", plain length (uint32 little-endian, at most INT32_MAX),
//                     seed (uint32 little-endian), 48 zero bytes (ignored on reading);
//   payload: the plain bytes padded with zeros to a whole number of 16-byte blocks, each byte
//            XORed with the next keystream byte.
// Keystream: state = seed; per byte state = state * 1664525 + 1013904223 (mod 2^32), and the
// byte is state >> 24. XOR makes scrambling and descrambling the same operation.
constexpr int SCRAM_HEADER_SIZE = 64;
constexpr int SCRAM_BLOCK_SIZE = 16;

struct ScrambleStream;

// Reads the header at the stream's position. limit is the number of stored bytes that belong
// to this file (an archive member's size), or -1 for up to the end of the stream. Fails with
// "fread error" on standard error when the header cannot be read whole; fails quietly on a
// header that is not ours.
ScrambleStream* scram_open(FILE* stream, int64_t limit);
// Up to n plain bytes; fewer only at the end of the plain data or of the stored blocks.
int scram_read(ScrambleStream* scramble, void* buffer, int n);
// Frees the stream's state; the stdio stream stays open.
void scram_close(ScrambleStream* scramble);

// Writes data in scrambled form. The seed comes from the data itself, so equal input gives
// equal bytes. 1 on success.
int scram_write(FILE* out, const void* data, size_t length);
