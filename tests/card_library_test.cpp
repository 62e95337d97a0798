// The CMDLL and CMREC bindings against the stand-in libraries: loading and
// binding, drives across drivers, mounting, the formats, and the CMREC
// init file.
#include "CardLibraryTest.h"

#include "api/FlatExports.h"
#include "cardlib/InitRecords.h"
#include "cardlib/RecorderInit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

namespace cs = CardLibStandin;
using namespace init_files;
using namespace testing_helpers;

namespace
{
const DWORD Success = 0x20010000;
const DWORD FormatFailed = 0x20010006;
const DWORD UnusableInit = 0x20010007;

class CardLibraryBindingTest : public CardLibraryTest
{
protected:
    CMemoryCard* ActiveCard(size_t size)
    {
        CMemoryCard* pCard = new CMemoryCard(m_pWatchguard, size);
        Register(m_pWatchguard, pCard);
        EXPECT_TRUE(m_pWatchguard->ActivateSectorix(pCard, Sectorix::SetActive));
        return pCard;
    }
};

// The stand-in folder of one export list.
template <const wchar_t* Folder>
class VariantTest : public CardLibraryTest
{
    const wchar_t* Variant() const override { return Folder; }
};

const wchar_t BothReadCard1[] = L"both-readcard1";
const wchar_t PlainNames[] = L"plain-names";
const wchar_t NoReadLogFile[] = L"no-readlogfile";
const wchar_t NoExitLastLap[] = L"no-exitlastlap";
const wchar_t CmrecMissingOne[] = L"cmrec-missing-one";
using BothReadCard1Test = VariantTest<BothReadCard1>;
using PlainNamesTest = VariantTest<PlainNames>;
using NoReadLogFileTest = VariantTest<NoReadLogFile>;
using NoExitLastLapTest = VariantTest<NoExitLastLap>;
using CmrecMissingOneTest = VariantTest<CmrecMissingOne>;
}

TEST_F(CardLibraryBindingTest, ALibraryThatCannotBeLoadedIsTriedAgainOnTheNextCall)
{
    ::FreeLibrary(m_hCmdll);
    m_hCmdll = nullptr;
    ASSERT_TRUE(::SetDllDirectoryW(m_folder.c_str()));
    CCSMDLL* pCSMDLL = CCSMDLL::GetCSMDLL();
    ASSERT_NE(nullptr, pCSMDLL);
    EXPECT_FALSE(pCSMDLL->isValid());
    EXPECT_TRUE(pCSMDLL->IsKindOf(RUNTIME_CLASS(CCMDLLApi)));
    ASSERT_TRUE(::SetDllDirectoryW(VariantFolder().c_str()));
    EXPECT_EQ(pCSMDLL, CCSMDLL::GetCSMDLL());
    EXPECT_TRUE(pCSMDLL->isValid());
}

TEST_F(CardLibraryBindingTest, DrivesAreCountedAcrossDriversAndSocketsAndTheLastLapGroupIsBound)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    EXPECT_NE(nullptr, static_cast<CMDLLAccess*>(pCMDLL)->m_pfnInitReadLastLap);
    const WORD sockets[] = { 2, 3 };
    Cmdll(cs::SetSockets, 2, sockets);
    Cmdll(cs::ClearCalls);
    EXPECT_EQ(3, pCMDLL->cmdllSelectDrive(3));
    EXPECT_NE(std::wstring::npos, CmdllCalls().find(L"cmdllSelectPCCardDrive(1,1)")) << CmdllCalls();
    Cmdll(cs::ClearCalls);
    EXPECT_EQ(-1, pCMDLL->cmdllSelectDrive(5));
    EXPECT_EQ(std::wstring::npos, CmdllCalls().find(L"cmdllSelectPCCardDrive")) << CmdllCalls();
    EXPECT_EQ(0, pCMDLL->cmdllSelectDrive(0));
}

TEST_F(CardLibraryBindingTest, ARefusedMountGivesNoHandleAndNamesReachTheLibraryInTheThreadsCodePage)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    Cmdll(cs::SetAnswer, 0x2001000A, L"cmdllMountDataSource");
    void* handle = reinterpret_cast<void*>(7);
    EXPECT_EQ(0x2001000Au, pCMDLL->MountDataSource(L"*TELVANE", handle, true));
    EXPECT_EQ(nullptr, handle);
    EXPECT_NE(std::wstring::npos, CmdllCalls().find(L"_cmdllMountDataSource(*TELVANE,1)")) << CmdllCalls();
    Cmdll(cs::ClearAnswer, 0, L"cmdllMountDataSource");

    Cmdll(cs::SetCardImage, 0, File(L"card.img", Bytes(4096, 0xFF)).c_str());
    std::wstring init = File(L"K\u00e4se.init", Record(0x0200, Filled(4, 1)));
    ASSERT_EQ(Success, pCMDLL->MountDataSource(L"*TELVANE", handle, false));
    EXPECT_EQ(Success, pCMDLL->InitCard(init.c_str()));
    EXPECT_NE(std::wstring::npos, CmdllCalls().find(L"cmdllDoInitCard(" + init + L")")) << CmdllCalls();
    pCMDLL->UnmountDataSource(handle);
}

TEST_F(NoExitLastLapTest, IsValidWithTheLastLapGroupAbsent)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    EXPECT_EQ(nullptr, static_cast<CMDLLAccess*>(pCMDLL)->m_pfnInitReadLastLap);
}

TEST_F(NoReadLogFileTest, IsNotValid)
{
    EXPECT_FALSE(CCSMDLL::GetCSMDLL()->isValid());
}

TEST_F(CmrecMissingOneTest, IsNotValid)
{
    ASSERT_TRUE(CCSMDLL::SelectCSMDLL(L"CMRECDLL.DLL"));
    EXPECT_FALSE(CCSMDLL::GetCSMDLL()->isValid());
}

TEST_F(BothReadCard1Test, BindsTheNameWithTheUnderscore)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    Cmdll(cs::ClearCalls);
    pCMDLL->ReadInitCard(L"*TELVANE", (m_folder + L"\\back.init").c_str());
    EXPECT_EQ(0u, CmdllCalls().find(L"_cmdllDoReadCard1(")) << CmdllCalls();
}

TEST_F(PlainNamesTest, BindsTheNamesWithoutUnderscore)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    void* handle = nullptr;
    pCMDLL->MountDataSource(nullptr, handle, false);
    pCMDLL->ReadInitCard(nullptr, nullptr);
    EXPECT_NE(std::wstring::npos, CmdllCalls().find(L"cmdllMountDataSource(null,0)\ncmdllDoReadCard1(null,null)"))
        << CmdllCalls();
}

TEST_F(CardLibraryBindingTest, FormatOverwritesTheCardIn64SectorWritesThroughTheActiveSource)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    CMemoryCard* pCard = ActiveCard(1000 * 512 + 100);
    EXPECT_EQ(Success, pCMDLL->FormatCard());
    ASSERT_EQ(16u, pCard->m_writes.size());
    for (size_t i = 0; i < 16; ++i)
    {
        EXPECT_EQ(i * 64, pCard->m_writes[i].first);
        EXPECT_EQ(i < 15 ? 64u : 40u, pCard->m_writes[i].count);
        EXPECT_EQ(i >= 3, pCard->m_writes[i].pastStart) << i;
    }
    EXPECT_TRUE(std::all_of(pCard->m_bytes.begin(), pCard->m_bytes.begin() + 1000 * 512,
                            [](BYTE b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(pCard->m_bytes.begin() + 1000 * 512, pCard->m_bytes.end(),
                            [](BYTE b) { return b == 0x5A; }));
    DWORD progress = 0;
    bool pastStart = false;
    pCMDLL->AsyncFormatProgress(progress, pastStart, false);
    EXPECT_EQ(100u, progress);
}

TEST_F(CardLibraryBindingTest, FormatOfATinyCardWritesNothingAndOfAnUnknownOrFailingOneFails)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    EXPECT_EQ(FormatFailed, pCMDLL->FormatCard());
    CMemoryCard* pTiny = ActiveCard(511);
    EXPECT_EQ(Success, pCMDLL->FormatCard());
    EXPECT_TRUE(pTiny->m_writes.empty());
    DWORD progress = 0;
    bool pastStart = true;
    pCMDLL->AsyncFormatProgress(progress, pastStart, false);
    EXPECT_EQ(100u, progress);
    EXPECT_FALSE(pastStart);

    // A failed write ends the format and keeps what was written.
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(nullptr, Sectorix::SetActive));
    CMemoryCard* pCard = ActiveCard(1000 * 512);
    pCard->m_failAt = 2;
    EXPECT_EQ(FormatFailed, pCMDLL->FormatCard());
    EXPECT_EQ(3u, pCard->m_writes.size());
    EXPECT_EQ(0xFF, pCard->m_bytes[128 * 512 - 1]);
    EXPECT_EQ(0x5A, pCard->m_bytes[128 * 512]);
}

TEST_F(CardLibraryBindingTest, CancelStopsAnAsynchronousFormatBeforeItsNextWrite)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    CMemoryCard* pCard = ActiveCard(1000 * 512);
    pCard->m_holdAt = 4;
    pCMDLL->AsyncFormatCardBegin();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pCard->m_evHeld, WaitBound));
    DWORD progress = 0;
    bool pastStart = false;
    EXPECT_FALSE(pCMDLL->AsyncFormatProgress(progress, pastStart, true));
    EXPECT_EQ(25u, progress);
    EXPECT_TRUE(pastStart);
    pCard->m_evRelease.SetEvent();
    DWORD start = ::GetTickCount();
    while (!pCMDLL->AsyncFormatProgress(progress, pastStart, false) && ::GetTickCount() - start < WaitBound)
        ::Sleep(1);
    EXPECT_EQ(Success, pCMDLL->AsyncFormatResult());
    EXPECT_EQ(5u, pCard->m_writes.size());
    EXPECT_EQ(100u, progress);
}

// The flat end of the link deletes the watchguard and with it the card
// that the format writes to: it waits for the format, cancelled, first.
TEST_F(CardLibraryBindingTest, EndingTheLinkStopsAnAsynchronousFormatBeforeTheCardGoes)
{
    CCMDLLApi* pCMDLL = SelectCMDLL();
    CMemoryCard* pCard = ActiveCard(1000 * 512);
    pCard->m_holdAt = 4;
    pCMDLL->AsyncFormatCardBegin();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pCard->m_evHeld, WaitBound));
    std::atomic<bool> ended{ false };
    std::thread owner([&ended] {
        deinitTelvaneCommunication();
        ended = true;
    });
    ::Sleep(200);
    EXPECT_FALSE(ended);
    pCard->m_evRelease.SetEvent();
    owner.join();
    m_pWatchguard = nullptr;
    DWORD progress = 0;
    bool pastStart = false;
    EXPECT_TRUE(pCMDLL->AsyncFormatProgress(progress, pastStart, false));
    EXPECT_EQ(Success, pCMDLL->AsyncFormatResult());
}

TEST_F(CardLibraryBindingTest, RecorderInitFileHoldsBothBlocksWithTheirChecksums)
{
    CCMRECDLL* pCMREC = SelectCMREC();
    const Bytes configuration = Filled(86, 3);
    const Bytes extraInfo = { 1, 2, 3, 4, 5 };
    Cmrec(cs::SetConfig, 0, configuration.data());
    Cmrec(cs::SetExtraInfo, extraInfo.size(), extraInfo.data());
    std::wstring path = m_folder + L"\\read.init";
    ASSERT_EQ(Success, pCMREC->ReadInitCard(nullptr, path.c_str()));
    Bytes file = card_files::ReadBytes(path, 0, 1000);
    EXPECT_EQ(Join({ Record(0x100, configuration, CardInit::Checksum(configuration.data(), 86)),
                     Record(0x400, extraInfo, 0x0607) }),
              file);
    EXPECT_TRUE(pCMREC->VerifyCard(path.c_str(), path.c_str()));

    Cmrec(cs::Reset);
    ASSERT_EQ(Success, pCMREC->InitCard(path.c_str()));
    Bytes stored(86);
    Cmrec(cs::GetConfig, 0, stored.data());
    EXPECT_EQ(configuration, stored);
    Bytes storedExtra(16);
    storedExtra.resize(static_cast<size_t>(Cmrec(cs::GetExtraInfo, storedExtra.size(), storedExtra.data())));
    EXPECT_EQ(extraInfo, storedExtra);
}

TEST_F(CardLibraryBindingTest, RecorderInitFileThatCannotBeUsedNeverReachesTheLibrary)
{
    CCMRECDLL* pCMREC = SelectCMREC();
    Bytes good = Join({ Record(0x100, Filled(86, 0)), Record(0x400, Filled(3, 0)) });
    Bytes past = good;
    past[good.size() - 3 - 8 + 4] = 4;
    for (const Bytes& file : { Join({ Record(0x100, Filled(85, 0)), Record(0x400, Filled(3, 0)) }),
                               Record(0x100, Filled(86, 0)), past })
        EXPECT_EQ(UnusableInit, pCMREC->InitCard(File(L"bad.init", file).c_str()));
    EXPECT_EQ(UnusableInit, pCMREC->InitCard((m_folder + L"\\missing.init").c_str()));
    EXPECT_EQ(std::wstring::npos, CmrecCalls().find(L"cmrecInitCard")) << CmrecCalls();
}

TEST_F(CardLibraryBindingTest, RecorderMountAsksTheCardUnlessItIsAboutToBeFormatted)
{
    CCMRECDLL* pCMREC = SelectCMREC();
    void* handle = nullptr;
    EXPECT_EQ(Success, pCMREC->MountDataSource(L"ignored", handle, true));
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(L"", CmrecCalls());
    EXPECT_EQ(Success, pCMREC->MountDataSource(L"ignored", handle, false));
    EXPECT_EQ(reinterpret_cast<void*>(1), handle);
    Cmrec(cs::SetAnswer, 23, L"cmrecReadConfig");
    EXPECT_EQ(Success, pCMREC->MountDataSource(nullptr, handle, false));
    Cmrec(cs::SetAnswer, 4, L"cmrecReadConfig");
    handle = nullptr;
    EXPECT_EQ(FormatFailed, pCMREC->MountDataSource(nullptr, handle, false));
    EXPECT_EQ(nullptr, handle);
}

TEST_F(CardLibraryBindingTest, RecorderFormatReportsItsStepsAndAlwaysEndsTheLibrarysFormat)
{
    CCMRECDLL* pCMREC = SelectCMREC();
    Cmrec(cs::SetFormatStep, 30);
    Cmrec(cs::HoldEntry, 1, L"cmrecDoFormat");
    pCMREC->AsyncFormatCardBegin();
    ASSERT_TRUE(Cmrec(cs::WaitHeld, WaitBound));
    DWORD progress = 0;
    bool pastStart = true;
    EXPECT_FALSE(pCMREC->AsyncFormatProgress(progress, pastStart, false));
    EXPECT_EQ(30u, progress);
    EXPECT_FALSE(pastStart);
    Cmrec(cs::Release);
    EXPECT_EQ(Success, pCMREC->AsyncFormatResult());
    EXPECT_EQ(L"cmrecInitFormat()\ncmrecDoFormat(0,100)\ncmrecDoFormat(30,70)\ncmrecDoFormat(60,40)\n"
              L"cmrecDoFormat(90,10)\ncmrecExitFormat()\n",
              CmrecCalls());

    Cmrec(cs::ClearCalls);
    Cmrec(cs::SetFormatWork, 0);
    EXPECT_EQ(Success, pCMREC->FormatCard());
    pCMREC->AsyncFormatProgress(progress, pastStart, false);
    EXPECT_EQ(100u, progress);
    EXPECT_EQ(L"cmrecInitFormat()\ncmrecExitFormat()\n", CmrecCalls());

    Cmrec(cs::SetAnswer, 5, L"cmrecInitFormat");
    EXPECT_EQ(0x2001000Cu, pCMREC->FormatCard());
}

TEST_F(CardLibraryBindingTest, UnloadStopsARunningFormatBeforeTheLibraryGoes)
{
    CCMRECDLL* pCMREC = SelectCMREC();
    Cmrec(cs::SetFormatStep, 10);
    Cmrec(cs::HoldEntry, 1, L"cmrecDoFormat");
    pCMREC->AsyncFormatCardBegin();
    ASSERT_TRUE(Cmrec(cs::WaitHeld, WaitBound));
    std::thread releaser([this] {
        ::Sleep(100);
        Cmrec(cs::Release);
    });
    CCSMDLL::Unload();
    releaser.join();
    EXPECT_EQ(L"cmrecInitFormat()\ncmrecDoFormat(0,100)\ncmrecDoFormat(10,90)\ncmrecExitFormat()\n", CmrecCalls());
}

// Mutated init files from a fixed seed through real files: the library
// gets exactly the files whose records are intact and hold both blocks.
TEST_F(CardLibraryBindingTest, MutatedRecorderInitFilesReachTheLibraryOnlyWhenUsable)
{
    const int Rounds = 2000;
    CCMRECDLL* pCMREC = SelectCMREC();
    std::mt19937 random(7122026);
    const Bytes base = Join({ Record(0x0001, Filled(4, 1)), Record(0x100, Filled(86, 0x10)),
                              Record(0x0200, Filled(17, 0x40)), Record(0x400, Filled(30, 0x80)) });
    int usable = 0;
    for (int round = 0; round < Rounds; ++round)
    {
        Bytes file = Mutated(base, random);
        CardInit::RecorderInit init;
        bool isUsable = CardInit::FindRecorderInit(file.data(), file.size(), init);
        usable += isUsable;
        Cmrec(cs::ClearCalls);
        DWORD code = pCMREC->InitCard(File(L"fuzz.init", file).c_str());
        ASSERT_EQ(isUsable ? Success : UnusableInit, code) << round;
        ASSERT_EQ(isUsable, CmrecCalls().find(L"cmrecInitCard(") == 0) << round;
        if (isUsable)
        {
            Bytes stored(86);
            Cmrec(cs::GetConfig, 0, stored.data());
            ASSERT_EQ(Bytes(init.configuration, init.configuration + 86), stored) << round;
        }
    }
    std::printf("%d mutated init files through CMREC InitCard: %d usable\n", Rounds, usable);
    EXPECT_GT(usable, Rounds / 20);
}
