// Loading-screen texts with the progress spinner and the longest-delay record.
#include "core/loading.h"

#include <cstdio>
#include <cstring>

#include "platform/vant.h"

namespace {

LoadingDisplayHook display_hook = nullptr;
double last_message_time = -1;
double last_progress_time = -1;
int spinner = 0;
double max_delay = 0;
char max_delay_before[80] = "";
char previous[80] = "";

double now() {
  int32_t seconds, microseconds;
  vant_time_now(&seconds, &microseconds);
  return seconds + microseconds * 1e-6;
}

void show(const char* text) {
  double t = now();
  if (last_message_time >= 0 && t - last_message_time > max_delay) {
    max_delay = t - last_message_time;
    snprintf(max_delay_before, sizeof max_delay_before, "%s", previous);
  }
  last_message_time = t;
  snprintf(previous, sizeof previous, "%.79s", text);
  if (display_hook) display_hook(text);
}

}  // namespace

void loading_set_display_hook(LoadingDisplayHook hook) {
  display_hook = hook;
}

void loading_message(const char* text) {
  show(text);
}

void loading_message_logged(const char* text) {
  show(text);
  vant_log("%s\n", text);
}

void loading_message_logged_reset(const char* text) {
  spinner = 0;
  last_progress_time = -1;
  loading_message_logged(text);
}

void loading_progress(const char* text) {
  double t = now();
  if (last_progress_time >= 0 && t - last_progress_time < 0.125) return;
  last_progress_time = t;
  static const char* const STATES[4] = {"", ".", "..", "..."};
  char line[80];
  snprintf(line, sizeof line, "%.64s%s", text, STATES[spinner]);
  spinner = (spinner + 1) & 3;
  show(line);
}

void loading_done(const char* text) {
  char line[80];
  snprintf(line, sizeof line, "%.64s...done", text);
  show(line);
}

double loading_max_delay(const char** before) {
  if (before) *before = max_delay_before;
  return max_delay;
}
