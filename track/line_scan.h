// scanf-style matching over one line of text held in memory, for the track's text files whose
// lines are split into a key and a value before the value is read.
#pragma once

// Directives: white space (matches any amount, including none), literal characters, and the
// conversions %f (float*), %d (int*), %Ns (char*, N required, N + 1 bytes written) and %n
// (int*, characters consumed so far, not counted). Numbers are decimal only; a number that
// does not fit its type (an overflowing integer or a real that would be infinite) does not
// match. Returns the number of assigned conversions, or -1 when the text ends before the
// first conversion.
int line_scanf(const char* text, const char* format, ...);

// Reads one decimal real at *text (after white space) and advances past it. False, with
// *text unchanged, when none is there or it would be infinite.
bool line_scan_real(const char** text, float* value);
// The same for a decimal integer that fits in an int.
bool line_scan_int(const char** text, int* value);
