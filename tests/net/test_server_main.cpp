// skorvan-test-server: the loopback test server run in real time, so that headless clients
// (skorvan-sim --connect) can join a race on an installed track and their traffic can be
// measured. Listens on 127.0.0.1 only.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/constants.h"
#include "core/track_load.h"
#include "files/vfs.h"
#include "tests/net/test_server.h"
#include "track/track_list.h"

int main(int argc, char** argv) {
  TestServer server;
  server.port = 19800;
  double seconds = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--track")) {
      server.track_name = argv[i + 1];
    } else if (!strcmp(argv[i], "--port")) {
      server.port = atoi(argv[i + 1]);
    } else if (!strcmp(argv[i], "--seconds")) {
      seconds = atof(argv[i + 1]);
    } else if (!strcmp(argv[i], "--laps")) {
      server.laps = atoi(argv[i + 1]);
    } else {
      break;
    }
  }
  if (argc % 2 == 0) {
    fprintf(stderr, "usage: skorvan-test-server [--track NAME] [--port N] [--seconds S] [--laps N]\n");
    return 1;
  }
  if (server.track_name == "testtrack") server.track_name = "rabbithill";
  // The clients compare the track's digest with the server's: take it from the installed track.
  vfs_file_list();
  track_list_scan();
  if (!track_load(server.track_name.c_str())) {
    fprintf(stderr, "can't load track '%s'\n", server.track_name.c_str());
    return 1;
  }
  memcpy(server.digest, track_digest, sizeof server.digest);
  track_free();
  if (!test_server_open(server)) {
    fprintf(stderr, "can't open 127.0.0.1:%d\n", server.port);
    return 1;
  }
  printf("listening on 127.0.0.1:%d, track %s\n", server.port, server.track_name.c_str());
  fflush(stdout);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  long step = 0;
  for (;;) {
    const double now = std::chrono::duration<double>(Clock::now() - start).count();
    if (now >= seconds) break;
    test_server_poll(server, now);
    // States go out every 4 ticks, as the clients send theirs.
    if (++step % 4 == 0) test_server_relay_states(server, 4);
    std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(step * SIM_STEP)));
  }
  for (const TestServerClient& c : server.clients) {
    if (c.datagrams == 0) continue;
    printf("client in slot %d: received %llu datagrams, %llu bytes (%.1f datagrams/s, %.0f bytes/s over %.0f s)\n",
           c.slot, (unsigned long long)c.datagrams, (unsigned long long)c.bytes, c.datagrams / seconds,
           c.bytes / seconds, seconds);
  }
  test_server_close(server);
  return 0;
}
