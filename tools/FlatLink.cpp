#include "FlatLink.h"

#include "ToolError.h"

#include "Sectorix/SectorixFlat.h"

#include <cstdio>
#include <string>

namespace
{
const DWORD MillisecondsPerSecond = 1000;
const size_t StatusTextSize = 8;
}

CFlatLink::CFlatLink()
{
    if (!initTelvaneCommunication() || !startTelvaneCommunication())
    {
        deinitTelvaneCommunication();
        throw CToolError(ExitFailed, "Sectorix.dll did not open its link");
    }
}

CFlatLink::~CFlatLink()
{
    endTelvaneCommunication();
    deinitTelvaneCommunication();
}

void CFlatLink::WaitForCard(DWORD timeoutSeconds)
{
    Deadline deadline = { ::CreateEventW(nullptr, TRUE, FALSE, nullptr), timeoutSeconds * MillisecondsPerSecond,
                          false };
    HANDLE hThread = deadline.hAnswered ? ::CreateThread(nullptr, 0, &DeadlineMain, &deadline, 0, nullptr) : nullptr;
    if (!hThread)
    {
        if (deadline.hAnswered)
            ::CloseHandle(deadline.hAnswered);
        throw CToolError(ExitFailed, "cannot start the thread that ends the wait for a card");
    }
    unsigned short status = 0;
    int answer = getTelvaneStatus(&status);
    ::SetEvent(deadline.hAnswered);
    ::WaitForSingleObject(hThread, INFINITE);
    ::CloseHandle(hThread);
    ::CloseHandle(deadline.hAnswered);
    if (!answer && deadline.passed)
        throw CToolError(ExitNoCard, "no card was offered within " + std::to_string(timeoutSeconds) + " s");
    if (!answer)
        throw CToolError(ExitFailed, "Sectorix.dll could not look for a card");
    if (status != SECTORIX_STATUS_CONNECTED)
    {
        char text[StatusTextSize];
        std::snprintf(text, sizeof(text), "0x%04X", status);
        throw CToolError(ExitFailed, std::string("the card cannot be read (status ") + text + ")");
    }
}

DWORD WINAPI CFlatLink::DeadlineMain(void* pParam)
{
    Deadline* pDeadline = static_cast<Deadline*>(pParam);
    if (::WaitForSingleObject(pDeadline->hAnswered, pDeadline->milliseconds) == WAIT_TIMEOUT)
    {
        pDeadline->passed = true;
        getTelvaneStatusTerminate();
    }
    return 0;
}
