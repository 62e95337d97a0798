#pragma once

#include <windows.h>

#include <vector>

// One instance of the service's pipe. Every operation is overlapped and
// gives up as soon as the stand-in is told to end, so that no client can
// keep it alive.
class CPipeInstance
{
public:
    explicit CPipeInstance(HANDLE hQuit);
    ~CPipeInstance();
    CPipeInstance(const CPipeInstance&) = delete;
    CPipeInstance& operator=(const CPipeInstance&) = delete;

    // Whether some process serves the pipe already.
    static bool NameTaken();
    // The system's error code, ERROR_SUCCESS once the instance exists.
    DWORD Create(SECURITY_ATTRIBUTES* pSecurity, bool bFirst);
    bool Connect();
    bool ReadMessage(std::vector<BYTE>& message);
    bool Write(const void* pData, size_t size);
    // False when the stand-in ends first.
    bool Idle(DWORD milliseconds) const;
    bool Quitting() const { return !Idle(0); }
    DWORD Error() const { return m_error; }
    bool ClientGone() const;

private:
    bool Finish(BOOL bStarted, OVERLAPPED& overlapped, DWORD& transferred);

    HANDLE m_hQuit;
    HANDLE m_hEvent;
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
    DWORD m_error = ERROR_SUCCESS;
};
