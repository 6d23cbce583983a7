// A display for tests that need a real GL context: the one in DISPLAY, else a private virtual
// X server started once per process (it picks a free display number itself) and stopped at exit.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace gl_display_detail {
inline pid_t server = 0;
inline void stop_server() {
  if (server <= 0) return;
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  server = 0;
}
}  // namespace gl_display_detail

// True when a display is there (DISPLAY is then set).
inline bool gl_test_display() {
  static int state = -1;
  if (state >= 0) return state == 1;
  const char* display = getenv("DISPLAY");
  if (display && *display) return (state = 1) == 1;
  int fds[2];
  if (pipe(fds) != 0) return (state = 0) == 1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    dup2(quiet, 2);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c;
  while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (pid <= 0 || number.empty()) {
    if (pid > 0) waitpid(pid, nullptr, 0);
    return (state = 0) == 1;
  }
  gl_display_detail::server = pid;
  atexit(gl_display_detail::stop_server);
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return (state = 1) == 1;
}
