// The flat functions as a host binds them: Sectorix.dll linked by name
// through its flat import library, the classes only where a test needs a
// source of its own or a telemetry link.
#include "CardFiles.h"
#include "CardServiceProcess.h"
#include "FlatTest.h"
#include "TelemetryTest.h"
#include "TestHelpers.h"
#include "TestSource.h"

#include "Sectorix/SectorixFlat.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <initializer_list>

using namespace card_files;
using namespace flat_test;
using namespace testing_helpers;

namespace
{

const WORD Untouched = 0x5A5A;
const BYTE UntouchedByte = 0x5A;
const DWORD TerminateAfter = 300;
const ULONGLONG FourGiB = 1ull << 32;
const DWORD TestCardBytes = 2048 * 1024;
const size_t RecordRoom = 48;

// A card source of a size the test chooses.
class CSizedSource : public CTestSource
{
public:
    CSizedSource(CWatchguard* pWatchguard, unsigned long long size)
        : CTestSource(pWatchguard, 'S')
        , m_size(size)
    {
    }

    unsigned long long GetCardSize() override { return m_size; }

    unsigned long long m_size;
};

bool AllBytes(const BYTE* bytes, size_t count, BYTE value)
{
    for (size_t i = 0; i < count; ++i)
    {
        if (bytes[i] != value)
            return false;
    }
    return true;
}

// A record of the host's: the length word set, every other byte marked.
std::vector<WORD> Record(WORD length)
{
    std::vector<WORD> record(RecordRoom, Untouched);
    record[0] = length;
    return record;
}

const BYTE* Bytes(const std::vector<WORD>& record)
{
    return reinterpret_cast<const BYTE*>(record.data());
}

std::wstring TextAt(const std::vector<BYTE>& bytes, size_t offset)
{
    return reinterpret_cast<const wchar_t*>(bytes.data() + offset);
}

// The field holds its text, then zeros to its end.
bool ZeroPadded(const std::vector<BYTE>& bytes, size_t offset, size_t fieldBytes)
{
    size_t used = (TextAt(bytes, offset).size() + 1) * sizeof(wchar_t);
    return used <= fieldBytes && AllBytes(bytes.data() + offset + used, fieldBytes - used, 0);
}

// The functions that need an active source answer 0 without one and leave
// the host's outputs alone.
void ExpectRefusedWithoutSource()
{
    UINT packet = Untouched;
    EXPECT_EQ(0, getTelvanePacketSize(&packet));
    EXPECT_EQ(Untouched, packet);
    WORD type = Untouched;
    EXPECT_EQ(0, getSectorixType(&type));
    EXPECT_EQ(Untouched, type);
    BYTE buffer[SECTORIX_SECTOR_SIZE];
    std::memset(buffer, UntouchedByte, sizeof(buffer));
    DWORD sectors[] = { 0 };
    EXPECT_EQ(0, getSectorData(0, buffer));
    EXPECT_EQ(0, getSectorDataEx(0, 1, buffer, nullptr));
    EXPECT_EQ(0, getSectorDataEx(0, 1, buffer, sectors));
    EXPECT_EQ(0, getSectorDataExA(0, 1, buffer));
    EXPECT_EQ(0, getSectorDataExB(1, sectors, buffer));
    EXPECT_EQ(0, putSectorDataExA(0, 1, buffer));
    EXPECT_TRUE(AllBytes(buffer, sizeof(buffer), UntouchedByte));
    BYTE data[2] = { 1, 2 };
    WORD length = sizeof(data);
    BYTE answer[2] = {};
    EXPECT_EQ(0, sendTelvaneCommand(1, data, &length, answer));
    EXPECT_EQ(0, answer[0]);
    EXPECT_EQ(0, putLogbookEntry(1));
    EXPECT_EQ(0, restartMeasurement());
    EXPECT_EQ(0, endDataTransmit());
}

}

TEST(FlatHost, WithoutWatchguardEveryFunctionAnswersZeroAndTouchesNothing)
{
    EXPECT_EQ(1, initTelvaneCommunication());
    EXPECT_EQ(1, startTelvaneCommunication());
    EXPECT_EQ(0, getTelvaneStatus(nullptr));
    EXPECT_EQ(1, startTelvaneCommunication()) << "a null status started the watchguard";
    EXPECT_EQ(0, getTelvaneStatusTerminate());

    HANDLE hSync = INVALID_HANDLE_VALUE;
    EXPECT_EQ(0, getTelvaneSyncObject(&hSync));
    EXPECT_EQ(INVALID_HANDLE_VALUE, hSync);
    WORD code = Untouched;
    wchar_t text[8] = L"keep";
    EXPECT_EQ(0, getTelvaneError(&code, text));
    EXPECT_EQ(Untouched, code);
    EXPECT_STREQ(L"keep", text);
    DWORD size = Untouched;
    EXPECT_EQ(0, getMCardImageSize(&size));
    EXPECT_EQ(Untouched, size);
    ULONGLONG size64 = Untouched;
    EXPECT_EQ(0, getMCardImageSize64(&size64));
    EXPECT_EQ(Untouched, size64);
    std::vector<WORD> record = Record(0);
    EXPECT_EQ(0, getListBlock(record.data()));
    EXPECT_TRUE(AllBytes(Bytes(record) + 2, (RecordRoom - 1) * 2, UntouchedByte));
    EXPECT_EQ(0, reloginMemoryCard());
    ExpectRefusedWithoutSource();
    EXPECT_EQ(0, endTelvaneCommunication());
    EXPECT_EQ(0, deinitTelvaneCommunication());
}

TEST(FlatHost, ClassModeHostOwnsTheWatchguardAndEndOnlyDisablesIt)
{
    ASSERT_EQ(nullptr, GetWatchguard());
    EXPECT_EQ(0, startTelvaneCommunication());
    StdoutCapture out;
    ASSERT_EQ(1, initTelvaneCommunication());
    CWatchguard* pWatchguard = GetWatchguard();
    ASSERT_NE(nullptr, pWatchguard);
    EXPECT_EQ(0, initTelvaneCommunication());
    EXPECT_EQ(1, startTelvaneCommunication());
    WORD status = Untouched;
    EXPECT_EQ(1, getTelvaneStatus(&status)) << "class mode never waits";
    EXPECT_EQ(SECTORIX_STATUS_NOT_CONNECTED, status);
    EXPECT_EQ(0u, out.Count(Prompt));

    // No active source: the watchguard answers for it.
    WORD code = Untouched;
    wchar_t text[8] = L"keep";
    EXPECT_EQ(1, getTelvaneError(&code, text));
    EXPECT_EQ(SECTORIX_ERROR_NO_SOURCE, code);
    EXPECT_STREQ(L"keep", text);
    EXPECT_EQ(0, getTelvaneError(nullptr, text));
    EXPECT_EQ(0, getTelvaneError(&code, nullptr));
    EXPECT_EQ(1, reloginMemoryCard());
    DWORD size = Untouched;
    EXPECT_EQ(0, getMCardImageSize(&size));
    EXPECT_EQ(0u, size);
    ULONGLONG size64 = Untouched;
    EXPECT_EQ(0, getMCardImageSize64(&size64));
    EXPECT_EQ(0u, size64);
    ExpectRefusedWithoutSource();
    for (WORD length : { 0, 60, 3 })
    {
        SCOPED_TRACE(length);
        std::vector<WORD> record = Record(length);
        size_t filled = length ? length : SECTORIX_LIST_BLOCK_DEFAULT_SIZE;
        EXPECT_EQ(0, getListBlock(record.data()));
        EXPECT_TRUE(AllBytes(Bytes(record), filled, 0));
        EXPECT_TRUE(AllBytes(Bytes(record) + filled, RecordRoom * 2 - filled, UntouchedByte));
    }

    CTestSource* pSource = new CTestSource(pWatchguard, 'T');
    Register(pWatchguard, pSource);
    ASSERT_TRUE(pWatchguard->ActivateSectorix(pSource, Sectorix::SetActive));
    EXPECT_EQ(1, endTelvaneCommunication());
    EXPECT_FALSE(pWatchguard->IsEnabled());
    EXPECT_EQ(pSource, pWatchguard->GetActiveSectorix());
    EXPECT_EQ(0, pSource->m_nDeactivateCalls);
    EXPECT_EQ(1, deinitTelvaneCommunication());
    EXPECT_EQ(nullptr, GetWatchguard());
    EXPECT_EQ(0, CTestSource::s_nAlive);
}

TEST(FlatHost, CardOfExactlyFourGibibytesHasNo32BitSize)
{
    CWatchguard* pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, pWatchguard);
    CSizedSource* pSource = new CSizedSource(pWatchguard, FourGiB);
    Register(pWatchguard, pSource);
    ASSERT_TRUE(pWatchguard->ActivateSectorix(pSource, Sectorix::SetActive));
    DWORD size = Untouched;
    EXPECT_EQ(0, getMCardImageSize(&size));
    EXPECT_EQ(0u, size);
    ULONGLONG size64 = 0;
    EXPECT_EQ(1, getMCardImageSize64(&size64));
    EXPECT_EQ(FourGiB, size64);
    pSource->m_size = FourGiB + SECTORIX_SECTOR_SIZE;
    EXPECT_EQ(1, getMCardImageSize(&size));
    EXPECT_EQ(static_cast<DWORD>(SECTORIX_SECTOR_SIZE), size);
    EXPECT_EQ(0, getMCardImageSize(nullptr));
    EXPECT_EQ(0, getMCardImageSize64(nullptr));

    // A source's refusals come back as 0; its type as the host knows it.
    BYTE buffer[SECTORIX_SECTOR_SIZE];
    EXPECT_EQ(0, getSectorDataExA(0, 1, buffer));
    EXPECT_EQ(0, getSectorDataExA(0, 1, nullptr));
    EXPECT_EQ(0, reloginMemoryCard());
    WORD type = Untouched;
    EXPECT_EQ(1, getSectorixType(&type));
    EXPECT_EQ(SECTORIX_TYPE_DRIVE, type);
    EXPECT_EQ(0, getSectorixType(nullptr));
    EXPECT_EQ(1, deinitTelvaneCommunication());
}

TEST(FlatHost, VersionRecordFillsExactly1284Bytes)
{
    const size_t size = sizeof(SECTORIX_VERSION_INFO);
    std::vector<BYTE> bytes(size + 16, UntouchedByte);
    EXPECT_EQ(1, getTelvaneVersionInfo(reinterpret_cast<SECTORIX_VERSION_INFO*>(bytes.data())));
    DWORD version = 0;
    std::memcpy(&version, bytes.data(), sizeof(version));
    EXPECT_EQ(0x100u, version);
    EXPECT_EQ(L"Sectorix DLL", TextAt(bytes, 4));
    EXPECT_EQ(L"Sectorix DLL is used to access FlashCards on Windows-based computers (Win98/ME/WinNT4/Win2000)",
              TextAt(bytes, 772));
    EXPECT_TRUE(ZeroPadded(bytes, 4, 256));
    EXPECT_TRUE(ZeroPadded(bytes, 260, 256));
    EXPECT_TRUE(ZeroPadded(bytes, 516, 256));
    EXPECT_TRUE(ZeroPadded(bytes, 772, 512));
    EXPECT_TRUE(AllBytes(bytes.data() + size, 16, UntouchedByte));
    EXPECT_EQ(0, getTelvaneVersionInfo(nullptr));
}

// The card service serves the test card as physical disk 0: the card is
// there before the host asks, and the flat host finds it each time.
TEST(FlatHost, FlatSequenceFindsTheCardAlreadyThereTwiceInOneProcess)
{
    std::wstring image = WindowsPath(TEST_CARD_IMAGE);
    CardServiceProcess service({ L"--disk", L"0=" + image });
    ASSERT_TRUE(service.IsReady());
    for (int sequence = 1; sequence <= 2; ++sequence)
    {
        SCOPED_TRACE(sequence);
        StdoutCapture out;
        EXPECT_EQ(1, initTelvaneCommunication());
        EXPECT_EQ(1, startTelvaneCommunication());
        ExpectCardFound(out, Inserted);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(0, startTelvaneCommunication());

        DWORD size = 0;
        EXPECT_EQ(1, getMCardImageSize(&size));
        EXPECT_EQ(TestCardBytes, size);
        WORD type = 0;
        EXPECT_EQ(1, getSectorixType(&type));
        EXPECT_EQ(SECTORIX_TYPE_DRIVE, type);
        std::vector<BYTE> buffer(64 * SECTORIX_SECTOR_SIZE);
        auto sectors = [&buffer](size_t first, size_t count) {
            return std::vector<BYTE>(buffer.begin() + first * SECTORIX_SECTOR_SIZE,
                                     buffer.begin() + (first + count) * SECTORIX_SECTOR_SIZE);
        };
        ASSERT_EQ(1, getSectorDataExA(0, 64, buffer.data()));
        EXPECT_EQ(ReadBytes(image, 0, buffer.size()), buffer);
        ASSERT_EQ(1, getSectorDataEx(100, 2, buffer.data(), nullptr));
        EXPECT_EQ(ReadBytes(image, 100 * SECTORIX_SECTOR_SIZE, 2 * SECTORIX_SECTOR_SIZE), sectors(0, 2));
        DWORD list[] = { 7, 3, 4000 };
        ASSERT_EQ(1, getSectorDataEx(100, 3, buffer.data(), list));
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(ReadBytes(image, list[i] * SECTORIX_SECTOR_SIZE, SECTORIX_SECTOR_SIZE), sectors(i, 1)) << list[i];

        EXPECT_EQ(1, endDataTransmit());
        EXPECT_EQ(1, endTelvaneCommunication());
        EXPECT_EQ(0, getSectorixType(&type)) << "the card is still active after the end";
        EXPECT_EQ(1, deinitTelvaneCommunication());
        EXPECT_EQ(1, startTelvaneCommunication());
    }
    EXPECT_TRUE(service.Stop());
}

TEST(FlatHost, TerminateEndsTheWaitAndTheWatchguardThread)
{
    StdoutCapture out;
    WORD status = Untouched;
    StatusResult result = BoundedStatus(&status, TerminateAfter);
    EXPECT_TRUE(result.terminated);
    EXPECT_EQ(0, result.answer);
    EXPECT_EQ(Untouched, status);
    EXPECT_EQ(1u, out.Count(Prompt));
    EXPECT_EQ(0u, out.Count(Inserted));
    EXPECT_TRUE(WaitForNotification(SECTORIX_WATCHGUARD_STOPPED, WaitBound)) << "the watchguard thread did not end";

    // The ended watchguard stays until deinit, which does not wait for it.
    EXPECT_EQ(0, startTelvaneCommunication());
    EXPECT_EQ(1, getTelvaneStatus(&status));
    EXPECT_EQ(SECTORIX_STATUS_NOT_CONNECTED, status);
    DWORD start = ::GetTickCount();
    EXPECT_EQ(1, deinitTelvaneCommunication());
    EXPECT_LT(::GetTickCount() - start, WaitBound);
    EXPECT_EQ(1, startTelvaneCommunication());
}

namespace
{

const wchar_t HostWindowClass[] = L"FlatTestHostWindow";
const char TestCardText[] = "Test card";
const size_t HostWindowPosts = 3;

std::atomic<size_t> g_nWindowPosts{ 0 };
std::atomic<LPARAM> g_windowPostSource{ 0 };

LRESULT CALLBACK HostWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != SECTORIX_WM_NOTIFY)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    g_windowPostSource = lParam;
    ++g_nWindowPosts;
    return 0;
}

// A window of the host's own on the calling thread, which takes WM_USER+1
// for its own purposes.
class HostWindow
{
public:
    HostWindow()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &HostWindowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = HostWindowClass;
        ::RegisterClassW(&windowClass);
        m_hWnd = ::CreateWindowExW(0, HostWindowClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                   windowClass.hInstance, nullptr);
    }

    ~HostWindow()
    {
        ::DestroyWindow(m_hWnd);
        ::UnregisterClassW(HostWindowClass, ::GetModuleHandleW(nullptr));
    }

    HWND m_hWnd;
};

struct HostPosts
{
    const StdoutCapture* out;
    HWND hWnd;
    DWORD thread;
    LPARAM stranger;
    HANDLE hReturned;
    CTestSource* pKept;
    CTestSource* pCard;
};

bool WaitUntil(const std::function<bool()>& done)
{
    DWORD start = ::GetTickCount();
    while (!done())
    {
        if (::GetTickCount() - start > WaitBound)
            return false;
        ::Sleep(10);
    }
    return true;
}

void PostToThread(const HostPosts* pPosts, WPARAM state, CSectorix* pSource)
{
    ::PostThreadMessageW(pPosts->thread, SECTORIX_WM_NOTIFY, state, reinterpret_cast<LPARAM>(pSource));
}

// Once the wait runs, the host's own WM_USER+1 goes to its window, to its
// thread and to its window again, each naming a source the watchguard has
// never seen. Then the watchguard's own notifications: a source it has
// removed but keeps, and one it holds, which ends the wait.
DWORD WINAPI PostAsHost(void* pParam)
{
    HostPosts* pPosts = static_cast<HostPosts*>(pParam);
    WaitUntil([pPosts] { return pPosts->out->Count(Prompt) > 0; });
    ::PostMessageW(pPosts->hWnd, SECTORIX_WM_NOTIFY, SECTORIX_MEDIA_INSERTED, pPosts->stranger);
    ::PostThreadMessageW(pPosts->thread, SECTORIX_WM_NOTIFY, SECTORIX_MEDIA_INSERTED, pPosts->stranger);
    ::PostMessageW(pPosts->hWnd, SECTORIX_WM_NOTIFY, SECTORIX_MEDIA_REMOVED, pPosts->stranger);
    WaitUntil([] { return g_nWindowPosts == HostWindowPosts; });

    CWatchguard* pWatchguard = GetWatchguard();
    pPosts->pKept = new CTestSource(pWatchguard, 'K');
    Register(pWatchguard, pPosts->pKept);
    pWatchguard->Remove(pPosts->pKept, true);
    pPosts->pCard = new CTestSource(pWatchguard, 'C');
    Register(pWatchguard, pPosts->pCard);
    PostToThread(pPosts, SECTORIX_MEDIA_REMOVED, pPosts->pKept);
    PostToThread(pPosts, SECTORIX_MEDIA_INSERTED, pPosts->pKept);
    PostToThread(pPosts, SECTORIX_MEDIA_INSERTED, pPosts->pCard);
    if (::WaitForSingleObject(pPosts->hReturned, WaitBound) == WAIT_TIMEOUT)
        getTelvaneStatusTerminate();
    return 0;
}

}

// A GUI host waits on its own thread: what it posts as WM_USER+1 is no card
// of the library's, and what it posts to a window reaches that window. A
// source the watchguard removed still shows its media line, but is no card.
TEST(FlatHost, WaitTakesOnlyThreadNotificationsOfSourcesItHolds)
{
    StdoutCapture out;
    HostWindow window;
    ASSERT_NE(nullptr, window.m_hWnd);
    CTestSource stranger(nullptr, 'X');
    LPARAM source = reinterpret_cast<LPARAM>(&stranger);
    ::PostMessageW(window.m_hWnd, SECTORIX_WM_NOTIFY, SECTORIX_MEDIA_INSERTED, source);
    HostPosts posts = { &out, window.m_hWnd, ::GetCurrentThreadId(), source,
                        ::CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr, nullptr };
    HANDLE hHost = ::CreateThread(nullptr, 0, &PostAsHost, &posts, 0, nullptr);
    WORD status = Untouched;
    int answer = getTelvaneStatus(&status);
    ::SetEvent(posts.hReturned);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hHost, 3 * WaitBound));
    ::CloseHandle(hHost);
    ::CloseHandle(posts.hReturned);
    EXPECT_EQ(HostWindowPosts, g_nWindowPosts.load());
    EXPECT_EQ(source, g_windowPostSource.load());
    EXPECT_EQ(0, stranger.m_nActivateCalls);
    ASSERT_NE(nullptr, posts.pCard) << "a host's post was taken for a card";
    EXPECT_EQ(1, answer);
    EXPECT_EQ(SECTORIX_STATUS_NOT_CONNECTED, status);
    EXPECT_EQ(0, posts.pKept->m_nActivateCalls);
    EXPECT_EQ(1, posts.pCard->m_nActivateCalls);
    EXPECT_EQ(3u, out.Count(TestCardText)) << "one media line each for the kept source and the card";
    EXPECT_EQ(1, deinitTelvaneCommunication());
}

// A host ends its wait for a card as soon as the end is taken: the wait may
// still be starting the watchguard.
TEST(FlatHost, TerminateTakenWhileTheWaitStartsEndsIt)
{
    for (int round = 1; round <= 3; ++round)
    {
        SCOPED_TRACE(round);
        StatusThread waiting;
        DWORD start = ::GetTickCount();
        while (!getTelvaneStatusTerminate())
        {
            ASSERT_LT(::GetTickCount() - start, WaitBound) << "the wait never began";
            ::Sleep(0);
        }
        EXPECT_TRUE(waiting.Returned(WaitBound)) << "a terminate answered 1 was lost";
        EXPECT_EQ(0, waiting.Answer());
        EXPECT_EQ(1, deinitTelvaneCommunication());
    }
}

// Ending the link from another thread ends the wait, whether it is already
// waiting for a card or still starting the watchguard.
TEST(FlatHost, DeinitOnAnotherThreadEndsTheWait)
{
    for (bool waitingForCard : { true, false })
    {
        SCOPED_TRACE(waitingForCard);
        StdoutCapture out;
        StatusThread waiting;
        if (waitingForCard)
            ASSERT_TRUE(WaitUntil([&out] { return out.Count(Prompt) > 0; }));
        else
            ASSERT_TRUE(WaitUntil([] { return startTelvaneCommunication() == 0; }));
        EXPECT_EQ(1, deinitTelvaneCommunication());
        EXPECT_TRUE(waiting.Returned(WaitBound)) << "the wait outlived the link";
        EXPECT_EQ(0, waiting.Answer());
        EXPECT_EQ(1, startTelvaneCommunication()) << "the link was not ended";
    }
}

using FlatTelemetryTest = TelemetryTest;

TEST_F(FlatTelemetryTest, CommandsReachTheActiveLinkWithTheirArgumentsInOrder)
{
    ASSERT_TRUE(EnableTelvane());
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(Telvane(), Sectorix::SetActive));
    Control(TelemetryStandin::ClearCalls);
    BYTE data[3] = { 1, 2, 3 };
    WORD length = sizeof(data);
    BYTE answer[3] = {};
    EXPECT_EQ(1, sendTelvaneCommand(0x1234, data, &length, answer));
    EXPECT_EQ(0, std::memcmp(data, answer, sizeof(data)));
    EXPECT_EQ(1, putLogbookEntry(77));
    EXPECT_EQ(1, reloginMemoryCard());
    EXPECT_EQ(1, restartMeasurement());
    EXPECT_EQ(L"sendTelvaneCommand@16(4660,3)\nputLogbookEntry@4(77)\nreloginMemoryCard@0()\n"
              L"restartMeasurement@0()\n",
              Calls());
}

// The served lap's list block in the length the host asks for: the words
// that fit, and a check word that holds for the length.
TEST_F(FlatTelemetryTest, ListBlockOfTheServedLapInTheLengthAsked)
{
    ASSERT_TRUE(EnableTelvane());
    CSectorixTelvane* pTelvane = Telvane();
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pTelvane, Sectorix::SetActive));
    std::vector<WORD> record = Record(SECTORIX_LIST_BLOCK_SIZE);
    EXPECT_EQ(0, getListBlock(record.data())) << "an ordinary link has no list block";
    EXPECT_TRUE(AllBytes(Bytes(record), SECTORIX_LIST_BLOCK_SIZE, 0));
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(nullptr, Sectorix::SetActive));

    std::wstring lap = m_folder + L"\\lap.mflap";
    ASSERT_TRUE(::CopyFileW(WindowsPath(TEST_CARD_LAP).c_str(), lap.c_str(), FALSE));
    std::vector<BYTE> file = ReadBytes(lap, 0, SECTORIX_LIST_BLOCK_SIZE);
    const WORD* served = reinterpret_cast<const WORD*>(file.data());
    ASSERT_EQ(SECTORIX_LIST_BLOCK_SIZE, served[0]);
    pTelvane->QueueFile(lap.c_str());
    ASSERT_TRUE(pTelvane->WaitForBurstData());
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pTelvane, Sectorix::SetActive));

    for (WORD length : { 0, 56, 60, 82, 2, 3 })
    {
        SCOPED_TRACE(length);
        record = Record(length);
        size_t words = (length ? length : SECTORIX_LIST_BLOCK_DEFAULT_SIZE) / 2;
        ASSERT_EQ(1, getListBlock(record.data()));
        EXPECT_EQ(words * 2, record[0]);
        WORD sum = 0;
        for (size_t i = 0; i < words; ++i)
            sum = static_cast<WORD>(sum + record[i]);
        if (words > 1)
        {
            EXPECT_EQ(0, sum) << "check word";
            EXPECT_TRUE(std::equal(served + 1, served + words - 1, record.begin() + 1));
        }
        size_t written = words * 2;
        EXPECT_TRUE(AllBytes(Bytes(record) + written, RecordRoom * 2 - written, UntouchedByte));
    }
    EXPECT_EQ(0, getListBlock(nullptr));
}
