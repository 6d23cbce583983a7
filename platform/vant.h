// Process-wide platform services: log file, error reporting, the option store,
// name aliases, interned names, clock, precise sleep, mutexes and a growable array.
#pragma once

#include <cstddef>
#include <cstdint>

// Log: printf-style line to the log file. The first message opens the log; a message
// "VANT_LOGFILE=<path>" is a configuration request; a null format closes it for good.
void vant_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the "[h:mm:ss.hh] " prefix for a clock value into out (at least 32 bytes).
void vant_log_prefix(char* out, size_t size, int32_t seconds, int32_t microseconds);

// Fatal and start-up messages for the user. Without a window this goes to standard
// error; the window layer installs a hook that shows a message box as well.
void vant_error_box(const char* title, const char* format, ...) __attribute__((format(printf, 2, 3)));
using VantErrorBoxHook = void (*)(const char* title, const char* text);
void vant_set_error_box_hook(VantErrorBoxHook hook);

void vant_set_error(const char* text);
const char* vant_last_error();

// Option store over the environment variable VANT_OPTIONS, groups like [threaded:yes].
int vant_option_bool(const char* name, int default_value);
int vant_option_int(const char* name, int default_value);
// Replaces the option text (read from VANT_OPTIONS on first use); for tools and tests.
void vant_option_set_text(const char* text);

// Control-name aliases: one level, first registration wins.
int vant_alias_add(const char* name, const char* value);
const char* vant_alias_lookup(const char* name);

// One stored, never-freed copy per distinct text; null when out of memory.
const char* vant_intern(const char* text);

// Case-blind name comparison where white space and '_' count as a space.
int vant_name_compare(const char* a, const char* b);

// Monotonic clock: seconds and microseconds (0..999999) since the first reading.
void vant_time_now(int32_t* seconds, int32_t* microseconds);
// Returns no earlier than the given time after the call.
void vant_sleep(int32_t seconds, int32_t microseconds);

struct VantMutex;
VantMutex* vant_mutex_create();
int vant_mutex_lock(VantMutex* mutex);
void vant_mutex_unlock(VantMutex* mutex);
void vant_mutex_destroy(VantMutex* mutex);

// Growable array of fixed-size elements; storage comes from the checked allocator.
struct VantVector {
  size_t element_size;
  size_t count;
  size_t capacity;
  void* data;
};
void vant_vector_init(VantVector* vector, size_t element_size);
// Appends a copy of element, or a zero-filled one when element is null. 0 when growing fails.
int vant_vector_append(VantVector* vector, const void* element);
void vant_vector_free(VantVector* vector);
