// Player-visible messages: every subsystem posts them here; they go to the log and to the
// on-screen message list the HUD draws. Also holds the program's debug level.
#pragma once

// 0 normally, 1 with "--debug", 2 with "--super-debug": extra log lines across the program.
extern int debug_level;

// Logs the text (adding a newline when it has none, and resetting the terminal colour when it
// holds an escape character) and hands it to the on-screen list.
void console_print(const char* text);
// console_print of a formatted text (cut to 1023 characters).
void console_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The on-screen message list registers here (the HUD); null detaches it. Without one, messages
// only reach the log.
using ConsoleDisplayHook = void (*)(const char* text);
void console_set_display_hook(ConsoleDisplayHook hook);
