// The flat host's sequence on a drive of the simulated machine: the
// library starts its watchguard itself, looks at the drives and waits for
// a card.
#include "CardFiles.h"
#include "FlatTest.h"
#include "SimulatedMachine.h"
#include "TestHelpers.h"

#include "api/FlatExports.h"

using namespace card_files;
using namespace flat_test;
using namespace testing_helpers;

namespace
{

const std::string InsertedE = std::string(Inserted) + "E:";
const ULONGLONG CardBytes = 2048 * 1024;
const UINT Sectors = 64;

class FlatDrivesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = MakeTempFolder(L"flat");
        m_image = m_folder + L"\\card.img";
        ASSERT_TRUE(::CopyFileW(WindowsPath(TEST_CARD_IMAGE).c_str(), m_image.c_str(), FALSE));
        m_machine.disks[1].image = m_image;
        m_machine.disks[1].partitions = { { 0, CardBytes } };
        m_machine.volumes[L'E'] = { DRIVE_REMOVABLE, { 1 } };
        ASSERT_TRUE(SetLogFolder(m_folder.c_str()));
    }

    void TearDown() override
    {
        deinitTelvaneCommunication();
        SetLogFolder(L"");
        RemoveTree(m_folder);
        MSG msg;
        while (::PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
            ;
    }

    // The flat sequence up to its first sector read, which must equal the card.
    void ReadTheCard(const StdoutCapture& out)
    {
        ExpectCardFound(out, InsertedE);
        if (HasFatalFailure())
            return;
        std::vector<BYTE> buffer(Sectors * SECTORIX_SECTOR_SIZE);
        ASSERT_EQ(1, getSectorDataExA(0, Sectors, buffer.data()));
        EXPECT_EQ(ReadBytes(m_image, 0, buffer.size()), buffer);
    }

    // The next notification of the flat wait, left in the queue.
    bool NotificationQueued(WPARAM state)
    {
        DWORD start = ::GetTickCount();
        MSG msg;
        while (!::PeekMessageW(&msg, nullptr, SECTORIX_WM_NOTIFY, SECTORIX_WM_NOTIFY, PM_NOREMOVE))
        {
            if (::GetTickCount() - start > WaitBound)
                return false;
            ::Sleep(20);
        }
        return msg.wParam == state;
    }

    SimulatedMachine m_machine;
    std::wstring m_folder;
    std::wstring m_image;
};

}

TEST_F(FlatDrivesTest, CardAlreadyInTheDriveIsFoundBySequenceAfterSequence)
{
    for (int sequence = 1; sequence <= 2; ++sequence)
    {
        SCOPED_TRACE(sequence);
        StdoutCapture out;
        EXPECT_EQ(1, initTelvaneCommunication());
        EXPECT_EQ(1, startTelvaneCommunication());
        ReadTheCard(out);
        EXPECT_EQ(1, endDataTransmit());
        EXPECT_EQ(1, endTelvaneCommunication());
        EXPECT_EQ(1, deinitTelvaneCommunication());
    }
    EXPECT_EQ(0, m_machine.OpenHandles());
}

// WM_QUIT ends the wait with no card; a card that comes afterwards is still
// announced to the thread. The next sequence starts from nothing and must
// not take that announcement, whose source went with the old watchguard.
TEST_F(FlatDrivesTest, WaitEndedByQuitLeavesALibraryThatStartsAgain)
{
    m_machine.disks[1].mediaPresent = false;
    ::PostQuitMessage(0);
    WORD status = 0;
    StatusResult result = BoundedStatus(&status, WaitBound);
    EXPECT_FALSE(result.terminated);
    EXPECT_EQ(1, result.answer);
    EXPECT_EQ(SECTORIX_STATUS_NOT_CONNECTED, status);
    {
        auto lock = m_machine.Lock();
        m_machine.disks[1].mediaPresent = true;
    }
    ASSERT_TRUE(NotificationQueued(SECTORIX_MEDIA_INSERTED));
    EXPECT_EQ(1, deinitTelvaneCommunication());

    StdoutCapture out;
    ReadTheCard(out);
    EXPECT_EQ(1, endTelvaneCommunication());
    EXPECT_EQ(1, deinitTelvaneCommunication());
}
