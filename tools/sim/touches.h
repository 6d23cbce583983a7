// Counting bikes that touch each other in a headless run (skorvan-sim --touches): every bike-bike
// contact joins two bikes' islands in the world step, so touching is what a big field costs.
#pragma once

// Starts logging the contacts of the bikes now in the session.
void touches_begin();
// After each session step: counts that step's touching pairs; prints a line per simulated second.
void touches_after_step();
// Stops logging and prints the totals by kind and by gate index.
void touches_end();
