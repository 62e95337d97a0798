#pragma once

#include "CardVolume.h"

#include <windows.h>

#include <memory>
#include <vector>

class CPipeInstance;
class CRecorder;
class CServiceOptions;

// What the connections share.
struct SServiceContext
{
    const CServiceOptions& options;
    const CCardVolumes& volumes;
    CRecorder& recorder;
    volatile LONG fuzzMessagesSent;
};

// Keeps one pipe instance listening at all times and serves each client
// that connects on a thread of its own, until Stop().
class CPipeServer
{
public:
    CPipeServer(SServiceContext& context, SECURITY_ATTRIBUTES* pSecurity);
    ~CPipeServer();
    CPipeServer(const CPipeServer&) = delete;
    CPipeServer& operator=(const CPipeServer&) = delete;

    // The system's error code, ERROR_SUCCESS once the first instance listens.
    DWORD Start();
    // Ends every connection and returns once all threads are gone.
    void Stop();

private:
    static DWORD WINAPI ListenThread(void* pServer);
    static DWORD WINAPI SessionThread(void* pSession);
    std::unique_ptr<CPipeInstance> NewInstance(bool bFirst, DWORD& error);
    void Listen();
    void Launch(std::unique_ptr<CPipeInstance> connected);
    void ForgetEndedSessions();

    SServiceContext& m_context;
    SECURITY_ATTRIBUTES* m_pSecurity;
    HANDLE m_hQuit = nullptr;
    HANDLE m_hListener = nullptr;
    std::unique_ptr<CPipeInstance> m_listening;
    std::vector<HANDLE> m_sessions;
    DWORD m_connections = 0;
};
