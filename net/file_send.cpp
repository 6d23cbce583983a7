// File upload to the game server: a file of "@outgoing/" offered, then streamed in pieces as
// reliable command texts once the server consents, and finally named.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "files/vfs.h"
#include "net/net.h"
#include "net/net_internal.h"

static void close_transfer(FileTransfer& t) {
  if (t.file) vfs_close(t.file);
  t.file = nullptr;
}

void file_send(NetClient& c, const char* argument_text) {
  FileTransfer& t = c.transfer;
  const char* p = argument_text;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  while (*p && !isspace(static_cast<unsigned char>(*p))) p++;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  const char* name = p;
  for (const char* q = name; *q; q++) {
    if (!isalnum(static_cast<unsigned char>(*q)) && *q != '_' && *q != '.') {
      console_print("Filename may only contain alphanumeric characters, '_' or '.'");
      return;
    }
  }
  const size_t prefix = strlen("@outgoing/") > strlen("namefile ") ? strlen("@outgoing/")
                                                                    : strlen("namefile ");
  if (prefix + strlen(name) + 1 > sizeof t.closing_text) {
    console_print("Filename too long");
    return;
  }
  if (t.file) {
    close_transfer(t);
    console_print("Stopping previous transfer");
  }
  t.allowed = false;
  char path[sizeof t.closing_text];
  snprintf(path, sizeof path, "@outgoing/%s", name);
  t.file = vfs_open(path, "rb");
  if (!t.file) {
    console_print("Can't open file");
    return;
  }
  snprintf(t.closing_text, sizeof t.closing_text, "namefile %s", name);
  t.next_piece_time = 0;
  net_send_reliable(c, SUB_COMMAND, "sendfile", 8);
  console_print("Sending file");
}

void file_send_ready(NetClient& c) { c.transfer.allowed = true; }

void file_send_denied(NetClient& c) {
  console_print("Send file denied");
  close_transfer(c.transfer);
  c.transfer.allowed = false;
}

void file_send_poll(NetClient& c) {
  FileTransfer& t = c.transfer;
  if (!t.allowed || !t.file) return;
  const double now = net_now(c);
  if (now < t.next_piece_time) return;
  t.next_piece_time = now + NET_FILE_PIECE_INTERVAL;
  uint8_t piece[10 + NET_FILE_PIECE];
  memcpy(piece, "sendpart -", 10);
  const int n = vfs_read(t.file, piece + 10, NET_FILE_PIECE);
  if (n > 0) {
    net_send_reliable(c, SUB_COMMAND, piece, 10 + n);
    return;
  }
  close_transfer(t);
  t.allowed = false;
  net_send_reliable(c, SUB_COMMAND, t.closing_text, static_cast<int>(strlen(t.closing_text)));
}
