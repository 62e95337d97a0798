// The telemetry libraries as the watchguard binds, enables and follows
// them: the stand-in libraries of each export list, loaded by name.
#include "TelemetryTest.h"
#include "TestSource.h"

#include "Sectorix/SectorixRT9ABurst.h"
#include "Sectorix/SectorixSPIDirect.h"
#include "sources/DeviceApi.h"

using namespace card_files;
using namespace testing_helpers;
namespace ts = TelemetryStandin;

namespace
{

const WORD Connected = 0xF006;
const WORD NotConnected = 0x0F03;

std::wstring TestCard()
{
    return WindowsPath(TEST_CARD_IMAGE);
}

bool Precedes(const std::wstring& calls, const wchar_t* first, const wchar_t* second)
{
    size_t at = calls.find(first);
    return at != std::wstring::npos && calls.find(second, at) != std::wstring::npos;
}

// The stand-in folder of one export list.
template <const wchar_t* Folder>
class VariantTest : public TelemetryTest
{
    const wchar_t* Variant() const override { return Folder; }
};

const wchar_t Init4[] = L"init4";
const wchar_t Init0[] = L"init0";
const wchar_t NoSize64[] = L"no-size64";
const wchar_t NoImageSize[] = L"no-image-size";
const wchar_t Burst6[] = L"burst6";
const wchar_t NoPut[] = L"no-put";
const wchar_t NoNotify[] = L"no-notify";
using TelvaneLinkTest = TelemetryTest;
using Init4Test = VariantTest<Init4>;
using Init0Test = VariantTest<Init0>;
using NoSize64Test = VariantTest<NoSize64>;
using NoImageSizeTest = VariantTest<NoImageSize>;
using Burst6Test = VariantTest<Burst6>;
using NoPutTest = VariantTest<NoPut>;
using NoNotifyTest = VariantTest<NoNotify>;

class SPIDirectTest : public TelemetryTest
{
protected:
    const wchar_t* Library() const override { return L"SpiDirect.dll"; }

    void TearDown() override
    {
        Sectorix::g_deviceApi.VerifyVersionInfoW = &::VerifyVersionInfoW;
        TelemetryTest::TearDown();
    }

    bool EnableSPIDirect(UINT message = SourceMessage)
    {
        return m_pWatchguard->EnableSPIDirect(true, ::GetCurrentThreadId(), nullptr, message);
    }

    CSectorixSPIDirect* Source()
    {
        return static_cast<CSectorixSPIDirect*>(m_pWatchguard->Find(RUNTIME_CLASS(CSectorixSPIDirect), 0));
    }

    static BOOL WINAPI BeforeXP(LPOSVERSIONINFOEXW, DWORD, DWORDLONG) { return FALSE; }
};

class RT9ABurstTest : public TelemetryTest
{
    const wchar_t* Library() const override { return L"RT9Burst.DLL"; }
};

HANDLE g_hManualSync = nullptr;

BOOL WINAPI ManualResetSync(HANDLE* handle)
{
    *handle = g_hManualSync;
    return TRUE;
}

const WORD UnansweredStatus = 0x1234;

// A library that stores its status but answers that it did not.
BOOL WINAPI StatusWithoutAnswer(unsigned short* status)
{
    *status = UnansweredStatus;
    return FALSE;
}

struct StatusAccess : CSectorixTelvane
{
    using CSectorixTelvane::m_pfnGetTelvaneStatus;
};

const DWORD FarDelay = 60000;
const int HandleReuseTries = 200;

// An event in the slot of a closed handle, set and never reset by its owner.
HANDLE SetEventInSlotOf(HANDLE hClosed)
{
    std::vector<HANDLE> others;
    HANDLE hEvent = nullptr;
    for (int i = 0; i < HandleReuseTries && hEvent != hClosed; ++i)
    {
        if (hEvent)
            others.push_back(hEvent);
        hEvent = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    }
    for (HANDLE hOther : others)
        ::CloseHandle(hOther);
    return hEvent;
}

}

TEST_F(TelvaneLinkTest, OpensTheLinkWithBothTextsForwardsTheCardAndIsRetargetedWithoutTouchingTheLink)
{
    ASSERT_TRUE(EnableTelvane());
    std::wstring calls = Calls();
    std::wstring init = L"initTelvaneCommunication@8(" + UniqueName(L"vehicle") + L",second)";
    EXPECT_TRUE(Precedes(calls, L"enableNotifyMessage@12(8002)", init.c_str())) << calls;
    EXPECT_TRUE(Precedes(calls, init.c_str(), L"startTelvaneCommunication@0()")) << calls;
    ASSERT_TRUE(WaitForPosts(SourceMessage, Sectorix::NOTIFY_VERSION));
    EXPECT_EQ(static_cast<LPARAM>(ts::Version), Posts(SourceMessage, Sectorix::NOTIFY_VERSION)[0].lParam);

    CSectorixTelvane* pSource = Telvane();
    ASSERT_NE(nullptr, pSource);
    ASSERT_TRUE(Control(ts::SetCardImage, 0, TestCard().c_str()));
    SetStatus(Connected);
    std::vector<BYTE> image = ReadBytes(TestCard(), 0, 8 * 512);
    EXPECT_EQ(2048ull * 1024, pSource->GetCardSize());
    SectorBuffer buffer(4);
    ASSERT_TRUE(pSource->ReadSectorsA(buffer.data(), 4, 4));
    EXPECT_EQ(std::vector<BYTE>(image.begin() + 4 * 512, image.end()), buffer.Bytes(0, 4 * 512));
    DWORD sectors[] = { 7, 1 };
    ASSERT_TRUE(pSource->ReadSectorsB(buffer.data(), 2, sectors));
    EXPECT_EQ(std::vector<BYTE>(image.begin() + 7 * 512, image.end()), buffer.Bytes(0, 512));
    EXPECT_EQ(std::vector<BYTE>(image.begin() + 512, image.begin() + 1024), buffer.Bytes(512, 512));
    ASSERT_TRUE(pSource->WriteSectors(buffer.data(), 100, 1));
    EXPECT_NE(std::wstring::npos, Calls().find(L"putSectorDataExA@12(100,1)\n"));
    UINT packetSize = 0;
    ASSERT_TRUE(pSource->TelvaneGetPacketSize(&packetSize));
    EXPECT_EQ(ts::PacketSize, packetSize);

    // The vehicle computer answers for the link; the texts follow the library.
    unsigned short status = 0;
    ASSERT_TRUE(pSource->TelvaneGetStatus(&status));
    EXPECT_EQ(Connected, status);
    EXPECT_STREQ(L"Connection to BoardPC established.", pSource->GetMediaText(1));
    EXPECT_STREQ(L"Verbindung zum BoardPC hergestellt.", pSource->GetMediaText(0));
    SetStatus(0x1234);
    EXPECT_STREQ(L"Verbindung zum BoardPC getrennt.", pSource->GetMediaText(0));
    EXPECT_STREQ(L"Disconnected from BoardPC.", pSource->GetMediaText(1));
    ASSERT_TRUE(pSource->TelvaneGetStatus(&status));
    EXPECT_EQ(Connected, status);

    // Enabled again: the same target hears nothing, a new one the version.
    EXPECT_FALSE(EnableTelvane());
    EXPECT_FALSE(m_pWatchguard->EnableTelvane(true, UniqueName(L"vehicle").c_str(), nullptr, ::GetCurrentThreadId(),
                                              nullptr, SourceMessage + 1));
    ASSERT_TRUE(WaitForPosts(SourceMessage + 1, Sectorix::NOTIFY_VERSION));
    PumpFor(200);
    EXPECT_EQ(1u, Posts(SourceMessage, Sectorix::NOTIFY_VERSION).size());
    EXPECT_EQ(pSource, Telvane());
    EXPECT_EQ(1u, CountCalls(L"startTelvaneCommunication@0()"));

    // Disabled: the link is ended; the source stays alive, out of the registry.
    EXPECT_FALSE(m_pWatchguard->EnableTelvane(false, nullptr, nullptr, 0, nullptr, 0));
    EXPECT_TRUE(Precedes(Calls(), L"endTelvaneCommunication@0()", L"deinitTelvaneCommunication@0()"));
    EXPECT_FALSE(m_pWatchguard->isValid(pSource));
    EXPECT_EQ(nullptr, Telvane());
}

TEST_F(TelvaneLinkTest, AFileQueuedOnTheOrdinaryLinkSwitchesToBurstModeAndIsServed)
{
    ASSERT_TRUE(EnableTelvane());
    CSectorixTelvane* pSource = Telvane();
    EXPECT_EQ(0x20010000u, pSource->SetCardHasBeenRead(nullptr));
    EXPECT_EQ(1u, CountCalls(L"restartMeasurement@0()"));
    EXPECT_FALSE(pSource->IsBurstMode());
    EXPECT_EQ(nullptr, pSource->TelvaneGetListBlock());

    pSource->QueueFile(WindowsPath(TEST_CARD_LAP).c_str());
    EXPECT_TRUE(pSource->IsBurstMode());
    EXPECT_NE(nullptr, pSource->TelvaneGetListBlock());
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaInserted));
    UINT packetSize = 0;
    ASSERT_TRUE(pSource->TelvaneGetPacketSize(&packetSize));
    EXPECT_EQ(512u, packetSize);
    EXPECT_EQ(0x20010000u, pSource->SetCardHasBeenRead(nullptr));
    EXPECT_TRUE(pSource->EraseFlashcard());
    EXPECT_EQ(2u, CountCalls(L"restartMeasurement@0()"));

    ASSERT_TRUE(pSource->WaitForBurstData());
    SectorBuffer buffer(64);
    ASSERT_TRUE(pSource->ReadSectorsA(buffer.data(), 0, 64));
    EXPECT_EQ(ReadBytes(TestCard(), 0, 64 * 512), buffer.Bytes(0, 64 * 512));
    EXPECT_FALSE(pSource->WaitForBurstData());
    EXPECT_TRUE(WaitForPosts(WatchguardMessage, MediaRemoved));
    EXPECT_FALSE(pSource->ReadSectorsA(buffer.data(), 0, 1));
}

// An image read the way a class host reads a card stops watching while it
// is open; once it is given up, the link's first lap must still be heard of.
TEST_F(TelvaneLinkTest, TheFirstLapIsAnnouncedAfterACardOfAnotherKindWasReadAndGivenUp)
{
    ASSERT_TRUE(m_pWatchguard->EnableImageFile(TestCard().c_str()));
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaInserted));
    auto* pImage = reinterpret_cast<CSectorix*>(Posts(WatchguardMessage, MediaInserted)[0].lParam);
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pImage, Sectorix::SetActive));
    unsigned short status = 0;
    ASSERT_TRUE(pImage->TelvaneGetStatus(&status));
    EXPECT_EQ(Connected, status);
    EXPECT_FALSE(m_pWatchguard->IsEnabled());
    pImage->TelvaneEndTransmit();
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(nullptr, Sectorix::SetActive));

    ASSERT_TRUE(EnableTelvane());
    Telvane()->QueueFile(WindowsPath(TEST_CARD_LAP).c_str());
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaInserted, 2));
    EXPECT_EQ(reinterpret_cast<LPARAM>(Telvane()), Posts(WatchguardMessage, MediaInserted)[1].lParam);
}

TEST_F(TelvaneLinkTest, AFailedStartDisablesTheKindAgain)
{
    Control(ts::SetStartResult, 0);
    EXPECT_FALSE(EnableTelvane());
    EXPECT_EQ(nullptr, Telvane());
    std::wstring calls = Calls();
    EXPECT_TRUE(Precedes(calls, L"startTelvaneCommunication@0()", L"endTelvaneCommunication@0()")) << calls;
    EXPECT_TRUE(Precedes(calls, L"endTelvaneCommunication@0()", L"deinitTelvaneCommunication@0()")) << calls;

    // A refused init is not followed by a start; the lock was given back each time.
    Control(ts::ClearCalls);
    Control(ts::SetStartResult, 1);
    Control(ts::SetInitResult, 0);
    EXPECT_FALSE(EnableTelvane());
    EXPECT_EQ(0u, CountCalls(L"startTelvaneCommunication@0()"));
    Control(ts::SetInitResult, 1);
    EXPECT_TRUE(EnableTelvane());
}

TEST_F(TelvaneLinkTest, TheSameFirstStringInAnotherProcessIsRefused)
{
    ASSERT_TRUE(EnableTelvane());
    auto probe = [this](const std::wstring& first) {
        return RunLockProbe(L"telvane \"" + StandinFolder() + L"\" \"" + first + L"\"");
    };
    EXPECT_EQ(1, probe(UniqueName(L"vehicle")));
    EXPECT_EQ(0, probe(UniqueName(L"other-vehicle")));
}

TEST_F(Init4Test, OpensTheLinkWithTheFirstTextAlone)
{
    ASSERT_TRUE(EnableTelvane());
    EXPECT_EQ(1u, CountCalls((L"initTelvaneCommunication@4(" + UniqueName(L"vehicle") + L")").c_str())) << Calls();
}

TEST_F(Init0Test, OpensTheLinkWithoutArguments)
{
    ASSERT_TRUE(EnableTelvane());
    EXPECT_EQ(1u, CountCalls(L"initTelvaneCommunication@0()")) << Calls();
}

TEST_F(NoSize64Test, IsValidButKnowsNoCardSize)
{
    ASSERT_TRUE(Control(ts::SetCardImage, 0, TestCard().c_str()));
    ASSERT_TRUE(EnableTelvane());
    SetStatus(Connected);
    EXPECT_EQ(0u, Telvane()->GetCardSize());
    EXPECT_EQ(std::wstring::npos, Calls().find(L"getMCardImageSize"));
}

TEST_F(NoImageSizeTest, IsNoSource)
{
    EXPECT_FALSE(EnableTelvane());
    EXPECT_EQ(nullptr, Telvane());
    EXPECT_EQ(std::wstring::npos, Calls().find(L"initTelvaneCommunication")) << Calls();
}

TEST_F(Burst6Test, NeverEntersBurstMode)
{
    ASSERT_TRUE(EnableTelvane());
    Control(ts::SetStep, 2);
    SetStatus(Connected);
    ASSERT_TRUE(WaitForPosts(SourceMessage, Connected));
    EXPECT_FALSE(Telvane()->IsBurstMode());
    EXPECT_EQ(nullptr, Telvane()->TelvaneGetListBlock());
    EXPECT_EQ(std::wstring::npos, Calls().find(L"getTelvaneStep")) << Calls();
    EXPECT_EQ(std::wstring::npos, Calls().find(L"getLastLapSize")) << Calls();
}

TEST_F(NoPutTest, WritesNothing)
{
    ASSERT_TRUE(Control(ts::SetCardImage, 0, TestCard().c_str()));
    ASSERT_TRUE(EnableTelvane());
    SetStatus(Connected);
    SectorBuffer buffer(1);
    EXPECT_FALSE(Telvane()->WriteSectors(buffer.data(), 0, 1));
    EXPECT_TRUE(Telvane()->ReadSectorsA(buffer.data(), 0, 1));
}

// Without the notify entry the watchguard waits on the library's event; one
// signal of an event that the library never resets is one status change.
TEST_F(NoNotifyTest, StatusChangesArriveThroughTheSyncObjectOncePerSignal)
{
    ASSERT_TRUE(EnableTelvane());
    EXPECT_EQ(std::wstring::npos, Calls().find(L"enableNotifyMessage")) << Calls();
    ::PostThreadMessageW(m_pWatchguard->m_nThreadID, WM_NULL, 0, 0);
    Control(ts::SetStep, 1);
    SetStatus(Connected);
    ASSERT_TRUE(WaitForPosts(SourceMessage, Connected));
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaInserted));

    CEvent manualSync(FALSE, TRUE);
    g_hManualSync = manualSync;
    CSectorixTelvane* pSource = Telvane();
    pSource->*(&TelvaneAccess::m_pfnGetTelvaneSyncObject) = &ManualResetSync;
    ::PostThreadMessageW(m_pWatchguard->m_nThreadID, WM_NULL, 0, 0);
    m_posted.clear();
    manualSync.SetEvent();
    ASSERT_TRUE(WaitForPosts(SourceMessage, Connected));
    PumpFor(500);
    EXPECT_EQ(1u, Posts(SourceMessage, Connected).size());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(manualSync, 0));

    // The status read after a signal is passed on whatever the library answers.
    pSource->*(&StatusAccess::m_pfnGetTelvaneStatus) = &StatusWithoutAnswer;
    manualSync.SetEvent();
    EXPECT_TRUE(WaitForPosts(SourceMessage, UnansweredStatus));
}

// A library may close its event at its deinit, and the system hands the
// handle's value to the next object made: the watchguard must neither wait
// on nor reset what is no longer the library's.
TEST_F(NoNotifyTest, TheEventOfALinkThatWentIsNeverResetInItsPlace)
{
    ASSERT_TRUE(EnableTelvane());
    HANDLE hLibrarySync = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_hManualSync = hLibrarySync;
    Telvane()->*(&TelvaneAccess::m_pfnGetTelvaneSyncObject) = &ManualResetSync;
    ::PostThreadMessageW(m_pWatchguard->m_nThreadID, WM_NULL, 0, 0);
    PumpFor(200);
    m_pWatchguard->EnableTelvane(false, nullptr, nullptr, 0, nullptr, 0);
    ::CloseHandle(hLibrarySync);

    HANDLE hReused = SetEventInSlotOf(hLibrarySync);
    ASSERT_EQ(hLibrarySync, hReused);
    (m_pWatchguard->*&WatchguardAccess::PostDelayed)(nullptr, WM_NULL, 0, 0, FarDelay);
    PumpFor(300);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hReused, 0));
    ::CloseHandle(hReused);
}

TEST_F(SPIDirectTest, AConnectedLinkIsMediaAndItsLossWaitsForAnotherActiveSource)
{
    ASSERT_TRUE(EnableSPIDirect());
    std::wstring calls = Calls();
    EXPECT_TRUE(Precedes(calls, L"enableNotifyMessage@12(8003)", L"initTelvaneCommunication@8(null,null)")) << calls;
    CSectorixSPIDirect* pSource = Source();
    ASSERT_NE(nullptr, pSource);
    EXPECT_EQ(TypeSPIDirect, pSource->GetSectorixType());

    SetStatus(Connected);
    SetStatus(Connected);
    ASSERT_TRUE(WaitForPosts(SourceMessage, Connected, 2));
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaInserted));
    EXPECT_EQ(reinterpret_cast<LPARAM>(pSource), Posts(SourceMessage, Connected)[0].lParam);
    EXPECT_EQ(reinterpret_cast<LPARAM>(pSource), Posts(WatchguardMessage, MediaInserted)[0].lParam);
    EXPECT_STREQ(L"Connection to vehicle established.", pSource->GetMediaText(1));

    CTestSource* pOther = new CTestSource(m_pWatchguard, 7);
    Register(m_pWatchguard, pOther);
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pOther, Sectorix::SetActive));
    SetStatus(NotConnected);
    ASSERT_TRUE(WaitForPosts(SourceMessage, NotConnected));
    PumpFor(300);
    EXPECT_TRUE(Posts(WatchguardMessage, MediaRemoved).empty());
    EXPECT_STREQ(L"Verbindung zum Fahrzeug getrennt.", pSource->GetMediaText(0));

    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(nullptr, Sectorix::SetActive));
    SetStatus(NotConnected);
    ASSERT_TRUE(WaitForPosts(WatchguardMessage, MediaRemoved));
    EXPECT_EQ(1u, Posts(WatchguardMessage, MediaInserted).size());
}

TEST_F(SPIDirectTest, AConnectionWhileWatchingIsOffIsAnnouncedAtTheNextOne)
{
    ASSERT_TRUE(EnableSPIDirect());
    m_pWatchguard->Enable(false);
    SetStatus(Connected);
    ASSERT_TRUE(WaitForPosts(SourceMessage, Connected));
    PumpFor(300);
    EXPECT_TRUE(Posts(WatchguardMessage, MediaInserted).empty());
    m_pWatchguard->Enable(true);
    SetStatus(Connected);
    EXPECT_TRUE(WaitForPosts(WatchguardMessage, MediaInserted));
}

TEST_F(SPIDirectTest, IsRefusedBeforeWindowsXP)
{
    Sectorix::g_deviceApi.VerifyVersionInfoW = &BeforeXP;
    EXPECT_FALSE(EnableSPIDirect());
    EXPECT_EQ(nullptr, Source());
    EXPECT_TRUE(Calls().empty()) << Calls();

    // Refused even while enabled: not even re-targeted.
    Sectorix::g_deviceApi.VerifyVersionInfoW = &::VerifyVersionInfoW;
    ASSERT_TRUE(EnableSPIDirect());
    Sectorix::g_deviceApi.VerifyVersionInfoW = &BeforeXP;
    EXPECT_FALSE(EnableSPIDirect(SourceMessage + 1));
    PumpFor(300);
    EXPECT_TRUE(Posts(SourceMessage + 1, Sectorix::NOTIFY_VERSION).empty());
}

TEST_F(RT9ABurstTest, FollowsTheLinkByItsOwnStatusTable)
{
    ASSERT_TRUE(m_pWatchguard->EnableRT9ABurst(true, UniqueName(L"logger").c_str(), L"unused", ::GetCurrentThreadId(),
                                               nullptr, SourceMessage));
    std::wstring calls = Calls();
    std::wstring init = L"initTelvaneCommunication@4(" + UniqueName(L"logger") + L")";
    EXPECT_TRUE(Precedes(calls, L"enableNotifyMessage@12(8004)", init.c_str())) << calls;
    EXPECT_TRUE(Precedes(calls, init.c_str(), L"startTelvaneCommunication@0()")) << calls;
    auto* pSource = static_cast<CSectorixRT9ABurst*>(m_pWatchguard->Find(RUNTIME_CLASS(CSectorixRT9ABurst), 0));
    ASSERT_NE(nullptr, pSource);

    unsigned short status = 0;
    ASSERT_TRUE(pSource->TelvaneGetStatus(&status));
    EXPECT_EQ(NotConnected, status);
    EXPECT_STREQ(L"Disconnected from vehicle.", pSource->GetMediaText(1));

    const WORD statuses[] = { 0xF024, 0x1234, 0x0F04, Connected };
    const WORD answers[] = { Connected, Connected, NotConnected, Connected };
    for (size_t i = 0; i < ARRAYSIZE(statuses); ++i)
    {
        SetStatus(statuses[i]);
        ASSERT_TRUE(WaitForPosts(SourceMessage, statuses[i]));
        EXPECT_EQ(reinterpret_cast<LPARAM>(pSource), Posts(SourceMessage, statuses[i])[0].lParam);
        ASSERT_TRUE(pSource->TelvaneGetStatus(&status));
        EXPECT_EQ(answers[i], status) << std::hex << statuses[i];
    }
    EXPECT_STREQ(L"Connection to vehicle established.", pSource->GetMediaText(1));
    EXPECT_STREQ(L"Verbindung zum Fahrzeug hergestellt.", pSource->GetMediaText(0));
    EXPECT_TRUE(Posts(SourceMessage, Sectorix::NOTIFY_VERSION).empty());
    EXPECT_TRUE(Posts(WatchguardMessage, MediaInserted).empty());

    pSource->SetSearchInterval(750);
    EXPECT_EQ(1u, CountCalls(L"setSearchInterval@4(750)"));
    SectorBuffer buffer(1);
    EXPECT_FALSE(pSource->ReadSectorsA(buffer.data(), 0, 1));
    EXPECT_EQ(0u, pSource->GetCardSize());

    EXPECT_FALSE(m_pWatchguard->EnableRT9ABurst(false, nullptr, nullptr, 0, nullptr, 0));
    EXPECT_TRUE(Precedes(Calls(), L"endTelvaneCommunication@0()", L"deinitTelvaneCommunication@0()"));
}
