#pragma once

// The rounds of the worst-moment tests follow one seed, so that a failing
// round can be replayed: --seed=N --rounds=N on the test program's command
// line. Without --rounds each test plays its own number of rounds.
extern unsigned g_worstMomentSeed;
extern unsigned g_worstMomentRounds;

inline unsigned WorstMomentRounds(unsigned fallback)
{
    return g_worstMomentRounds ? g_worstMomentRounds : fallback;
}
