// The checked allocator every heap block of the game goes through, its single
// out-of-memory exit, shared string copies and the start-of-race working-set hint.
#pragma once

#include <cstddef>

void* mem_alloc(size_t size);
void* mem_calloc(size_t count, size_t size);
void* mem_realloc(void* block, size_t size);
void mem_free(void* block);
// Prints every block still recorded ("%p:%d", address and serial) when checking is on.
void mem_report_leaks();
// Like mem_alloc, but running out of memory ends the program through fatal_out_of_memory.
void* mem_alloc_or_die(size_t size);

// The one out-of-memory exit: runs the registered closers (audio, window), shows
// "Out of virtual memory" and exits with status 1.
[[noreturn]] void fatal_out_of_memory();
// Registers something to close before the out-of-memory exit (at most a few).
void mem_on_fatal(void (*closer)());

// One shared, never-freed copy per distinct text.
const char* intern_string(const char* text);

// Start-of-race hint that the process wants most of physical memory resident.
void working_set_adjust();
// The working-set range for a given physical memory size, in bytes; false below 64 MiB.
bool working_set_range(unsigned long long physical, unsigned* minimum, unsigned* maximum);

// True when SK_CHECK_ALLOC turned on allocation checking.
bool mem_checking();

// How many blocks mem_alloc, mem_calloc and mem_realloc have handed out since the start: the
// per-step code must not move it.
unsigned long long mem_allocation_count();
