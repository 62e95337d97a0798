#include "PipeInstance.h"

#include "Sectorix/ServiceProtocol.h"

namespace
{
const DWORD PipeOpenMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
const DWORD PipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
const DWORD PipeBufferSize = 64 * 1024;
const DWORD DefaultClientTimeout = 0;
const DWORD ReadChunkSize = PipeBufferSize;
const DWORD ProbeMilliseconds = 1;

OVERLAPPED Overlapped(HANDLE hEvent)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = hEvent;
    return overlapped;
}
}

CPipeInstance::CPipeInstance(HANDLE hQuit)
    : m_hQuit(hQuit)
    , m_hEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

// An instance closed because the stand-in ends drops what its client has
// not read yet; one closed after a fault keeps it for the client to find.
CPipeInstance::~CPipeInstance()
{
    if (m_hPipe != INVALID_HANDLE_VALUE)
    {
        if (Quitting())
            ::DisconnectNamedPipe(m_hPipe);
        ::CloseHandle(m_hPipe);
    }
    if (m_hEvent)
        ::CloseHandle(m_hEvent);
}

// Wine lets a second process add instances to a pipe despite
// FILE_FLAG_FIRST_PIPE_INSTANCE, so the name is probed first: a pipe that
// exists either has a free instance or times out.
bool CPipeInstance::NameTaken()
{
    return ::WaitNamedPipeW(SECTORIX_SERVICE_PIPE, ProbeMilliseconds) || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

// Only the first instance claims the name, so that a second stand-in
// fails instead of sharing the pipe with the first.
DWORD CPipeInstance::Create(SECURITY_ATTRIBUTES* pSecurity, bool bFirst)
{
    if (!m_hEvent)
        return ::GetLastError();
    m_hPipe = ::CreateNamedPipeW(SECTORIX_SERVICE_PIPE, PipeOpenMode | (bFirst ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                 PipeMode, PIPE_UNLIMITED_INSTANCES, PipeBufferSize, PipeBufferSize,
                                 DefaultClientTimeout, pSecurity);
    return m_hPipe == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
}

bool CPipeInstance::Connect()
{
    OVERLAPPED overlapped = Overlapped(m_hEvent);
    DWORD ignored = 0;
    BOOL bStarted = ::ConnectNamedPipe(m_hPipe, &overlapped);
    return (!bStarted && ::GetLastError() == ERROR_PIPE_CONNECTED) || Finish(bStarted, overlapped, ignored);
}

// Requests are single messages; a longer one than a chunk arrives in
// several reads.
bool CPipeInstance::ReadMessage(std::vector<BYTE>& message)
{
    message.clear();
    for (;;)
    {
        size_t done = message.size();
        message.resize(done + ReadChunkSize);
        OVERLAPPED overlapped = Overlapped(m_hEvent);
        DWORD read = 0;
        BOOL bStarted = ::ReadFile(m_hPipe, &message[done], ReadChunkSize, nullptr, &overlapped);
        bool bComplete = Finish(bStarted, overlapped, read);
        message.resize(done + read);
        if (bComplete)
            return true;
        if (m_error != ERROR_MORE_DATA)
            return false;
    }
}

bool CPipeInstance::Write(const void* pData, size_t size)
{
    OVERLAPPED overlapped = Overlapped(m_hEvent);
    DWORD written = 0;
    BOOL bStarted = ::WriteFile(m_hPipe, pData, static_cast<DWORD>(size), nullptr, &overlapped);
    return Finish(bStarted, overlapped, written) && written == size;
}

bool CPipeInstance::Idle(DWORD milliseconds) const
{
    return ::WaitForSingleObject(m_hQuit, milliseconds) == WAIT_TIMEOUT;
}

bool CPipeInstance::ClientGone() const
{
    return m_error == ERROR_BROKEN_PIPE || m_error == ERROR_NO_DATA || m_error == ERROR_PIPE_NOT_CONNECTED ||
           m_error == ERROR_OPERATION_ABORTED;
}

// The overlapped block lives on the caller's stack: an operation cut short
// by the end is cancelled and waited for before it goes out of scope.
bool CPipeInstance::Finish(BOOL bStarted, OVERLAPPED& overlapped, DWORD& transferred)
{
    m_error = bStarted ? ERROR_SUCCESS : ::GetLastError();
    if (m_error != ERROR_SUCCESS && m_error != ERROR_IO_PENDING && m_error != ERROR_MORE_DATA)
        return false;
    HANDLE waits[] = {m_hEvent, m_hQuit};
    if (::WaitForMultipleObjects(ARRAYSIZE(waits), waits, FALSE, INFINITE) != WAIT_OBJECT_0)
    {
        ::CancelIo(m_hPipe);
        ::GetOverlappedResult(m_hPipe, &overlapped, &transferred, TRUE);
        m_error = ERROR_OPERATION_ABORTED;
        return false;
    }
    m_error = ::GetOverlappedResult(m_hPipe, &overlapped, &transferred, FALSE) ? ERROR_SUCCESS : ::GetLastError();
    return m_error == ERROR_SUCCESS;
}
