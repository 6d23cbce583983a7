// Formatted reads over a VfsFile's byte stream, sharing its one byte of look-ahead so
// vfs_getc, vfs_gets and vfs_scanf can be mixed freely on one file.
#include <charconv>
#include <cmath>
#include <cstring>

#include "files/vfs_file.h"

namespace {

// Significant mantissa digits kept for a float; later digits only move the exponent.
constexpr int FLOAT_DIGITS_MAX = 780;
constexpr long EXPONENT_CLAMP = 100000;

enum class Size { DEFAULT, SHORT, LONG, LONG_LONG };

struct Scan {
  VfsFile* file;
  int consumed;  // bytes taken since the call began, for %n
};

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

int peek(Scan* scan) { return vfs_peekc(scan->file); }

int get(Scan* scan) {
  int c = vfs_getc(scan->file);
  if (c >= 0) scan->consumed++;
  return c;
}

void skip_space(Scan* scan) {
  while (is_space(peek(scan))) get(scan);
}

int digit_value(int c, int base) {
  int value = 36;
  if (c >= '0' && c <= '9') value = c - '0';
  else if (c >= 'a' && c <= 'z') value = c - 'a' + 10;
  else if (c >= 'A' && c <= 'Z') value = c - 'A' + 10;
  return value < base ? value : -1;
}

void store_integer(va_list* args, Size size, uint64_t value) {
  switch (size) {
    case Size::SHORT: *va_arg(*args, int16_t*) = int16_t(value); break;
    case Size::LONG_LONG: *va_arg(*args, int64_t*) = int64_t(value); break;
    default: *va_arg(*args, int32_t*) = int32_t(value); break;
  }
}

// An integer with optional sign; base 0 detects 8, 10 or 16 from its prefix. width bounds
// the digits. Wraps silently on overflow. false when no digit was read.
bool scan_integer(Scan* scan, int base, int width, uint64_t* out) {
  skip_space(scan);
  bool negative = false;
  int c = peek(scan);
  if (c == '+' || c == '-') {
    negative = c == '-';
    get(scan);
  }
  uint64_t value = 0;
  int digits = 0;
  if ((base == 0 || base == 16) && peek(scan) == '0' && width > 0) {
    get(scan);
    digits = 1;
    c = peek(scan);
    if (c == 'x' || c == 'X') {
      get(scan);
      base = 16;
    } else if (base == 0) {
      base = 8;
    }
  }
  if (base == 0) base = 10;
  while (digits < width) {
    int d = digit_value(peek(scan), base);
    if (d < 0) break;
    get(scan);
    value = value * uint64_t(base) + uint64_t(d);
    digits++;
  }
  if (digits == 0) return false;
  *out = negative ? 0 - value : value;
  return true;
}

// Decimal float: sign, digits, optional point and fraction, optional exponent; at most width
// bytes. false when no mantissa digit was read.
bool scan_float(Scan* scan, int width, long double* out) {
  skip_space(scan);
  char text[FLOAT_DIGITS_MAX + 32];
  int length = 0, kept = 0;
  long exponent = 0;
  bool any_digit = false, negative = false;
  int c = peek(scan);
  if (width > 0 && (c == '+' || c == '-')) {
    negative = c == '-';
    get(scan);
    width--;
  }
  // Leading zeros are dropped so the kept digits are all significant.
  auto digit = [&](bool fraction) {
    int d = get(scan);
    width--;
    any_digit = true;
    if (kept < FLOAT_DIGITS_MAX) {
      if (kept > 0 || d != '0') text[length++] = char(d), kept++;
      if (fraction) exponent--;
    } else if (!fraction) {
      exponent++;
    }
  };
  while (width > 0 && is_digit(peek(scan))) digit(false);
  if (width > 0 && peek(scan) == '.') {
    get(scan);
    width--;
    while (width > 0 && is_digit(peek(scan))) digit(true);
  }
  if (!any_digit) return false;
  c = peek(scan);
  if (width > 0 && (c == 'e' || c == 'E')) {
    get(scan);
    width--;
    bool exponent_negative = false;
    c = peek(scan);
    if (width > 0 && (c == '+' || c == '-')) {
      exponent_negative = c == '-';
      get(scan);
      width--;
    }
    long written = 0;
    while (width > 0 && is_digit(peek(scan))) {
      int d = get(scan);
      width--;
      if (written < EXPONENT_CLAMP) written = written * 10 + (d - '0');
    }
    exponent += exponent_negative ? -written : written;
  }
  double value = 0;
  if (kept > 0) {
    length += snprintf(text + length, sizeof text - size_t(length), "e%ld", exponent);
    auto result = std::from_chars(text, text + length, value);
    if (result.ec == std::errc::result_out_of_range) value = exponent > 0 ? HUGE_VAL : 0.0;
  }
  *out = negative ? -(long double)value : (long double)value;
  return true;
}

// Parses "[set]" starting after the "["; fills member and returns the format past "]",
// or null when the set is not closed.
const char* parse_scan_set(const char* format, bool member[256]) {
  bool negate = false;
  if (*format == '^') {
    negate = true;
    format++;
  }
  bool in_set[256] = {};
  const char* start = format;
  while (*format && (*format != ']' || format == start)) {
    auto first = uint8_t(*format);
    if (format[1] == '-' && format[2] && format[2] != ']') {
      auto last = uint8_t(format[2]);
      for (int c = first; c <= last; c++) in_set[c] = true;
      format += 3;
    } else {
      in_set[first] = true;
      format++;
    }
  }
  if (*format != ']') return nullptr;
  for (int c = 0; c < 256; c++) member[c] = in_set[c] != negate;
  return format + 1;
}

// Copies up to limit characters that accept() takes into out (when out is set); returns how many.
template <typename Accept>
int scan_chars(Scan* scan, char* out, int limit, Accept accept) {
  int count = 0;
  while (count < limit && peek(scan) >= 0 && accept(peek(scan))) {
    int c = get(scan);
    if (out) out[count] = char(c);
    count++;
  }
  return count;
}

}  // namespace

int vfs_vscanf(VfsFile* file, const char* format, va_list list) {
  va_list args;
  va_copy(args, list);
  Scan scan = {file, 0};
  int assigned = 0;
  bool converted = false;  // a conversion (assigned or suppressed) has succeeded
  // What the call returns when the input ends or a match fails here.
  auto finish = [&](bool input_ended) {
    va_end(args);
    return !converted && input_ended ? -1 : assigned;
  };
  while (*format) {
    if (is_space(uint8_t(*format))) {
      skip_space(&scan);
      format++;
      continue;
    }
    if (*format != '%') {
      int c = peek(&scan);
      if (c != uint8_t(*format)) return finish(true);
      get(&scan);
      format++;
      continue;
    }
    format++;
    bool suppress = false;
    if (*format == '*') {
      suppress = true;
      format++;
    }
    int width = 0;
    bool has_width = false;
    while (is_digit(*format)) {
      if (width < VFS_SCAN_WIDTH) width = width * 10 + (*format - '0');
      has_width = true;
      format++;
    }
    if (width > VFS_SCAN_WIDTH) width = VFS_SCAN_WIDTH;
    Size size = Size::DEFAULT;
    if (*format == 'h') {
      size = Size::SHORT;
      format++;
    } else if (*format == 'l' && format[1] == 'l') {
      size = Size::LONG_LONG;
      format += 2;
    } else if (*format == 'l') {
      size = Size::LONG;
      format++;
    } else if (*format == 'L' || *format == 'q') {
      size = Size::LONG_LONG;
      format++;
    }
    char letter = *format++;
    bool ok = true;
    switch (letter) {
      case 'd': case 'i': case 'o': case 'x': case 'X': {
        int base = letter == 'd' ? 10 : letter == 'i' ? 0 : letter == 'o' ? 8 : 16;
        uint64_t value;
        ok = scan_integer(&scan, base, has_width ? width : VFS_SCAN_WIDTH, &value);
        if (ok && !suppress) store_integer(&args, size, value);
        break;
      }
      case 'f': {
        long double value;
        ok = scan_float(&scan, has_width ? width : VFS_SCAN_WIDTH, &value);
        if (ok && !suppress) {
          if (size == Size::LONG) *va_arg(args, double*) = double(value);
          else if (size == Size::LONG_LONG) *va_arg(args, long double*) = value;
          else *va_arg(args, float*) = float(value);
        }
        break;
      }
      case 's': {
        skip_space(&scan);
        char* out = suppress ? nullptr : va_arg(args, char*);
        int count = scan_chars(&scan, out, has_width ? width : VFS_SCAN_WIDTH, [](int c) { return !is_space(c); });
        if (out && count > 0) out[count] = 0;
        ok = count > 0;
        break;
      }
      case 'c': {
        char* out = suppress ? nullptr : va_arg(args, char*);
        int limit = has_width ? width : 1;
        int count = scan_chars(&scan, out, limit, [](int) { return true; });
        ok = count == limit && count > 0;
        break;
      }
      case '[': {
        bool member[256];
        format = parse_scan_set(format, member);
        if (!format) return finish(false);
        char* out = suppress ? nullptr : va_arg(args, char*);
        int count = scan_chars(&scan, out, has_width ? width : VFS_SCAN_WIDTH, [&](int c) { return member[c]; });
        if (out && count > 0) out[count] = 0;
        ok = count > 0;
        break;
      }
      case 'n':
        if (!suppress) store_integer(&args, size, uint64_t(int64_t(scan.consumed)));
        continue;
      case '%':
        skip_space(&scan);
        if (peek(&scan) != '%') return finish(true);
        get(&scan);
        continue;
      default:
        return finish(false);
    }
    if (!ok) return finish(peek(&scan) < 0);
    converted = true;
    if (!suppress) assigned++;
  }
  return finish(false);
}

int vfs_scanf(VfsFile* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = vfs_vscanf(file, format, args);
  va_end(args);
  return result;
}
