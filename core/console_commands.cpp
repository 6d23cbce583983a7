// Console commands and chat lines entered by the player.
#include "core/console_commands.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "core/game.h"
#include "core/settings.h"
#include "physics/setup.h"

ConsoleHooks console_hooks = {};

namespace {

double last_chat_time = -1e9;

// "readsetup": the setup keys of "@setups/" + name; the viewed local bike rides on them.
void read_setup(const char* name) {
  if (!setup_file_read(name)) return;
  Bike* bike = game.slot_bike[game.viewed_slot];
  if (bike && game.slot_kind[game.viewed_slot] == SLOT_LOCAL) setup_apply(bike);
}

void write_setup(const char* name) { setup_file_write(name); }

struct Command {
  const char* name;
  void (*run)(const char* arguments);
};

const Command COMMANDS[] = {
    {"readsetup", read_setup},
    {"writesetup", write_setup},
};

void chat(const char* text) {
  if (game.game_clock - last_chat_time < CHAT_SPAM_SECONDS) {
    console_print("No one likes a spammer");
    return;
  }
  last_chat_time = game.game_clock;
  if (!game.net.connected) {
    console_print("Not connected to server");
    return;
  }
  char cut[CHAT_TEXT_MAX + 1];
  snprintf(cut, sizeof cut, "%s", text);
  if (console_hooks.send_chat) console_hooks.send_chat(cut);
}

}  // namespace

int console_execute(const char* line) {
  if (line[0] != '/' && line[0] != '\\') {
    chat(line);
    return 1;
  }
  const char* word = line + 1;
  size_t length = 0;
  while (word[length] && !isspace(static_cast<unsigned char>(word[length]))) length++;
  // The arguments: the rest of the line without the white space around it.
  char arguments[256];
  const char* rest = word + length;
  while (isspace(static_cast<unsigned char>(*rest))) rest++;
  snprintf(arguments, sizeof arguments, "%s", rest);
  for (size_t end = strlen(arguments); end > 0 && isspace(static_cast<unsigned char>(arguments[end - 1]));)
    arguments[--end] = 0;
  for (const Command& command : COMMANDS) {
    if (strlen(command.name) == length && strncmp(command.name, word, length) == 0) {
      command.run(arguments);
      return 1;
    }
  }
  return 0;
}
