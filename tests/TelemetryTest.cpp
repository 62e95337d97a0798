#include "TelemetryTest.h"

#include "api/FlatExports.h"

#include <algorithm>

using namespace testing_helpers;

namespace
{
// done() may change without a message, as files and the stand-in's record do.
const DWORD PollInterval = 10;
}

std::wstring TelemetryTest::StandinFolder() const
{
    return card_files::WindowsPath(TELEMETRY_STANDIN_DIR) + L"\\" + Variant();
}

void TelemetryTest::SetUp()
{
    ASSERT_TRUE(::SetDllDirectoryW(StandinFolder().c_str()));
    m_hStandin = ::LoadLibraryW((StandinFolder() + L"\\" + Library()).c_str());
    ASSERT_NE(nullptr, m_hStandin);
    m_control = TelemetryStandin::Control(m_hStandin);
    ASSERT_NE(nullptr, m_control);
    m_folder = card_files::MakeTempFolder(L"telemetry");
    m_pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, m_pWatchguard);
    m_pWatchguard->SetLogFolder(m_folder.c_str());
    m_pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, WatchguardMessage);
}

void TelemetryTest::TearDown()
{
    StopWatchguard(m_pWatchguard);
    m_pWatchguard = nullptr;
    SetLogFolder(L"");
    if (m_hStandin)
        ::FreeLibrary(m_hStandin);
    card_files::RemoveTree(m_folder);
}

size_t TelemetryTest::CountCalls(const wchar_t* call)
{
    std::wstring calls = L"\n" + Calls();
    std::wstring line = std::wstring(L"\n") + call;
    size_t count = 0;
    for (size_t at = calls.find(line); at != std::wstring::npos; at = calls.find(line, at + 1))
        ++count;
    return count;
}

std::wstring TelemetryTest::UniqueName(const wchar_t* purpose) const
{
    return std::wstring(purpose) + L"-" + std::to_wstring(::GetCurrentProcessId());
}

bool TelemetryTest::EnableTelvane()
{
    return m_pWatchguard->EnableTelvane(true, UniqueName(L"vehicle").c_str(), L"second", ::GetCurrentThreadId(),
                                        nullptr, SourceMessage);
}

CSectorixTelvane* TelemetryTest::Telvane()
{
    return static_cast<CSectorixTelvane*>(m_pWatchguard->Find(RUNTIME_CLASS(CSectorixTelvane), 0));
}

bool TelemetryTest::PumpUntil(const std::function<bool()>& done, DWORD bound)
{
    DWORD start = ::GetTickCount();
    for (;;)
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            if (msg.hwnd)
                ::DispatchMessageW(&msg);
            else
                m_posted.push_back({ msg.message, msg.wParam, msg.lParam });
        }
        if (done())
            return true;
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= bound)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min(bound - elapsed, PollInterval), QS_ALLINPUT);
    }
}

std::vector<TelemetryTest::Posted> TelemetryTest::Posts(UINT message, WPARAM wParam) const
{
    std::vector<Posted> posts;
    for (const Posted& posted : m_posted)
    {
        if (posted.message == message && posted.wParam == wParam)
            posts.push_back(posted);
    }
    return posts;
}

bool TelemetryTest::WaitForPosts(UINT message, WPARAM wParam, size_t count)
{
    return PumpUntil([&] { return Posts(message, wParam).size() >= count; });
}
