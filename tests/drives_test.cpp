// Drive sources as the watchguard enables them and as drives come and go.
// Every test here takes the machine-wide drive lock.
#include "CardMachineTest.h"
#include "TestSource.h"

#include "Sectorix/SectorixDrive.h"
#include "api/FlatExports.h"
#include "watchguard/WatchguardMessages.h"

using namespace testing_helpers;

namespace
{

const UINT NotifyMessage = WM_APP + 40;

class DrivesTest : public CardMachineTest
{
protected:
    void ArrangeMachine() override
    {
        m_machine.disks[1] = CardDisk();
        m_machine.disks[2] = CardDisk();
        m_machine.volumes[L'C'] = { DRIVE_FIXED, { 2 } };
    }

    void SetUp() override
    {
        CardMachineTest::SetUp();
        m_pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, NotifyMessage);
    }

    void AddRemovable(wchar_t letter, int disk)
    {
        auto lock = m_machine.Lock();
        m_machine.volumes[letter] = { DRIVE_REMOVABLE, { disk } };
    }

    void ExpectNotified(eWatchguardState state, CSectorix* pSource)
    {
        MSG msg;
        ASSERT_TRUE(WaitForMessage(NotifyMessage, msg));
        EXPECT_EQ(static_cast<WPARAM>(state), msg.wParam);
        EXPECT_EQ(reinterpret_cast<LPARAM>(pSource), msg.lParam);
    }
};

}

TEST_F(DrivesTest, EnablingScansLettersCToZAndMakesSourcesForRemovableDrivesOnly)
{
    AddRemovable(L'A', 1);
    AddRemovable(L'E', 1);
    AddRemovable(L'G', 3);
    m_machine.volumes[L'N'] = { DRIVE_REMOTE, {} };

    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    EXPECT_TRUE(m_pWatchguard->LockStateDrive().isOwned());
    CSectorix* pE = FindDrive('E');
    ASSERT_NE(nullptr, pE);
    EXPECT_NE(nullptr, FindDrive('G'));
    EXPECT_EQ(nullptr, FindDrive('A'));
    EXPECT_EQ(nullptr, FindDrive('C'));
    EXPECT_EQ(nullptr, FindDrive('N'));
    EXPECT_FALSE(pE->IsHotPlugged());
    EXPECT_EQ(0, m_machine.Count(L"query A:") + m_machine.Count(L"query B:"));
    EXPECT_EQ(1, m_machine.Count(L"query Z:"));
    EXPECT_TRUE(Logged("Sectorix\t\tDrive Type E:\tDRIVE_REMOVABLE (2)\r\n"));
    EXPECT_TRUE(Logged("Sectorix\t\tDrive Type N:\tDRIVE_REMOTE (4)\r\n"));
    ExpectNotified(MediaInserted, pE);

    // Enabled twice: the drive keeps its one source, and one disable keeps
    // the lock. Disabling leaves the active drive active but unregistered,
    // and image files, enabled one by one, stay.
    ASSERT_TRUE(m_pWatchguard->EnableImageFile(m_image.c_str()));
    CSectorix* pImage = FindDrive(0);
    ASSERT_NE(nullptr, pImage);
    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pE, Sectorix::SetActive));
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    EXPECT_EQ(pE, FindDrive('E'));
    EXPECT_TRUE(m_pWatchguard->EnableDrives(false));
    EXPECT_FALSE(m_pWatchguard->isValid(pE));
    EXPECT_EQ(pE, m_pWatchguard->GetActiveSectorix());
    EXPECT_TRUE(m_pWatchguard->isValid(pImage));
    EXPECT_EQ(nullptr, FindDrive('G'));
    EXPECT_TRUE(m_pWatchguard->LockStateDrive().isOwned());
    EXPECT_TRUE(m_pWatchguard->EnableDrives(false));
    EXPECT_FALSE(m_pWatchguard->LockStateDrive().isEnabled());
    EXPECT_TRUE(m_pWatchguard->ActivateSectorix(nullptr, Sectorix::SetActive));
}

TEST_F(DrivesTest, DriveThatArrivesGetsASourceASecondLaterAndLosesItHalfASecondAfterItGoes)
{
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    AddRemovable(L'F', 1);
    DWORD arrived = ::GetTickCount();
    BroadcastDeviceChange();
    EXPECT_TRUE(Logged("Sectorix\t\tVolume added\tF:\r\n"));
    CSectorix* pF = WaitForDrive('F');
    ASSERT_NE(nullptr, pF);
    EXPECT_GE(::GetTickCount() - arrived, 900u);
    EXPECT_TRUE(pF->IsHotPlugged());
    ExpectNotified(MediaInserted, pF);

    {
        auto lock = m_machine.Lock();
        m_machine.volumes.erase(L'F');
    }
    DWORD removed = ::GetTickCount();
    BroadcastDeviceChange();
    EXPECT_TRUE(Logged("Sectorix\t\tVolume removed\tF:\r\n"));
    ExpectNotified(MediaRemoved, pF);
    while (m_pWatchguard->isValid(pF) && ::GetTickCount() - removed < WaitBound)
        ::Sleep(20);
    EXPECT_FALSE(m_pWatchguard->isValid(pF));
    EXPECT_GE(::GetTickCount() - removed, 400u);
}

// Thirty ticks of the watch timer are a minute of polling. The card in a
// drive where another program has files open is found, taken out and put
// back, and the program keeps its files all the while.
TEST_F(DrivesTest, AMinuteOfPollingLeavesAVolumeInUseAlone)
{
    AddRemovable(L'E', 1);
    m_machine.volumes[L'E'].otherProgramFiles = 2;
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    CSectorix* pE = FindDrive('E');
    ASSERT_NE(nullptr, pE);
    ExpectNotified(MediaInserted, pE);
    HWND hWnd = WatchguardWindow();
    for (int tick = 0; tick < 30; ++tick)
    {
        if (tick == 10 || tick == 20)
        {
            auto lock = m_machine.Lock();
            m_machine.disks[1].mediaPresent = tick == 20;
        }
        DWORD_PTR result = 0;
        ASSERT_TRUE(::SendMessageTimeoutW(hWnd, WM_TIMER, 1, 0, SMTO_ABORTIFHUNG, WaitBound, &result));
    }
    ExpectNotified(MediaRemoved, pE);
    ExpectNotified(MediaInserted, pE);

    auto lock = m_machine.Lock();
    EXPECT_EQ(2, m_machine.volumes[L'E'].otherProgramFiles);
    EXPECT_EQ(0, m_machine.volumes[L'E'].brokenFiles);
    EXPECT_EQ(0, m_machine.Count(L"dismount E:") + m_machine.Count(L"lock E:") +
                     m_machine.Count(L"lock PhysicalDrive1"));
    EXPECT_LE(31, m_machine.Count(L"open \\\\.\\PhysicalDrive1"));
    EXPECT_EQ(0, m_machine.OpenHandles());
    EXPECT_TRUE(Logged("Sectorix\tOnCmdOpen\tSuccess Drive Type E:\tDRIVE_REMOVABLE (2)\r\n"));
    EXPECT_TRUE(Logged("IOCTL_DISK_GET_DRIVE_LAYOUT (Error = 21)"));
}

// A reader plugged in empty is tested once when it arrives and, being
// hot-plugged, never polled: the card put in later is found through the
// volume's media event, and so is its removal.
TEST_F(DrivesTest, CardPutIntoAReaderThatArrivedEmptyIsReported)
{
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    {
        auto lock = m_machine.Lock();
        m_machine.disks[3] = CardDisk();
        m_machine.disks[3].mediaPresent = false;
    }
    AddRemovable(L'F', 3);
    BroadcastDeviceChange();
    CSectorix* pF = WaitForDrive('F');
    ASSERT_NE(nullptr, pF);

    ChangeMedia(3, true);
    ExpectNotified(MediaInserted, pF);
    ChangeMedia(3, false);
    ExpectNotified(MediaRemoved, pF);
    EXPECT_TRUE(m_pWatchguard->isValid(pF));
}

TEST_F(DrivesTest, NamesThatDidNotChangeBetweenEnumerationsAreNotReported)
{
    BroadcastDeviceChange();
    {
        auto lock = m_machine.Lock();
        SimulatedMachine::Volume drive = m_machine.volumes[L'C'];
        m_machine.volumes.erase(L'C');
        m_machine.volumes[L'C'] = drive;
    }
    BroadcastDeviceChange();
    EXPECT_FALSE(Logged("Volume added") || Logged("Volume removed"));
    std::string log = Log();
    size_t enumerations = 0;
    for (size_t at = log.find("\tEnumeration DosDevices ...\r\n"); at != std::string::npos;
         at = log.find("\tEnumeration DosDevices ...\r\n", at + 1))
        ++enumerations;
    EXPECT_EQ(2u, enumerations);
}

// A listing that fails says nothing about the drives: they stay, and the
// next good listing is compared with the last good one.
TEST_F(DrivesTest, FailedDeviceListingChangesNothing)
{
    AddRemovable(L'E', 1);
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    CSectorix* pE = FindDrive('E');
    ASSERT_NE(nullptr, pE);
    {
        auto lock = m_machine.Lock();
        m_machine.dosListError = ERROR_ACCESS_DENIED;
        m_machine.volumes[L'F'] = { DRIVE_REMOVABLE, { 2 } };
    }
    BroadcastDeviceChange();
    ::Sleep(1500);
    EXPECT_FALSE(Logged("Volume removed") || Logged("Volume added"));
    EXPECT_TRUE(m_pWatchguard->isValid(pE));

    {
        auto lock = m_machine.Lock();
        m_machine.dosListError = 0;
    }
    BroadcastDeviceChange();
    EXPECT_TRUE(Logged("Sectorix\t\tVolume added\tF:\r\n"));
    EXPECT_FALSE(Logged("Volume removed"));
    EXPECT_EQ(pE, FindDrive('E'));
}

// More names than the first buffer holds, and the window asked to look
// again by its own message rather than by a broadcast. Without enabled
// drives an arrival is logged but makes no source.
TEST_F(DrivesTest, LongDeviceListIsReadWholeWhenTheWindowIsAskedToLookAgain)
{
    {
        auto lock = m_machine.Lock();
        for (int i = 0; i < 600; ++i)
            m_machine.otherDosNames.push_back(L"Device" + std::to_wstring(10000 + i));
    }
    HWND hWnd = WatchguardWindow();
    BroadcastDeviceChange();
    EXPECT_FALSE(Logged("Volume added"));

    AddRemovable(L'F', 1);
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(hWnd, Sectorix::WM_ENUM_DOSDEVICES, 0, 0, SMTO_ABORTIFHUNG, WaitBound, &result));
    EXPECT_TRUE(Logged("Sectorix\t\tVolume added\tF:\r\n"));
    EXPECT_FALSE(Logged("Volume removed"));
    ::Sleep(1500);
    EXPECT_EQ(nullptr, FindDrive('F'));
}

TEST_F(DrivesTest, DriveNamesFindTheirSources)
{
    AddRemovable(L'E', 1);
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    CSectorix* pE = FindDrive('E');
    ASSERT_NE(nullptr, pE);
    EXPECT_EQ(pE, m_pWatchguard->GetSectorix(L"e:"));
    const wchar_t* const unknown[] = { L"E:\\", L"F:", L"\\\\.\\PhysicalDriveX", L"", nullptr };
    for (const wchar_t* name : unknown)
        EXPECT_EQ(nullptr, m_pWatchguard->GetSectorix(name));

    // A letter on a single disk that has a source of its own names that source.
    CSectorixDrive* pDisk = CSectorixDrive::Create(m_pWatchguard, 0x81, false);
    ASSERT_NE(nullptr, pDisk);
    Register(m_pWatchguard, pDisk);
    EXPECT_EQ(pDisk, m_pWatchguard->GetSectorix(L"\\\\.\\PhysicalDrive1"));
    EXPECT_EQ(pDisk, m_pWatchguard->GetSectorix(L"E:"));
    {
        auto lock = m_machine.Lock();
        m_machine.volumes[L'E'].disks = { 1, 2 };
    }
    EXPECT_EQ(pE, m_pWatchguard->GetSectorix(L"E:"));
}

TEST_F(DrivesTest, SecondProcessCannotEnableDrivesWhileTheFirstHoldsThem)
{
    ASSERT_TRUE(m_pWatchguard->EnableDrives(true));
    EXPECT_EQ(1, RunLockProbe(L"drives"));
    ASSERT_TRUE(m_pWatchguard->EnableDrives(false));
    EXPECT_EQ(0, RunLockProbe(L"drives"));
}
