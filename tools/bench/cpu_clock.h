// The clock the benchmarks time with: CPU seconds of the calling thread, since the machine may
// be shared and wall time would count the waiting.
#pragma once

#include <ctime>

inline double bench_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
