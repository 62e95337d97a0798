// Drive sources while the card service runs: which names are scanned and
// watched, and what the service is asked, by the version it speaks.
#include "CardMachineTest.h"
#include "CardServiceProcess.h"

#include "Sectorix/SectorixService.h"

#include <cstdio>
#include <memory>

using namespace card_files;
using namespace testing_helpers;

namespace
{

const UINT NotifyMessage = WM_APP + 41;
const DWORD V1170 = 0x01010700;
const DWORD V1171 = 0x01010701;
const DWORD V11101 = 0x01010A01;

class ServiceDrivesTest : public CardMachineTest
{
protected:
    void ArrangeMachine() override
    {
        m_machine.disks[1] = CardDisk();
        m_machine.volumes[L'E'] = { DRIVE_REMOVABLE, { 1 } };
    }

    void TearDown() override
    {
        if (m_pWatchguard)
        {
            EXPECT_TRUE(m_pWatchguard->EnableDrives(false));
        }
        if (HasFailure())
            std::printf("log book:\n%s", Log().c_str());
        CardMachineTest::TearDown();
        if (m_service)
        {
            EXPECT_TRUE(m_service->Stop());
        }
    }

    // The service serves drive E and physical disks 1 and 3 from the card
    // image, and then the watchguard looks at the drives and tells this
    // thread what it finds.
    void StartServiceAndDrives(DWORD version)
    {
        m_service = std::make_unique<CardServiceProcess>(std::vector<std::wstring>{
            L"--protocol", ServiceVersionText(version), L"--drive", L"E=" + m_image, L"--disk", L"1=" + m_image,
            L"--disk", L"3=" + m_image });
        ASSERT_TRUE(m_service->IsReady());
        m_pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, NotifyMessage);
        ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    }

    void ExpectMediaInserted(CSectorix* pSource)
    {
        MSG msg;
        ASSERT_TRUE(WaitForMessage(NotifyMessage, msg));
        EXPECT_EQ(static_cast<WPARAM>(MediaInserted), msg.wParam);
        EXPECT_EQ(reinterpret_cast<LPARAM>(pSource), msg.lParam);
    }

    std::unique_ptr<CardServiceProcess> m_service;
};

}

TEST_F(ServiceDrivesTest, ServiceBeforePhysicalDrivesGetsTheRemovableLetters)
{
    StartServiceAndDrives(V1170);
    CSectorix* pE = FindDrive('E');
    ASSERT_NE(nullptr, pE);
    EXPECT_TRUE(pE->IsKindOf(RUNTIME_CLASS(CSectorixService)));
    EXPECT_EQ(nullptr, FindDrive(0x81));
    EXPECT_EQ(1, m_machine.Count(L"query E:"));
    EXPECT_EQ(0, m_machine.Count(L"query PhysicalDrive1"));
    ExpectMediaInserted(pE);
    EXPECT_EQ(1u, m_service->ReceivedStartingWith("0e000000" "01" "45").size());
}

// Disks that arrive later are taken after a settling second, as hot-plugged.
TEST_F(ServiceDrivesTest, PhysicalDriveServiceGetsEveryDiskThereIsAndNoLetterAndFollowsDisksComingAndGoing)
{
    StartServiceAndDrives(V1171);
    CSectorix* pDisk = FindDrive(0x81);
    ASSERT_NE(nullptr, pDisk);
    EXPECT_TRUE(pDisk->IsKindOf(RUNTIME_CLASS(CSectorixService)));
    EXPECT_FALSE(pDisk->IsHotPlugged());
    EXPECT_EQ(nullptr, FindDrive('E'));
    EXPECT_EQ(nullptr, FindDrive(0x80));
    EXPECT_EQ(1, m_machine.Count(L"query PhysicalDrive0"));
    EXPECT_EQ(1, m_machine.Count(L"query PhysicalDrive63"));
    EXPECT_EQ(0, m_machine.Count(L"query PhysicalDrive64"));
    EXPECT_EQ(0, m_machine.Count(L"query E:"));
    EXPECT_NE(std::string::npos, Log().find("Sectorix\t\tPhysicalDrive1\r\n"));
    ExpectMediaInserted(pDisk);
    EXPECT_EQ(pDisk, m_pWatchguard->GetSectorix(L"\\\\.\\PhysicalDrive1"));
    EXPECT_EQ(1u, m_service->ReceivedStartingWith("4f000000" "01" "81").size());

    // The card is read through the service, disk-wide.
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pDisk, Sectorix::SetActive));
    unsigned short status = 0;
    ASSERT_TRUE(pDisk->TelvaneGetStatus(&status));
    EXPECT_EQ(Sectorix::STATUS_CONNECTED, status);
    std::vector<BYTE> sectors(16 * 512);
    ASSERT_TRUE(pDisk->ReadSectorsA(sectors.data(), 100, 16));
    EXPECT_EQ(Image(100, 16), sectors);
    EXPECT_TRUE(pDisk->TelvaneEndTransmit());
    EXPECT_TRUE(m_pWatchguard->ActivateSectorix(nullptr, Sectorix::SetActive));

    {
        auto lock = m_machine.Lock();
        m_machine.disks[3] = CardDisk();
    }
    DWORD arrived = ::GetTickCount();
    BroadcastDeviceChange();
    EXPECT_NE(std::string::npos, Log().find("Sectorix\t\tPhysicalDisk added\tPhysicalDrive3\r\n"));
    CSectorix* pAdded = WaitForDrive(0x83);
    ASSERT_NE(nullptr, pAdded);
    EXPECT_GE(::GetTickCount() - arrived, 900u);
    EXPECT_TRUE(pAdded->IsHotPlugged());
    ExpectMediaInserted(pAdded);

    {
        auto lock = m_machine.Lock();
        m_machine.disks.erase(3);
    }
    BroadcastDeviceChange();
    EXPECT_NE(std::string::npos, Log().find("Sectorix\t\tPhysicalDisk removed\tPhysicalDrive3\r\n"));
    DWORD removed = ::GetTickCount();
    while (m_pWatchguard->isValid(pAdded) && ::GetTickCount() - removed < WaitBound)
        ::Sleep(20);
    EXPECT_FALSE(m_pWatchguard->isValid(pAdded));
}

// A letter without a file system is taken away through the service; a
// formatted one keeps its letter. Neither becomes a source of its own.
TEST_F(ServiceDrivesTest, NewLetterWithoutFileSystemLosesItsMountPointThroughTheService)
{
    StartServiceAndDrives(V11101);
    {
        auto lock = m_machine.Lock();
        m_machine.volumes[L'F'] = { DRIVE_REMOVABLE, { 1 } };
        m_machine.volumes[L'F'].fileSystem = L"";
        m_machine.volumes[L'G'] = { DRIVE_REMOVABLE, { 1 } };
    }
    BroadcastDeviceChange();
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("Sectorix\t\tVolume mounted\tMountpoint is F:\r\n"));
    EXPECT_NE(std::string::npos, log.find("Sectorix\t\tVolume mounted\tMountpoint is G:\r\n"));
    EXPECT_NE(std::string::npos, log.find("Sectorix\t\tRemove mount point F:\t\r\n"));
    EXPECT_EQ(std::string::npos, log.find("Remove mount point G:"));
    EXPECT_EQ(std::string::npos, log.find("Volume added"));
    EXPECT_EQ(1u, m_service->ReceivedStartingWith("1a040000" "0a" "00" + Hex(L"F:\\", 6)).size());

    ::Sleep(1500);
    EXPECT_EQ(nullptr, FindDrive('F'));
    EXPECT_EQ(nullptr, FindDrive('G'));
}
