// Player-visible messages: the log line and the hand-over to the on-screen list.
#include "core/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/vant.h"

int debug_level = 0;

namespace {
ConsoleDisplayHook display_hook = nullptr;
}

void console_set_display_hook(ConsoleDisplayHook hook) {
  display_hook = hook;
}

void console_print(const char* text) {
  size_t length = strlen(text);
  const char* reset = strchr(text, '\033') ? "\033[0m" : "";
  if (length > 0 && text[length - 1] == '\n')
    vant_log("%s%s", text, reset);
  else
    vant_log("%s%s\n", text, reset);
  if (display_hook) display_hook(text);
}

void console_printf(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  console_print(text);
}
