// The platform services that need no window or device: log, options, aliases,
// interned names, clock, sleep, mutexes and VantVector.
#include "platform/vant.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sched.h>
#include <set>
#include <string>

#include "files/memory.h"

namespace {

FILE* log_stream = nullptr;
bool log_initialised = false;
bool log_closed = false;

VantErrorBoxHook error_box_hook = nullptr;
const char* last_error = "Unknown";

bool option_text_read = false;
std::string option_text;

struct Alias {
  Alias* next;
  const char* name;
  const char* value;
};
Alias* alias_list = nullptr;

std::set<std::string, std::less<>>& interned() {
  static std::set<std::string, std::less<>> strings;
  return strings;
}

const std::string& options() {
  if (!option_text_read) {
    const char* env = getenv("VANT_OPTIONS");
    option_text = env ? env : "";
    option_text_read = true;
  }
  return option_text;
}

// Finds "[name:" (name cut at 60 characters) and returns what follows, or null.
const char* option_find(const char* name) {
  char key[72];
  snprintf(key, sizeof key, "[%.60s:", name);
  const char* at = strstr(options().c_str(), key);
  return at ? at + strlen(key) : nullptr;
}

void open_log(const char* configured_path) {
  const char* env_path = getenv("VANT_LOGFILE");
  const char* env_flags = getenv("VANT_LOGFILE_FLAGS");
  const char* path = env_path ? env_path : configured_path;
  log_initialised = true;
  if (!path) return;
  const char* mode = "w";
  if (strncmp(path, ">>", 2) == 0) {
    path += 2;
    mode = "a";
  } else if (path[0] == '>') {
    path += 1;
  }
  if (env_flags) mode = env_flags;
  log_stream = fopen(path, mode);
  if (!log_stream) return;
  fprintf(log_stream, "Logfile \"%s\" opened\n", path);
  fprintf(log_stream, "VANT 0.31\n");
  fflush(log_stream);
}

}  // namespace

void vant_log_prefix(char* out, size_t size, int32_t seconds, int32_t microseconds) {
  snprintf(out, size, "[%d:%02d:%02d.%02d] ", seconds / 3600, seconds / 60 % 60, seconds % 60,
           microseconds / 10000);
}

void vant_log(const char* format, ...) {
  if (!format) {
    if (log_stream) fclose(log_stream);
    log_stream = nullptr;
    log_initialised = true;
    log_closed = true;
    return;
  }
  if (log_closed) return;
  static const char CONFIG[] = "VANT_LOGFILE=";
  if (!log_initialised) {
    if (strncmp(format, CONFIG, sizeof CONFIG - 1) == 0) {
      // The request names a path; it is formatted like any message.
      char request[4096];
      va_list args;
      va_start(args, format);
      vsnprintf(request, sizeof request, format, args);
      va_end(args);
      open_log(request + sizeof CONFIG - 1);
      return;
    }
    open_log(nullptr);
  }
  if (static_cast<unsigned char>(format[0]) == 19 || !log_stream) return;
  int32_t s, us;
  vant_time_now(&s, &us);
  char prefix[40];
  vant_log_prefix(prefix, sizeof prefix, s, us);
  fputs(prefix, log_stream);
  va_list args;
  va_start(args, format);
  vfprintf(log_stream, format, args);
  va_end(args);
  fflush(log_stream);
}

void vant_set_error_box_hook(VantErrorBoxHook hook) { error_box_hook = hook; }

void vant_error_box(const char* title, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  fprintf(stderr, "%s: %s", title, text);
  size_t n = strlen(text);
  if (n == 0 || text[n - 1] != '\n') fputc('\n', stderr);
  if (error_box_hook) error_box_hook(title, text);
}

void vant_set_error(const char* text) {
  vant_log("Error: %s\n", text);
  last_error = text;
}

const char* vant_last_error() { return last_error; }

void vant_option_set_text(const char* text) {
  option_text = text ? text : "";
  option_text_read = true;
}

int vant_option_bool(const char* name, int default_value) {
  const char* at = option_find(name);
  if (!at) return default_value;
  if (strncmp(at, "yes]", 4) == 0 || strncmp(at, "on]", 3) == 0) return 1;
  if (strncmp(at, "no]", 3) == 0 || strncmp(at, "off]", 4) == 0) return 0;
  vant_log("unrecognized setting for %s\n", name);
  return default_value;
}

int vant_option_int(const char* name, int default_value) {
  const char* at = option_find(name);
  if (!at) return default_value;
  char* end = nullptr;
  errno = 0;
  long value = strtol(at, &end, 10);
  if (end == at) {
    vant_log("unrecognized setting for %s\n", name);
    return default_value;
  }
  // Out-of-range numbers saturate to the int range rather than wrapping.
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int>(value);
}

const char* vant_alias_lookup(const char* name) {
  for (Alias* a = alias_list; a; a = a->next)
    if (strcmp(a->name, name) == 0) return a->value;
  return name;
}

int vant_alias_add(const char* name, const char* value) {
  if (vant_alias_lookup(name) != name) {
    vant_log("Second alias for '%s' ('%s') ignored\n", name, value);
    return 0;
  }
  size_t name_size = strlen(name) + 1, value_size = strlen(value) + 1;
  char* block = static_cast<char*>(mem_alloc(sizeof(Alias) + name_size + value_size));
  if (!block) {
    vant_log("Can't alias %s to %s -- out of memory\n", name, value);
    return 0;
  }
  Alias* node = reinterpret_cast<Alias*>(block);
  char* name_copy = block + sizeof(Alias);
  char* value_copy = name_copy + name_size;
  memcpy(name_copy, name, name_size);
  memcpy(value_copy, value, value_size);
  node->name = name_copy;
  node->value = value_copy;
  node->next = alias_list;
  alias_list = node;
  return 1;
}

const char* vant_intern(const char* text) {
  try {
    return interned().emplace(text).first->c_str();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int vant_name_compare(const char* a, const char* b) {
  auto fold = [](unsigned char c) -> int {
    if (c == '_' || isspace(c)) return ' ';
    return tolower(c);
  };
  for (;; ++a, ++b) {
    int ca = fold(static_cast<unsigned char>(*a)), cb = fold(static_cast<unsigned char>(*b));
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
}

void vant_time_now(int32_t* seconds, int32_t* microseconds) {
  static const timespec start = [] {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
  }();
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t us = (now.tv_sec - start.tv_sec) * 1000000LL + (now.tv_nsec - start.tv_nsec) / 1000;
  *seconds = static_cast<int32_t>(us / 1000000);
  *microseconds = static_cast<int32_t>(us % 1000000);
}

void vant_sleep(int32_t seconds, int32_t microseconds) {
  int32_t ts, tus;
  vant_time_now(&ts, &tus);
  ts += seconds;
  tus += microseconds;
  ts += tus / 1000000;
  tus %= 1000000;
  // Sleep most of the way, then spin with yields for the last millisecond.
  int64_t ms = static_cast<int64_t>(seconds) * 1000 + microseconds / 1000;
  if (ms > 1) ms -= 1;
  if (ms > 0) {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
  }
  for (;;) {
    int32_t s, us;
    vant_time_now(&s, &us);
    if (s > ts || (s == ts && us >= tus)) return;
    sched_yield();
  }
}

struct VantMutex {
  std::mutex mutex;
};

VantMutex* vant_mutex_create() { return new (std::nothrow) VantMutex; }
int vant_mutex_lock(VantMutex* mutex) {
  mutex->mutex.lock();
  return 1;
}
void vant_mutex_unlock(VantMutex* mutex) { mutex->mutex.unlock(); }
void vant_mutex_destroy(VantMutex* mutex) { delete mutex; }

void vant_vector_init(VantVector* vector, size_t element_size) {
  *vector = VantVector{element_size, 0, 0, nullptr};
}

int vant_vector_append(VantVector* vector, const void* element) {
  if (vector->count == vector->capacity) {
    size_t capacity = vector->capacity ? vector->capacity * 2 : 4;
    void* data = mem_realloc(vector->data, capacity * vector->element_size);
    if (!data) return 0;
    vector->data = data;
    vector->capacity = capacity;
  }
  char* slot = static_cast<char*>(vector->data) + vector->count * vector->element_size;
  if (element)
    memcpy(slot, element, vector->element_size);
  else
    memset(slot, 0, vector->element_size);
  vector->count++;
  return 1;
}

void vant_vector_free(VantVector* vector) {
  mem_free(vector->data);
  vector->data = nullptr;
  vector->count = vector->capacity = 0;
}
