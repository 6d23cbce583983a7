// The game program as a user runs it: bad command lines, missing game data, and under a
// virtual X server a window that opens and closes cleanly on a close request.
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string GAME = std::string(SK_TEST_BIN_DIR) + "/skorvan";

struct Outcome {
  int exit_code;
  std::string err;
};

// Runs a shell command with a fresh home directory; standard error is kept.
Outcome run(const TempDir& home, const std::string& command) {
  std::string err_file = home.file("stderr.txt");
  std::string line = "XDG_DATA_HOME='" + home.path.string() + "' " + command + " 2>'" + err_file + "'";
  int status = std::system(line.c_str());
  return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file_bytes(err_file)};
}

TEST(GameProgram, BadCommandLinesEndWithTheirMessageAndCode1) {
  struct Case {
    const char* args;
    const char* message;
  } cases[] = {
      {"--lock-fps x", "Bad arg for --lock-fps\n"},
      {"--chase-center=1,2", "Bad arg for --chase-center\n"},
      {"--nonsense", "bad option '--nonsense'\n"},
      {"a.skdemo b.skdemo", "Too many files!\n"},
  };
  for (const Case& c : cases) {
    TempDir home;
    // No display: nothing here may need a window.
    Outcome r = run(home, "env -u DISPLAY -u WAYLAND_DISPLAY " + GAME + " " + c.args);
    EXPECT_EQ(r.exit_code, 1) << c.args;
    // The display system may add notes of its own before the game's message.
    std::string message = c.message;
    EXPECT_TRUE(r.err.size() >= message.size() &&
                r.err.compare(r.err.size() - message.size(), message.size(), message) == 0)
        << c.args << ": " << r.err;
  }
}

TEST(GameProgram, MissingGameDataEndsWithCode0AndSaysSo) {
  TempDir home, empty;
  // SK_HOME replaces the program's own directory, where the base archive lies.
  Outcome r = run(home, "env -u DISPLAY -u WAYLAND_DISPLAY SK_HOME='" + empty.path.string() + "' " +
                        GAME + " --width 800");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("Problem starting Skorvan: Can't find game data"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::exists(home.file("Skorvan/lastlog.txt")));
  EXPECT_FALSE(std::filesystem::exists(home.file("Skorvan/config")));
}

bool have_xvfb() { return std::system("command -v xvfb-run >/dev/null 2>&1") == 0; }

// Starts the game under a virtual X server, waits until it draws, then sends the signal a
// session manager sends at logout, which the window layer turns into a close request.
// Options are added to the command line; the game runs settle more seconds once its log shows
// the ready line.
Outcome run_and_close(const TempDir& home, const char* signal, const std::string& options = "",
                      const std::string& ready = "GL_EXTENSIONS", int settle = 0) {
  std::string log = home.file("Skorvan/lastlog.txt");
  std::string script = home.write(
      "close.sh", GAME + " --width 800 --height 600 " + options + " &\np=$!\n"
      "for i in $(seq 1 300); do grep -q '" + ready + "' '" + log + "' 2>/dev/null && break; "
      "sleep 0.1; done\nsleep " + std::to_string(settle) + "\nkill -" + signal + " $p\nwait $p\n");
  return run(home, "timeout 60 xvfb-run -a sh '" + script + "'");
}

TEST(GameProgram, WindowOpensAndClosesCleanlyOnACloseRequest) {
  if (!have_xvfb()) GTEST_SKIP() << "xvfb-run is not installed";
  for (const char* signal : {"TERM"}) {
    TempDir home;
    home.write("Skorvan/config", "video_mode=Windowed\n");
    Outcome r = run_and_close(home, signal);
    EXPECT_EQ(r.exit_code, 0) << signal << ": " << r.err;

    std::string log = read_file_bytes(home.file("Skorvan/lastlog.txt"));
    const char* in_order[] = {
        "Skorvan version 2018-07-28-1418 snapshot\n", "Creating window\n", "GL_VENDOR: ",
        "Deallocating bikes\n", "Closing input devices\n", "Writing config files\n",
        "Deleting models\n", "Deleting OpenGL context\n", "Window shutdown complete\n",
    };
    size_t at = 0;
    for (const char* line : in_order) {
      size_t found = log.find(line, at);
      EXPECT_NE(found, std::string::npos) << signal << ": " << line;
      if (found != std::string::npos) at = found;
    }

    // Every key is written; the window's size is kept for the next run.
    std::string config = "\n" + read_file_bytes(home.file("Skorvan/config"));
    EXPECT_NE(config.find("xres=800\nyres=600\n"), std::string::npos) << signal;
    EXPECT_NE(config.find("video_mode=Windowed\n"), std::string::npos) << signal;
    settings_reset();
    std::string defaults;
    settings_format(&defaults);
    size_t start = 0;
    while (start < defaults.size()) {
      size_t end = defaults.find('\n', start);
      std::string key = defaults.substr(start, defaults.find('=', start) - start + 1);
      EXPECT_NE(config.find("\n" + key), std::string::npos) << key;
      start = end + 1;
    }
  }
}

TEST(GameProgram, RecordAudioWritesWholeStepsOfTheMix) {
  if (!have_xvfb()) GTEST_SKIP() << "xvfb-run is not installed";
  TempDir home;
  const std::string recording = home.file("game.raw");
  // The session runs steps once the start track has loaded.
  Outcome r = run_and_close(home, "TERM", "--record-audio '" + recording + "'", "Max loading delay", 1);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const size_t size = read_file_bytes(recording).size();
  EXPECT_GT(size, 0u);
  EXPECT_EQ(size % 1380, 0u) << "690 stereo samples per step";
  std::string log = read_file_bytes(home.file("Skorvan/lastlog.txt"));
  EXPECT_NE(log.find("Opening readback audio...\n"), std::string::npos);
  EXPECT_EQ(log.find("Opening waveOut audio...\n"), std::string::npos);
}

}  // namespace
