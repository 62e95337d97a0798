#include "PipeServer.h"

#include "ClientSession.h"
#include "Console.h"
#include "PipeInstance.h"

CPipeServer::CPipeServer(SServiceContext& context, SECURITY_ATTRIBUTES* pSecurity)
    : m_context(context)
    , m_pSecurity(pSecurity)
{
}

CPipeServer::~CPipeServer()
{
    Stop();
    if (m_hQuit)
        ::CloseHandle(m_hQuit);
}

DWORD CPipeServer::Start()
{
    m_hQuit = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_hQuit)
        return ::GetLastError();
    if (CPipeInstance::NameTaken())
        return ERROR_PIPE_BUSY;
    DWORD error = ERROR_SUCCESS;
    m_listening = NewInstance(true, error);
    if (!m_listening)
        return error;
    m_hListener = ::CreateThread(nullptr, 0, ListenThread, this, 0, nullptr);
    return m_hListener ? ERROR_SUCCESS : ::GetLastError();
}

void CPipeServer::Stop()
{
    if (!m_hListener)
        return;
    ::SetEvent(m_hQuit);
    ::WaitForSingleObject(m_hListener, INFINITE);
    ::CloseHandle(m_hListener);
    m_hListener = nullptr;
    for (HANDLE hSession : m_sessions)
    {
        ::WaitForSingleObject(hSession, INFINITE);
        ::CloseHandle(hSession);
    }
    m_sessions.clear();
    m_listening.reset();
}

DWORD WINAPI CPipeServer::ListenThread(void* pServer)
{
    static_cast<CPipeServer*>(pServer)->Listen();
    return 0;
}

DWORD WINAPI CPipeServer::SessionThread(void* pSession)
{
    std::unique_ptr<CClientSession> session(static_cast<CClientSession*>(pSession));
    session->Run();
    return 0;
}

std::unique_ptr<CPipeInstance> CPipeServer::NewInstance(bool bFirst, DWORD& error)
{
    std::unique_ptr<CPipeInstance> instance(new CPipeInstance(m_hQuit));
    error = instance->Create(m_pSecurity, bFirst);
    if (error != ERROR_SUCCESS)
        instance.reset();
    return instance;
}

// The next instance is created as soon as a client takes the listening one,
// so that a client arriving meanwhile finds the pipe busy at worst, never
// missing.
void CPipeServer::Listen()
{
    while (m_listening)
    {
        bool bConnected = m_listening->Connect();
        if (m_listening->Quitting())
            return;
        if (!bConnected && !m_listening->ClientGone())
            Complain("cannot connect a client: " + SystemMessage(m_listening->Error()));
        std::unique_ptr<CPipeInstance> connected = std::move(m_listening);
        DWORD error = ERROR_SUCCESS;
        m_listening = NewInstance(false, error);
        if (!m_listening)
            Complain("stops listening: " + SystemMessage(error));
        if (bConnected)
            Launch(std::move(connected));
    }
}

void CPipeServer::Launch(std::unique_ptr<CPipeInstance> connected)
{
    ForgetEndedSessions();
    CClientSession* pSession = new CClientSession(m_context, std::move(connected), m_connections++);
    HANDLE hThread = ::CreateThread(nullptr, 0, SessionThread, pSession, 0, nullptr);
    if (!hThread)
    {
        Complain("cannot serve a client: " + SystemMessage(::GetLastError()));
        delete pSession;
        return;
    }
    m_sessions.push_back(hThread);
}

// Fuzz runs connect thousands of times; ended threads are let go early.
void CPipeServer::ForgetEndedSessions()
{
    std::vector<HANDLE> running;
    for (HANDLE hSession : m_sessions)
    {
        if (::WaitForSingleObject(hSession, 0) == WAIT_OBJECT_0)
            ::CloseHandle(hSession);
        else
            running.push_back(hSession);
    }
    m_sessions.swap(running);
}
