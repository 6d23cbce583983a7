// Lines the player enters in the chat field: console commands after "/" or "\", chat messages
// for the game server otherwise.
#pragma once

// What the console needs from the network client; null while it is absent.
struct ConsoleHooks {
  // Queues a chat message for the server; the text is already cut to fit the message.
  void (*send_chat)(const char* text);
};
extern ConsoleHooks console_hooks;

// Longest chat text sent, so the message stays within its buffer.
constexpr int CHAT_TEXT_MAX = 450;
// Chat messages closer together than this (s of game clock) are dropped.
constexpr double CHAT_SPAM_SECONDS = 2;

// Runs one entered line. Returns 0 when a command line names no known command (the chat field
// then keeps the text), else non-zero.
int console_execute(const char* line);
