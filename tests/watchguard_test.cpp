#include "TestHelpers.h"
#include "TestSource.h"

#include "api/FlatExports.h"
#include "watchguard/DelayedPosts.h"

#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace testing_helpers;

namespace
{

const UINT NotifyMessage = WM_APP + 100;
const UINT LogMessage = WM_APP + 101;
const UINT DelayedMessage = WM_APP + 102;

// What the callback saw: state, source and the thread it ran on.
using Seen = std::vector<std::tuple<eWatchguardState, CSectorix*, DWORD>>;

Seen SeenBy(NotificationLog& log)
{
    Seen seen;
    for (const Notification& n : log.Snapshot())
        seen.emplace_back(n.state, n.source, n.thread);
    return seen;
}

// Waits for the message and checks where it went and what it carries.
void ExpectMessage(UINT message, HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    MSG msg;
    ASSERT_TRUE(WaitForMessage(message, msg));
    EXPECT_EQ(hWnd, msg.hwnd);
    EXPECT_EQ(wParam, msg.wParam);
    EXPECT_EQ(lParam, msg.lParam);
}

class WatchguardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_pWatchguard = InitWatchguard();
        ASSERT_NE(nullptr, m_pWatchguard);
    }

    void TearDown() override
    {
        if (m_pWatchguard)
            m_pWatchguard->EnableNotificationMessages(0, nullptr, 0);
        StopWatchguard(m_pWatchguard);
    }

    CTestSource* AddSource(DWORD unit, bool hotPlugged = false)
    {
        CTestSource* pSource = new CTestSource(m_pWatchguard, unit, hotPlugged);
        Register(m_pWatchguard, pSource);
        return pSource;
    }

    void RunWatchTimer() { (m_pWatchguard->*&WatchguardAccess::OnWatchTimer)(); }

    bool Activate(CSectorix* pSource, Sectorix::ActivationMode mode = Sectorix::SetActive)
    {
        return m_pWatchguard->ActivateSectorix(pSource, mode);
    }

    CWatchguard* m_pWatchguard = nullptr;
};

}

// The window's own WM_CLOSE must not end the thread: only the owner's
// thread message does. The service tests run calls on the alertable thread.
TEST_F(WatchguardTest, StartsOnceWithAHiddenWindowAndAnAlertableThreadThatOutliveAClose)
{
    EXPECT_EQ(nullptr, InitWatchguard());
    EXPECT_EQ(m_pWatchguard, GetWatchguard());
    HWND hWnd = m_pWatchguard->GetMainWnd()->m_hWnd;
    ASSERT_TRUE(::IsWindow(hWnd));
    wchar_t text[64];
    ::GetWindowTextW(hWnd, text, ARRAYSIZE(text));
    EXPECT_STREQ(L"Sectorix Watchguard", text);
    EXPECT_EQ(m_pWatchguard->m_nThreadID, ::GetWindowThreadProcessId(hWnd, nullptr));
    EXPECT_FALSE(::IsWindowVisible(hWnd));
    EXPECT_TRUE(m_pWatchguard->IsEnabled());

    ASSERT_NE(nullptr, m_pWatchguard->GetAlertableThread());
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(m_pWatchguard->GetAlertableThread()->m_hThread, 0));

    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(hWnd, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, WaitBound, &result));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(m_pWatchguard->m_hThread, 300));
    EXPECT_TRUE(::IsWindow(hWnd));
}

TEST_F(WatchguardTest, MediaNotificationsReachTheCallbackOnTheWatchguardThreadForRegisteredSourcesOnly)
{
    NotificationLog log;
    m_pWatchguard->EnableNotificationMessages(0, log.Callback());
    CTestSource* pRegistered = AddSource('E');
    CTestSource* pRemoved = AddSource('F');
    m_pWatchguard->Remove(pRemoved, true);

    std::thread source([&] {
        m_pWatchguard->SendNotification(MediaInserted, pRemoved);
        m_pWatchguard->SendNotification(MediaInserted, nullptr);
        m_pWatchguard->SendNotification(MediaInserted, pRegistered);
        m_pWatchguard->SendNotification(MediaRemoved, pRegistered);
    });
    source.join();

    // Posts arrive in order, so once the last one is seen the dropped ones are gone for good.
    ASSERT_TRUE(log.WaitForCount(2));
    DWORD thread = m_pWatchguard->m_nThreadID;
    EXPECT_EQ((Seen{ { MediaInserted, pRegistered, thread }, { MediaRemoved, pRegistered, thread } }), SeenBy(log));
}

TEST_F(WatchguardTest, NotificationMessagesPreferTheWindowToTheThreadUntilSwitchedOff)
{
    HWND hWnd = CreateMessageWindow();
    ASSERT_NE(nullptr, hWnd);
    m_pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), hWnd, NotifyMessage);
    CTestSource* pSource = AddSource('E');
    m_pWatchguard->SendNotification(MediaInserted, pSource);
    ExpectMessage(NotifyMessage, hWnd, MediaInserted, reinterpret_cast<LPARAM>(pSource));
    m_pWatchguard->SendNotification(StatusTerminate, nullptr);
    ExpectMessage(NotifyMessage, hWnd, StatusTerminate, 0);
    MSG msg;
    EXPECT_FALSE(::PeekMessageW(&msg, reinterpret_cast<HWND>(-1), NotifyMessage, NotifyMessage, PM_REMOVE));
    ::DestroyWindow(hWnd);

    m_pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, NotifyMessage);
    m_pWatchguard->SendNotification(MediaRemoved, pSource);
    ExpectMessage(NotifyMessage, nullptr, MediaRemoved, reinterpret_cast<LPARAM>(pSource));

    m_pWatchguard->EnableNotificationMessages(0, nullptr, NotifyMessage);
    m_pWatchguard->SendNotification(MediaInserted, pSource);
    m_pWatchguard->SendNotification(StatusTerminate, nullptr);
    EXPECT_FALSE(WaitForMessage(NotifyMessage, msg, 500));
}

TEST_F(WatchguardTest, StatusTerminateArrivesAtOnceWhileTheWatchguardThreadIsBusy)
{
    CEvent evEntered(FALSE, TRUE);
    CEvent evRelease(FALSE, TRUE);
    NotificationLog log;
    m_pWatchguard->EnableNotificationMessages(0, [&](eWatchguardState state, CSectorix* source) {
        if (state == MediaInserted)
        {
            evEntered.SetEvent();
            ::WaitForSingleObject(evRelease, WaitBound);
        }
        log.Add(state, source);
    });
    CTestSource* pSource = AddSource('E');

    m_pWatchguard->SendNotification(MediaInserted, pSource);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(evEntered, WaitBound));
    m_pWatchguard->SendNotification(StatusTerminate, nullptr);

    EXPECT_EQ((Seen{ { StatusTerminate, nullptr, ::GetCurrentThreadId() } }), SeenBy(log));
    evRelease.SetEvent();
    ASSERT_TRUE(log.WaitForCount(2));
    m_pWatchguard->EnableNotificationMessages(0, nullptr, 0);
}

TEST_F(WatchguardTest, SetActiveKeepsOneActiveSourceWhileTheOtherModesLeaveItAlone)
{
    CTestSource* pFirst = AddSource('E');
    CTestSource* pSecond = AddSource('F');

    EXPECT_TRUE(Activate(nullptr));
    EXPECT_TRUE(Activate(pFirst));
    EXPECT_TRUE(pFirst->IsActive());
    EXPECT_FALSE(Activate(pSecond));
    EXPECT_FALSE(Activate(pFirst));
    EXPECT_EQ(pFirst, m_pWatchguard->GetActiveSectorix());
    EXPECT_EQ(0, pSecond->m_nActivateCalls);
    EXPECT_EQ(1, pFirst->m_nActivateCalls);

    EXPECT_TRUE(Activate(pSecond, Sectorix::ActivateOnly));
    EXPECT_TRUE(pSecond->IsActive());
    EXPECT_TRUE(Activate(pSecond, Sectorix::DeactivateOnly));
    EXPECT_FALSE(pSecond->IsActive());
    EXPECT_TRUE(m_pWatchguard->isValid(pSecond));
    EXPECT_TRUE(Activate(nullptr, Sectorix::ActivateOnly));
    EXPECT_TRUE(Activate(nullptr, Sectorix::DeactivateOnly));
    EXPECT_TRUE(Activate(pSecond, static_cast<Sectorix::ActivationMode>(7)));
    EXPECT_FALSE(pSecond->IsActive());
    EXPECT_EQ(pFirst, m_pWatchguard->GetActiveSectorix());

    EXPECT_TRUE(Activate(nullptr));
    EXPECT_EQ(nullptr, m_pWatchguard->GetActiveSectorix());
    EXPECT_FALSE(pFirst->IsActive());
    EXPECT_EQ(1, pFirst->m_nDeactivateCalls);
    EXPECT_TRUE(m_pWatchguard->isValid(pFirst));

    // A source whose Activate fails still becomes the active one.
    pSecond->m_bActivateAnswer = false;
    EXPECT_TRUE(Activate(pSecond));
    EXPECT_EQ(pSecond, m_pWatchguard->GetActiveSectorix());
    EXPECT_FALSE(pSecond->IsActive());
}

// Its notifications are then dropped as those of any unregistered source.
TEST_F(WatchguardTest, FailingDeactivateUnregistersTheSourceButKeepsItAlive)
{
    CTestSource* pFailing = AddSource('E');
    pFailing->m_bDeactivateAnswer = false;
    EXPECT_TRUE(Activate(pFailing, Sectorix::DeactivateOnly));
    EXPECT_FALSE(m_pWatchguard->isValid(pFailing));
    EXPECT_FALSE(pFailing->isValid());
    EXPECT_EQ(nullptr, m_pWatchguard->Find(RUNTIME_CLASS(CTestSource), 'E'));
    EXPECT_EQ(1, CTestSource::s_nAlive);
}

TEST_F(WatchguardTest, RemovedActiveSourceStaysActiveUntilTheHostClearsIt)
{
    CTestSource* pActive = AddSource('E');
    CTestSource* pOther = AddSource('F');
    ASSERT_TRUE(Activate(pActive));
    m_pWatchguard->Remove(pActive, true);

    EXPECT_EQ(pActive, m_pWatchguard->GetActiveSectorix());
    EXPECT_FALSE(m_pWatchguard->isValid(pActive));
    EXPECT_FALSE(Activate(pOther));
    RunWatchTimer();
    EXPECT_EQ(0, pOther->m_nTestCalls);

    EXPECT_TRUE(Activate(nullptr));
    EXPECT_TRUE(Activate(pOther));
}

TEST_F(WatchguardTest, RegistryIgnoresNullAndUnknownSources)
{
    CTestSource* pSource = AddSource('E');
    Register(m_pWatchguard, nullptr);
    m_pWatchguard->Remove(nullptr, true);
    CTestSource* pStranger = new CTestSource(m_pWatchguard, 'G');
    m_pWatchguard->Remove(pStranger, true);
    EXPECT_TRUE(pStranger->isValid());
    EXPECT_FALSE(m_pWatchguard->isValid(nullptr));
    EXPECT_FALSE(m_pWatchguard->isValid(pStranger));
    EXPECT_EQ(nullptr, m_pWatchguard->Find(RUNTIME_CLASS(CTestSource), 'G'));
    EXPECT_EQ(pSource, m_pWatchguard->Find(RUNTIME_CLASS(CSectorix), 'E'));
    EXPECT_EQ(nullptr, m_pWatchguard->Find(RUNTIME_CLASS(CWatchguard), 'E'));

    // Taken out without keeping: the caller owns it again.
    m_pWatchguard->Remove(pSource, false);
    EXPECT_FALSE(m_pWatchguard->isValid(pSource));
    delete static_cast<CObject*>(pSource);
    delete static_cast<CObject*>(pStranger);
}

TEST_F(WatchguardTest, WatchTimerPollsIdleSourcesUntilOneAnswers)
{
    CTestSource* pActiveFlag = AddSource('C');
    CTestSource* pHotPlugged = AddSource('D', true);
    CTestSource* pAnswering = AddSource('E');
    CTestSource* pLast = AddSource('F');
    ASSERT_TRUE(Activate(pActiveFlag, Sectorix::ActivateOnly));
    pAnswering->m_bMediaAnswer = true;

    RunWatchTimer();
    EXPECT_EQ(0, pActiveFlag->m_nTestCalls + pHotPlugged->m_nTestCalls + pLast->m_nTestCalls);
    EXPECT_EQ(1, pAnswering->m_nTestCalls);

    pAnswering->m_bMediaAnswer = false;
    RunWatchTimer();
    EXPECT_EQ(2, pAnswering->m_nTestCalls);
    EXPECT_EQ(1, pLast->m_nTestCalls);

    ASSERT_TRUE(Activate(pLast));
    RunWatchTimer();
    EXPECT_EQ(2, pAnswering->m_nTestCalls);
}

TEST_F(WatchguardTest, WatchTimerRunsOnTheWatchguardThreadEveryTwoSeconds)
{
    CTestSource* pSource = AddSource('E');
    DWORD start = ::GetTickCount();
    while (pSource->m_nTestCalls == 0 && ::GetTickCount() - start < WaitBound)
        ::Sleep(50);
    ASSERT_GE(pSource->m_nTestCalls, 1);
    EXPECT_EQ(m_pWatchguard->m_nThreadID, pSource->m_dwTestThread);
}

TEST_F(WatchguardTest, DelayedPostsDueTogetherGoOutInQueueOrderAfterTheirDelay)
{
    HWND hWnd = CreateMessageWindow();
    ASSERT_NE(nullptr, hWnd);
    DWORD start = ::GetTickCount();
    (m_pWatchguard->*&WatchguardAccess::PostDelayed)(hWnd, DelayedMessage, 1, 0, 300);
    (m_pWatchguard->*&WatchguardAccess::PostDelayed)(hWnd, DelayedMessage, 2, 0, 300);
    ExpectMessage(DelayedMessage, hWnd, 1, 0);
    EXPECT_GE(::GetTickCount() - start, 250u);
    ExpectMessage(DelayedMessage, hWnd, 2, 0);
    ::DestroyWindow(hWnd);
}

TEST_F(WatchguardTest, LogMessagesAreGlobalCopiesPostedToTheWindowFirst)
{
    HWND hWnd = CreateMessageWindow();
    ASSERT_NE(nullptr, hWnd);
    m_pWatchguard->EnableLogMessages(::GetCurrentThreadId(), hWnd, LogMessage);

    std::wstring text = L"Sectorix\tReadSectors\tLesefehler";
    m_pWatchguard->SendLogMessage(text.c_str(), ERROR_CRC);
    text[0] = L'X';
    MSG msg;
    ASSERT_TRUE(WaitForMessage(LogMessage, msg));
    EXPECT_EQ(hWnd, msg.hwnd);
    EXPECT_EQ(static_cast<WPARAM>(ERROR_CRC), msg.wParam);
    HGLOBAL hCopy = reinterpret_cast<HGLOBAL>(msg.lParam);
    ASSERT_NE(nullptr, hCopy);
    EXPECT_STREQ(L"Sectorix\tReadSectors\tLesefehler", static_cast<const wchar_t*>(::GlobalLock(hCopy)));
    ::GlobalUnlock(hCopy);
    EXPECT_EQ(nullptr, ::GlobalFree(hCopy));
    m_pWatchguard->SendLogMessage(nullptr, 0);
    ExpectMessage(LogMessage, hWnd, 0, 0);

    m_pWatchguard->EnableLogMessages(::GetCurrentThreadId(), nullptr, LogMessage);
    m_pWatchguard->SendLogMessage(L"warning", 0);
    ASSERT_TRUE(::PeekMessageW(&msg, reinterpret_cast<HWND>(-1), LogMessage, LogMessage, PM_REMOVE));
    ::GlobalFree(reinterpret_cast<HGLOBAL>(msg.lParam));

    m_pWatchguard->EnableLogMessages(0, nullptr, 0);
    m_pWatchguard->SendLogMessage(L"nobody", 0);
    EXPECT_FALSE(::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    ::DestroyWindow(hWnd);
}

TEST(WatchguardTeardown, EndsBothThreadsDeletesEverySourceAndAllowsANewWatchguard)
{
    CWatchguard* pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, pWatchguard);
    NotificationLog log;
    pWatchguard->EnableNotificationMessages(0, log.Callback());
    CTestSource* pKept = new CTestSource(pWatchguard, 'E');
    CTestSource* pRemoved = new CTestSource(pWatchguard, 'F');
    Register(pWatchguard, pKept);
    Register(pWatchguard, pRemoved);
    pWatchguard->Remove(pRemoved, true);
    ASSERT_TRUE(pWatchguard->ActivateSectorix(pKept, Sectorix::SetActive));

    HANDLE threads[2] = {};
    HANDLE hProcess = ::GetCurrentProcess();
    ::DuplicateHandle(hProcess, pWatchguard->m_hThread, hProcess, &threads[0], SYNCHRONIZE, FALSE, 0);
    ::DuplicateHandle(hProcess, pWatchguard->GetAlertableThread()->m_hThread, hProcess, &threads[1], SYNCHRONIZE,
                      FALSE, 0);
    DWORD watchguardThreadId = pWatchguard->m_nThreadID;
    HWND hWnd = pWatchguard->GetMainWnd()->m_hWnd;

    StopWatchguard(pWatchguard);
    EXPECT_EQ(0, CTestSource::s_nAlive);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(2, threads, TRUE, 0));
    EXPECT_FALSE(::IsWindow(hWnd));
    EXPECT_EQ(nullptr, GetWatchguard());
    ::CloseHandle(threads[0]);
    ::CloseHandle(threads[1]);

    EXPECT_EQ((Seen{ { WatchguardStopped, nullptr, watchguardThreadId } }), SeenBy(log));

    CWatchguard* pNext = InitWatchguard();
    ASSERT_NE(nullptr, pNext);
    StopWatchguard(pNext);
}

// The tick count wraps; due times past the wrap must still be near, not far.
TEST(DelayedPostRules, PostsAreTakenWhenDueInQueueOrderAcrossTheTickWrap)
{
    const DWORD now = 0xFFFFFF00;
    auto post = [now](DWORD delay, WPARAM tag) {
        MSG msg = {};
        msg.message = DelayedMessage;
        msg.wParam = tag;
        msg.time = now + delay;
        return msg;
    };
    std::vector<MSG> posts;
    EXPECT_EQ(INFINITE, Sectorix::DelayedWaitTimeout(posts, 1000));
    posts = { post(0x200, 1), post(0x100, 2), post(0x100, 3), post(0x300, 4) };
    EXPECT_EQ(0x100u, Sectorix::DelayedWaitTimeout(posts, now));
    EXPECT_EQ(0u, Sectorix::DelayedWaitTimeout(posts, now + 0x110));

    MSG taken;
    EXPECT_FALSE(Sectorix::TakeDuePost(posts, now, taken));
    EXPECT_FALSE(Sectorix::TakeDuePost(posts, now + 0xFF, taken));
    std::vector<WPARAM> order;
    for (DWORD at : { now + 0x100, now + 0x100, now + 0x100, now + 0x1000, now + 0x1000 })
        order.push_back(Sectorix::TakeDuePost(posts, at, taken) ? taken.wParam : 0);
    EXPECT_EQ((std::vector<WPARAM>{ 2, 3, 0, 1, 4 }), order);
    EXPECT_TRUE(posts.empty());
}

namespace
{

std::wstring UniqueMutexName(const char* test)
{
    return L"Global\\SectorixTest::" + std::to_wstring(::GetCurrentProcessId()) + L"::" +
           std::wstring(test, test + strlen(test));
}

bool LockOnOtherThread(const std::wstring& name, bool* pEnabled = nullptr)
{
    bool locked = false;
    std::thread other([&] {
        CWatchguard::CWatchguardMutex mutex;
        locked = mutex.Lock(name.c_str());
        if (pEnabled)
            *pEnabled = mutex.isEnabled() && !mutex.isOwned();
        mutex.Unlock();
    });
    other.join();
    return locked;
}

}

TEST(WatchguardMutex, CountsLocksOfItsThreadAndRefusesOthersWithoutWaiting)
{
    std::wstring name = UniqueMutexName("Counts");
    CWatchguard::CWatchguardMutex mutex;
    EXPECT_FALSE(mutex.isEnabled());

    ASSERT_TRUE(mutex.Lock(name.c_str()));
    ASSERT_TRUE(mutex.Lock(name.c_str()));
    EXPECT_TRUE(mutex.isOwned());
    bool openNotHeld = false;
    EXPECT_FALSE(LockOnOtherThread(name, &openNotHeld));
    EXPECT_TRUE(openNotHeld);

    mutex.Unlock();
    EXPECT_TRUE(mutex.isOwned());
    EXPECT_FALSE(LockOnOtherThread(name));
    mutex.Unlock();
    EXPECT_FALSE(mutex.isEnabled());
    EXPECT_TRUE(LockOnOtherThread(name));
    mutex.Unlock();
    EXPECT_FALSE(mutex.isEnabled());
}

TEST(WatchguardMutex, MutexOfAHolderThatEndedIsTaken)
{
    std::wstring name = UniqueMutexName("Abandoned");
    CWatchguard::CWatchguardMutex abandoned;
    std::thread holder([&] { ASSERT_TRUE(abandoned.Lock(name.c_str())); });
    holder.join();

    CWatchguard::CWatchguardMutex mutex;
    EXPECT_TRUE(mutex.Lock(name.c_str()));
    EXPECT_TRUE(mutex.isOwned());
}
