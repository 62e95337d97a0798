#include "Interruption.h"

#include "ToolError.h"

namespace
{
// The system ends a process whose console closes a few seconds after it
// asked; the tool's clean-up must fit well inside that.
const DWORD CleanUpBound = 3000;

HANDLE g_hRequested = nullptr;
HANDLE g_hFinished = nullptr;
volatile LONG g_controlType = -1;
volatile CInterruption::StopAction g_pfnStopAction = nullptr;
}

void CInterruption::Install()
{
    g_hRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_hFinished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool CInterruption::Requested()
{
    return g_controlType != -1;
}

HANDLE CInterruption::Event()
{
    return g_hRequested;
}

std::string CInterruption::Cause()
{
    switch (g_controlType)
    {
    case CTRL_C_EVENT:
        return "Ctrl+C";
    case CTRL_BREAK_EVENT:
        return "Ctrl+Break";
    default:
        return "the closing of the console";
    }
}

void CInterruption::ThrowIfRequested(const std::string& consequence)
{
    if (Requested())
        throw CToolError(ExitInterrupted, consequence);
}

void CInterruption::SetStopAction(StopAction pfnAction)
{
    g_pfnStopAction = pfnAction;
}

void CInterruption::Finished()
{
    if (g_hFinished)
        ::SetEvent(g_hFinished);
}

// The process ends as soon as a handler returns from the closing of the
// console, so that handler waits for the tool's clean-up.
BOOL WINAPI CInterruption::OnConsoleControl(DWORD controlType)
{
    ::InterlockedCompareExchange(&g_controlType, static_cast<LONG>(controlType), -1);
    ::SetEvent(g_hRequested);
    if (StopAction pfnAction = g_pfnStopAction)
        pfnAction();
    if (controlType != CTRL_C_EVENT && controlType != CTRL_BREAK_EVENT)
        ::WaitForSingleObject(g_hFinished, CleanUpBound);
    return TRUE;
}
