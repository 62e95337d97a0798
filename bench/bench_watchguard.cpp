// Watchguard benchmark, against Sectorix.dll as a host uses it:
//  - CPU time of the watchguard thread while it idles with 100 registered
//    sources and none active (goal: under 0.1 % of one core);
//  - median latency of a MediaInserted notification sent on a source thread
//    until the host's thread message arrives, beside a bare PostThreadMessage
//    round trip from the host to an echo thread and back (goal: within 2x).
#include "GoalMark.h"
#include "TestSource.h"

#include "Sectorix/SectorixApi.h"
#include "afx/Event.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace
{

const int IdleSources = 100;
const DWORD IdleMilliseconds = 10000;
const int LatencyRounds = 2000;
const UINT HostMessage = WM_APP + 50;
const double IdleGoalPercent = 0.1;
const double LatencyGoalRatio = 2;

#ifdef _WIN64
const char InitWatchguardName[] = "InitWatchguard";
#else
const char InitWatchguardName[] = "_InitWatchguard@0";
#endif

double ThreadCpuSeconds(HANDLE hThread)
{
    FILETIME creation, exit, kernel, user;
    ::GetThreadTimes(hThread, &creation, &exit, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

double Now()
{
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; ::QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The sender stamps each round and waits for the host's acknowledgement, so
// one message is in flight at a time.
template <class Send>
double MedianLatency(Send send)
{
    DWORD hostThread = ::GetCurrentThreadId();
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    CEvent evAck;
    volatile double sentAt = 0;
    std::vector<double> latencies;
    latencies.reserve(LatencyRounds);
    std::thread sender([&] {
        for (int i = 0; i < LatencyRounds; ++i)
        {
            sentAt = Now();
            send(hostThread);
            ::WaitForSingleObject(evAck, INFINITE);
        }
    });
    while (static_cast<int>(latencies.size()) < LatencyRounds && ::GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        if (msg.message != HostMessage)
            continue;
        latencies.push_back(Now() - sentAt);
        evAck.SetEvent();
    }
    sender.join();
    std::nth_element(latencies.begin(), latencies.begin() + LatencyRounds / 2, latencies.end());
    return latencies[LatencyRounds / 2];
}

// The host posts to an echo thread, which posts straight back.
double RoundTripLatency()
{
    DWORD hostThread = ::GetCurrentThreadId();
    CEvent evReady;
    DWORD echoThread = 0;
    std::thread echo([&] {
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        echoThread = ::GetCurrentThreadId();
        evReady.SetEvent();
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
            ::PostThreadMessageW(hostThread, HostMessage, 0, 0);
    });
    ::WaitForSingleObject(evReady, INFINITE);
    std::vector<double> latencies;
    MSG msg;
    for (int i = 0; i < LatencyRounds; ++i)
    {
        double sentAt = Now();
        ::PostThreadMessageW(echoThread, HostMessage, 0, 0);
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message != HostMessage)
            ;
        latencies.push_back(Now() - sentAt);
    }
    ::PostThreadMessageW(echoThread, WM_QUIT, 0, 0);
    echo.join();
    std::nth_element(latencies.begin(), latencies.begin() + LatencyRounds / 2, latencies.end());
    return latencies[LatencyRounds / 2];
}

}

int main()
{
    HMODULE hSectorix = ::GetModuleHandleW(L"Sectorix.dll");
    auto pfnInit = reinterpret_cast<SECTORIX_PFN_InitWatchguard>(
        reinterpret_cast<void*>(::GetProcAddress(hSectorix, InitWatchguardName)));
    CWatchguard* pWatchguard = pfnInit ? pfnInit() : nullptr;
    if (!pWatchguard)
    {
        std::printf("the watchguard did not start\n");
        return 1;
    }
    for (int i = 0; i < IdleSources; ++i)
        Register(pWatchguard, new CTestSource(pWatchguard, 0x1000 + i));

    double cpuBefore = ThreadCpuSeconds(pWatchguard->m_hThread);
    ::Sleep(IdleMilliseconds);
    double cpuSeconds = ThreadCpuSeconds(pWatchguard->m_hThread) - cpuBefore;
    double idlePercent = cpuSeconds / (IdleMilliseconds / 1000.0) * 100;
    std::printf("watchguard thread idling with %d sources: %.1f ms CPU in %lu s = %.4f %% of one core "
                "(goal < %.1f %%; Wine counts thread time in 10 ms ticks)%s\n",
                IdleSources, cpuSeconds * 1000, IdleMilliseconds / 1000, idlePercent, IdleGoalPercent,
                GoalMark(idlePercent < IdleGoalPercent));

    CSectorix* pSource = pWatchguard->Find(RUNTIME_CLASS(CSectorix), 0x1000);
    pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, HostMessage);
    double notify = MedianLatency([&](DWORD) { pWatchguard->SendNotification(MediaInserted, pSource); });
    double bare = RoundTripLatency();
    std::printf("MediaInserted to host thread: median %.1f us; bare PostThreadMessage round trip: median %.1f us; "
                "ratio %.2f (goal <= %.0f)%s\n", notify * 1e6, bare * 1e6, notify / bare, LatencyGoalRatio,
                GoalMark(notify / bare <= LatencyGoalRatio));

    pWatchguard->EnableNotificationMessages(0, nullptr, 0);
    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(pWatchguard->m_hThread, INFINITE);
    delete pWatchguard;
    return 0;
}
