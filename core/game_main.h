// The game program: start-up, the frame loop and shutdown over the window.
#pragma once

// Runs the game with its command line; returns the exit code.
int game_main(int argc, const char* const* argv);

// Saves the frame buffer as the next "@screenshot%03d.png" in the home directory.
void take_screenshot();

// Switches the window to what the "video_mode" setting now asks for (the video menu calls it
// after a change); the switch happens at the next message pump.
void video_mode_apply();
