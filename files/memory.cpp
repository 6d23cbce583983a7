// Checked allocation. Normally the wrappers add nothing; with SK_CHECK_ALLOC above 0
// they record every live block, report unknown frees and leaks, and wipe freed memory.
//
// Decision on C++ containers: global operator new and delete are routed to mem_alloc
// and mem_free below, so standard containers and the program's own records go through
// the same checked layer. With SK_CHECK_ALLOC set, a leak or a double free is reported
// however the memory was taken. The table itself is plain malloc'ed storage so that
// recording never recurses into operator new.
#include "files/memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unistd.h>

#include "platform/vant.h"

namespace {

constexpr size_t MAX_CHECKED_ALLOCATIONS = 1048576;

struct Entry {
  void* address;
  int serial;
  size_t size;
};

enum class Check { UNDECIDED, OFF, ON };
Check check_state = Check::UNDECIDED;
Entry* table = nullptr;
size_t table_count = 0;
int next_serial = 0;
// Allocation may come from the audio and window threads too.
std::mutex table_mutex;

// Relaxed: a statistic, read by tests and benchmarks between steps.
std::atomic<unsigned long long> allocation_count{0};

constexpr int MAX_FATAL_CLOSERS = 8;
void (*fatal_closers[MAX_FATAL_CLOSERS])();
int fatal_closer_count = 0;

bool checking() {
  if (check_state == Check::UNDECIDED) {
    const char* env = getenv("SK_CHECK_ALLOC");
    check_state = env && atoi(env) > 0 ? Check::ON : Check::OFF;
    if (check_state == Check::ON) {
      table = static_cast<Entry*>(malloc(MAX_CHECKED_ALLOCATIONS * sizeof(Entry)));
      if (!table) check_state = Check::OFF;
    }
  }
  return check_state == Check::ON;
}

void record(void* block, size_t size) {
  if (!block) return;
  std::lock_guard<std::mutex> lock(table_mutex);
  if (check_state != Check::ON) return;
  if (table_count == MAX_CHECKED_ALLOCATIONS) {
    fprintf(stderr, "Too many allocations to check!\n");
    check_state = Check::OFF;
    return;
  }
  table[table_count++] = Entry{block, next_serial++, size};
}

// Removes the newest entry for block; returns its size, or -1 when it is not recorded.
long long unrecord(void* block) {
  std::lock_guard<std::mutex> lock(table_mutex);
  for (size_t i = table_count; i-- > 0;) {
    if (table[i].address == block) {
      size_t size = table[i].size;
      memmove(&table[i], &table[i + 1], (table_count - i - 1) * sizeof(Entry));
      table_count--;
      return static_cast<long long>(size);
    }
  }
  return -1;
}

}  // namespace

bool mem_checking() { return checking(); }

unsigned long long mem_allocation_count() { return allocation_count.load(std::memory_order_relaxed); }

void* mem_alloc(size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  void* block = malloc(size);
  if (checking()) record(block, size);
  return block;
}

void* mem_calloc(size_t count, size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  void* block = calloc(count, size);
  if (checking()) record(block, size);
  return block;
}

void* mem_realloc(void* block, size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (!checking()) return realloc(block, size);
  long long old_size = block ? unrecord(block) : 0;
  if (old_size < 0) fprintf(stderr, "Allocation not found for %p!\n", block);
  void* moved = realloc(block, size);
  if (moved)
    record(moved, size);
  else if (old_size > 0)
    record(block, static_cast<size_t>(old_size));  // realloc failed: the old block lives on
  return moved;
}

void mem_free(void* block) {
  if (!checking()) {
    free(block);
    return;
  }
  if (!block) return;
  long long size = unrecord(block);
  if (size < 0) {
    fprintf(stderr, "Allocation not found for %p!\n", block);
    return;
  }
  // explicit_bzero: a plain memset right before free is removed by the optimiser.
  explicit_bzero(block, static_cast<size_t>(size));
  free(block);
}

void mem_report_leaks() {
  if (check_state != Check::ON && table_count == 0) return;
  std::lock_guard<std::mutex> lock(table_mutex);
  for (size_t i = 0; i < table_count; i++)
    fprintf(stderr, "%p:%d\n", table[i].address, table[i].serial);
}

void mem_on_fatal(void (*closer)()) {
  if (fatal_closer_count < MAX_FATAL_CLOSERS) fatal_closers[fatal_closer_count++] = closer;
}

void fatal_out_of_memory() {
  // Closers run newest first: the window is created after the audio output.
  for (int i = fatal_closer_count; i-- > 0;) fatal_closers[i]();
  vant_error_box("Error", "Out of virtual memory");
  exit(1);
}

void* mem_alloc_or_die(size_t size) {
  void* block = mem_alloc(size);
  if (!block && size) fatal_out_of_memory();
  return block;
}

const char* intern_string(const char* text) {
  const char* stored = vant_intern(text);
  if (!stored) fatal_out_of_memory();
  return stored;
}

bool working_set_range(unsigned long long physical, unsigned* minimum, unsigned* maximum) {
  constexpr unsigned long long MIB = 1024ULL * 1024ULL;
  if (physical < 64 * MIB) return false;
  unsigned long long total = physical > 2048 * MIB ? 2048 * MIB : physical;
  unsigned long long max = total - 32 * MIB;
  unsigned long long min = max < 1024 * MIB ? max : 1024 * MIB;
  *minimum = static_cast<unsigned>(min);
  *maximum = static_cast<unsigned>(max);
  return true;
}

void working_set_adjust() {
  long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGE_SIZE);
  unsigned long long physical =
      pages > 0 && page_size > 0 ? static_cast<unsigned long long>(pages) * page_size : 0;
  unsigned minimum, maximum;
  if (!working_set_range(physical, &minimum, &maximum)) {
    vant_log("Working set left alone - less than 64 MB physical memory\n");
    return;
  }
  vant_log("Setting working set range to %u - %u\n", minimum, maximum);
  // Linux keeps no per-process working-set range, and no resource limit means the same
  // thing, so the request cannot be applied and the log says so.
  vant_log("Working set update failed\n");
}

// Standard containers and new-expressions share the checked layer.
void* operator new(size_t size) {
  void* block = mem_alloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return mem_alloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return mem_alloc(size ? size : 1); }
void operator delete(void* block) noexcept { mem_free(block); }
void operator delete[](void* block) noexcept { mem_free(block); }
void operator delete(void* block, size_t) noexcept { mem_free(block); }
void operator delete[](void* block, size_t) noexcept { mem_free(block); }
