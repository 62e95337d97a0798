// The service card source and the service's own operations against the
// stand-in card service running in a process of its own.
#include "GuardedBuffer.h"
#include "ServiceTest.h"

#include "api/FlatExports.h"
#include "sources/SectorixWin2000.h"
#include "watchguard/Logbuch.h"

#include <regex>

using namespace card_files;

namespace
{

const DWORD V1000 = 0x01000000;
const DWORD V1041 = 0x01000401;
const DWORD V1051 = 0x01000501;
const DWORD V1121 = 0x01010201;
const DWORD V1161 = 0x01010601;
const DWORD V1171 = 0x01010701;
const DWORD V1191 = 0x01010901;
const DWORD V11101 = 0x01010A01;
const DWORD CallBound = 10000;
// Below the runner's time limit, so that a hang is reported as one.
const DWORD FuzzBound = 50000;

// 192.168.1.20, first octet in the lowest byte.
const unsigned long ArpAddress = 0x1401A8C0;

std::string Zeros(size_t bytes)
{
    return std::string(bytes * 2, '0');
}

std::string Utf16Hex(const std::wstring& text)
{
    return Hex(text.c_str(), text.size() * sizeof(wchar_t));
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A fault option as a test name: "split=7" becomes split_7, none plain.
std::string FaultName(const ::testing::TestParamInfo<const wchar_t*>& info)
{
    std::string name = info.param[0] ? "" : "plain";
    for (const wchar_t* p = info.param; *p; ++p)
        name += iswalnum(*p) ? static_cast<char>(*p) : '_';
    return name;
}

}

TEST_F(ServiceTest, EveryRequestGoesOnTheWireWithItsExactBytes)
{
    StartService(V11101);
    CSectorixService* pSource = MakeSource();
    ASSERT_NE(nullptr, pSource);
    EXPECT_EQ(V11101, CSectorixService::s_ServiceVersion);

    ASSERT_TRUE(pSource->OpenCard());
    EXPECT_FALSE(pSource->IsHotPlugged());
    EXPECT_EQ(L"Sectorix stand-in card", pSource->GetDeviceName());
    std::vector<BYTE> sectors(2 * 512);
    // An empty read goes nowhere, so no answer is left for the next request.
    ASSERT_TRUE(pSource->ReadSectorsA(sectors.data(), 5, 0));
    std::vector<BYTE> written(512, 0x5A);
    ASSERT_TRUE(pSource->WriteSectors(written.data(), 7, 1));
    ASSERT_TRUE(pSource->ReadSectorsA(sectors.data(), 5, 2));
    // Data that one pipe write cannot carry is refused unsent.
    EXPECT_FALSE(pSource->WriteSectors(written.data(), 7, 0x800000));
    EXPECT_TRUE(pSource->CloseCard());
    EXPECT_EQ(eDeleteArpEntrySuccess, CSectorixService::DeleteArpEntry(ArpAddress));
    EXPECT_EQ(L"", CSectorixService::ChangeDriveLetter(L"E:\\", L""));

    const std::string logOn = "08000000" "07" "00" "0100";
    std::vector<std::string> expected = {
        "0a000000" "06" "00" "00000000",
        logOn,
        "4f000000" "01" "45" + Zeros(73),
        "0e000000" "04" "45" "07000000" "01000000",
        Hex(written.data(), written.size()),
        "0e000000" "03" "45" "05000000" "02000000",
        "4f000000" "02" "45" + Zeros(73),
        logOn,
        "0e000000" "05" "00" "c0a80114" "00000000",
        logOn,
        "1a040000" "0a" "00" + Utf16Hex(L"E:\\") + Zeros(522 - 6) + Zeros(522),
    };
    EXPECT_EQ(expected, m_service->Received());
    EXPECT_EQ(Image(5, 2), sectors);
    EXPECT_EQ(written, Image(7, 1));
}

TEST_F(ServiceTest, ServiceBeforePhysicalDrivesGetsShortCardMessagesAndNamesNothing)
{
    StartService(V1161, { L"--device-name", L"Reader X", L"--flags", L"0" });
    CSectorixService* pSource = MakeSource();
    ASSERT_NE(nullptr, pSource);

    ASSERT_TRUE(pSource->OpenCard());
    EXPECT_EQ(CardBytes, pSource->GetCardSize());
    EXPECT_EQ(L"E:", pSource->GetDeviceName());
    EXPECT_FALSE(pSource->IsHotPlugged());
    EXPECT_TRUE(pSource->CloseCard());

    std::vector<std::string> expected = {
        "0a000000" "06" "00" "00000000",
        "08000000" "07" "00" "0100",
        "0e000000" "01" "45" + Zeros(8),
        "0e000000" "02" "45" + Zeros(8),
    };
    EXPECT_EQ(expected, m_service->Received());
}

// The name is text of the caller's own code page, which need not be the
// system's.
TEST_F(ServiceTest, PhysicalDriveServiceNamesTheDeviceInTheThreadsCodePageAndMarksItHotPlugged)
{
    const wchar_t Name[] = L"\x041a\x0430\x0440\x0442\x0430";
    const LCID Russian = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT);
    StartService(V1171,
                 { L"--code-page", L"1251", L"--device-name", Name, L"--flags", L"0", L"--media-size", L"1000448" });
    CSectorixService* pSource = MakeSource();
    ASSERT_NE(nullptr, pSource);
    LCID locale = ::GetThreadLocale();
    ASSERT_TRUE(::SetThreadLocale(Russian));
    bool opened = pSource->OpenCard();
    ::SetThreadLocale(locale);
    ASSERT_TRUE(opened);
    EXPECT_EQ(1000448u, pSource->GetCardSize());
    EXPECT_EQ(Name, std::wstring(pSource->GetDeviceName()));
    EXPECT_TRUE(pSource->IsHotPlugged());
    EXPECT_EQ(1u, m_service->ReceivedStartingWith("4f000000" "01" "45").size());
}

TEST_F(ServiceTest, ServiceLogLinesAreAskedForOnlyForALogBook)
{
    TLogbuch::Instance().SetFolder(L"");
    CSectorixService* pSource = StartOpened(V11101);
    ASSERT_NE(nullptr, pSource);
    EXPECT_TRUE(pSource->CloseCard());
    EXPECT_TRUE(m_service->ReceivedStartingWith("08000000" "07").empty());
    EXPECT_EQ(2u, m_service->ReceivedStartingWith("4f000000").size());
}

TEST_F(ServiceTest, VersionStaysOneZeroForTheProcessWhenTheFirstLookFindsNoService)
{
    EXPECT_EQ(eDeleteArpEntryFailed, CSectorixService::DeleteArpEntry(ArpAddress));
    EXPECT_EQ(L"No SectorixService", CSectorixService::ChangeDriveLetter(L"E:\\", L""));
    EXPECT_FALSE(CSectorixService::IsServiceAvailable());
    EXPECT_EQ(V1000, CSectorixService::s_ServiceVersion);

    StartService(V11101);
    EXPECT_TRUE(CSectorixService::IsServiceAvailable());
    EXPECT_EQ(V1000, CSectorixService::s_ServiceVersion);
    EXPECT_EQ(eDeleteArpEntryFailed, CSectorixService::DeleteArpEntry(ArpAddress));
    EXPECT_EQ(L"ChangeDriveLetter not supported by SectorixService",
              CSectorixService::ChangeDriveLetter(L"E:\\", L""));
    EXPECT_TRUE(m_service->Received().empty());
}

// An answer shorter than its fields would be read from what an earlier
// message left in the buffer: it counts as no answer.
TEST_F(ServiceTest, ShortAnswersAreFailures)
{
    StartService(V11101, { L"--fault", L"short=open", L"--fault", L"short=arp", L"--device-name", L"Reader X" });
    CSectorixService* pSource = MakeSource();
    ASSERT_NE(nullptr, pSource);
    EXPECT_FALSE(pSource->OpenCard());
    EXPECT_FALSE(pSource->isOpened());
    EXPECT_EQ(L"E:", pSource->GetDeviceName());
    EXPECT_EQ(eDeleteArpEntryFailed, CSectorixService::DeleteArpEntry(ArpAddress));
}

TEST_F(ServiceTest, ShortVersionAnswerLeavesTheServiceAtOneZero)
{
    StartService(V11101, { L"--fault", L"short=version" });
    EXPECT_TRUE(CSectorixService::IsServiceAvailable());
    EXPECT_EQ(V1000, CSectorixService::s_ServiceVersion);
}

TEST_F(ServiceTest, ServiceThatCannotBeAskedForItsVersionIsOneZero)
{
    StartService(V1000);
    ASSERT_NE(nullptr, MakeSource());
    EXPECT_EQ(V1000, CSectorixService::s_ServiceVersion);
    EXPECT_TRUE(m_service->Received().empty());
}

// Split into several responses or not, the data in the answer's message
// or in one of its own, the sectors land where they belong.
class ServiceReadTest : public ServiceTest, public ::testing::WithParamInterface<const wchar_t*>
{
};

TEST_P(ServiceReadTest, ReadsReturnTheImageBytes)
{
    std::vector<std::wstring> options;
    if (GetParam()[0])
        options = { L"--fault", GetParam() };
    CSectorixService* pSource = StartOpened(V11101, options);
    ASSERT_NE(nullptr, pSource);
    struct
    {
        DWORD first;
        UINT count;
    } reads[] = { { 0, 1 }, { 1, 64 }, { 4096 - 128, 128 }, { 65, 64 } };
    for (const auto& read : reads)
    {
        GuardedBuffer buffer(read.count * 512);
        auto readSectors = [&] { return pSource->ReadSectorsA(buffer.data(), read.first, read.count); };
        ASSERT_EQ(true, AnswerWithin(CallBound, readSectors)) << read.first;
        EXPECT_EQ(Image(read.first, read.count), std::vector<BYTE>(buffer.data(), buffer.data() + buffer.size()))
            << read.first << " " << read.count;
        EXPECT_TRUE(buffer.PatternIntact());
    }
    EXPECT_TRUE(pSource->CloseCard());
}

INSTANTIATE_TEST_SUITE_P(Responses, ServiceReadTest, ::testing::Values(L"", L"split=1", L"split=7", L"apart"),
                         FaultName);

// The reader waits alertably: a call that runs on its thread meanwhile and
// reads again gets false at once. Closing waits for the exchange under way,
// which still gets its sectors.
TEST_F(ServiceTest, SecondReadWhileOneWaitsFailsAtOnceAndCloseLetsTheWaitingOneFinish)
{
    CSectorixService* pSource = StartOpened(V11101, { L"--fault", L"slow=1000" });
    ASSERT_NE(nullptr, pSource);
    std::vector<BYTE> first(512);
    BackgroundCall firstRead([&] { return pSource->ReadSectorsA(first.data(), 9, 1); });
    ASSERT_TRUE(firstRead.Started(CallBound));
    ASSERT_TRUE(m_service->WaitForReceived("0e000000" "03", CallBound));

    std::vector<BYTE> second(512, 0x33);
    bool secondResult = true;
    HANDLE hDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(firstRead.QueueCall([&] {
        secondResult = pSource->ReadSectorsA(second.data(), 9, 1);
        ::SetEvent(hDone);
    }));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hDone, CallBound));
    ::CloseHandle(hDone);
    EXPECT_FALSE(secondResult);
    EXPECT_EQ(std::vector<BYTE>(512, 0x33), second);

    EXPECT_EQ(true, AnswerWithin(CallBound, [&] { return pSource->CloseCard(); }));
    EXPECT_EQ(true, firstRead.Answer(CallBound));
    EXPECT_EQ(Image(9, 1), first);
    EXPECT_FALSE(pSource->isOpened());
}

struct Blocker
{
    HANDLE hBlocked;
    HANDLE hRelease;
};

// Holds the receiving thread where it waits for the next message, at most
// for the call bound.
void CALLBACK BlockReceiver(ULONG_PTR param)
{
    Blocker* pBlocker = reinterpret_cast<Blocker*>(param);
    ::SetEvent(pBlocker->hBlocked);
    ::WaitForSingleObject(pBlocker->hRelease, CallBound);
}

// The service is gone, but the receiving thread has not yet seen it: the
// close request cannot be written, and the card is closed all the same.
// The close waits alertably only once it has let go of the pipe, and lets
// the receiver go from there.
TEST_F(ServiceTest, CloseCardIsDoneEvenWhenItsRequestCannotBeWritten)
{
    CSectorixService* pSource = StartOpened(V11101);
    ASSERT_NE(nullptr, pSource);
    Blocker blocker = { ::CreateEventW(nullptr, TRUE, FALSE, nullptr), ::CreateEventW(nullptr, TRUE, FALSE, nullptr) };
    ASSERT_TRUE(::QueueUserAPC(&BlockReceiver, m_pWatchguard->GetAlertableThread()->m_hThread,
                               reinterpret_cast<ULONG_PTR>(&blocker)));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(blocker.hBlocked, CallBound));
    ASSERT_TRUE(m_service->Stop());
    BackgroundCall close([&] { return pSource->CloseCard(); });
    ASSERT_TRUE(close.Started(CallBound));
    ASSERT_TRUE(close.QueueCall([&] { ::SetEvent(blocker.hRelease); }));
    EXPECT_EQ(true, close.Answer(CallBound));
    EXPECT_FALSE(pSource->isOpened());
    EXPECT_TRUE(m_service->ReceivedStartingWith("4f000000" "02").empty());
    m_service.reset();
    ::CloseHandle(blocker.hBlocked);
    ::CloseHandle(blocker.hRelease);
}

TEST_F(ServiceTest, LogLinesOfTheServiceGoToTheLogBookWhileTheCallerGetsItsAnswer)
{
    CSectorixService* pSource = StartOpened(V11101, { L"--fault", L"log-between" });
    ASSERT_NE(nullptr, pSource);
    std::vector<BYTE> sectors(4 * 512);
    ASSERT_TRUE(pSource->ReadSectorsA(sectors.data(), 20, 4));
    EXPECT_EQ(Image(20, 4), sectors);
    EXPECT_TRUE(pSource->CloseCard());

    std::string log = Log();
    EXPECT_TRUE(std::regex_search(log, std::regex("\\t\\[[ 0-9a-f]{8}\\] SectorixService: between request and "
                                                  "response\\r\\n")));
    EXPECT_TRUE(Contains(log, "] ReadResponse: Received response Cmd == 3 Size == 14\r\n"));
    EXPECT_FALSE(Contains(log, "Unexpected error"));
}

TEST_F(ServiceTest, ErrorFromTheServiceFailsTheRequestButKeepsTheConnection)
{
    CSectorixService* pSource = StartOpened(V11101, { L"--fault", L"error=read" });
    ASSERT_NE(nullptr, pSource);
    std::vector<BYTE> sectors(512, 0x11);
    EXPECT_FALSE(pSource->ReadSectorsA(sectors.data(), 0, 1));
    EXPECT_EQ(std::vector<BYTE>(512, 0x11), sectors);
    EXPECT_TRUE(Contains(Log(), "] Error: stand-in refuses the request\r\n"));

    std::vector<BYTE> written(512, 0x77);
    EXPECT_TRUE(pSource->WriteSectors(written.data(), 3, 1));
    EXPECT_EQ(written, Image(3, 1));
    EXPECT_TRUE(pSource->CloseCard());
}

// The card goes with the first service; the one that follows serves
// another drive and refuses it.
TEST_F(ServiceTest, RefusedSecondOpenLeavesTheSourceClosed)
{
    CSectorixService* pSource = StartOpened(V11101);
    ASSERT_NE(nullptr, pSource);
    ASSERT_TRUE(m_service->Stop());
    StartService(V11101, {}, L"F");
    EXPECT_FALSE(pSource->OpenCard());
    EXPECT_FALSE(pSource->isOpened());
    EXPECT_TRUE(Contains(Log(), "] Error: no card in this volume\r\n"));
}

// What another process sends is checked before anything is written: the
// request fails, the buffers stay as they were, and the connection is gone:
// nothing more goes through it, closing it says so, a new open makes a new
// one.
class BrokenResponseTest : public ServiceTest, public ::testing::WithParamInterface<const wchar_t*>
{
};

TEST_P(BrokenResponseTest, FailsTheReadAndClosesTheConnection)
{
    CSectorixService* pSource = StartOpened(V11101, { L"--fault", GetParam() });
    ASSERT_NE(nullptr, pSource);
    GuardedBuffer buffer(4 * 512);
    EXPECT_EQ(false, AnswerWithin(CallBound, [&] { return pSource->ReadSectorsA(buffer.data(), 0, 4); }));
    EXPECT_TRUE(buffer.PatternIntact());
    EXPECT_TRUE(Contains(Log(), "] ReadResponse: Unexpected error\r\n"));

    EXPECT_FALSE(pSource->ReadSectorsA(buffer.data(), 0, 1));
    EXPECT_FALSE(pSource->CloseCard());
    EXPECT_TRUE(pSource->isOpened());
    EXPECT_TRUE(pSource->OpenCard());
    EXPECT_TRUE(pSource->CloseCard());
}

INSTANTIATE_TEST_SUITE_P(Faults, BrokenResponseTest,
                         ::testing::Values(L"drop-read", L"size-small", L"size-large", L"text-empty", L"sectors-more",
                                           L"data-more"),
                         FaultName);

// A broken answer wakes the caller twice in quick succession, the second
// time perhaps while the first wake is still on its way; neither may be
// left over for the open that follows. Many rounds give the two wakes
// every chance to fall apart.
TEST_F(ServiceTest, EveryReopenAfterABrokenReadGetsItsOwnAnswer)
{
    const int Rounds = 60;
    CSectorixService* pSource = StartOpened(V11101, { L"--fault", L"data-more" });
    ASSERT_NE(nullptr, pSource);
    std::vector<BYTE> buffer(4 * 512);
    for (int round = 0; round < Rounds; ++round)
    {
        ASSERT_EQ(false, AnswerWithin(CallBound, [&] { return pSource->ReadSectorsA(buffer.data(), 0, 4); }))
            << "round " << round;
        ASSERT_EQ(true, AnswerWithin(CallBound, [&] { return pSource->OpenCard(); })) << "round " << round;
    }
}

// The steps of one exchange, one at a time, on a connection of its own.
class ExchangeSteps : public CSectorixService
{
public:
    ExchangeSteps() : CSectorixService(nullptr, 0, false) {}

    using CSectorixService::OpenPipe;
    using CSectorixService::ReadResponse;
    using CSectorixService::WriteToPipe;
};

// The connection breaks after it was made and before the request goes out,
// as when the pipe instance it reached is already going: the request cannot
// be written, and the wait for its answer ends at once, whatever the
// request did to the response event.
TEST_F(ServiceTest, RequestOnAConnectionAlreadyBrokenGetsNoAnswerAtOnce)
{
    StartService(V11101);
    ExchangeSteps* pSteps = new ExchangeSteps;
    ASSERT_NE(INVALID_HANDLE_VALUE, pSteps->OpenPipe());
    ASSERT_TRUE(m_service->Stop());
    m_service.reset();
    const DWORD Poll = 10;
    for (DWORD start = ::GetTickCount(); !Contains(Log(), "] ReadResponse: Unexpected error\r\n"); ::Sleep(Poll))
        ASSERT_LT(::GetTickCount() - start, CallBound);
    SECTORIX_CARD request = {};
    request.header = { sizeof(SECTORIX_CARD), eServiceCmdOpenCard, 'E' };
    std::optional<bool> answered = AnswerWithin(CallBound, [pSteps, &request] {
        pSteps->WriteToPipe(&request.header, L"CSectorixService::OpenCard");
        return pSteps->ReadResponse() == nullptr;
    });
    ASSERT_EQ(true, answered);
    delete pSteps;
}

// Each operation only from the version that offers it; log lines are never
// asked for before the version that forwards them.
struct VersionCase
{
    const char* name;
    DWORD version;
    eDeleteArpEntryResult expected;
    const char* logLine;
    bool asksForLogLines;
};

class VersionTest : public ServiceTest, public ::testing::WithParamInterface<VersionCase>
{
};

TEST_P(VersionTest, OperationsAnswerAsTheServiceVersionAllows)
{
    StartService(GetParam().version, { L"--arp-result", L"7" });
    EXPECT_TRUE(CSectorixService::IsServiceAvailable());
    EXPECT_EQ(GetParam().expected, CSectorixService::DeleteArpEntry(ArpAddress));
    EXPECT_EQ(L"ChangeDriveLetter not supported by SectorixService",
              CSectorixService::ChangeDriveLetter(L"E:\\", L""));
    std::string log = Log();
    if (GetParam().logLine[0])
        EXPECT_TRUE(Contains(log, GetParam().logLine));
    else
        EXPECT_FALSE(Contains(log, "DeleteArpEntry"));
    EXPECT_FALSE(Contains(log, "Received response Cmd == 5"));
    EXPECT_EQ(GetParam().version >= V1051, !m_service->ReceivedStartingWith("0e000000" "05").empty());
    EXPECT_TRUE(m_service->ReceivedStartingWith("1a040000").empty());
    EXPECT_EQ(GetParam().asksForLogLines, !m_service->ReceivedStartingWith("08000000" "07").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionTest,
    ::testing::Values(
        VersionCase{ "NotOffered", V1041, eDeleteArpEntryFailed, "", false },
        VersionCase{ "SuccessAssumed", V1051, eDeleteArpEntrySuccess, "\tDeleteArpEntry: success\r\n", false },
        VersionCase{ "ResultPassedOn", V1121, static_cast<eDeleteArpEntryResult>(7),
                     "\tDeleteArpEntry (x.x.x.20): result 7\r\n", false },
        VersionCase{ "BeforeDriveLetters", V1191, static_cast<eDeleteArpEntryResult>(7),
                     "\tDeleteArpEntry (x.x.x.20): result 7\r\n", true }),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, ChangeDriveLetterPassesTheServiceRefusalOnAndSendsNoCutPath)
{
    StartService(V11101, { L"--fault", L"error=letter" });
    EXPECT_EQ(L"stand-in refuses the request", CSectorixService::ChangeDriveLetter(L"F:\\", L"G:\\"));
    std::vector<std::string> sent = m_service->ReceivedStartingWith("1a040000");
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("1a040000" "0a" "00" + Utf16Hex(L"F:\\") + Zeros(522 - 6) + Utf16Hex(L"G:\\") + Zeros(522 - 6), sent[0]);

    std::wstring longPath = L"C:\\" + std::wstring(260, L'x');
    EXPECT_EQ(L"Mount point too long for SectorixService", CSectorixService::ChangeDriveLetter(longPath.c_str(), L""));
    EXPECT_EQ(1u, m_service->ReceivedStartingWith("1a040000").size());
}

// Once the service has gone, a new source reads the volume itself; while
// one is announced but not listening, as a service that is still starting,
// its operations say they cannot connect.
TEST_F(ServiceTest, WithoutAListeningServiceTheVolumeIsReadDirectlyAndOperationsCannotConnect)
{
    StartService(V11101);
    EXPECT_NE(nullptr, MakeSource());
    ASSERT_TRUE(m_service->Stop());
    m_service.reset();
    CSectorixDrive* pDirect = CSectorixDrive::Create(m_pWatchguard, 'E', false);
    ASSERT_NE(nullptr, pDirect);
    m_sources.push_back(pDirect);
    EXPECT_TRUE(pDirect->IsKindOf(RUNTIME_CLASS(CSectorixWin2000)));

    HANDLE hRunning = ::CreateEventW(nullptr, TRUE, FALSE, SECTORIX_SERVICE_RUNNING);
    ::SetEvent(hRunning);
    EXPECT_EQ(L"Cannot connect to SectorixService", CSectorixService::ChangeDriveLetter(L"E:\\", L""));
    EXPECT_EQ(eDeleteArpEntryFailed, CSectorixService::DeleteArpEntry(ArpAddress));
    ::ResetEvent(hRunning);
    ::CloseHandle(hRunning);
}

// Nothing could receive an answer, so nothing is asked, and the version
// stays for the first call that can ask.
TEST_F(ServiceTest, WithoutAWatchguardNothingIsOpenedAndTheVersionIsNotSettled)
{
    testing_helpers::StopWatchguard(m_pWatchguard);
    StartService(V11101);
    EXPECT_EQ(eDeleteArpEntryFailed, CSectorixService::DeleteArpEntry(ArpAddress));
    CSectorixService* pSource = MakeSource();
    ASSERT_NE(nullptr, pSource);
    EXPECT_EQ(0u, CSectorixService::s_ServiceVersion);
    EXPECT_EQ(false, AnswerWithin(CallBound, [&] { return pSource->OpenCard(); }));
    EXPECT_TRUE(m_service->Received().empty());

    m_pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, m_pWatchguard);
    EXPECT_EQ(static_cast<eDeleteArpEntryResult>(0), CSectorixService::DeleteArpEntry(ArpAddress));
    EXPECT_EQ(V11101, CSectorixService::s_ServiceVersion);
}

// The service forwards a log line after each answer: one may be on its way
// when the source closes or goes, and must not land in freed buffers.
TEST_F(ServiceTest, QuickOpenCloseAndDeletionWithThePipeOpenNeverHangOrCorrupt)
{
    StartService(V11101);
    CSectorixService* pSource = MakeSource();
    ASSERT_NE(nullptr, pSource);
    ASSERT_EQ(true, AnswerWithin(30000, [&] {
                  for (int i = 0; i < 50; ++i)
                  {
                      EXPECT_TRUE(pSource->OpenCard());
                      EXPECT_TRUE(pSource->CloseCard());
                  }
                  return true;
              }));
    EXPECT_EQ(50u, m_service->ReceivedStartingWith("4f000000" "02").size());

    std::vector<BYTE> sectors(512);
    for (int i = 0; i < 20; ++i)
    {
        pSource = OpenedSource();
        ASSERT_NE(nullptr, pSource);
        ASSERT_TRUE(pSource->ReadSectorsA(sectors.data(), i, 1));
        m_sources.pop_back();
        pSource->Delete();
    }
    pSource = OpenedSource();
    ASSERT_NE(nullptr, pSource);
    EXPECT_TRUE(pSource->ReadSectorsA(sectors.data(), 30, 1));
    EXPECT_EQ(Image(30, 1), sectors);
}

// Random and mutated messages from the service: whatever arrives, a read
// ends, nothing is written outside the caller's buffer and the process
// lives on.
TEST_F(ServiceTest, FuzzedResponsesNeverCrashHangOrOverrun)
{
    const int Exchanges = 2000;
    StartService(V11101, { L"--fault", L"fuzz=20261207" });
    CSectorixService* pSource = MakeSource();
    ASSERT_NE(nullptr, pSource);
    int reads = 0;
    ASSERT_EQ(true, AnswerWithin(FuzzBound, [&] {
                  DWORD seed = 12345;
                  bool connected = false;
                  BYTE probe[1];
                  for (int i = 0; i < Exchanges; ++i)
                  {
                      seed = seed * 1103515245 + 12345;
                      UINT count = 1 + (seed >> 16) % 128;
                      if (!connected)
                      {
                          connected = pSource->OpenCard();
                          continue;
                      }
                      GuardedBuffer buffer(count * 512);
                      ++reads;
                      pSource->ReadSectorsA(buffer.data(), seed % 1024, count);
                      if (!buffer.PatternIntact())
                      {
                          ADD_FAILURE() << "written before the buffer in exchange " << i;
                          break;
                      }
                      // Fails at once, sending nothing, when the connection is gone.
                      connected = pSource->ReadSectorsA(probe, 0, 0);
                  }
                  return true;
              }));
    EXPECT_GT(reads, Exchanges / 2);
}
