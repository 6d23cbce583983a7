// The game program's entry.
#include "core/game_main.h"

int main(int argc, char** argv) { return game_main(argc, argv); }
