#pragma once

// The end of a benchmark's line when its figure misses the goal, so that a
// miss stands out in the output of make bench.
inline const char* GoalMark(bool bMet)
{
    return bMet ? "" : " BELOW GOAL";
}
