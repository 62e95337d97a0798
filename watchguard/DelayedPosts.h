#pragma once

#include <windows.h>

#include <vector>

namespace Sectorix
{

// Delayed posts are MSGs whose time field holds the tick at which they are
// due. Ticks are compared by their signed distance, so a due tick that wraps
// past zero still waits its full delay.
LONG TicksUntil(DWORD dueTick, DWORD now);

// The wait until the earliest post is due: INFINITE without posts, 0 when one is overdue.
DWORD DelayedWaitTimeout(const std::vector<MSG>& posts, DWORD now);

// Takes the first due post out of the queue, keeping the others in order.
bool TakeDuePost(std::vector<MSG>& posts, DWORD now, MSG& post);

}
