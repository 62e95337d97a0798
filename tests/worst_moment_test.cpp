// Activities ended at a chosen moment, many rounds over: whatever the moment,
// the process survives, every end returns within its bound, and the
// telemetry library is never called after its deinit. Rounds follow a seed,
// so a failing round can be replayed: --seed=N --rounds=N.
#include "FlatTest.h"
#include "InitFiles.h"
#include "TelemetryTest.h"
#include "WorstMoment.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

unsigned g_worstMomentSeed = 20;
unsigned g_worstMomentRounds = 0;

using namespace testing_helpers;
namespace ts = TelemetryStandin;

namespace
{

const WORD Connected = 0xF006;
const unsigned char BurstStep = 2;
const DWORD FetchDelay = 20;
const size_t SlowLapSize = 300000;
// The longest a whole round may take before the process is failed.
const DWORD RoundBound = 15000;
// Moments are spread evenly over the orders of magnitude, 1 us to 1 s.
const double ShortestMoment = 1e-6;
const double LongestMoment = 1.0;

const unsigned DefaultRounds = 250;

enum class Activity
{
    SlowBurst,
    WaiterInBurst,
    FlatStatusWait,
};

enum class Ending
{
    DeleteWatchguard,
    DisableTelvane,
    FlatTerminate,
    FlatDeinit,
};

struct Scenario
{
    const char* name;
    Activity activity;
    Ending ending;
};

const Scenario Scenarios[] = {
    { "burst/delete", Activity::SlowBurst, Ending::DeleteWatchguard },
    { "burst/disable", Activity::SlowBurst, Ending::DisableTelvane },
    { "waiter/delete", Activity::WaiterInBurst, Ending::DeleteWatchguard },
    { "waiter/disable", Activity::WaiterInBurst, Ending::DisableTelvane },
    { "flatwait/terminate", Activity::FlatStatusWait, Ending::FlatTerminate },
    { "flatwait/deinit", Activity::FlatStatusWait, Ending::FlatDeinit },
};

// Fails the process when a round does not end: a hung end must fail the
// test, not the run.
class RoundWatchdog
{
public:
    RoundWatchdog(unsigned round, const char* scenario) : m_round(round), m_scenario(scenario)
    {
        m_hDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_hThread = ::CreateThread(nullptr, 0, Main, this, 0, nullptr);
    }
    ~RoundWatchdog()
    {
        ::SetEvent(m_hDone);
        ::WaitForSingleObject(m_hThread, INFINITE);
        ::CloseHandle(m_hThread);
        ::CloseHandle(m_hDone);
    }
    RoundWatchdog(const RoundWatchdog&) = delete;
    RoundWatchdog& operator=(const RoundWatchdog&) = delete;

private:
    static DWORD WINAPI Main(void* pParam)
    {
        RoundWatchdog* pThis = static_cast<RoundWatchdog*>(pParam);
        if (::WaitForSingleObject(pThis->m_hDone, RoundBound) == WAIT_OBJECT_0)
            return 0;
        std::printf("seed %u round %u (%s) hung\n", g_worstMomentSeed, pThis->m_round, pThis->m_scenario);
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), 3);
        return 0;
    }

    unsigned m_round;
    const char* m_scenario;
    HANDLE m_hDone = nullptr;
    HANDLE m_hThread = nullptr;
};

// Sleeps the chosen time: short moments are spun, as a sleep would round
// them up to the scheduler's tick.
void WaitFor(double seconds)
{
    LARGE_INTEGER frequency, start, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    LONGLONG ticks = static_cast<LONGLONG>(seconds * frequency.QuadPart);
    if (seconds > 0.02)
        ::Sleep(static_cast<DWORD>(seconds * 1000) - 15);
    do
        ::QueryPerformanceCounter(&now);
    while (now.QuadPart - start.QuadPart < ticks);
}

// FNV-1a over what each round chose and found.
class Digest
{
public:
    void Add(const void* data, size_t size)
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i)
            m_value = (m_value ^ bytes[i]) * 16777619u;
    }
    unsigned Value() const { return m_value; }

private:
    unsigned m_value = 2166136261u;
};

class WorstMomentTest : public TelemetryTest
{
protected:
    void SetUp() override {}
    void TearDown() override {}

    // Whether the round held: a text naming what broke, empty when it held.
    std::string Round(const Scenario& scenario, double moment)
    {
        if (scenario.activity == Activity::FlatStatusWait)
            return FlatRound(scenario.ending, moment);
        TelemetryTest::SetUp();
        if (::testing::Test::HasFatalFailure() || !EnableTelvane())
            return "no start";
        CSectorixTelvane* pSource = Telvane();
        pSource->*(&TelvaneAccess::m_strFolder) = m_folder.c_str();
        ::CreateDirectoryW((m_folder + L"\\SPIFiles").c_str(), nullptr);
        std::wstring lapSource = m_folder + L"\\offered";
        init_files::Write(lapSource, std::vector<BYTE>(SlowLapSize, 0x5A));
        ts::Lap lap{ lapSource.c_str(), 9, 1, 1, 1 };
        Control(ts::SetStep, BurstStep);
        Control(ts::OfferLap, 0, &lap);
        Control(ts::SetFetchDelay, FetchDelay);
        Control(ts::ClearCalls);

        std::atomic<bool> waiterLeft{ false };
        std::atomic<bool> waitAnswer{ true };
        std::thread waiter;
        SetStatus(Connected);
        if (scenario.activity == Activity::WaiterInBurst)
        {
            waiter = std::thread([&] {
                waitAnswer = pSource->WaitForBurstData();
                waiterLeft = true;
            });
            // A host may end the link while a thread waits, not while one
            // is still on its way into the source it is about to lose.
            HANDLE hNoWaits = pSource->*(&TelvaneAccess::m_evNoWaits);
            PumpUntil([&] { return waiterLeft || ::WaitForSingleObject(hNoWaits, 0) == WAIT_TIMEOUT; });
        }
        WaitFor(moment);
        End(scenario.ending);

        std::string verdict;
        if (waiter.joinable())
        {
            if (!PumpUntil([&] { return waiterLeft.load(); }))
                verdict += "waiter stayed;";
            else if (waitAnswer)
                verdict += "waiter answered true;";
            if (!waiterLeft && m_pWatchguard)
                m_pWatchguard->EndWaitForBurstData();
            waiter.join();
        }
        std::string after = CallsAfterDeinit();
        if (!after.empty())
            verdict += "called after deinit: " + after + ";";
        TelemetryTest::TearDown();
        return verdict;
    }

    // A wait for a card that never comes; an end that came before the wait
    // could take it answers 0 and is asked again, as a host would.
    std::string FlatRound(Ending ending, double moment)
    {
        flat_test::StdoutCapture out;
        flat_test::StatusThread waiting;
        WaitFor(moment);
        int (WINAPI *end)() = ending == Ending::FlatTerminate ? getTelvaneStatusTerminate : deinitTelvaneCommunication;
        DWORD start = ::GetTickCount();
        while (!end() && ::GetTickCount() - start < WaitBound)
            ::Sleep(1);
        std::string verdict;
        if (!waiting.Returned(WaitBound))
            verdict += "wait outlived its end;";
        else if (waiting.Answer() != 0)
            verdict += "wait answered " + std::to_string(waiting.Answer()) + ";";
        deinitTelvaneCommunication();
        return verdict;
    }

    void End(Ending ending)
    {
        if (ending == Ending::DeleteWatchguard)
            StopWatchguard(m_pWatchguard);
        else
            m_pWatchguard->EnableTelvane(false, nullptr, nullptr, 0, nullptr, 0);
    }

    std::string CallsAfterDeinit()
    {
        const std::wstring deinit = L"deinitTelvaneCommunication@0()\n";
        std::wstring calls = Calls();
        size_t at = calls.rfind(deinit);
        if (at == std::wstring::npos)
            return "(no deinit)";
        std::wstring rest = calls.substr(at + deinit.size());
        return std::string(rest.begin(), rest.end());
    }
};

}

TEST_F(WorstMomentTest, EveryEndAtAnyMomentIsSafeAndTheSameSeedGivesTheSameRounds)
{
    std::mt19937 generator(g_worstMomentSeed);
    unsigned rounds = WorstMomentRounds(DefaultRounds);
    std::uniform_int_distribution<size_t> pick(0, sizeof(Scenarios) / sizeof(Scenarios[0]) - 1);
    std::uniform_real_distribution<double> magnitude(std::log10(ShortestMoment), std::log10(LongestMoment));
    Digest digest;
    unsigned broken = 0;
    for (unsigned round = 0; round < rounds; ++round)
    {
        const Scenario& scenario = Scenarios[pick(generator)];
        double moment = std::pow(10.0, magnitude(generator));
        std::string verdict;
        {
            RoundWatchdog watchdog(round, scenario.name);
            verdict = Round(scenario, moment);
        }
        digest.Add(scenario.name, std::strlen(scenario.name));
        digest.Add(&moment, sizeof(moment));
        digest.Add(verdict.data(), verdict.size());
        if (!verdict.empty() && broken++ < 10)
            ADD_FAILURE() << "round " << round << " " << scenario.name << " at " << moment << " s: " << verdict;
    }
    std::printf("seed %u, %u rounds, digest %08x\n", g_worstMomentSeed, rounds, digest.Value());
    EXPECT_EQ(0u, broken) << "seed " << g_worstMomentSeed;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
    {
        if (std::strncmp(argv[i], "--seed=", 7) == 0)
            g_worstMomentSeed = static_cast<unsigned>(std::strtoul(argv[i] + 7, nullptr, 10));
        else if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            g_worstMomentRounds = static_cast<unsigned>(std::strtoul(argv[i] + 9, nullptr, 10));
    }
    return RUN_ALL_TESTS();
}
