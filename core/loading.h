// The loading screen's messages: a stage label shown while data loads, progress ticks with a
// moving spinner, and the "...done" line at the end of a stage. Drawing belongs to the window;
// without a display hook (tools, tests) the texts only reach the log where stated.
#pragma once

// Shows a text.
void loading_message(const char* text);
// Shows a text and logs it with "%s\n"; the reset form also restarts the spinner.
void loading_message_logged(const char* text);
void loading_message_logged_reset(const char* text);
// Shows "%.64s" plus a spinner state, at most once every 0.125 s.
void loading_progress(const char* text);
// Shows "%.64s...done".
void loading_done(const char* text);

// The longest time between two consecutive messages (s) and the message before it.
double loading_max_delay(const char** before);

using LoadingDisplayHook = void (*)(const char* text);
void loading_set_display_hook(LoadingDisplayHook hook);
