#pragma once
// The framework's pseudo-random generator: one 32-bit seed shared by the
// program, stepped as a linear congruence, so that a seed set by the caller
// gives the same sequence on every run.
#include <cstdint>

// The seed; setting it starts a known sequence.
extern uint32_t RandSeed;
// A number 0 <= r < range; 0 when range is 0 or negative.
int32_t Random(int32_t range);
// A number 0 <= r < 1.
double Random();
// Seeds from the clock.
void Randomize();
