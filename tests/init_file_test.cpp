// Card init files: the record walk, VerifyCard's comparison, the CMREC
// configuration and the checksum, on bytes in guarded buffers and in real
// files; the wrapper's selection rules and its format thread.
#include "CardFiles.h"
#include "GuardedBuffer.h"
#include "InitFiles.h"

#include "Sectorix/CMDLLApi.h"
#include "Sectorix/CMRECDLL.h"
#include "afx/Event.h"
#include "cardlib/InitRecords.h"
#include "cardlib/RecorderInit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using namespace init_files;

namespace
{
const DWORD Success = 0x20010000;
const DWORD WaitBound = 5000;

Bytes Configuration()
{
    return Filled(86, 0x10);
}

// A file as a card library writes it: records the comparison skips, the
// two recorder records, and records of other types.
Bytes TypicalInit()
{
    return Join({ Record(0x0001, Filled(4, 1)), Record(0x100, Configuration(), 0x1234),
                  Record(0x0200, Filled(17, 0x40)), Record(0x400, Filled(300, 0x80), 0x4321),
                  Record(0x7FFF, Bytes()), Record(0x0500, Filled(1, 0xEE)) });
}

bool Intact(const Bytes& bytes)
{
    return CardInit::IsIntact(bytes.data(), bytes.size());
}

// A binding without a library whose format runs in steps that the test
// releases one at a time.
class CSteppedBinding : public CCSMDLL
{
public:
    static constexpr DWORD Steps = 4;

    CSteppedBinding()
        : CCSMDLL(L"STEPPED.DLL")
        , m_evStep(FALSE, FALSE)
        , m_evWaiting(FALSE, FALSE)
    {
    }

    DWORD MountDataSource(const wchar_t*, void*&, bool) override { return Success; }
    void UnmountDataSource(void*) override {}
    DWORD InitCard(const wchar_t*) override { return Success; }
    DWORD ReadInitCard(const wchar_t*, const wchar_t*) override { return Success; }

    // Waits until the format asks for its next step.
    bool WaitForStep() { return ::WaitForSingleObject(m_evWaiting, WaitBound) == WAIT_OBJECT_0; }
    void Release() { m_evStep.SetEvent(); }

    DWORD m_dwStepsDone = 0;

protected:
    DWORD AsyncFormatCard() override
    {
        for (m_dwStepsDone = 0; m_dwStepsDone < Steps && !m_bCancel; ++m_dwStepsDone)
        {
            m_dwProgress = m_dwStepsDone * 100 / Steps;
            m_evWaiting.SetEvent();
            if (::WaitForSingleObject(m_evStep, WaitBound) != WAIT_OBJECT_0)
                return 0;
        }
        m_dwProgress = 100;
        return m_bCancel ? 0x2001ABCD : 0x20011234;
    }

private:
    CEvent m_evStep;
    CEvent m_evWaiting;
};

class InitFileTest : public ::testing::Test
{
protected:
    void SetUp() override { m_folder = card_files::MakeTempFolder(L"initfile"); }
    void TearDown() override
    {
        CCSMDLL::Unload();
        card_files::RemoveTree(m_folder);
    }

    std::wstring File(const wchar_t* name, const Bytes& bytes)
    {
        std::wstring path = m_folder + L"\\" + name;
        EXPECT_TRUE(Write(path, bytes));
        return path;
    }

    bool Verify(const Bytes& a, const Bytes& b)
    {
        return m_binding.VerifyCard(File(L"a.init", a).c_str(), File(L"b.init", b).c_str());
    }

    std::wstring m_folder;
    CSteppedBinding m_binding;
};
}

// The checksum takes little-endian words and a last odd byte: 0x0201 +
// 0x0403 + 0x05 for the extra information.
TEST(InitRecordsTest, RecorderInitIsTwoRecordsWithChecksumsThatReadBackUnchanged)
{
    GuardedBuffer odd(5);
    Bytes extra = { 1, 2, 3, 4, 5 };
    std::copy(extra.begin(), extra.end(), odd.data());
    EXPECT_EQ(0x0607, CardInit::Checksum(odd.data(), odd.size()));
    EXPECT_EQ(0x0602, CardInit::Checksum(odd.data(), 4));
    EXPECT_EQ(0, CardInit::Checksum(odd.data(), 0));
    Bytes configuration = Configuration();
    Bytes file = CardInit::MakeRecorderInit(configuration.data(), extra.data(), 5);
    EXPECT_EQ(Join({ Record(0x100, configuration, CardInit::Checksum(configuration.data(), 86)),
                     Record(0x400, extra, 0x0607) }),
              file);
    CardInit::RecorderInit init;
    ASSERT_TRUE(CardInit::FindRecorderInit(file.data(), file.size(), init));
    EXPECT_EQ(configuration, Bytes(init.configuration, init.configuration + 86));
    EXPECT_EQ(extra, Bytes(init.extraInfo, init.extraInfo + init.extraInfoLength));
}

TEST(InitRecordsTest, RecorderInitNeedsBothRecordsAConfigurationOf86BytesAndAnIntactFile)
{
    CardInit::RecorderInit init;
    auto find = [&init](const Bytes& file) { return CardInit::FindRecorderInit(file.data(), file.size(), init); };
    Bytes laterExtra = Join({ TypicalInit(), Record(0x400, Bytes()) });
    ASSERT_TRUE(find(laterExtra));
    EXPECT_EQ(0u, init.extraInfoLength);
    EXPECT_FALSE(find(Join({ Record(0x100, Filled(85, 0)), Record(0x400, Filled(3, 0)) })));
    EXPECT_FALSE(find(Join({ Record(0x100, Configuration()), Record(0x400, Filled(3, 0)), Record(0x100, Filled(87, 0)) })));
    EXPECT_FALSE(find(Record(0x100, Configuration())));
    EXPECT_FALSE(find(Record(0x400, Filled(3, 0))));
    Bytes cut = TypicalInit();
    cut.pop_back();
    EXPECT_FALSE(find(cut));
}

TEST(InitRecordsTest, RecorderErrorsMapToCardLibraryCodesAndUnknownOnesToAFailure)
{
    const std::pair<uint32_t, DWORD> mapped[] = { { 0, Success }, { 23, Success }, { 4, 0x20010006 },
                                                  { 18, 0x20010007 }, { 24, 0x20010005 } };
    for (const auto& error : mapped)
        EXPECT_EQ(error.second, CardInit::MapRecorderError(error.first)) << error.first;
    for (uint32_t error : { 25u, 100u, 0xFFFFFFFFu })
        EXPECT_NE(Success, CardInit::MapRecorderError(error)) << error;
}

TEST_F(InitFileTest, SkippedTypesOnlyVerifyAgainstAnyReadableFileButNotAMissingOne)
{
    Bytes skipped = Join({ Record(0x0000, Filled(3, 0)), Record(0x0001, Bytes()), Record(0x0600, Filled(8, 0)),
                           Record(0x0700, Filled(2, 0)), Record(0x0F00, Filled(1, 0)), Record(0x7FFF, Bytes()),
                           Record(0xFFFF, Filled(9, 0)) });
    EXPECT_TRUE(Verify(skipped, Bytes()));
    EXPECT_TRUE(Verify(skipped, TypicalInit()));
    EXPECT_FALSE(m_binding.VerifyCard(File(L"a.init", skipped).c_str(), (m_folder + L"\\missing").c_str()));
    EXPECT_FALSE(m_binding.VerifyCard((m_folder + L"\\missing").c_str(), File(L"b.init", skipped).c_str()));
}

TEST_F(InitFileTest, ComparesWithTheFirstRecordOfTheTypeHeaderIncludedAndOneWayOnly)
{
    Bytes record = Record(0x0200, Filled(17, 0x40));
    EXPECT_TRUE(Verify(record, TypicalInit()));
    EXPECT_FALSE(Verify(record, Join({ Record(0x0200, Filled(17, 0x41)), record })));
    EXPECT_FALSE(Verify(record, Record(0x0200, Filled(17, 0x40), 1)));
    EXPECT_FALSE(Verify(record, Record(0x0200, Filled(16, 0x40))));
    EXPECT_FALSE(Verify(record, Record(0x0201, Filled(17, 0x40))));

    // More records in B than in A hold one way only.
    Bytes fewer = Join({ Record(0x100, Configuration()), Record(0x400, Filled(3, 0)) });
    Bytes more = Join({ fewer, Record(0x0500, Filled(2, 0)) });
    EXPECT_TRUE(Verify(fewer, more));
    EXPECT_FALSE(Verify(more, fewer));
}

TEST_F(InitFileTest, ARecordRunningPastTheEndOfEitherFileFailsWithoutReadingBeyondIt)
{
    Bytes good = TypicalInit();
    Bytes longer = Join({ good, Record(0x0300, Filled(10, 0)) });
    longer.resize(longer.size() - 1);
    Bytes partialHeader = Join({ good, Bytes(7, 0) });
    for (const Bytes& broken : { longer, partialHeader })
    {
        EXPECT_FALSE(Intact(broken));
        EXPECT_FALSE(Verify(broken, good));
        EXPECT_FALSE(Verify(good, broken));
        EXPECT_FALSE(Verify(broken, broken));
    }
    Bytes huge = Record(0x0200, Filled(4, 0));
    huge[7] = 0xFF;
    GuardedBuffer guarded(huge.size());
    std::copy(huge.begin(), huge.end(), guarded.data());
    EXPECT_FALSE(CardInit::RecordsFoundIn(guarded.data(), guarded.size(), guarded.data(), guarded.size()));
}

TEST_F(InitFileTest, ProgressAndCancelReachTheFormatThread)
{
    m_binding.AsyncFormatCardBegin();
    DWORD progress = 99;
    bool pastStart = true;
    ASSERT_TRUE(m_binding.WaitForStep());
    m_binding.Release();
    ASSERT_TRUE(m_binding.WaitForStep());
    EXPECT_FALSE(m_binding.AsyncFormatProgress(progress, pastStart, false));
    EXPECT_EQ(25u, progress);
    EXPECT_FALSE(pastStart);
    EXPECT_FALSE(m_binding.AsyncFormatProgress(progress, pastStart, true));
    m_binding.Release();
    EXPECT_EQ(0x2001ABCDu, m_binding.AsyncFormatResult());
    EXPECT_EQ(2u, m_binding.m_dwStepsDone);
    EXPECT_TRUE(m_binding.AsyncFormatProgress(progress, pastStart, false));
    EXPECT_EQ(100u, progress);
}

// A second begin leaves the running format alone, and its result asked
// early waits for that format to end.
TEST_F(InitFileTest, ABeginWhileAFormatRunsLeavesThatFormatAlone)
{
    m_binding.AsyncFormatCardBegin();
    ASSERT_TRUE(m_binding.WaitForStep());
    m_binding.Release();
    ASSERT_TRUE(m_binding.WaitForStep());
    m_binding.AsyncFormatCardBegin();
    DWORD progress = 0;
    bool pastStart = false;
    EXPECT_FALSE(m_binding.AsyncFormatProgress(progress, pastStart, false));
    EXPECT_EQ(25u, progress);
    std::thread stepper([this] {
        m_binding.Release();
        for (DWORD step = 2; step < CSteppedBinding::Steps && m_binding.WaitForStep(); ++step)
            m_binding.Release();
    });
    EXPECT_EQ(0x20011234u, m_binding.AsyncFormatResult());
    EXPECT_EQ(CSteppedBinding::Steps, m_binding.m_dwStepsDone);
    stepper.join();
}

TEST_F(InitFileTest, SelectionTakesOnlyTheTwoWholeNamesAndKeepsTheFirstChoice)
{
    EXPECT_FALSE(CCSMDLL::SelectCSMDLL(L"C:\\cards\\CMDLL.DLL"));
    EXPECT_FALSE(CCSMDLL::SelectCSMDLL(L"OTHER.DLL"));
    EXPECT_TRUE(CCSMDLL::SelectCSMDLL(L"cmrecdll.dll"));
    EXPECT_FALSE(CCSMDLL::SelectCSMDLL(L"CMRECDLL.DLL"));
    EXPECT_FALSE(CCSMDLL::SelectCSMDLL(nullptr));
    EXPECT_TRUE(CCSMDLL::SelectCSMDLL(L"cmrecdll.dll"));
    CCSMDLL* pSelected = CCSMDLL::GetCSMDLL();
    ASSERT_NE(nullptr, pSelected);
    EXPECT_TRUE(pSelected->IsKindOf(RUNTIME_CLASS(CCMRECDLL)));
    EXPECT_STREQ(L"cmrecdll.dll", pSelected->GetPath());
    CCSMDLL::Unload();
    EXPECT_TRUE(CCSMDLL::SelectCSMDLL(nullptr));
    EXPECT_TRUE(CCSMDLL::GetCSMDLL()->IsKindOf(RUNTIME_CLASS(CCMDLLApi)));
    EXPECT_STREQ(L"CMDLL.DLL", CCSMDLL::GetCSMDLL()->GetPath());
}

// Mutated init files, from a fixed seed: types, lengths, truncations,
// checksums and stray bytes. Each lies at the end of a guarded buffer, so
// a read past it faults; every tenth also goes through real files.
TEST_F(InitFileTest, MutatedInitFilesNeverReadOutsideTheirBytes)
{
    const int Rounds = 20000;
    const int FileEvery = 10;
    std::mt19937 random(20261207);
    const Bytes base = TypicalInit();
    int intact = 0;
    int usable = 0;
    int verified = 0;
    for (int round = 0; round < Rounds; ++round)
    {
        Bytes file = Mutated(base, random);
        GuardedBuffer guarded(file.size());
        std::copy(file.begin(), file.end(), guarded.data());
        const uint8_t* data = guarded.data();
        bool isIntact = CardInit::IsIntact(data, file.size());
        intact += isIntact;
        if (!isIntact)
        {
            ASSERT_FALSE(CardInit::RecordsFoundIn(data, file.size(), data, file.size())) << round;
        }
        CardInit::RecorderInit init;
        if (CardInit::FindRecorderInit(data, file.size(), init))
        {
            ++usable;
            ASSERT_TRUE(isIntact);
            ASSERT_GE(init.configuration, data);
            ASSERT_LE(init.configuration + 86, data + file.size());
            ASSERT_LE(init.extraInfo + init.extraInfoLength, data + file.size());
        }
        bool found = CardInit::RecordsFoundIn(data, file.size(), base.data(), base.size());
        verified += found;
        if (round % FileEvery == 0)
        {
            ASSERT_EQ(found, Verify(file, base)) << round;
        }
    }
    std::printf("%d mutated init files (%d through files): %d intact, %d usable by CMREC, %d verified\n", Rounds,
                Rounds / FileEvery, intact, usable, verified);
    EXPECT_GT(intact, Rounds / 10);
    EXPECT_LT(intact, Rounds);
}
