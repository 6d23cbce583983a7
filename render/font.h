// Bitmap fonts: the marker-cell image layout, text measuring and the colour escapes of text.
// This half needs no GL, so the loader has tests and a fuzz target without a display.
#pragma once

#include <cstdint>

#include "render/image.h"

// Width of a character that has no cell of its own, in glyph heights.
constexpr float FONT_DEFAULT_ADVANCE = 0.6666667f;

struct Font {
  unsigned texture = 0;  // GL texture id; 0 when not uploaded
  MipChain image;        // RGBA; kept for the software renderer, released after upload
  float glyph[256][4] = {};  // s0, t0, s1, t1 of each character code; 0 without a glyph
  float advance[256] = {};   // glyph heights
};

// The main text font ("@font.png") and the two digit fonts for number plates.
extern Font font_main;
extern Font font_numbers;
extern Font font_numbers_condensed;

// Loads name (read as RGBA) and hands the cells to the characters of chars in order. On a file
// that cannot be read the font stays empty and the console says "Can't open font '...'".
void font_load(Font& font, const char* name, const char* chars);
// The same for an image already read: chain is RGBA with at least its top level (else the
// font stays empty); its markers are cleared and its smaller levels rebuilt.
void font_from_image(Font& font, MipChain&& chain, const char* chars);

// Width in glyph heights of the widest line of text in font (escape sequences add nothing);
// text_width measures with the main font.
float font_text_width(const Font& font, const char* text);
float text_width(const char* text);

// Colour state bits while drawing text: bits 0-3 a palette index (bit 3 also bold), 16 the
// caller's colour, 32 a shadow pass, 64 escapes drawn as characters. Text starts with
// TEXT_STATE_PLAIN, shadows with TEXT_STATE_SHADOW.
constexpr int TEXT_BOLD = 8;
constexpr int TEXT_CALLER_COLOUR = 16;
constexpr int TEXT_SHADOW = 32;
constexpr int TEXT_NO_ESCAPES = 64;
constexpr int TEXT_STATE_PLAIN = TEXT_CALLER_COLOUR;
constexpr int TEXT_STATE_SHADOW = TEXT_CALLER_COLOUR | TEXT_SHADOW;

// The 16 text colours (red, green, blue; alpha is the caller's).
extern const float TEXT_PALETTE[16][3];

// text points at an ESC. Returns the character after its sequence (ESC, an optional '[', and
// everything up to and including the first byte in '@'..'~'), or null when the text ends
// inside it. When state is given and the sequence is ESC '[' numbers 'm', the numbers are
// applied to *state.
const char* text_escape(const char* text, int* state);

// The colour a glyph is drawn in under state, for the caller's colour rgba.
void text_colour(int state, const float rgba[4], float out[4]);

// Number plates: paints text in the digits font (the condensed one when the text is wider than
// 9/8 of the plate and that font is loaded) centred into a width x height RGBA chain, ink
// becoming fg and the rest bg, with a transparent one-texel border in every level. Without
// the digits font the plate stays blank.
void text_plate_image(const char* text, int width, int height, const uint8_t bg[3], const uint8_t fg[3],
                      MipChain& out);

// One glyph of laid-out text: the quad from (x0, y0) at the bottom left to (x1, y1), the
// texture rectangle ((s0, t0) at the top left) and the colour of its corners.
struct TextQuad {
  float x0, y0, x1, y1;
  float s0, t0, s1, t1;
  float colour[4];
};
using TextQuadSink = void (*)(const TextQuad& quad, void* context);
// Lays text out from (0, 0) in font, starting in colour state state with the caller's rgba,
// handing each glyph to sink in order. Spaces, tabs and line breaks only move the pen.
void text_layout(const Font& font, const char* text, int state, const float rgba[4], TextQuadSink sink,
                 void* context);
// True when text holds something other than spaces, tabs and line breaks.
bool text_has_ink(const char* text);
