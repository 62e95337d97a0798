// The connection to the card service: opening and closing the pipe, the
// receive path on the watchguard's alertable thread, and writing.
#include "Sectorix/SectorixService.h"

#include "Sectorix/Watchguard.h"
#include "afx/SingleLock.h"
#include "service/ServiceMessage.h"
#include "watchguard/Globals.h"
#include "watchguard/Logbuch.h"

#include <cstdarg>
#include <cstdlib>
#include <string>

using namespace Sectorix;

namespace
{
const int OpenAttempts = 10;
const DWORD OpenRetryBase = 30;
const int OpenRetrySpread = 50;
const DWORD ReopenDelay = 1000;
const DWORD HeaderSize = sizeof(SECTORIX_HEADER);
const DWORD ErrorMessageSize = sizeof(SECTORIX_TEXT);

// Stops at the first zero: CString takes the wide text up to it.
CString FromAnsi(const std::string& text)
{
    int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return CString(wide.c_str());
}
}

// The rest of a message comes from the pipe.
class CSectorixService::CPipeSource : public CMessageSource
{
public:
    explicit CPipeSource(CSectorixService& service) : m_service(service) {}

    bool Read(uint8_t* target, uint32_t length) override { return m_service.ReadFromPipe(target, length); }

private:
    CSectorixService& m_service;
};

// Without a watchguard no thread would ever receive on a pipe.
CWinThread* CSectorixService::ReceiverThread()
{
    CWatchguard* pWatchguard = g_pWatchguard;
    return pWatchguard ? pWatchguard->GetAlertableThread() : nullptr;
}

HANDLE CSectorixService::OpenPipe()
{
    if (m_hPipe != INVALID_HANDLE_VALUE)
    {
        ::Sleep(ReopenDelay);
        if (m_hPipe != INVALID_HANDLE_VALUE)
            ClosePipe();
    }
    CWinThread* pReceiver = ReceiverThread();
    if (!pReceiver)
        return INVALID_HANDLE_VALUE;

    HANDLE hPipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < OpenAttempts && hPipe == INVALID_HANDLE_VALUE; ++attempt)
    {
        hPipe = ::CreateFileW(SECTORIX_SERVICE_PIPE, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hPipe == INVALID_HANDLE_VALUE)
            ::Sleep(OpenRetryBase + std::rand() % OpenRetrySpread);
    }
    if (hPipe == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    // Read whole messages where the service writes them: one read then takes
    // a response with its first data. A byte-mode pipe is read as it comes.
    DWORD readMode = PIPE_READMODE_MESSAGE;
    bool messageMode = ::SetNamedPipeHandleState(hPipe, &readMode, nullptr, nullptr) != 0;

    {
        CSingleLock pipe(&m_csPipe, TRUE);
        m_bMessageMode = messageMode;
        HANDLE hProcess = ::GetCurrentProcess();
        if (m_hReceiver)
            ::CloseHandle(m_hReceiver);
        m_hReceiver = nullptr;
        if (!::DuplicateHandle(hProcess, pReceiver->m_hThread, hProcess, &m_hReceiver, 0, FALSE,
                               DUPLICATE_SAME_ACCESS))
        {
            ::CloseHandle(hPipe);
            return INVALID_HANDLE_VALUE;
        }
        m_hPipe = hPipe;
        m_bReceiving = ::QueueUserAPC(&ReadPipeOverlapped, m_hReceiver, reinterpret_cast<ULONG_PTR>(this)) != 0;
        if (!m_bReceiving)
        {
            pipe.Unlock();
            ClosePipe();
            return INVALID_HANDLE_VALUE;
        }
    }

    if (s_ServiceVersion >= ServiceVersionLogForwarding && TLogbuch::Instance().IsEnabled())
    {
        SECTORIX_TEXT request = { { sizeof(SECTORIX_TEXT), eServiceCmdLog, 0 }, ServiceLogForwardOn };
        WriteToPipe(&request.header, L"CSectorixService::OpenPipe");
    }
    return hPipe;
}

// Every read the receive path started comes back (its completion, or the
// queued start finding the pipe closed) before the buffers may go.
void CSectorixService::ClosePipe()
{
    CSingleLock command(&m_csCommand, TRUE);
    CSingleLock pipe(&m_csPipe, TRUE);
    if (m_hPipe == INVALID_HANDLE_VALUE)
        return;
    ClearResponse();
    ::CloseHandle(m_hPipe);
    m_hPipe = INVALID_HANDLE_VALUE;
    pipe.Unlock();
    WaitForReceiverToStop();
    pipe.Lock();
    ::CloseHandle(m_hReceiver);
    m_hReceiver = nullptr;
}

// A receiver thread that has ended runs no more completions; its reads
// ended with it.
void CSectorixService::WaitForReceiverToStop()
{
    HANDLE handles[] = { m_evResponse, m_hReceiver };
    for (;;)
    {
        {
            CSingleLock pipe(&m_csPipe, TRUE);
            if (!m_bReceiving)
                return;
        }
        DWORD result = ::WaitForMultipleObjectsEx(2, handles, FALSE, INFINITE, TRUE);
        if (result != WAIT_IO_COMPLETION && result != WAIT_OBJECT_0)
            return;
    }
}

bool CSectorixService::WriteToPipe(SECTORIX_HEADER* pMessage, const wchar_t* operation)
{
    BeginExchange();
    return WriteToPipe(pMessage, pMessage->size, operation);
}

// The write starts under the pipe lock, so that the receive path cannot
// close the handle under it; it is waited for through its event alone. The
// system resets the event when the write starts.
bool CSectorixService::WriteToPipe(void* data, DWORD length, const wchar_t*)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = m_evWrite;
    HANDLE hPipe;
    BOOL done;
    {
        CSingleLock pipe(&m_csPipe, TRUE);
        hPipe = m_hPipe;
        if (hPipe == INVALID_HANDLE_VALUE)
            return false;
        done = ::WriteFile(hPipe, data, length, nullptr, &overlapped);
        if (!done && ::GetLastError() != ERROR_IO_PENDING)
            return false;
    }
    DWORD written = 0;
    if (!::GetOverlappedResult(hPipe, &overlapped, &written, !done))
        return false;
    return written == length;
}

// A connection that broke before the request went out has given its signal
// already, and the request cleared it: nothing would wake the wait.
SECTORIX_HEADERS* CSectorixService::ReadResponse()
{
    for (;;)
    {
        if (!PipeOpen())
            return nullptr;
        DWORD result = ::WaitForSingleObjectEx(m_evResponse, INFINITE, TRUE);
        if (result == WAIT_IO_COMPLETION)
            continue;
        if (result != WAIT_OBJECT_0)
            return nullptr;
        CSingleLock pipe(&m_csPipe, TRUE);
        TakeResponse();
        if (m_hPipe == INVALID_HANDLE_VALUE)
            return nullptr;
        return &m_pCurrent->message;
    }
}

SECTORIX_HEADERS* CSectorixService::ReadResponse(_eServiceCmd expected)
{
    SECTORIX_HEADERS* pResponse = ReadResponse();
    return pResponse && pResponse->header.cmd == expected ? pResponse : nullptr;
}

// The pipe handle is overlapped: a read of its own with an event to wait
// on, since a plain synchronous read inside a completion routine is not
// reliable everywhere. Bytes may come in parts: a byte-mode pipe hands over
// what has arrived, a message-mode pipe the rest of a message that did not
// fit (saying there is more) or a message that ends early.
bool CSectorixService::ReadFromPipe(void* buffer, DWORD length)
{
    BYTE* pNext = static_cast<BYTE*>(buffer);
    while (length > 0)
    {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = m_evRead;
        DWORD read = 0;
        BOOL done = ::ReadFile(m_hPipe, pNext, length, nullptr, &overlapped);
        if (!done && ::GetLastError() != ERROR_IO_PENDING && ::GetLastError() != ERROR_MORE_DATA)
            return false;
        if (!::GetOverlappedResult(m_hPipe, &overlapped, &read, TRUE) && ::GetLastError() != ERROR_MORE_DATA)
            return false;
        if (read == 0)
            return false;
        pNext += read;
        length -= read;
    }
    return true;
}

void CALLBACK CSectorixService::ReadPipeOverlapped(ULONG_PTR param)
{
    CSectorixService* pThis = reinterpret_cast<CSectorixService*>(param);
    CSingleLock pipe(&pThis->m_csPipe, TRUE);
    pThis->StartRead();
}

// Runs under the pipe lock. A read that cannot start would leave a waiting
// caller waiting for ever, so it counts as a broken connection.
void CSectorixService::StartRead()
{
    if (m_hPipe == INVALID_HANDLE_VALUE)
    {
        StopReceiving();
        return;
    }
    ZeroMemory(&m_pNext->overlapped, sizeof(m_pNext->overlapped));
    DWORD length = m_bMessageMode ? ServiceMessageAreaSize : HeaderSize;
    if (!::ReadFileEx(m_hPipe, m_pNext->area, length, &m_pNext->overlapped, &OnReadPipe) &&
        ::GetLastError() != ERROR_MORE_DATA)
        FailReceive();
}

// A message larger than the read ends it with more data to come.
void CALLBACK CSectorixService::OnReadPipe(DWORD error, DWORD transferred, LPOVERLAPPED pOverlapped)
{
    PIPE_READ_BUFFER* pBuffer = CONTAINING_RECORD(pOverlapped, PIPE_READ_BUFFER, overlapped);
    CSectorixService* pThis = pBuffer->pOwner;
    CSingleLock pipe(&pThis->m_csPipe, TRUE);
    bool received = error == ERROR_SUCCESS || error == ERROR_MORE_DATA;
    if (!received || pThis->m_hPipe == INVALID_HANDLE_VALUE || !pThis->Receive(pBuffer, transferred))
    {
        pThis->FailReceive();
        return;
    }
    pThis->StartRead();
}

// The sizes and lengths come from another process: a message that does not
// fit its buffer, or data the caller has no room for, breaks the connection
// instead of being written anywhere.
bool CSectorixService::Receive(PIPE_READ_BUFFER* pBuffer, DWORD arrived)
{
    CPipeSource pipe(*this);
    SSectorTarget target = { m_pReadTarget, m_qwReadRoom };
    std::string text;
    EReceived received = ReceiveMessage(pBuffer->area, arrived, s_ServiceVersion, pipe, target, text);
    if (received == eReceivedBroken)
        return false;
    m_pReadTarget = target.pNext;
    m_qwReadRoom = target.room;
    if (received == eReceivedLogLine)
    {
        LogPipe(L"%s", FromAnsi(text).GetString());
        return true;
    }
    const SECTORIX_HEADER& header = pBuffer->message.header;
    if (header.cmd == eServiceCmdError)
    {
        m_strLastError = FromAnsi(text);
        LogPipe(L"Error: %s", m_strLastError.GetString());
    }
    if (header.cmd != eServiceCmdDeleteArpEntry)
        LogPipe(L"ReadResponse: Received response Cmd == %d Size == %d", static_cast<int>(header.cmd),
               static_cast<int>(header.size));
    Deliver();
    return true;
}

void CSectorixService::Deliver()
{
    PIPE_READ_BUFFER* pDelivered = m_pNext;
    m_pNext = m_pCurrent;
    m_pCurrent = pDelivered;
    SignalResponse();
}

// Runs under the pipe lock. The event resets itself when a wait takes it;
// the count says whether one may still stand, so that an exchange clears a
// stale one without asking the system each time.
void CSectorixService::SignalResponse()
{
    ++m_nSignals;
    m_evResponse.SetEvent();
}

void CSectorixService::ClearResponse()
{
    if (m_nSignals == 0)
        return;
    m_evResponse.ResetEvent();
    m_nSignals = 0;
}

// Runs under the pipe lock after a wait took the event. A signal that came
// after the wait ended would stand for a response already taken.
void CSectorixService::TakeResponse()
{
    if (m_nSignals > 1)
        m_evResponse.ResetEvent();
    m_nSignals = 0;
}

// The waiting caller finds an error in the current buffer, or the pipe
// closed; no read follows.
void CSectorixService::FailReceive()
{
    if (m_hPipe != INVALID_HANDLE_VALUE)
        LogPipe(L"ReadResponse: Unexpected error");
    SECTORIX_TEXT failure = { { ErrorMessageSize, eServiceCmdError, 0 }, 0 };
    CopyMemory(m_pCurrent->area, &failure, sizeof(failure));
    if (m_hPipe != INVALID_HANDLE_VALUE)
    {
        ::CloseHandle(m_hPipe);
        m_hPipe = INVALID_HANDLE_VALUE;
    }
    StopReceiving();
}

void CSectorixService::StopReceiving()
{
    m_bReceiving = false;
    SignalResponse();
}

void CSectorixService::SetReadTarget(BYTE* buffer, UINT count)
{
    CSingleLock pipe(&m_csPipe, TRUE);
    m_pReadTarget = buffer;
    m_qwReadRoom = buffer ? static_cast<unsigned long long>(count) * SectorSize : 0;
}

bool CSectorixService::PipeOpen()
{
    CSingleLock pipe(&m_csPipe, TRUE);
    return m_hPipe != INVALID_HANDLE_VALUE;
}

unsigned long long CSectorixService::ReadRoom()
{
    CSingleLock pipe(&m_csPipe, TRUE);
    return m_qwReadRoom;
}

// The completion routine writes the last error under the pipe lock.
void CSectorixService::BeginExchange()
{
    CSingleLock pipe(&m_csPipe, TRUE);
    ClearResponse();
    m_strLastError.Empty();
}

CString CSectorixService::LastError()
{
    CSingleLock pipe(&m_csPipe, TRUE);
    return m_strLastError;
}

// Lines of the receive path carry the pipe handle, so the lines of several
// connections can be told apart.
void CSectorixService::LogPipe(const wchar_t* format, ...)
{
    TLogbuch& log = TLogbuch::Instance();
    if (!log.IsEnabled())
        return;
    CString text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
    log.WriteFormat(L"[%8x] %s", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(m_hPipe)), text.GetString());
}
