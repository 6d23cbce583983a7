// The command line: value forms, "--", clamping, bad values, files and their messages.
#include "core/command_line.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "core/settings.h"

namespace {

struct Case {
  std::vector<const char*> args;
  bool ok;
  const char* message;  // standard error
  std::function<bool()> holds;
};

void run(const Case& c) {
  settings_reset();
  render_params_derive();
  start_options_reset();
  std::vector<const char*> argv{"skorvan"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  testing::internal::CaptureStderr();
  bool ok = command_line_parse(static_cast<int>(argv.size()), argv.data());
  std::string err = testing::internal::GetCapturedStderr();
  std::string line;
  for (const char* a : c.args) line += std::string(a) + " ";
  EXPECT_EQ(ok, c.ok) << line;
  EXPECT_EQ(err, c.message) << line;
  if (c.holds) {
    EXPECT_TRUE(c.holds()) << line;
  }
}

bool track_is(const char* name) { return strcmp(start_options.track, name) == 0; }
bool demo_is(const char* name) { return strcmp(start_options.demo_file, name) == 0; }

TEST(CommandLine, ValueFormsFilesAndErrors) {
  const Case cases[] = {
      {{"--track=mudpit"}, true, "", [] { return track_is("mudpit"); }},
      {{"--track", "mudpit"}, true, "", [] { return track_is("mudpit"); }},
      {{"--track=a=b"}, true, "", [] { return track_is("a=b"); }},
      {{"--track", "--fugly"}, true, "", [] { return track_is("--fugly") && !start_options.fugly; }},
      {{"--", "-odd.skdemo"}, true, "", [] { return demo_is("-odd.skdemo"); }},
      {{"--", "--"}, true, "", [] { return demo_is("--"); }},
      {{"race.skdemo", "--fugly"}, true, "",
       [] { return demo_is("race.skdemo") && start_options.fugly; }},
      {{"a.skdemo", "b.skdemo"}, false, "Too many files!\n", nullptr},
      {{"a.skdemo", "--", "b.skdemo"}, false, "Too many files!\n", nullptr},
      {{"--flugly"}, false, "bad option '--flugly'\n", nullptr},
      {{"-x"}, false, "bad option '-x'\n", nullptr},
      {{"--fugly=1"}, false, "bad option '--fugly=1'\n", nullptr},
      {{"--lock-fps", "fast"}, false, "Bad arg for --lock-fps\n", nullptr},
      {{"--lock-fps=0"}, false, "Bad arg for --lock-fps\n", nullptr},
      {{"--lock-fps"}, false, "Bad arg for --lock-fps\n", nullptr},
      {{"--lock-fps", "30"}, true, "", [] { return start_options.lock_fps == 30; }},
      {{"--chase-center", "1,2"}, false, "Bad arg for --chase-center\n", nullptr},
      {{"--chase-center=1,2.5,-3"}, true, "",
       [] {
         const double* c = start_options.chase_center;
         return c[0] == 1 && c[1] == 2.5 && c[2] == -3;
       }},
      {{"--width", "wide"}, false, "Bad arg for --width\n", nullptr},
      {{"--width", "800", "--height=600"}, true, "",
       [] { return settings.xres == 800 && settings.yres == 600; }},
      {{"--texture-detail", "9"}, true, "", [] { return render_params.texture_detail == 4; }},
      {{"--texture-detail=-3"}, true, "", [] { return render_params.texture_detail == 0; }},
      {{"--lod-scale", "0"}, true, "", [] { return render_params.lod_scale == 1e-6; }},
      {{"--lod-scale", "1e9"}, true, "", [] { return render_params.lod_scale == 1e6; }},
      {{"--fake-lag", "2500"}, true, "", [] { return start_options.fake_lag == 1.0; }},
      {{"--fake-lag", "250"}, true, "", [] { return start_options.fake_lag == 0.25; }},
      {{"--fake-loss", "150"}, true, "", [] { return start_options.fake_loss == 100; }},
      {{"--erode", "0.5"}, true, "", [] { return start_options.erode_rate == 512; }},
      {{"--erode", "1000"}, true, "", [] { return start_options.erode_rate == 102400; }},
      {{"--max-detail-distance", "40"}, true, "",
       [] { return start_options.max_detail_distance == 40 && start_options.detail_fade_end == 45; }},
      {{"--connect", "skorvan:race.example.org"}, true, "",
       [] { return strcmp(start_options.connect, "race.example.org") == 0; }},
      {{"--connect=race.example.org"}, true, "",
       [] { return strcmp(start_options.connect, "race.example.org") == 0; }},
      {{"--bikes", "4"}, true, "--bikes doesn't do anything anymore\n", nullptr},
      {{"--super-debug", "--nolearn"}, true, "",
       [] { return debug_level == 2 && !start_options.learn; }},
      {{"--draw-fps=1", "--depth", "32"}, true, "",
       [] { return settings.draw_fps == 1 && start_options.depth == 32; }},
  };
  for (const Case& c : cases) run(c);
}

}  // namespace
