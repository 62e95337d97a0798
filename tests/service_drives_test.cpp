// Drive sources while the card service runs: which names are scanned and
// watched, and what the service is asked, by the version it speaks.
#include "CardMachineTest.h"
#include "CardServiceProcess.h"

#include "Sectorix/SectorixService.h"

#include <dbt.h>

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

    void SetUp() override
    {
        CardMachineTest::SetUp();
        m_pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, NotifyMessage);
    }

    void TearDown() override
    {
        if (HasFailure())
            std::printf("log book:\n%s", Log().c_str());
        CardMachineTest::TearDown();
        if (m_service)
        {
            EXPECT_TRUE(m_service->Stop());
        }
    }

    // The service serves drive E and physical disks 1 and 3 from the card image.
    void StartService(DWORD version)
    {
        m_service = std::make_unique<CardServiceProcess>(std::vector<std::wstring>{
            L"--protocol", ServiceVersionText(version), L"--drive", L"E=" + m_image, L"--disk", L"1=" + m_image,
            L"--disk", L"3=" + m_image });
        ASSERT_TRUE(m_service->IsReady());
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

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}

TEST_F(ServiceDrivesTest, ServiceBeforePhysicalDrivesGetsTheRemovableLetters)
{
    StartService(V1170);
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    CSectorix* pE = FindDrive('E');
    ASSERT_NE(nullptr, pE);
    EXPECT_TRUE(pE->IsKindOf(RUNTIME_CLASS(CSectorixService)));
    EXPECT_EQ(nullptr, FindDrive(0x81));
    EXPECT_EQ(1, m_machine.Count(L"query E:"));
    EXPECT_EQ(0, m_machine.Count(L"query PhysicalDrive1"));
    ExpectMediaInserted(pE);
    EXPECT_EQ(1u, m_service->ReceivedStartingWith("0e000000" "01" "45").size());
    EXPECT_TRUE(m_pWatchguard->EnableDrives(false));
}

TEST_F(ServiceDrivesTest, PhysicalDriveServiceGetsEveryDiskThereIsAndNoLetter)
{
    StartService(V1171);
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
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
    EXPECT_TRUE(Contains(Log(), "Sectorix\t\tPhysicalDrive1\r\n"));
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
    EXPECT_TRUE(m_pWatchguard->EnableDrives(false));
}

TEST_F(ServiceDrivesTest, PhysicalDisksComeAndGoWhileTheServiceServesThem)
{
    StartService(V1171);
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    ExpectMediaInserted(FindDrive(0x81));
    {
        auto lock = m_machine.Lock();
        m_machine.disks[3] = CardDisk();
    }
    DWORD arrived = ::GetTickCount();
    BroadcastDeviceChange();
    EXPECT_TRUE(Contains(Log(), "Sectorix\t\tPhysicalDisk added\tPhysicalDrive3\r\n"));
    CSectorix* pDisk = WaitForDrive(0x83);
    ASSERT_NE(nullptr, pDisk);
    EXPECT_GE(::GetTickCount() - arrived, 900u);
    EXPECT_TRUE(pDisk->IsHotPlugged());
    ExpectMediaInserted(pDisk);

    {
        auto lock = m_machine.Lock();
        m_machine.disks.erase(3);
    }
    BroadcastDeviceChange();
    EXPECT_TRUE(Contains(Log(), "Sectorix\t\tPhysicalDisk removed\tPhysicalDrive3\r\n"));
    DWORD removed = ::GetTickCount();
    while (m_pWatchguard->isValid(pDisk) && ::GetTickCount() - removed < WaitBound)
        ::Sleep(20);
    EXPECT_FALSE(m_pWatchguard->isValid(pDisk));
    EXPECT_TRUE(m_pWatchguard->EnableDrives(false));
}

// A letter without a file system is taken away through the service; a
// formatted one keeps its letter. Neither becomes a source of its own.
TEST_F(ServiceDrivesTest, NewLetterWithoutFileSystemLosesItsMountPointThroughTheService)
{
    StartService(V11101);
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    {
        auto lock = m_machine.Lock();
        m_machine.volumes[L'F'] = { DRIVE_REMOVABLE, { 1 } };
        m_machine.volumes[L'F'].fileSystem = L"";
        m_machine.volumes[L'G'] = { DRIVE_REMOVABLE, { 1 } };
    }
    BroadcastDeviceChange();
    std::string log = Log();
    EXPECT_TRUE(Contains(log, "Sectorix\t\tVolume mounted\tMountpoint is F:\r\n"));
    EXPECT_TRUE(Contains(log, "Sectorix\t\tVolume mounted\tMountpoint is G:\r\n"));
    EXPECT_TRUE(Contains(log, "Sectorix\t\tRemove mount point F:\t\r\n"));
    EXPECT_FALSE(Contains(log, "Remove mount point G:"));
    EXPECT_FALSE(Contains(log, "Volume added"));
    std::string mountPoint = Hex(L"F:\\", 6);
    std::vector<std::string> changes = m_service->ReceivedStartingWith("1a040000" "0a" "00" + mountPoint);
    EXPECT_EQ(1u, changes.size());

    ::Sleep(1500);
    EXPECT_EQ(nullptr, FindDrive('F'));
    EXPECT_EQ(nullptr, FindDrive('G'));
    EXPECT_TRUE(m_pWatchguard->EnableDrives(false));
}
