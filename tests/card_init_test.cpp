// Card initialisation through the stand-in card libraries, the CSM drive
// sources and their enabling under the machine-wide lock.
#include "CardLibraryTest.h"

#include "cardlib/InitRecords.h"
#include "sources/SectorixCSM.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace cs = CardLibStandin;
using namespace init_files;
using namespace testing_helpers;

namespace
{
const DWORD Success = 0x20010000;
const size_t ImageSize = 1 << 20;
const DWORD MediumSize = 8192;

Bytes InitFile()
{
    Bytes configuration = Filled(86, 7);
    Bytes extra = Filled(301, 0x90);
    return Join({ Record(0x100, configuration, CardInit::Checksum(configuration.data(), 86)),
                  Record(0x400, extra, CardInit::Checksum(extra.data(), 301)), Record(0x0600, Filled(3, 0)) });
}

class CardInitTest : public CardLibraryTest
{
protected:
    // The image file as the active source, opened as a host opens it, and
    // as the stand-in's card.
    CSectorix* ActiveImage(const std::wstring& image)
    {
        if (!m_pWatchguard->EnableImageFile(image.c_str()) || !m_notifications.WaitForCount(1))
            return nullptr;
        CSectorix* pSource = m_notifications.Snapshot().back().source;
        m_notifications.Clear();
        Cmdll(cs::SetCardImage, 0, image.c_str());
        unsigned short status = 0;
        if (!m_pWatchguard->ActivateSectorix(pSource, Sectorix::SetActive) || !pSource->TelvaneGetStatus(&status))
            return nullptr;
        return pSource;
    }

    // The read-back file that cmdllDoReadCard1 was given.
    std::wstring ReadBackFile()
    {
        std::wstring calls = CmdllCalls();
        size_t at = calls.find(L"_cmdllDoReadCard1(*TELVANE,");
        if (at == std::wstring::npos)
            return std::wstring();
        at += wcslen(L"_cmdllDoReadCard1(*TELVANE,");
        return calls.substr(at, calls.find(L')', at) - at);
    }

    CMemoryCard* Card(size_t size)
    {
        CMemoryCard* pCard = new CMemoryCard(m_pWatchguard, size);
        Register(m_pWatchguard, pCard);
        return pCard;
    }

    eSectorixError Initialize(CSectorix* pSource, DWORD& code, bool format = false)
    {
        code = 0xBEEF;
        return pSource->InitializeCard(File(L"card.init", InitFile()).c_str(), format, &code);
    }
};

class CSMTest : public CardInitTest
{
protected:
    void SetUp() override
    {
        CardInitTest::SetUp();
        const WORD sockets[] = { 1, 2 };
        Cmdll(cs::SetSockets, 2, sockets);
        SelectCMDLL();
    }

    CSectorixCSM* Drive(DWORD drive)
    {
        return static_cast<CSectorixCSM*>(m_pWatchguard->Find(RUNTIME_CLASS(CSectorixCSM), drive));
    }

    void RunWatchTimer() { (m_pWatchguard->*&WatchguardAccess::OnWatchTimer)(); }

    size_t Count(eWatchguardState state)
    {
        size_t count = 0;
        for (const Notification& seen : m_notifications.Snapshot())
            count += seen.state == state;
        return count;
    }
};

}

TEST_F(CardInitTest, FormatsInitialisesAndVerifiesACardImageThroughCMDLL)
{
    std::wstring image = File(L"card.img", Bytes(ImageSize, 0x5A));
    CSectorix* pSource = ActiveImage(image);
    ASSERT_NE(nullptr, pSource);
    SelectCMDLL();
    DWORD code = 0;
    ASSERT_EQ(ErrorNone, Initialize(pSource, code, true)) << CmdllCalls();
    EXPECT_EQ(0u, code);
    // Formatted to 0xFF, then the init file after its byte count.
    Bytes init = InitFile();
    Bytes card = Join({ { static_cast<uint8_t>(init.size()), static_cast<uint8_t>(init.size() >> 8), 0, 0 }, init });
    card.resize(ImageSize, 0xFF);
    EXPECT_TRUE(card == card_files::ReadBytes(image, 0, ImageSize));
    std::wstring calls = CmdllCalls();
    EXPECT_NE(std::wstring::npos, calls.find(L"_cmdllMountDataSource(*TELVANE,1)\ncmdllDoInitCard(")) << calls;
    EXPECT_NE(std::wstring::npos, calls.find(L"cmdllUnmountDataSource(5ec70001)")) << calls;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(ReadBackFile().c_str()));
}

TEST_F(CardInitTest, FormatsInitialisesAndVerifiesTheRecorderThroughCMREC)
{
    std::wstring image = File(L"card.img", Bytes(ImageSize, 0x5A));
    CSectorix* pSource = ActiveImage(image);
    ASSERT_NE(nullptr, pSource);
    SelectCMREC();
    DWORD code = 0;
    ASSERT_EQ(ErrorNone, Initialize(pSource, code, true)) << CmrecCalls();
    EXPECT_EQ(0u, code);
    Bytes configuration(86);
    Cmrec(cs::GetConfig, 0, configuration.data());
    EXPECT_EQ(Filled(86, 7), configuration);
    std::wstring calls = CmrecCalls();
    EXPECT_EQ(0u, calls.find(L"cmrecInitFormat()\ncmrecDoFormat(0,100)\n")) << calls;
    EXPECT_NE(std::wstring::npos, calls.find(L"cmrecExitFormat()\ncmrecInitCard(301)\ncmrecReadConfig()\n"))
        << calls;
    EXPECT_EQ(Bytes(ImageSize, 0x5A), card_files::ReadBytes(image, 0, ImageSize));
}

TEST_F(CardInitTest, EachFailingStepEndsTheRunWithItsResultAndCleansUp)
{
    CSectorix* pSource = ActiveImage(File(L"card.img", Bytes(ImageSize, 0xFF)));
    ASSERT_NE(nullptr, pSource);
    SelectCMDLL();
    struct Step
    {
        const wchar_t* entry;
        DWORD answer;
        eSectorixError result;
        const wchar_t* lastCall;
    };
    const Step steps[] = {
        { L"cmdllMountDataSource", 0x2001000A, ErrorMount, L"_cmdllMountDataSource(*TELVANE,0)\n" },
        { L"cmdllDoInitCard", 0x2001000F, ErrorMount, L"cmdllUnmountDataSource(5ec70001)\n" },
        { L"cmdllDoInitCard", 0x20010009, ErrorInitCard, L"cmdllUnmountDataSource(5ec70001)\n" },
        { L"cmdllDoReadCard1", 0x20010005, ErrorReadInit, L"cmdllUnmountDataSource(5ec70001)\n" },
    };
    for (const Step& step : steps)
    {
        Cmdll(cs::ClearCalls);
        Cmdll(cs::SetAnswer, step.answer, step.entry);
        DWORD code = 0;
        EXPECT_EQ(step.result, Initialize(pSource, code)) << step.entry;
        EXPECT_EQ(LOWORD(step.answer), code) << step.entry;
        std::wstring calls = CmdllCalls();
        EXPECT_EQ(calls.size() - wcslen(step.lastCall), calls.rfind(step.lastCall)) << calls;
        Cmdll(cs::ClearAnswer, 0, step.entry);
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(ReadBackFile().c_str()));

    Bytes extra = Record(0x0200, Filled(2, 0));
    Cmdll(cs::AppendOnReadBack, extra.size(), extra.data());
    DWORD code = 0;
    EXPECT_EQ(ErrorVerify, Initialize(pSource, code));
    EXPECT_EQ(0u, code);

    CCSMDLL::Unload();
    ::FreeLibrary(m_hCmdll);
    m_hCmdll = nullptr;
    ASSERT_TRUE(::SetDllDirectoryW(m_folder.c_str()));
    EXPECT_EQ(ErrorMount, Initialize(pSource, code));
    EXPECT_EQ(1u, code);
}

TEST_F(CardInitTest, FormatErasesOnlyTheCardOfTheSourceAndAFailedOneWritesNoInit)
{
    Cmdll(cs::SetCardImage, 0, File(L"card.img", Bytes(ImageSize, 0xFF)).c_str());
    SelectCMDLL();
    CMemoryCard* pActive = Card(1000 * 512);
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pActive, Sectorix::SetActive));
    CMemoryCard* pOther = Card(200 * 512);
    DWORD code = 0;
    EXPECT_EQ(ErrorNone, Initialize(pOther, code, true));
    EXPECT_TRUE(pActive->m_writes.empty());
    EXPECT_EQ(Bytes(1000 * 512, 0x5A), pActive->m_bytes);
    EXPECT_EQ(Bytes(200 * 512, 0xFF), pOther->m_bytes);

    // A write that fails, and a source without a card size.
    pOther->m_failAt = pOther->m_writes.size() + 1;
    CTestSource* pSizeless = new CTestSource(m_pWatchguard, 7);
    Register(m_pWatchguard, pSizeless);
    for (CSectorix* pSource : { static_cast<CSectorix*>(pOther), static_cast<CSectorix*>(pSizeless) })
    {
        Cmdll(cs::ClearCalls);
        EXPECT_EQ(ErrorInitCard, Initialize(pSource, code, true));
        EXPECT_EQ(LOWORD(0x20010006), code);
        std::wstring calls = CmdllCalls();
        EXPECT_EQ(std::wstring::npos, calls.find(L"cmdllDoInitCard")) << calls;
        EXPECT_EQ(calls.size() - wcslen(L"cmdllUnmountDataSource(5ec70001)\n"),
                  calls.rfind(L"cmdllUnmountDataSource(5ec70001)\n")) << calls;
    }
    EXPECT_TRUE(pActive->m_writes.empty());
}

// The image the host never opened is opened for its format alone: neither
// the active image nor the library's own card is erased, and the file is
// free again afterwards.
TEST_F(CardInitTest, AClosedImageIsFormattedThroughItsOwnFile)
{
    std::wstring active = File(L"active.img", Bytes(ImageSize, 0x5A));
    ASSERT_NE(nullptr, ActiveImage(active));
    std::wstring closed = File(L"closed.img", Bytes(ImageSize, 0x5A));
    ASSERT_TRUE(m_pWatchguard->EnableImageFile(closed.c_str()));
    ASSERT_TRUE(m_notifications.WaitForCount(1));
    CSectorix* pClosed = m_notifications.Snapshot().back().source;
    Cmdll(cs::SetCardImage, 0, File(L"library.img", Bytes(ImageSize, 0x5A)).c_str());
    SelectCMDLL();
    DWORD code = 0;
    ASSERT_EQ(ErrorNone, Initialize(pClosed, code, true)) << CmdllCalls();
    EXPECT_TRUE(Bytes(ImageSize, 0x5A) == card_files::ReadBytes(active, 0, ImageSize));
    EXPECT_TRUE(Bytes(ImageSize, 0xFF) == card_files::ReadBytes(closed, 0, ImageSize));
    HANDLE hFile = ::CreateFileW(closed.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, hFile);
    ::CloseHandle(hFile);
}

TEST_F(CardInitTest, AnInitFileThatCannotBeUsedStopsTheRunBeforeTheCardIsTouched)
{
    std::wstring image = File(L"card.img", Bytes(ImageSize, 0x5A));
    CSectorix* pSource = ActiveImage(image);
    ASSERT_NE(nullptr, pSource);
    SelectCMDLL();
    Bytes broken = InitFile();
    broken.pop_back();
    const std::wstring files[] = { m_folder + L"\\missing.init", File(L"empty.init", Bytes()),
                                   File(L"broken.init", broken) };
    for (const std::wstring& file : files)
    {
        Cmdll(cs::ClearCalls);
        DWORD code = 0;
        EXPECT_EQ(ErrorInitCard, pSource->InitializeCard(file.c_str(), true, &code));
        EXPECT_EQ(LOWORD(0x20010007), code);
        EXPECT_EQ(L"", CmdllCalls());
    }
    EXPECT_EQ(Bytes(ImageSize, 0x5A), card_files::ReadBytes(image, 0, ImageSize));

    // The recorder library needs its two records.
    CCSMDLL::Unload();
    SelectCMREC();
    Bytes extraOnly = Record(0x400, Filled(5, 1));
    DWORD code = 0;
    EXPECT_EQ(ErrorInitCard, pSource->InitializeCard(File(L"extra.init", extraOnly).c_str(), true, &code));
    EXPECT_EQ(L"", CmrecCalls());
}

TEST_F(CardInitTest, FormatProgressIsSeenOnlyWhileTheSourceFormats)
{
    Cmdll(cs::SetCardImage, 0, File(L"card.img", Bytes(ImageSize, 0xFF)).c_str());
    SelectCMDLL();
    CMemoryCard* pCard = new CMemoryCard(m_pWatchguard, 1000 * 512);
    Register(m_pWatchguard, pCard);
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pCard, Sectorix::SetActive));
    DWORD progress = 77;
    bool pastStart = true;
    EXPECT_FALSE(pCard->FormatCardProgress(progress, pastStart, false));
    EXPECT_EQ(77u, progress);
    EXPECT_TRUE(pastStart);

    pCard->m_holdAt = 2;
    eSectorixError result = ErrorVerify;
    DWORD code = 0;
    std::thread initializer([&] { result = Initialize(pCard, code, true); });
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pCard->m_evHeld, WaitBound));
    EXPECT_TRUE(pCard->FormatCardProgress(progress, pastStart, true));
    EXPECT_EQ(12u, progress);
    EXPECT_FALSE(pastStart);
    pCard->m_evRelease.SetEvent();
    initializer.join();
    EXPECT_EQ(ErrorNone, result);
    EXPECT_EQ(3u, pCard->m_writes.size());
    EXPECT_FALSE(pCard->FormatCardProgress(progress, pastStart, false));
}

TEST_F(CardInitTest, CardHasBeenReadReachesOnlyCMDLLAndOnlyWithADataSource)
{
    CTestSource* pSource = new CTestSource(m_pWatchguard, 0);
    Register(m_pWatchguard, pSource);
    SelectCMDLL();
    Cmdll(cs::ClearCalls);
    EXPECT_EQ(Success, pSource->SetCardHasBeenRead(nullptr));
    EXPECT_EQ(L"", CmdllCalls());
    Cmdll(cs::SetAnswer, 0x20010003, L"cmdllCardHasBeenRead");
    EXPECT_EQ(0x20010003u, pSource->SetCardHasBeenRead(reinterpret_cast<void*>(0x1234)));
    EXPECT_EQ(L"cmdllCardHasBeenRead(1234)\n", CmdllCalls());
    CCSMDLL::Unload();
    SelectCMREC();
    EXPECT_NE(Success, pSource->SetCardHasBeenRead(reinterpret_cast<void*>(0x1234)));
}

TEST_F(CSMTest, MediaComeAndGoOnceEachAndTheSourceOffersNoSectors)
{
    Cmdll(cs::InsertMedium, 2, &MediumSize);
    ASSERT_TRUE(m_pWatchguard->EnableCSM(true));
    ASSERT_TRUE(m_notifications.WaitForCount(1));
    CSectorixCSM* pDrive = Drive(2);
    ASSERT_NE(nullptr, pDrive);
    EXPECT_EQ(pDrive, m_notifications.Snapshot()[0].source);
    EXPECT_TRUE(pDrive->isFor(2));
    EXPECT_FALSE(Drive(1)->isFor(2));
    EXPECT_EQ(nullptr, Drive(3));
    RunWatchTimer();
    RunWatchTimer();
    EXPECT_EQ(MediumSize, pDrive->GetCardSize());
    EXPECT_STREQ(L"Medium in CSM-OmniDrive/SoftDrive eingelegt.", pDrive->GetMediaText(0));
    EXPECT_STREQ(L"Media inserted in CSM-OmniDrive/SoftDrive.", pDrive->GetMediaText(1));
    BYTE sector[512] = { 0x33 };
    EXPECT_FALSE(pDrive->ReadSectorsA(sector, 0, 1));
    EXPECT_EQ(0x33, sector[0]);

    Cmdll(cs::RemoveMedium, 2);
    RunWatchTimer();
    RunWatchTimer();
    ASSERT_TRUE(m_notifications.WaitForCount(2));
    ::Sleep(100);
    EXPECT_EQ(1u, Count(MediaInserted));
    EXPECT_EQ(1u, Count(MediaRemoved));
    EXPECT_EQ(pDrive, m_notifications.Snapshot()[1].source);
    EXPECT_STREQ(L"Media removed from CSM-OmniDrive/SoftDrive.", pDrive->GetMediaText(1));
    EXPECT_STREQ(L"Medium aus CSM-OmniDrive/SoftDrive entfernt.", pDrive->GetMediaText(0));
}

// The host switches libraries while the drives are polled: a poll neither
// brings back what the host unloaded nor uses a binding being unloaded.
TEST_F(CSMTest, PollsNeverSelectALibraryAndUnloadingUnderThemIsSafe)
{
    Cmdll(cs::InsertMedium, 1, &MediumSize);
    ASSERT_TRUE(m_pWatchguard->EnableCSM(true));
    CCSMDLL::Unload();
    RunWatchTimer();
    EXPECT_TRUE(CCSMDLL::SelectCSMDLL(L"CMRECDLL.DLL"));
    RunWatchTimer();
    EXPECT_TRUE(CCSMDLL::GetCSMDLL()->IsKindOf(RUNTIME_CLASS(CCMRECDLL)));

    std::atomic<bool> done{ false };
    std::thread poller([&] {
        while (!done)
            RunWatchTimer();
    });
    for (int round = 0; round < 300; ++round)
    {
        CCSMDLL::Unload();
        CCSMDLL::SelectCSMDLL(round % 2 ? L"CMDLL.DLL" : L"CMRECDLL.DLL");
        ::Sleep(0);
    }
    done = true;
    poller.join();
    EXPECT_TRUE(CCSMDLL::GetCSMDLL()->IsKindOf(RUNTIME_CLASS(CCMDLLApi)));
}

TEST_F(CSMTest, InitialisationOfADriveSelectsItsOwnDriveAndMountsWithoutADataSourceName)
{
    Cmdll(cs::SetCardImage, 0, File(L"card.img", Bytes(ImageSize, 0xFF)).c_str());
    ASSERT_TRUE(m_pWatchguard->EnableCSM(true));
    CSectorixCSM* pDrive = Drive(0);
    ASSERT_NE(nullptr, pDrive);
    EXPECT_EQ(nullptr, pDrive->GetCSMDataSourceName());
    RunWatchTimer();
    Cmdll(cs::ClearCalls);
    DWORD code = 0;
    EXPECT_EQ(ErrorNone, Initialize(pDrive, code));
    std::wstring calls = CmdllCalls();
    EXPECT_NE(std::wstring::npos, calls.find(L"cmdllSelectPCCardDrive(0,0)\n_cmdllMountDataSource(null,0)")) << calls;

    // No sectors of its own to erase: the init file is not written.
    Cmdll(cs::ClearCalls);
    EXPECT_EQ(ErrorInitCard, Initialize(pDrive, code, true));
    EXPECT_EQ(LOWORD(0x20010006), code);
    EXPECT_EQ(std::wstring::npos, CmdllCalls().find(L"cmdllDoInitCard")) << CmdllCalls();

    // A drive the library no longer serves mounts nothing.
    const WORD oneSocket[] = { 1 };
    Cmdll(cs::SetSockets, 1, oneSocket);
    Cmdll(cs::ClearCalls);
    EXPECT_EQ(ErrorMount, Initialize(Drive(2), code));
    EXPECT_EQ(LOWORD(0x20010001), code);
    EXPECT_EQ(std::wstring::npos, CmdllCalls().find(L"MountDataSource")) << CmdllCalls();
}

// The watch timer polls every drive, selecting each in turn; while a drive
// is initialised the poll waits, so the library stays on that drive.
TEST_F(CSMTest, APollDuringAnInitialisationLeavesTheLibraryOnItsDrive)
{
    Cmdll(cs::SetCardImage, 0, File(L"card.img", Bytes(ImageSize, 0xFF)).c_str());
    ASSERT_TRUE(m_pWatchguard->EnableCSM(true));
    CSectorixCSM* pDrive = Drive(0);
    ASSERT_NE(nullptr, pDrive);
    Cmdll(cs::HoldEntry, 0, L"cmdllDoInitCard");
    Cmdll(cs::ClearCalls);
    DWORD code = 0;
    std::atomic<int> result(-1);
    std::thread initialisation([&] { result = Initialize(pDrive, code); });
    EXPECT_TRUE(Cmdll(cs::WaitHeld, WaitBound));
    std::thread poll([this] { RunWatchTimer(); });
    ::Sleep(300);
    Cmdll(cs::Release);
    initialisation.join();
    poll.join();
    EXPECT_EQ(ErrorNone, result);
    std::wstring calls = CmdllCalls();
    const std::wstring ownDrive = L"cmdllSelectPCCardDrive(0,0)";
    size_t selected = calls.rfind(ownDrive, calls.find(L"MountDataSource("));
    size_t unmounted = calls.find(L"cmdllUnmountDataSource(");
    ASSERT_LT(selected, unmounted) << calls;
    std::wstring run = calls.substr(selected + ownDrive.size(), unmounted - selected);
    EXPECT_EQ(std::wstring::npos, run.find(L"SelectPCCardDrive")) << calls;
}

TEST_F(CSMTest, EnablingTwiceRegistersEveryDriveTwiceAndDisablingRemovesThemAll)
{
    Cmdll(cs::InsertMedium, 0, &MediumSize);
    ASSERT_TRUE(m_pWatchguard->EnableCSM(true));
    ASSERT_TRUE(m_pWatchguard->EnableCSM(true));
    ASSERT_TRUE(m_notifications.WaitForCount(2));
    std::vector<Notification> seen = m_notifications.Snapshot();
    EXPECT_EQ(MediaInserted, seen[1].state);
    EXPECT_NE(seen[0].source, seen[1].source);
    EXPECT_TRUE(seen[1].source->isFor(0));
    EXPECT_TRUE(m_pWatchguard->LockStateCSM().isOwned());

    EXPECT_TRUE(m_pWatchguard->EnableCSM(false));
    for (DWORD drive = 0; drive < 3; ++drive)
        EXPECT_EQ(nullptr, Drive(drive)) << drive;
    EXPECT_FALSE(seen[0].source->isValid());
    EXPECT_FALSE(seen[1].source->isValid());
    EXPECT_TRUE(m_pWatchguard->LockStateCSM().isOwned());
    EXPECT_TRUE(m_pWatchguard->EnableCSM(false));
    EXPECT_FALSE(m_pWatchguard->LockStateCSM().isOwned());
}

TEST_F(CSMTest, AnotherLibraryOrNoDriveLeavesTheKindHeldWithoutSources)
{
    CCSMDLL::Unload();
    SelectCMREC();
    EXPECT_FALSE(m_pWatchguard->EnableCSM(true));
    EXPECT_TRUE(m_pWatchguard->LockStateCSM().isOwned());
    EXPECT_EQ(nullptr, Drive(0));
    EXPECT_TRUE(m_pWatchguard->EnableCSM(false));

    CCSMDLL::Unload();
    SelectCMDLL();
    Cmdll(cs::SetSockets, 0, nullptr);
    EXPECT_FALSE(m_pWatchguard->EnableCSM(true));
    EXPECT_TRUE(m_pWatchguard->LockStateCSM().isOwned());
}

TEST_F(CSMTest, OnlyOneProcessHoldsTheDrives)
{
    ASSERT_TRUE(m_pWatchguard->EnableCSM(true));
    EXPECT_EQ(1, RunLockProbe(L"csm \"" + VariantFolder() + L"\""));
    EXPECT_TRUE(m_pWatchguard->EnableCSM(false));
    EXPECT_EQ(0, RunLockProbe(L"csm \"" + VariantFolder() + L"\""));
}
