#pragma once
// Random play (随机): each step strikes a key at random on the keyboard played
// last and waits a random time before the next. Draws are rounded half to
// even, so keys 0 and 64 come half as often as the others.
#include "instrument/twips.h"

#include <functional>

struct RandomStep {
    int waitMs;  // until the next step
    int key;
    int ticks;   // how long the key is held, in 10 ms ticks
};

// Three draws of `rnd` (uniform in [0, 1)): a spread of 0 to 3, the wait
// within 300 ms times that spread, then the key.
inline RandomStep NextRandomStep(const std::function<double()>& rnd)
{
    const double spread = RoundHalfEven(rnd() * 3);
    const int wait = int(RoundHalfEven(rnd() * 300 * spread + 1));
    const int key = int(RoundHalfEven(rnd() * 64));
    return {wait, key, int(RoundHalfEven(wait / 10.0))};
}
