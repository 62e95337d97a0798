// The Telvane source in burst mode: laps fetched into lap files and resumed,
// the vehicle computer's log appended, and the burst thread's end.
#include "InitFiles.h"
#include "TelemetryTest.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

using namespace card_files;
using namespace testing_helpers;
namespace ts = TelemetryStandin;

namespace
{

const WORD Connected = 0xF006;
const unsigned char BurstStep = 2;

std::vector<BYTE> RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::vector<BYTE> bytes(size);
    for (BYTE& byte : bytes)
        byte = static_cast<BYTE>(generator());
    return bytes;
}

std::vector<BYTE> WholeFile(const std::wstring& path)
{
    return ReadBytes(path, 0, 1 << 24);
}

class BurstTest : public TelemetryTest
{
protected:
    struct Lap
    {
        ts::Lap numbers;
        std::vector<BYTE> bytes;
        std::wstring source;
    };

    void SetUp() override
    {
        TelemetryTest::SetUp();
        ASSERT_TRUE(EnableTelvane());
        m_pSource = Telvane();
        ASSERT_NE(nullptr, m_pSource);
        m_pSource->*(&TelvaneAccess::m_strFolder) = m_folder.c_str();
        ::CreateDirectoryW(SpiFolder().c_str(), nullptr);
        Control(ts::SetStep, BurstStep);
    }

    std::wstring SpiFolder() const { return m_folder + L"\\SPIFiles"; }

    std::wstring LapFile(const Lap& lap) const
    {
        wchar_t name[64];
        swprintf(name, 64, L"\\%08X_%03d_%03d_%05d.mflap", lap.numbers.id, lap.numbers.first, lap.numbers.second,
                 lap.numbers.third);
        return SpiFolder() + name;
    }

    LPARAM LapNumbers(const Lap& lap) const { return lap.numbers.first << 16 | lap.numbers.second; }

    Lap MakeLap(DWORD id, BYTE first, BYTE second, WORD third, size_t size)
    {
        Lap lap{ { nullptr, id, first, second, third }, RandomBytes(size, id), {} };
        lap.source = m_folder + L"\\offered-" + std::to_wstring(id);
        EXPECT_TRUE(init_files::Write(lap.source, lap.bytes));
        lap.numbers.path = lap.source.c_str();
        return lap;
    }

    Lap OfferedFile(DWORD id, const char* path)
    {
        Lap lap{ { nullptr, id, static_cast<BYTE>(id), 0, static_cast<WORD>(id) }, {}, WindowsPath(path) };
        lap.numbers.path = lap.source.c_str();
        return lap;
    }

    void Offer(const Lap& lap) { ASSERT_TRUE(Control(ts::OfferLap, 0, &lap.numbers)); }

    // The served card in requests of 64 sectors, the last one short.
    std::vector<BYTE> ReadCard(size_t sectors)
    {
        const DWORD request = 64;
        std::vector<BYTE> card;
        SectorBuffer buffer(request);
        for (DWORD first = 0; first < sectors; first += request)
        {
            DWORD count = static_cast<DWORD>(std::min<size_t>(request, sectors - first));
            if (!m_pSource->ReadSectorsA(buffer.data(), first, count))
                break;
            std::vector<BYTE> bytes = buffer.Bytes(0, count * 512);
            card.insert(card.end(), bytes.begin(), bytes.end());
        }
        return card;
    }

    // A status change in burst mode starts the burst thread.
    void StartBurst() { SetStatus(Connected); }

    // A burst that has stored a lap, which the card library cannot serve,
    // and fetches a long one slowly.
    Lap StartSlowBurst()
    {
        Lap stored = MakeLap(8, 1, 0, 1, 3000);
        Lap slow = MakeLap(9, 1, 1, 1, 300000);
        Offer(stored);
        Offer(slow);
        Control(ts::SetFetchDelay, 100);
        StartBurst();
        EXPECT_TRUE(PumpUntil([this] { return CountCalls(L"getLastLapData@12(32768,32768)") > 0; })) << Calls();
        return slow;
    }

    // A host thread in WaitForBurstData on the source while a burst runs;
    // the test learns its answer and whether it has left.
    void StartWaiter()
    {
        HANDLE hIdle = m_pSource->*(&TelvaneAccess::m_evIdle);
        ASSERT_TRUE(PumpUntil([hIdle] { return ::WaitForSingleObject(hIdle, 0) == WAIT_TIMEOUT; }));
        m_waiter = std::thread([this] {
            m_bWaitAnswer = m_pSource->WaitForBurstData();
            m_bWaiterLeft = true;
        });
        HANDLE hNoWaits = m_pSource->*(&TelvaneAccess::m_evNoWaits);
        ASSERT_TRUE(PumpUntil([hNoWaits] { return ::WaitForSingleObject(hNoWaits, 0) == WAIT_TIMEOUT; }));
    }

    // What the stand-in recorded after the library's deinit.
    std::wstring CallsAfterDeinit()
    {
        const std::wstring deinit = L"deinitTelvaneCommunication@0()\n";
        std::wstring calls = Calls();
        size_t at = calls.rfind(deinit);
        return at == std::wstring::npos ? L"(no deinit)" : calls.substr(at + deinit.size());
    }

    // A waiter that a failed test left behind is sent out, not waited for
    // without end.
    void TearDown() override
    {
        if (m_pWatchguard)
            m_pWatchguard->EndWaitForBurstData();
        if (m_waiter.joinable())
            m_waiter.join();
        TelemetryTest::TearDown();
    }

    bool WaitForBurstEnd()
    {
        HANDLE hIdle = m_pSource->*(&TelvaneAccess::m_evIdle);
        PumpFor(100);
        return PumpUntil([hIdle] { return ::WaitForSingleObject(hIdle, 0) == WAIT_OBJECT_0; });
    }

    CSectorixTelvane* m_pSource = nullptr;
    std::thread m_waiter;
    std::atomic<bool> m_bWaitAnswer{ true };
    std::atomic<bool> m_bWaiterLeft{ false };
};

}

TEST_F(BurstTest, LapsAreStoredUnderTheirNumbersAndQueuedAndFilesThatAreNoLapsAreSkipped)
{
    Lap first = MakeLap(0x1A2B, 7, 3, 12, 70000);
    Lap second = MakeLap(2, 8, 0, 13, 5000);
    Offer(first);
    Offer(second);
    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_DONE, 2));
    for (WPARAM state : { Sectorix::NOTIFY_LAP_STARTED, Sectorix::NOTIFY_LAP_DONE })
    {
        std::vector<Posted> posts = Posts(SourceMessage, state);
        ASSERT_EQ(2u, posts.size());
        EXPECT_EQ(LapNumbers(first), posts[0].lParam);
        EXPECT_EQ(LapNumbers(second), posts[1].lParam);
    }
    EXPECT_EQ(first.bytes, WholeFile(LapFile(first)));
    EXPECT_EQ(second.bytes, WholeFile(LapFile(second)));
    EXPECT_EQ(SpiFolder() + L"\\00001A2B_007_003_00012.mflap", LapFile(first));
    EXPECT_EQ(1u, CountCalls(L"getLastLapData@12(65536,4464)")) << Calls();
    EXPECT_EQ(2u, CountCalls(L"endLastLapTransmit@0()"));
    EXPECT_TRUE(m_pSource->IsBurstMode());
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaInserted));
    EXPECT_EQ(reinterpret_cast<LPARAM>(m_pSource), Posts(WatchguardMessage, MediaInserted)[0].lParam);

    // Neither file is a lap file: both are skipped, and the burst is over.
    ASSERT_TRUE(WaitForBurstEnd());
    EXPECT_FALSE(m_pSource->WaitForBurstData());
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaRemoved));
    EXPECT_EQ(1u, Posts(WatchguardMessage, MediaInserted).size());
    SectorBuffer buffer(1);
    EXPECT_FALSE(m_pSource->ReadSectorsA(buffer.data(), 0, 1));
}

TEST_F(BurstTest, FinishedLapsAreServedAsTheCardOneAfterTheOther)
{
    Lap noLap = MakeLap(1, 1, 0, 1, 3000);
    Lap testCard = OfferedFile(2, TEST_CARD_LAP);
    Lap oddCard = OfferedFile(3, ODD_CARD_LAP);
    Offer(noLap);
    Offer(testCard);
    Offer(oddCard);
    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_DONE, 3));

    ASSERT_TRUE(m_pSource->WaitForBurstData());
    std::vector<BYTE> image = WholeFile(WindowsPath(TEST_CARD_IMAGE));
    EXPECT_EQ(image, ReadCard(image.size() / 512));
    const _list_block* pListBlock = m_pSource->TelvaneGetListBlock();
    ASSERT_NE(nullptr, pListBlock);
    DWORD headerSectors = pListBlock->HeaderSize() / 512;
    ASSERT_GT(headerSectors, 1u);
    SectorBuffer buffer(2);
    DWORD listed[] = { headerSectors - 1, 0 };
    ASSERT_TRUE(m_pSource->ReadSectorsB(buffer.data(), 2, listed));
    EXPECT_EQ(std::vector<BYTE>(image.begin() + (headerSectors - 1) * 512, image.begin() + headerSectors * 512),
              buffer.Bytes(0, 512));
    EXPECT_EQ(std::vector<BYTE>(image.begin(), image.begin() + 512), buffer.Bytes(512, 512));
    DWORD beyondHeader[] = { 0, headerSectors };
    EXPECT_FALSE(m_pSource->ReadSectorsB(buffer.data(), 2, beyondHeader));
    ASSERT_TRUE(m_pSource->ReadSectorsA(buffer.data(), static_cast<DWORD>(image.size() / 512), 2));
    EXPECT_EQ(std::vector<BYTE>(1024, 0), buffer.Bytes(0, 1024));

    ASSERT_TRUE(m_pSource->WaitForBurstData());
    std::vector<BYTE> odd = WholeFile(WindowsPath(ODD_CARD_IMAGE));
    EXPECT_EQ(odd, ReadCard(odd.size() / 512));

    ASSERT_TRUE(WaitForBurstEnd());
    EXPECT_FALSE(m_pSource->WaitForBurstData());
    EXPECT_TRUE(WaitForPosts(WatchguardMessage, MediaRemoved));
}

// A lap file already there is resumed where it ends when it starts as the
// lap does, written anew when it does not or when it is longer than the
// lap (an older lap of the same numbers), and taken as it is when whole.
TEST_F(BurstTest, AStoredLapFileIsResumedWrittenAnewOrTakenAsItIs)
{
    struct Stored
    {
        size_t lapSize;
        size_t kept;
        bool stale;
        const wchar_t* fetches;
    };
    const Stored cases[] = {
        { 50000, 20000, false, L"getLastLapData@12(0,16384)\ngetLastLapData@12(20000,30000)\n" },
        { 40000, 45000, true, L"getLastLapData@12(0,16384)\ngetLastLapData@12(16384,23616)\n" },
        { 5000, 5000, false, L"getLastLapData@12(0,5000)\n" },
        { 5000, 9000, false, L"getLastLapData@12(0,5000)\n" },
    };
    DWORD id = 5;
    for (const Stored& stored : cases)
    {
        SCOPED_TRACE(stored.lapSize);
        Lap lap = MakeLap(id++, 1, 2, 3, stored.lapSize);
        std::vector<BYTE> file(lap.bytes.begin(), lap.bytes.begin() + std::min(stored.kept, stored.lapSize));
        if (stored.stale)
            file[100] ^= 0xFF;
        file.resize(stored.kept, 0x5A);
        ASSERT_TRUE(init_files::Write(LapFile(lap), file));
        Control(ts::ClearCalls);
        m_posted.clear();
        Offer(lap);
        StartBurst();
        ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_DONE));
        std::vector<Posted> present = Posts(SourceMessage, Sectorix::NOTIFY_LAP_PRESENT);
        bool resumed = !stored.stale && stored.kept <= stored.lapSize;
        ASSERT_EQ(resumed ? 1u : 0u, present.size());
        if (resumed)
        {
            EXPECT_EQ(static_cast<LPARAM>(stored.kept), present[0].lParam);
        }
        EXPECT_EQ(lap.bytes, WholeFile(LapFile(lap)));
        std::wstring fetches;
        std::wstring calls = Calls();
        for (size_t at = calls.find(L"getLastLapData"); at != std::wstring::npos;
             at = calls.find(L"getLastLapData", at + 1))
            fetches += calls.substr(at, calls.find(L'\n', at) + 1 - at);
        EXPECT_EQ(stored.fetches, fetches) << calls;
        ASSERT_TRUE(WaitForBurstEnd());
    }
}

// A lap of the same numbers offered again while its file is served, with
// other bytes: the served card must not change under the host, so the new
// lap waits until the file is released.
TEST_F(BurstTest, TheServedLapFileIsNotWrittenUntilItIsReleased)
{
    Lap served = OfferedFile(2, TEST_CARD_LAP);
    Offer(served);
    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_DONE));
    ASSERT_TRUE(WaitForBurstEnd());
    ASSERT_TRUE(m_pSource->WaitForBurstData());

    Lap again = OfferedFile(2, ODD_CARD_LAP);
    Offer(again);
    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_STARTED, 2));
    ASSERT_TRUE(WaitForBurstEnd());
    std::vector<BYTE> image = WholeFile(WindowsPath(TEST_CARD_IMAGE));
    EXPECT_EQ(image, ReadCard(image.size() / 512));
    EXPECT_EQ(1u, Posts(SourceMessage, Sectorix::NOTIFY_LAP_FAILED).size());

    EXPECT_FALSE(m_pSource->WaitForBurstData());
    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_DONE, 2));
    EXPECT_EQ(WholeFile(WindowsPath(ODD_CARD_LAP)), WholeFile(LapFile(again)));
}

TEST_F(BurstTest, AFailedFetchKeepsThePartForTheNextBurst)
{
    Lap lap = MakeLap(8, 9, 10, 11, 70000);
    Offer(lap);
    Control(ts::FailFetchAt, 40000);
    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_FAILED));
    EXPECT_EQ(LapNumbers(lap), Posts(SourceMessage, Sectorix::NOTIFY_LAP_FAILED)[0].lParam);
    ASSERT_TRUE(WaitForBurstEnd());
    EXPECT_TRUE(Posts(SourceMessage, Sectorix::NOTIFY_LAP_DONE).empty());
    EXPECT_EQ(std::vector<BYTE>(lap.bytes.begin(), lap.bytes.begin() + 32768), WholeFile(LapFile(lap)));

    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_DONE));
    ASSERT_EQ(1u, Posts(SourceMessage, Sectorix::NOTIFY_LAP_PRESENT).size());
    EXPECT_EQ(32768, Posts(SourceMessage, Sectorix::NOTIFY_LAP_PRESENT)[0].lParam);
    EXPECT_EQ(lap.bytes, WholeFile(LapFile(lap)));
}

// The vehicle keeps offering a lap whose file cannot be opened: the burst
// ends rather than passing over it for ever, and the next one stores it.
TEST_F(BurstTest, ALapThatCannotBeStoredEndsTheBurstUntilTheNextStatusChange)
{
    Lap lap = MakeLap(10, 2, 3, 4, 5000);
    HANDLE hHeld = ::CreateFileW(LapFile(lap).c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    Offer(lap);
    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_FAILED));
    bool ended = WaitForBurstEnd();
    ::CloseHandle(hHeld);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(m_pSource->WaitForBurstData());

    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_DONE));
    EXPECT_EQ(lap.bytes, WholeFile(LapFile(lap)));
}

TEST_F(BurstTest, TheBoardLogIsAppendedFromItsOffsetAndAnewWhenItShrank)
{
    std::wstring boardLog = m_folder + L"\\BoardPC.log";
    std::vector<BYTE> log = RandomBytes(70000, 1);
    Control(ts::SetBoardLog, log.size(), log.data());
    Control(ts::FailFetchAt, 40000);
    StartBurst();
    ASSERT_TRUE(WaitForBurstEnd());
    EXPECT_EQ(std::vector<BYTE>(log.begin(), log.begin() + 32768), WholeFile(boardLog));

    StartBurst();
    ASSERT_TRUE(WaitForBurstEnd());
    std::vector<BYTE> expected = log;
    EXPECT_EQ(expected, WholeFile(boardLog));
    EXPECT_EQ(1u, CountCalls(L"EndLogFileTransmit@0()"));

    // A log cut short by a failure, then replaced by a shorter one.
    std::vector<BYTE> cut = RandomBytes(50000, 2);
    Control(ts::SetBoardLog, cut.size(), cut.data());
    Control(ts::FailFetchAt, 45000);
    StartBurst();
    ASSERT_TRUE(WaitForBurstEnd());
    expected.insert(expected.end(), cut.begin(), cut.begin() + 32768);
    EXPECT_EQ(expected, WholeFile(boardLog));
    std::vector<BYTE> shorter = RandomBytes(3000, 3);
    Control(ts::SetBoardLog, shorter.size(), shorter.data());
    StartBurst();
    ASSERT_TRUE(WaitForBurstEnd());
    expected.insert(expected.end(), shorter.begin(), shorter.end());
    EXPECT_EQ(expected, WholeFile(boardLog));
}

TEST_F(BurstTest, WithoutALogFolderTheBoardLogStaysOnTheVehicle)
{
    m_pWatchguard->SetLogFolder(L"");
    std::vector<BYTE> log = RandomBytes(5000, 4);
    Control(ts::SetBoardLog, log.size(), log.data());
    StartBurst();
    ASSERT_TRUE(WaitForBurstEnd());
    EXPECT_EQ(0u, CountCalls(L"GetLogFileData@12(0,5000)"));
    EXPECT_EQ(0u, CountCalls(L"EndLogFileTransmit@0()"));
}

// The waiter leaves with false before the watchguard is gone, and the
// burst thread ends before the library does.
TEST_F(BurstTest, DeletingTheWatchguardMidBurstFailsTheLapSendsTheWaiterOutAndEndsTheThreadFirst)
{
    Lap lap = StartSlowBurst();
    StartWaiter();
    StopWatchguard(m_pWatchguard);
    ASSERT_TRUE(PumpUntil([this] { return m_bWaiterLeft.load(); }));
    EXPECT_FALSE(m_bWaitAnswer);
    ::Sleep(300);
    EXPECT_EQ(L"", CallsAfterDeinit());
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_FAILED));
    EXPECT_EQ(LapNumbers(lap), Posts(SourceMessage, Sectorix::NOTIFY_LAP_FAILED)[0].lParam);
    EXPECT_EQ(1u, Posts(SourceMessage, Sectorix::NOTIFY_LAP_DONE).size());
    EXPECT_EQ(1u, CountCalls(L"endLastLapTransmit@0()"));
    EXPECT_LT(WholeFile(LapFile(lap)).size(), lap.bytes.size());
}

TEST_F(BurstTest, DisablingMidBurstEndsTheThreadBeforeTheLibraryAndEnablingAgainServesTheLapOnce)
{
    Lap lap = StartSlowBurst();
    StartWaiter();
    m_pWatchguard->EnableTelvane(false, nullptr, nullptr, 0, nullptr, 0);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_pSource->*(&TelvaneAccess::m_evIdle), 0));
    ASSERT_TRUE(PumpUntil([this] { return m_bWaiterLeft.load(); }));
    EXPECT_FALSE(m_bWaitAnswer);
    EXPECT_FALSE(m_pSource->WaitForBurstData());
    ::Sleep(300);
    EXPECT_EQ(L"", CallsAfterDeinit());

    Control(ts::SetFetchDelay, 0);
    Control(ts::ClearCalls);
    m_posted.clear();
    ASSERT_TRUE(EnableTelvane());
    m_pSource = Telvane();
    m_pSource->*(&TelvaneAccess::m_strFolder) = m_folder.c_str();
    StartBurst();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_LAP_DONE));
    ASSERT_TRUE(WaitForBurstEnd());
    EXPECT_EQ(1u, Posts(SourceMessage, Sectorix::NOTIFY_LAP_DONE).size());
    EXPECT_EQ(lap.bytes, WholeFile(LapFile(lap)));
}

// An ended wait leaves the burst running, and the next wait is served.
TEST_F(BurstTest, AHostEndsAWaitWithoutTouchingTheBurst)
{
    Offer(OfferedFile(2, TEST_CARD_LAP));
    Control(ts::SetFetchDelay, 400);
    StartBurst();
    StartWaiter();
    m_pWatchguard->EndWaitForBurstData();
    ASSERT_TRUE(PumpUntil([this] { return m_bWaiterLeft.load(); }));
    EXPECT_FALSE(m_bWaitAnswer);
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(m_pSource->*(&TelvaneAccess::m_evIdle), 0));
    ASSERT_TRUE(m_pSource->WaitForBurstData());
    std::vector<BYTE> image = WholeFile(WindowsPath(TEST_CARD_IMAGE));
    EXPECT_EQ(image, ReadCard(image.size() / 512));
}

TEST_F(BurstTest, WaitingWithoutBurstOrQueueAnswersFalseAtOnceAndWithdrawsTheCard)
{
    Control(ts::SetStep, 1);
    SetStatus(Connected);
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaInserted));
    EXPECT_FALSE(m_pSource->IsBurstMode());
    DWORD start = ::GetTickCount();
    EXPECT_FALSE(m_pSource->WaitForBurstData());
    EXPECT_LT(::GetTickCount() - start, 1000u);
    EXPECT_TRUE(WaitForPosts(WatchguardMessage, MediaRemoved));
}
