// Activities ended at the worst moment: each round starts an activity
// against the stand-ins and ends it after a delay drawn from a fixed seed,
// from a microsecond to a second in. No round may crash or hang, and no
// library may be called after it has gone: the card library's and the
// card service's rounds. A failure names the seed and the round, so that
// the same seed ends the same activities at the same moments again.
#include "CardLibraryTest.h"
#include "ServiceTest.h"
#include "WorstMoment.h"

#include "api/FlatExports.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace
{
const unsigned DefaultRounds = 150;
const double ShortestDelay = 1e-6;
const double LongestDelay = 1.0;
const DWORD EndBound = 10000;
const DWORD QuietAfterEnd = 20;
const size_t FormatCardBytes = 32 * 1024 * 1024;
const UINT ReadSectors = 64;
const DWORD ServiceVersion = 0x01010A01;
// A round that starts the service anew costs a process start.
const int RoundsPerServiceStart = 5;
// A round that ends the flat link starts a watchguard anew.
const int RoundsPerLinkStart = 5;
// A round that polls starts a thread for the watch timer.
const int RoundsPerPollStart = 3;
const DWORD MediumSize = 8192;
const WORD CSMSockets[] = { 1, 2 };

// Delays spread evenly over the orders of magnitude between the shortest
// and the longest, so that the earliest moments are tried as often as the
// late ones.
class CMoments
{
public:
    CMoments() : m_seed(g_worstMomentSeed), m_state(m_seed) {}

    unsigned Seed() const { return m_seed; }
    int Rounds() const { return static_cast<int>(WorstMomentRounds(DefaultRounds)); }

    double NextSeconds()
    {
        m_state = m_state * 1103515245u + 12345u;
        double unit = static_cast<double>(m_state >> 8) / static_cast<double>(1u << 24);
        return ShortestDelay * std::pow(LongestDelay / ShortestDelay, unit);
    }

    std::string Where(int round, double seconds) const
    {
        char text[96];
        std::snprintf(text, sizeof(text), "seed %u, round %d, ended after %.6f s", m_seed, round, seconds);
        return text;
    }

private:
    unsigned m_seed;
    unsigned m_state;
};

// Short delays are waited for by spinning: a sleep cannot end within a
// microsecond.
void Wait(double seconds)
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    LONGLONG ticks = static_cast<LONGLONG>(seconds * static_cast<double>(frequency.QuadPart));
    if (seconds > 0.002)
        ::Sleep(static_cast<DWORD>(seconds * 1000) - 1);
    do
        ::QueryPerformanceCounter(&now);
    while (now.QuadPart - start.QuadPart < ticks);
}

class WorstMomentFormatTest : public CardLibraryTest
{
protected:
    // Formats the active card, ends the format from outside after the
    // round's delay, and checks that the card library is left alone after.
    template <class End>
    void FormatAndEndAfter(const CMoments& moments, int round, double seconds, End end)
    {
        CCMDLLApi* pCMDLL = SelectCMDLL();
        ASSERT_NE(nullptr, pCMDLL) << moments.Where(round, seconds);
        pCMDLL->AsyncFormatCardBegin();
        Wait(seconds);
        ASSERT_EQ(true, AnswerWithin(EndBound, [&] {
                      end();
                      return true;
                  })) << moments.Where(round, seconds);
        std::wstring calls = CmdllCalls();
        ::Sleep(QuietAfterEnd);
        ASSERT_EQ(calls, CmdllCalls()) << moments.Where(round, seconds);
        Cmdll(CardLibStandin::ClearCalls);
    }
};

class WorstMomentServiceTest : public ServiceTest
{
};

// The card library serves two CSM drives, one of them with a medium, and
// the test plays the watch timer.
class WorstMomentCSMTest : public CardLibraryTest
{
protected:
    void SetUp() override
    {
        CardLibraryTest::SetUp();
        Cmdll(CardLibStandin::SetSockets, 2, CSMSockets);
        Cmdll(CardLibStandin::InsertMedium, 1, &MediumSize);
        SelectCMDLL();
        ASSERT_TRUE(m_pWatchguard->EnableCSM(true));
    }

    void RunWatchTimer() { (m_pWatchguard->*&WatchguardAccess::OnWatchTimer)(); }
};
}

// The card library goes while its format may still be writing: the format
// ends first, and nothing calls the library afterwards.
TEST_F(WorstMomentFormatTest, UnloadingTheCardLibraryEndsAFormatAtAnyMoment)
{
    CMoments moments;
    CMemoryCard* pCard = new CMemoryCard(m_pWatchguard, FormatCardBytes);
    Register(m_pWatchguard, pCard);
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pCard, Sectorix::SetActive));
    for (int round = 0; round < moments.Rounds(); ++round)
    {
        double seconds = moments.NextSeconds();
        ASSERT_NO_FATAL_FAILURE(FormatAndEndAfter(moments, round, seconds, [] { CCSMDLL::Unload(); }));
    }
}

// The flat host ends its link while the card library formats its card: the
// format ends before the card goes, and nothing calls the library
// afterwards.
TEST_F(WorstMomentFormatTest, EndingTheFlatLinkEndsAFormatAtAnyMoment)
{
    CMoments moments;
    testing_helpers::StopWatchguard(m_pWatchguard);
    for (int round = 0; round < moments.Rounds() / RoundsPerLinkStart; ++round)
    {
        double seconds = moments.NextSeconds();
        m_pWatchguard = InitWatchguard();
        ASSERT_NE(nullptr, m_pWatchguard) << moments.Where(round, seconds);
        CMemoryCard* pCard = new CMemoryCard(m_pWatchguard, FormatCardBytes);
        Register(m_pWatchguard, pCard);
        ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pCard, Sectorix::SetActive)) << moments.Where(round, seconds);
        ASSERT_NO_FATAL_FAILURE(FormatAndEndAfter(moments, round, seconds, [this] {
            deinitTelvaneCommunication();
            m_pWatchguard = nullptr;
        }));
    }
}

// The host unloads the card library while the watch timer polls its
// drives: the unload answers, and no poll calls the library once it has
// gone.
TEST_F(WorstMomentCSMTest, UnloadingTheCardLibraryUnderPollsAtAnyMoment)
{
    CMoments moments;
    for (int round = 0; round < moments.Rounds() / RoundsPerPollStart; ++round)
    {
        double seconds = moments.NextSeconds();
        ASSERT_NE(nullptr, SelectCMDLL()) << moments.Where(round, seconds);
        std::atomic<bool> done{ false };
        BackgroundCall poller([this, &done] {
            while (!done)
                RunWatchTimer();
            return true;
        });
        bool started = poller.Started(EndBound);
        Wait(seconds);
        std::optional<bool> unloaded = AnswerWithin(EndBound, [] {
            UnloadCSMDLL();
            return true;
        });
        std::wstring calls = CmdllCalls();
        ::Sleep(QuietAfterEnd);
        std::wstring later = CmdllCalls();
        done = true;
        ASSERT_EQ(true, poller.Answer(EndBound)) << moments.Where(round, seconds);
        ASSERT_TRUE(started) << moments.Where(round, seconds);
        ASSERT_EQ(true, unloaded) << moments.Where(round, seconds);
        ASSERT_EQ(calls, later) << moments.Where(round, seconds);
        Cmdll(CardLibStandin::ClearCalls);
    }
}

// Reads the card's first sectors until a read fails; every read that
// succeeds must bring them.
BackgroundCall* StartReader(CSectorixService* pSource, const std::vector<BYTE>& card, volatile bool& wrong)
{
    return new BackgroundCall([pSource, &card, &wrong] {
        std::vector<BYTE> buffer(ReadSectors * 512);
        while (pSource->ReadSectorsA(buffer.data(), 0, ReadSectors))
            wrong = wrong || buffer != card;
        return true;
    });
}

// The card is closed while another thread reads it: every read either
// brings the card's own sectors or fails, and the reader ends.
TEST_F(WorstMomentServiceTest, ClosingTheCardEndsReadsAtAnyMoment)
{
    CMoments moments;
    CSectorixService* pSource = StartOpened(ServiceVersion);
    ASSERT_NE(nullptr, pSource);
    std::vector<BYTE> card = Image(0, ReadSectors);
    for (int round = 0; round < moments.Rounds(); ++round)
    {
        double seconds = moments.NextSeconds();
        if (round > 0)
        {
            ASSERT_TRUE(pSource->OpenCard()) << moments.Where(round, seconds);
        }
        volatile bool wrong = false;
        std::unique_ptr<BackgroundCall> reader(StartReader(pSource, card, wrong));
        ASSERT_TRUE(reader->Started(EndBound)) << moments.Where(round, seconds);
        Wait(seconds);
        ASSERT_EQ(true, AnswerWithin(EndBound, [pSource] { return pSource->CloseCard(); }))
            << moments.Where(round, seconds);
        ASSERT_EQ(true, reader->Answer(EndBound)) << moments.Where(round, seconds);
        ASSERT_FALSE(wrong) << moments.Where(round, seconds);
    }
}

// The service ends while another thread reads: the reader ends, closing
// answers at once, and the same source opens at the next service.
TEST_F(WorstMomentServiceTest, TheServiceEndingEndsReadsAtAnyMoment)
{
    CMoments moments;
    std::vector<BYTE> card;
    CSectorixService* pSource = nullptr;
    for (int round = 0; round < moments.Rounds() / RoundsPerServiceStart; ++round)
    {
        double seconds = moments.NextSeconds();
        StartService(ServiceVersion);
        if (!pSource)
        {
            pSource = MakeSource();
            ASSERT_NE(nullptr, pSource);
            card = Image(0, ReadSectors);
        }
        ASSERT_TRUE(pSource->OpenCard()) << moments.Where(round, seconds);
        volatile bool wrong = false;
        std::unique_ptr<BackgroundCall> reader(StartReader(pSource, card, wrong));
        ASSERT_TRUE(reader->Started(EndBound)) << moments.Where(round, seconds);
        Wait(seconds);
        ASSERT_TRUE(m_service->Stop()) << moments.Where(round, seconds);
        m_service.reset();
        ASSERT_EQ(true, reader->Answer(EndBound)) << moments.Where(round, seconds);
        ASSERT_FALSE(wrong) << moments.Where(round, seconds);
        ASSERT_TRUE(AnswerWithin(EndBound, [pSource] { return pSource->CloseCard(); }).has_value())
            << moments.Where(round, seconds);
    }
}
