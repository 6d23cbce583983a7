// The expected digest of the base archive "zzzz.saf" that the build generated beside the
// program: 40 lower-case hexadecimal digits of the RIPEMD-160 of its first MiB.
#pragma once

const char* game_data_digest();
