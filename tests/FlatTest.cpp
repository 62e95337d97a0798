#include "FlatTest.h"

#include "CardFiles.h"
#include "TestHelpers.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace flat_test
{

StdoutCapture::StdoutCapture()
{
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    ::GetTempFileNameW(folder, L"out", 0, path);
    m_path = path;
    std::fflush(stdout);
    m_saved = _dup(1);
    int fd = _wopen(path, _O_WRONLY | _O_TRUNC | _O_TEXT);
    _dup2(fd, 1);
    _close(fd);
}

// What was written, test failures among it, goes on to the real output.
StdoutCapture::~StdoutCapture()
{
    std::string text = Text();
    if (m_saved >= 0)
    {
        _dup2(m_saved, 1);
        _close(m_saved);
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    ::DeleteFileW(m_path.c_str());
}

std::string StdoutCapture::Text() const
{
    std::fflush(stdout);
    return card_files::ReadText(m_path);
}

size_t StdoutCapture::Count(const std::string& part) const
{
    std::string text = Text();
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

namespace
{
struct Watchdog
{
    HANDLE hDone;
    DWORD bound;
    volatile bool fired;
};

DWORD WINAPI WatchdogMain(void* pParam)
{
    Watchdog* pWatchdog = static_cast<Watchdog*>(pParam);
    if (::WaitForSingleObject(pWatchdog->hDone, pWatchdog->bound) == WAIT_TIMEOUT)
    {
        pWatchdog->fired = true;
        getTelvaneStatusTerminate();
    }
    return 0;
}
}

StatusResult BoundedStatus(unsigned short* status, DWORD bound)
{
    Watchdog watchdog = { ::CreateEventW(nullptr, TRUE, FALSE, nullptr), bound, false };
    HANDLE hThread = ::CreateThread(nullptr, 0, &WatchdogMain, &watchdog, 0, nullptr);
    int answer = getTelvaneStatus(status);
    ::SetEvent(watchdog.hDone);
    ::WaitForSingleObject(hThread, INFINITE);
    ::CloseHandle(hThread);
    ::CloseHandle(watchdog.hDone);
    return { answer, watchdog.fired };
}

StatusThread::StatusThread()
{
    m_hThread = ::CreateThread(nullptr, 0, &Main, this, 0, &m_dwThreadId);
}

StatusThread::~StatusThread()
{
    Returned(0);
    ::CloseHandle(m_hThread);
}

bool StatusThread::Returned(DWORD bound)
{
    if (::WaitForSingleObject(m_hThread, bound) == WAIT_OBJECT_0)
        return true;
    ::PostThreadMessageW(m_dwThreadId, WM_QUIT, 0, 0);
    getTelvaneStatusTerminate();
    ::WaitForSingleObject(m_hThread, testing_helpers::WaitBound);
    return false;
}

DWORD WINAPI StatusThread::Main(void* pParam)
{
    StatusThread* pThis = static_cast<StatusThread*>(pParam);
    unsigned short status = 0;
    pThis->m_answer = getTelvaneStatus(&status);
    return 0;
}

void ExpectCardFound(const StdoutCapture& out, const std::string& mediaLine)
{
    unsigned short status = 0;
    StatusResult result = BoundedStatus(&status, testing_helpers::WaitBound);
    ASSERT_FALSE(result.terminated) << "the card was never announced";
    ASSERT_EQ(1, result.answer);
    EXPECT_EQ(SECTORIX_STATUS_CONNECTED, status);
    EXPECT_EQ(1u, out.Count(Prompt));
    EXPECT_EQ(1u, out.Count(mediaLine)) << out.Text();
}

bool WaitForNotification(WPARAM state, DWORD bound, LPARAM* source)
{
    DWORD start = ::GetTickCount();
    for (;;)
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, SECTORIX_WM_NOTIFY, SECTORIX_WM_NOTIFY, PM_REMOVE))
        {
            if (msg.message != SECTORIX_WM_NOTIFY || msg.wParam != state)
                continue;
            if (source)
                *source = msg.lParam;
            return true;
        }
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= bound)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, bound - elapsed, QS_POSTMESSAGE);
    }
}

}
