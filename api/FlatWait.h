#pragma once

#include "afx/Event.h"

#include <windows.h>

namespace Sectorix
{

// The first flat status call of the process as other threads see it, from
// before the watchguard is made until the call returns. A request to end
// its wait is kept until the waiting thread sees it, however early it
// comes, and ending the link waits until that thread is out of the
// watchguard.
class CFlatWait
{
public:
    // Registers the calling thread's call, unless another thread's call is
    // registered.
    CFlatWait();
    ~CFlatWait();

    CFlatWait(const CFlatWait&) = delete;
    CFlatWait& operator=(const CFlatWait&) = delete;

    bool IsRegistered() const { return m_bRegistered; }
    bool IsEnding() const { return m_bEnding; }

    // Asks the registered call to end its wait; false when none is
    // registered.
    static bool Terminate();
    // Asks the registered call to end its wait and returns once it has
    // returned; false, with nothing done, on the registered thread itself.
    static bool TerminateAndWait();

private:
    void AskToEnd();

    DWORD m_dwThread;
    bool m_bRegistered = false;
    volatile bool m_bEnding = false;
    CEvent m_evReturned;
};

}
