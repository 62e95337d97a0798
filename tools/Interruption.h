#pragma once

#include <windows.h>

#include <string>

// Ctrl+C, Ctrl+Break and the closing of the console, turned into a request
// that the tool's long operations look at between their steps, so that
// they stop cleanly: nothing half-written is left under a final name.
class CInterruption
{
public:
    typedef void (*StopAction)();

    static void Install();
    static bool Requested();
    // Signalled with the request, for waits that watch handles.
    static HANDLE Event();
    // What asked the tool to stop, in words.
    static std::string Cause();
    // Throws CToolError(ExitInterrupted) saying what became of the work,
    // once a stop has been asked for.
    static void ThrowIfRequested(const std::string& consequence);
    // A wait this thread cannot look out of is ended by the action, run on
    // the thread the system calls the handler on; none: nullptr.
    static void SetStopAction(StopAction pfnAction);
    // The tool has cleaned up and is about to end: a closing console may
    // now take the process.
    static void Finished();

private:
    static BOOL WINAPI OnConsoleControl(DWORD controlType);
};
