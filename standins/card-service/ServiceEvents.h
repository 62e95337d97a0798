#pragma once

#include <windows.h>

// The named events around the pipe: the two that tell clients a service
// runs, and the one that `--stop` signals. Other processes keep them alive
// between runs, so a run resets them when it starts and when it ends.
class CServiceEvents
{
public:
    explicit CServiceEvents(SECURITY_ATTRIBUTES* pSecurity);
    ~CServiceEvents();
    CServiceEvents(const CServiceEvents&) = delete;
    CServiceEvents& operator=(const CServiceEvents&) = delete;

    // The system's error code, ERROR_SUCCESS once all three exist.
    DWORD Create();
    void AnnounceRunning(bool bVersion2);
    HANDLE Stop() const { return m_hStop; }
    // Ends the running stand-in, if there is one.
    // False when no stand-in runs.
    static bool SignalStop();

private:
    HANDLE CreateReset(const wchar_t* pName);

    SECURITY_ATTRIBUTES* m_pSecurity;
    HANDLE m_hStop = nullptr;
    HANDLE m_hRunning = nullptr;
    HANDLE m_hVersion2 = nullptr;
};
