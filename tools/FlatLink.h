#pragma once

#include <windows.h>

// Sectorix.dll's link as a host written for the telemetry library runs it,
// through the flat functions only: opened with initTelvaneCommunication and
// startTelvaneCommunication, the card waited for with getTelvaneStatus,
// closed with endTelvaneCommunication and deinitTelvaneCommunication when
// the object goes.
class CFlatLink
{
public:
    // Throws CToolError(ExitFailed) when the link does not open.
    CFlatLink();
    ~CFlatLink();

    CFlatLink(const CFlatLink&) = delete;
    CFlatLink& operator=(const CFlatLink&) = delete;

    // Returns once a card that can be read is there. Throws
    // CToolError(ExitNoCard) when none comes within the time, the wait then
    // ended by getTelvaneStatusTerminate from a second thread, and
    // CToolError(ExitFailed) when the card cannot be read.
    void WaitForCard(DWORD timeoutSeconds);

private:
    struct Deadline
    {
        HANDLE hAnswered;
        DWORD milliseconds;
        volatile bool passed;
    };

    static DWORD WINAPI DeadlineMain(void* pParam);
};
