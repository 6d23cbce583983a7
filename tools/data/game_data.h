// What the build generated beside the program: the expected digest of the base archive
// "zzzz.saf" (40 lower-case hexadecimal digits of the RIPEMD-160 of its first MiB).
#pragma once

const char* game_data_digest();

// The digest of the standard shape files of that data set (40 lower-case hexadecimal digits):
// the one the fixed-file check accepts.
const char* fixed_files_accepted_digest();
