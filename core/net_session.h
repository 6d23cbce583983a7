// The game's connection to a game server wired into the session: what the network client does
// to the real session (races it starts, riders it announces, states, gate times, commands), and
// the per-step poll after which the session and the frame loop follow the connection.
#pragma once

#include "net/net.h"

// Fills the client's hooks with the session's own effects and its player description from the
// bike setup. The clock stays the platform's unless a caller sets hooks.now afterwards.
void net_session_attach(NetClient& c);

// The console's chat lines and the own erosion strokes no longer go to the client (at exit,
// before the client goes away).
void net_session_detach();

// Start-up with "--connect": the password, simulated lag (s) and loss (percent) and the target;
// the next poll opens the connection.
void net_session_connect(NetClient& c, const char* server, const char* password, double fake_lag,
                         int fake_loss);

// The step loop's network poll: net_poll, then the session (connected, race slot, off-pace
// values) and the frame loop's view of the connection follow the client.
void net_session_poll(NetClient& c);

// After net_poll: copies the connection's state into the session and the frame loop.
void net_session_sync(const NetClient& c);

// The player's bike or appearance changed: the description is taken from the setup again and
// resent while connected.
void net_session_description_changed(NetClient& c);
