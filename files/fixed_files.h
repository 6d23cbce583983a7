// The fixed-file check: one digest over the standard bike and rider shape files as the file
// system finds them, which must be one the program accepts before it may join a game server.
#pragma once

#include <cstdint>

#include "files/digest.h"

constexpr int FIXED_FILE_COUNT = 7;
extern const char* const FIXED_FILES[FIXED_FILE_COUNT];
constexpr int FIXED_FILES_ACCEPTED_MAX = 3;

// RIPEMD-160 over the contents of the fixed files in order, each read in 1024-byte blocks; a
// file that cannot be opened adds nothing.
void fixed_files_digest(uint8_t out[DIGEST_SIZE]);
// True when the digest is one of the accepted ones (40 hexadecimal digits each; null entries
// and entries past count are skipped).
bool fixed_files_check(const char* const* accepted_hex, int count);
