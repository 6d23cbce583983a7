// scanf-style matching over one line of text in memory (decimal numbers only).
#include "track/line_scan.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

const char* skip_space(const char* p) {
  while (is_space(*p)) p++;
  return p;
}

// Length of the decimal real at p: sign, digits with one optional point (at least one digit),
// then an exponent only when it has digits. 0 when there is no number.
size_t real_span(const char* p) {
  size_t n = 0;
  if (p[n] == '+' || p[n] == '-') n++;
  size_t digits = 0;
  while (p[n] >= '0' && p[n] <= '9') n++, digits++;
  if (p[n] == '.') {
    n++;
    while (p[n] >= '0' && p[n] <= '9') n++, digits++;
  }
  if (digits == 0) return 0;
  if (p[n] == 'e' || p[n] == 'E') {
    size_t e = n + 1;
    if (p[e] == '+' || p[e] == '-') e++;
    if (p[e] >= '0' && p[e] <= '9') {
      while (p[e] >= '0' && p[e] <= '9') e++;
      n = e;
    }
  }
  return n;
}

size_t int_span(const char* p) {
  size_t n = 0;
  if (p[n] == '+' || p[n] == '-') n++;
  size_t digits = 0;
  while (p[n] >= '0' && p[n] <= '9') n++, digits++;
  return digits ? n : 0;
}

}  // namespace

bool line_scan_real(const char** text, float* value) {
  const char* p = skip_space(*text);
  size_t n = real_span(p);
  if (n == 0 || n > 400) return false;
  char copy[401];
  memcpy(copy, p, n);
  copy[n] = 0;
  float v = strtof(copy, nullptr);
  if (!std::isfinite(v)) return false;
  *value = v;
  *text = p + n;
  return true;
}

bool line_scan_int(const char** text, int* value) {
  const char* p = skip_space(*text);
  size_t n = int_span(p);
  if (n == 0 || n > 40) return false;
  char copy[41];
  memcpy(copy, p, n);
  copy[n] = 0;
  errno = 0;
  long long v = strtoll(copy, nullptr, 10);
  if (errno == ERANGE || v > 2147483647LL || v < -2147483647LL - 1) return false;
  *value = static_cast<int>(v);
  *text = p + n;
  return true;
}

int line_scanf(const char* text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const char* p = text;
  const char* f = format;
  int assigned = 0;
  bool converted = false;  // a conversion was attempted on available input
  while (*f) {
    if (is_space(*f)) {
      while (is_space(*f)) f++;
      p = skip_space(p);
      continue;
    }
    if (*f != '%' || f[1] == '%') {
      char want = *f == '%' ? '%' : *f;
      f += *f == '%' ? 2 : 1;
      if (*p == 0) break;
      if (*p != want) break;
      p++;
      continue;
    }
    f++;
    int width = 0;
    while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
    char conversion = *f;
    if (!conversion) break;
    f++;
    if (conversion == 'n') {
      *va_arg(args, int*) = static_cast<int>(p - text);
      continue;
    }
    p = skip_space(p);
    if (*p == 0) break;
    converted = true;
    if (conversion == 'f') {
      if (!line_scan_real(&p, va_arg(args, float*))) break;
    } else if (conversion == 'd') {
      if (!line_scan_int(&p, va_arg(args, int*))) break;
    } else if (conversion == 's' && width > 0) {
      char* out = va_arg(args, char*);
      int n = 0;
      while (*p && !is_space(*p) && n < width) out[n++] = *p++;
      out[n] = 0;
    } else {
      break;
    }
    assigned++;
  }
  va_end(args);
  return assigned == 0 && !converted && *p == 0 && *f != 0 ? -1 : assigned;
}
