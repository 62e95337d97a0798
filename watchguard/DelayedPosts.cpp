#include "watchguard/DelayedPosts.h"

namespace Sectorix
{

LONG TicksUntil(DWORD dueTick, DWORD now)
{
    return static_cast<LONG>(dueTick - now);
}

DWORD DelayedWaitTimeout(const std::vector<MSG>& posts, DWORD now)
{
    if (posts.empty())
        return INFINITE;
    LONG nearest = TicksUntil(posts.front().time, now);
    for (const MSG& post : posts)
    {
        LONG until = TicksUntil(post.time, now);
        if (until < nearest)
            nearest = until;
    }
    return nearest > 0 ? static_cast<DWORD>(nearest) : 0;
}

bool TakeDuePost(std::vector<MSG>& posts, DWORD now, MSG& post)
{
    for (auto it = posts.begin(); it != posts.end(); ++it)
    {
        if (TicksUntil(it->time, now) <= 0)
        {
            post = *it;
            posts.erase(it);
            return true;
        }
    }
    return false;
}

}
