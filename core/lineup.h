// What each start slot of a race asks for (the lineup request handed to the session reset), and
// a rider's appearance as a game server describes it.
#pragma once

// Lineup request values, one per start slot.
constexpr int LINEUP_DEMO = 0;         // the next rider of the demo being played, else empty
constexpr int LINEUP_PLAYER = 1;       // the player; only the first one counts
constexpr int LINEUP_ROBOT = 2;        // the next robot of the shuffled roster
constexpr int LINEUP_ROBOT_125 = 3;    // the next robot on a 125
constexpr int LINEUP_ROBOT_250 = 4;    // the next robot on a 250 four-stroke
constexpr int LINEUP_SERVER = 5;       // a rider the server announced
constexpr int LINEUP_ROBOT_NUMBER = 1000;  // plus n: the robot with race number n

constexpr int RIDER_TEXT_FIELD = 64;  // room of each description field, terminator included

// A rider's appearance as the server's description text carries it.
struct RiderDescription {
  char bike[RIDER_TEXT_FIELD];  // bike model code
  char rider_texture[RIDER_TEXT_FIELD];
  char bike_texture[RIDER_TEXT_FIELD];
  char wheel_texture[RIDER_TEXT_FIELD];
  char head_texture[RIDER_TEXT_FIELD];
  char number[4];
  char name[RIDER_TEXT_FIELD];
};
