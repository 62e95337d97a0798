#include "CardMachineTest.h"
#include "TestSource.h"

#include "Sectorix/SectorixDrive.h"
#include "api/FlatExports.h"
#include "sources/SectorixImageFile.h"
#include "sources/SectorixWin2000.h"
#include "sources/SectorixWin98.h"

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace card_files;
using namespace testing_helpers;

namespace
{

const UINT LogMessage = WM_APP + 30;

using HostMessages = std::vector<std::pair<std::wstring, DWORD>>;

HostMessages TakeHostMessages()
{
    return card_files::TakeHostMessages(LogMessage);
}

// A file of the given size whose first bytes are the ones given.
void MakeFile(const std::wstring& path, const std::vector<BYTE>& bytes, LONGLONG size)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    ::SetFilePointerEx(hFile, end, nullptr, FILE_BEGIN);
    ::SetEndOfFile(hFile);
    ::CloseHandle(hFile);
}

class DriveSourceTest : public CardMachineTest
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
        // The test polls the sources itself; the watch timer must not.
        m_pWatchguard->Enable(false);
        m_pWatchguard->EnableLogMessages(::GetCurrentThreadId(), nullptr, LogMessage);
        m_pWatchguard->EnableNotificationMessages(0, m_notifications.Callback());
    }

    CSectorixDrive* AddDrive(unsigned char volume)
    {
        CSectorixDrive* pSource = CSectorixDrive::Create(m_pWatchguard, volume, false);
        Register(m_pWatchguard, pSource);
        return pSource;
    }

    // Notifications posted so far, made visible by one more for a marker source.
    std::vector<Notification> Notifications()
    {
        CTestSource* pMarker = new CTestSource(m_pWatchguard, 0xFFFF);
        Register(m_pWatchguard, pMarker);
        m_pWatchguard->SendNotification(MediaRemoved, pMarker);
        std::vector<Notification> seen = m_notifications.Snapshot();
        for (DWORD start = ::GetTickCount();
             (seen.empty() || seen.back().source != pMarker) && ::GetTickCount() - start < WaitBound;
             seen = m_notifications.Snapshot())
            ::Sleep(10);
        m_pWatchguard->Remove(pMarker, true);
        EXPECT_FALSE(seen.empty());
        if (!seen.empty())
            seen.pop_back();
        m_notifications.Clear();
        return seen;
    }

    void UseVirtualDevice(DWORD describeError)
    {
        m_machine.windowsXPOrLater = false;
        m_machine.vxdPresent = true;
        m_machine.vxdDrives[L'E'] = { m_image, { 4, 2, 512 }, describeError };
    }

    NotificationLog m_notifications;
};

}

TEST_F(DriveSourceTest, MediaChangesAreNotifiedOncePerChange)
{
    CSectorixDrive* pDrive = AddDrive('E');
    EXPECT_TRUE(pDrive->isFor('e'));
    EXPECT_FALSE(pDrive->isFor('F'));
    EXPECT_EQ(L"Media removed: E:", pDrive->GetMediaText(1));

    EXPECT_FALSE(pDrive->TestMedia(false));
    EXPECT_FALSE(pDrive->TestMedia(false));
    EXPECT_EQ(L"Medium eingelegt: E:", pDrive->GetMediaText(0));
    EXPECT_EQ(0, m_machine.OpenHandles());
    {
        auto lock = m_machine.Lock();
        m_machine.disks[1].mediaPresent = false;
    }
    pDrive->TestMedia(false);
    pDrive->TestMedia(true);

    std::vector<Notification> seen = Notifications();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(MediaInserted, seen[0].state);
    EXPECT_EQ(MediaRemoved, seen[1].state);
    EXPECT_EQ(pDrive, seen[1].source);
    EXPECT_TRUE(TakeHostMessages().empty());

    CSectorixDrive* pDisk = AddDrive(0x82);
    EXPECT_FALSE(pDisk->isFor(0x81));
    EXPECT_EQ(L"Medium entfernt: PhysicalDrive2", pDisk->GetMediaText(0));
}

TEST_F(DriveSourceTest, TelemetryStatusHoldsTheCardOpenUntilTheTransferEnds)
{
    CSectorixDrive* pDrive = AddDrive('E');
    unsigned short status = 0;
    EXPECT_FALSE(pDrive->TelvaneGetStatus(&status));
    pDrive->TestMedia(false);
    m_pWatchguard->Enable(true);

    ASSERT_TRUE(pDrive->TelvaneGetStatus(&status));
    EXPECT_EQ(Sectorix::STATUS_CONNECTED, status);
    EXPECT_FALSE(m_pWatchguard->IsEnabled());
    ASSERT_TRUE(pDrive->TelvaneGetStatus(&status));
    EXPECT_EQ(2, m_machine.Count(L"open \\\\.\\PhysicalDrive1"));
    EXPECT_EQ(2, m_machine.OpenHandles());

    SectorBuffer buffer(3);
    DWORD sectors[] = { 10, 3, 10 };
    EXPECT_TRUE(pDrive->ReadSectorsB(buffer.data(), 3, sectors));
    EXPECT_EQ(Image(10, 1), buffer.Bytes(0, 512));
    EXPECT_EQ(Image(3, 1), buffer.Bytes(512, 512));
    EXPECT_EQ(Image(10, 1), buffer.Bytes(1024, 512));
    EXPECT_TRUE(pDrive->ReadSectorsB(nullptr, 0, nullptr));
    EXPECT_EQ(CardBytes, pDrive->GetCardSize());

    EXPECT_TRUE(pDrive->TelvaneEndTransmit());
    EXPECT_EQ(0, m_machine.OpenHandles());
    ASSERT_TRUE(pDrive->TelvaneGetStatus(&status));
    EXPECT_EQ(3, m_machine.Count(L"open \\\\.\\PhysicalDrive1"));
    pDrive->TelvaneEndTransmit();

    {
        auto lock = m_machine.Lock();
        m_machine.disks[1].openFails = true;
    }
    m_pWatchguard->Enable(true);
    ASSERT_TRUE(pDrive->TelvaneGetStatus(&status));
    EXPECT_EQ(Sectorix::STATUS_CARD_NOT_OPENED, status);
    EXPECT_TRUE(m_pWatchguard->IsEnabled());

    // Giving up the card gives watching back, but only what the transfer took.
    {
        auto lock = m_machine.Lock();
        m_machine.disks[1].openFails = false;
    }
    ASSERT_TRUE(pDrive->TelvaneGetStatus(&status));
    pDrive->TelvaneEndTransmit();
    ASSERT_TRUE(pDrive->TelvaneGetStatus(&status));
    pDrive->TelvaneEndTransmit();
    EXPECT_TRUE(pDrive->Deactivate());
    EXPECT_TRUE(m_pWatchguard->IsEnabled());
    m_pWatchguard->Enable(false);
    ASSERT_TRUE(pDrive->TelvaneGetStatus(&status));
    pDrive->TelvaneEndTransmit();
    pDrive->Deactivate();
    EXPECT_FALSE(m_pWatchguard->IsEnabled());
}

// The volume is locked before it is dismounted and stays locked while the
// card is open; a test for media meanwhile finds the open card. A volume
// that will not dismount is only logged: the open goes on.
TEST_F(DriveSourceTest, OpeningLocksDismountsAndMeasuresTheCard)
{
    CSectorixDrive* pDrive = AddDrive('E');
    m_machine.disks[1].partitions = { { 512, 1000 * 512 }, { 1000 * 512, 2000 * 512 } };
    m_machine.disks[1].geometrySectors = 2500;
    ASSERT_TRUE(pDrive->OpenCard());
    EXPECT_EQ(3000u * 512, pDrive->GetCardSize());
    const std::vector<std::wstring> taking = { L"lock E:", L"dismount E:", L"open \\\\.\\PhysicalDrive1" };
    EXPECT_TRUE(std::search(m_machine.calls.begin(), m_machine.calls.end(), taking.begin(), taking.end()) !=
                m_machine.calls.end());
    EXPECT_EQ(1, m_machine.Count(L"lock PhysicalDrive1"));
    EXPECT_TRUE(m_machine.IsLocked(L'E'));
    EXPECT_EQ(2, m_machine.OpenHandles());
    pDrive->TestMedia(false);
    EXPECT_TRUE(pDrive->isOpened());
    EXPECT_EQ(1, m_machine.Count(L"open \\\\.\\PhysicalDrive1"));
    EXPECT_TRUE(pDrive->CloseCard());
    EXPECT_FALSE(pDrive->CloseCard());
    EXPECT_FALSE(m_machine.IsLocked(L'E'));
    EXPECT_EQ(1, m_machine.Count(L"unlock PhysicalDrive1"));
    EXPECT_EQ(0, m_machine.OpenHandles());
    EXPECT_EQ(1u, Notifications().size());

    m_machine.disks[1].geometrySectors = 3500;
    m_machine.volumes[L'E'].dismountFails = true;
    ASSERT_TRUE(pDrive->OpenCard());
    EXPECT_EQ(3500u * 512, pDrive->GetCardSize());
    pDrive->CloseCard();
    EXPECT_TRUE(Logged("Sectorix\tOnCmdOpen\tSuccess Drive Type E:\tDRIVE_REMOVABLE (2)\r\n"));
    EXPECT_TRUE(Logged("Cannot dismouse volume \\\\.\\E: (Error 87)"));
    EXPECT_TRUE(TakeHostMessages().empty());
}

// A host opens the card while the watchguard's media test is asking the
// volume: the open waits for the test instead of sharing its handles, whose
// mere presence would also keep the volume from being locked.
TEST_F(DriveSourceTest, AnOpenWaitsForAMediaTestUnderWay)
{
    // How long the media test waits, asking, for the host's open to end.
    const DWORD AskingHeld = 500;
    CSectorixDrive* pDrive = AddDrive('E');
    HANDLE hAsking = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hOpened = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> testThread(0);
    m_machine.beforeControl = [&](DWORD code) {
        if (code == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS && ::GetCurrentThreadId() == testThread)
        {
            ::SetEvent(hAsking);
            ::WaitForSingleObject(hOpened, AskingHeld);
        }
    };
    std::thread mediaTest([&] {
        testThread = ::GetCurrentThreadId();
        pDrive->TestMedia(false);
    });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hAsking, WaitBound));
    bool opened = pDrive->OpenCard();
    ::SetEvent(hOpened);
    mediaTest.join();
    m_machine.beforeControl = nullptr;
    ::CloseHandle(hAsking);
    ::CloseHandle(hOpened);

    EXPECT_TRUE(opened);
    BYTE sector[512];
    EXPECT_TRUE(pDrive->ReadSectorsA(sector, 0, 1));
    EXPECT_TRUE(pDrive->CloseCard());
    EXPECT_EQ(0, m_machine.OpenHandles());
}

TEST_F(DriveSourceTest, RefusedOpensAreLoggedAndToldToTheHostWhenThereIsSomethingToTell)
{
    struct Case
    {
        const char* what;
        void (*arrange)(SimulatedMachine&);
        HostMessages host;
        const char* logLine;
    };
    const Case cases[] = {
        { "volume on two disks", [](SimulatedMachine& m) { m.volumes[L'E'].disks = { 1, 2 }; },
          { { L"Volume \\\\.\\E: doens't have single extent (extents: 2)", 0 } },
          "Failed Drive Type E:\tDRIVE_REMOVABLE (2)" },
        { "empty card reader", [](SimulatedMachine& m) { m.disks[1].mediaPresent = false; }, {},
          "PhysicalDrive \\\\.\\PhysicalDrive1 IOCTL_DISK_GET_DRIVE_LAYOUT (Error = 21)" },
        { "network drive", [](SimulatedMachine& m) { m.volumes[L'E'].driveType = DRIVE_REMOTE; }, {},
          "Failed Drive Type E:\tDRIVE_REMOTE (4)" },
        { "disk that cannot be opened", [](SimulatedMachine& m) { m.disks[1].openFails = true; },
          { { L"Cannot open physical drive \\\\.\\PhysicalDrive1 of volume \\\\.\\E: (Error 5)", ERROR_ACCESS_DENIED } },
          "Failed Drive Type E:\tDRIVE_REMOVABLE (2)" },
        { "disk without partitions", [](SimulatedMachine& m) { m.disks[1].partitions.clear(); }, {},
          "Failed Drive Type E:\tDRIVE_REMOVABLE (2)" },
    };
    SimulatedMachine::Disk healthyDisk = m_machine.disks[1];
    SimulatedMachine::Volume healthyVolume = m_machine.volumes[L'E'];
    m_machine.disks[2] = healthyDisk;
    CSectorixDrive* pDrive = AddDrive('E');
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        m_machine.disks[1] = healthyDisk;
        m_machine.volumes[L'E'] = healthyVolume;
        c.arrange(m_machine);
        EXPECT_FALSE(pDrive->OpenCard());
        EXPECT_FALSE(pDrive->isOpened());
        EXPECT_EQ(0, m_machine.OpenHandles());
        EXPECT_EQ(c.host, TakeHostMessages());
        EXPECT_TRUE(Logged(c.logLine));
    }
}

// Another program's open files keep the volume from being locked: the
// open gives up after the lock's retries, says why, and leaves the volume
// mounted. Looking for the card disturbs nothing.
TEST_F(DriveSourceTest, VolumeInUseIsNeitherLockedNorDismounted)
{
    m_machine.volumes[L'E'].otherProgramFiles = 1;
    CSectorixDrive* pDrive = AddDrive('E');
    pDrive->TestMedia(false);
    ASSERT_EQ(1u, Notifications().size());

    unsigned short status = 0;
    ASSERT_TRUE(pDrive->TelvaneGetStatus(&status));
    m_pWatchguard->Enable(false);
    EXPECT_EQ(Sectorix::STATUS_CARD_NOT_OPENED, status);
    EXPECT_EQ(10, m_machine.Count(L"lock E:"));
    EXPECT_EQ(0, m_machine.Count(L"dismount E:"));
    EXPECT_EQ(1, m_machine.volumes[L'E'].otherProgramFiles);
    EXPECT_EQ(0, m_machine.volumes[L'E'].brokenFiles);
    EXPECT_EQ(0, m_machine.OpenHandles());
    const wchar_t inUse[] = L"Volume \\\\.\\E: is in use by another program and cannot be locked (Error 5)";
    EXPECT_EQ((HostMessages{ { inUse, ERROR_ACCESS_DENIED } }), TakeHostMessages());
    EXPECT_TRUE(Logged("Sectorix\tOnCmdOpen\tVolume \\\\.\\E: is in use by another program"));
}

TEST_F(DriveSourceTest, LockIsTriedTenTimesBeforeTheOpenFails)
{
    m_machine.disks[1].lockFailures = 3;
    CSectorixDrive* pDrive = AddDrive('E');
    EXPECT_TRUE(pDrive->OpenCard());
    EXPECT_EQ(4, m_machine.Count(L"lock PhysicalDrive1"));
    pDrive->CloseCard();

    m_machine.disks[1].lockFailures = 100;
    DWORD start = ::GetTickCount();
    EXPECT_FALSE(pDrive->OpenCard());
    EXPECT_GE(::GetTickCount() - start, 850u);
    EXPECT_EQ(14, m_machine.Count(L"lock PhysicalDrive1"));
    EXPECT_EQ(0, m_machine.OpenHandles());
}

TEST_F(DriveSourceTest, ReadsAndWritesStayOnTheCard)
{
    CSectorixDrive* pDrive = AddDrive('E');
    ASSERT_TRUE(pDrive->OpenCard());
    SectorBuffer buffer(64);
    ASSERT_TRUE(pDrive->ReadSectorsA(buffer.data(), 100, 64));
    EXPECT_EQ(Image(100, 64), buffer.Bytes(0, 64 * 512));
    EXPECT_EQ(THREAD_PRIORITY_LOWEST, ::GetThreadPriority(::GetCurrentThread()));

    SectorBuffer tail(8);
    EXPECT_FALSE(pDrive->ReadSectorsA(tail.data(), CardSectors - 3, 8));
    EXPECT_EQ(Image(CardSectors - 3, 3), tail.Bytes(0, 3 * 512));
    EXPECT_EQ(std::vector<BYTE>(5 * 512, 0xAA), tail.Bytes(3 * 512, 5 * 512));
    SectorBuffer past(1);
    EXPECT_FALSE(pDrive->ReadSectorsA(past.data(), CardSectors, 1));
    EXPECT_EQ(std::vector<BYTE>(512, 0xAA), past.Bytes(0, 512));
    EXPECT_EQ((HostMessages{ { L"Volume E: ReadSectorsA read size reduced!", 0 },
                             { L"Volume E: ReadSectorsA SetFilePointer behind media size!", 0 } }),
              TakeHostMessages());

    SectorBuffer pattern(2, 0x5A);
    EXPECT_TRUE(pDrive->WriteSectors(pattern.data(), 200, 2));
    EXPECT_EQ(pattern.Bytes(0, 1024), Image(200, 2));
    EXPECT_FALSE(pDrive->WriteSectors(pattern.data(), CardSectors - 1, 2));
    EXPECT_EQ(CardBytes, ReadBytes(m_image, 0, CardBytes + 4096).size());

    pDrive->CloseCard();
    EXPECT_FALSE(pDrive->ReadSectorsA(buffer.data(), 0, 1));

    // A device that ends before the card its partition claims.
    m_machine.disks[1].partitions = { { 0, CardBytes + 4 * 512 } };
    ASSERT_TRUE(pDrive->OpenCard());
    TakeHostMessages();
    EXPECT_FALSE(pDrive->ReadSectorsA(buffer.data(), CardSectors - 2, 4));
    EXPECT_EQ(Image(CardSectors - 2, 2), buffer.Bytes(0, 2 * 512));
    EXPECT_EQ((HostMessages{ { L"Volume E: Read error, 1024 of 2048 bytes read (38) !", ERROR_HANDLE_EOF } }),
              TakeHostMessages());
    pDrive->CloseCard();
}

// Failures of the virtual device are told to the host; a drive of the wrong
// type is refused before the device is asked.
TEST_F(DriveSourceTest, OlderSystemsMoveSectorsThroughTheVirtualDevice)
{
    m_machine.windowsXPOrLater = false;
    CSectorixDrive* pDrive = AddDrive('E');
    ASSERT_TRUE(pDrive->IsKindOf(RUNTIME_CLASS(CSectorixWin98)));
    EXPECT_FALSE(pDrive->OpenCard());
    EXPECT_EQ((HostMessages{ { L"Volume E: CreateFile Error = 00000002", ERROR_FILE_NOT_FOUND } }),
              TakeHostMessages());

    UseVirtualDevice(ERROR_NOT_READY);
    EXPECT_FALSE(pDrive->OpenCard());
    EXPECT_FALSE(pDrive->isOpened());
    HostMessages messages = TakeHostMessages();
    ASSERT_EQ(1u, messages.size());
    const std::wstring& text = messages[0].first;
    EXPECT_GT(text.size(), 4u);
    EXPECT_EQ(L"(21)", text.substr(text.size() - 4));
    EXPECT_EQ(std::wstring::npos, text.find_first_of(L"\r\n"));

    UseVirtualDevice(0);
    ASSERT_TRUE(pDrive->OpenCard());
    EXPECT_EQ(CardBytes, pDrive->GetCardSize());
    SectorBuffer buffer(8);
    ASSERT_TRUE(pDrive->ReadSectorsA(buffer.data(), 7, 8));
    EXPECT_EQ(Image(7, 8), buffer.Bytes(0, 8 * 512));
    EXPECT_EQ(1, m_machine.Count(L"vxd read 7+8"));
    EXPECT_FALSE(pDrive->ReadSectorsA(buffer.data(), CardSectors - 2, 8));
    EXPECT_EQ(1, m_machine.Count(L"vxd read 4094+2"));
    SectorBuffer pattern(1, 0x3C);
    EXPECT_TRUE(pDrive->WriteSectors(pattern.data(), 9, 1));
    EXPECT_EQ(pattern.Bytes(0, 512), Image(9, 1));
    EXPECT_TRUE(pDrive->CloseCard());
    EXPECT_FALSE(pDrive->ReadSectorsA(buffer.data(), 0, 1));

    m_machine.volumes[L'E'].driveType = DRIVE_REMOTE;
    EXPECT_FALSE(pDrive->OpenCard());
    EXPECT_TRUE(TakeHostMessages().empty());
}

TEST_F(DriveSourceTest, ImageFileIsReadLikeACardForOneActivation)
{
    ASSERT_TRUE(m_pWatchguard->EnableImageFile(m_image.c_str()));
    std::vector<Notification> seen = Notifications();
    ASSERT_EQ(1u, seen.size());
    CSectorix* pImage = seen[0].source;
    EXPECT_EQ(MediaInserted, seen[0].state);
    EXPECT_EQ(TypeImageFile, pImage->GetSectorixType());
    EXPECT_EQ(L"Reading '" + m_image + L"'", std::wstring(pImage->GetMediaText(1)));
    EXPECT_EQ(pImage, m_pWatchguard->Find(RUNTIME_CLASS(CSectorixWin2000), 0));

    ASSERT_TRUE(m_pWatchguard->ActivateSectorix(pImage, Sectorix::SetActive));
    unsigned short status = 0;
    ASSERT_TRUE(pImage->TelvaneGetStatus(&status));
    EXPECT_EQ(Sectorix::STATUS_CONNECTED, status);
    EXPECT_EQ(CardBytes, pImage->GetCardSize());
    SectorBuffer buffer(64);
    ASSERT_TRUE(pImage->ReadSectorsA(buffer.data(), CardSectors - 64, 64));
    EXPECT_EQ(Image(CardSectors - 64, 64), buffer.Bytes(0, 64 * 512));
    pImage->TelvaneEndTransmit();

    EXPECT_FALSE(pImage->TestMedia(false));
    EXPECT_TRUE(Notifications().empty());
    EXPECT_TRUE(m_pWatchguard->ActivateSectorix(nullptr, Sectorix::SetActive));
    EXPECT_FALSE(m_pWatchguard->isValid(pImage));
}

TEST_F(DriveSourceTest, OnlyUsableFilesBecomeCards)
{
    EXPECT_FALSE(m_pWatchguard->EnableImageFile(nullptr));
    EXPECT_TRUE(m_pWatchguard->EnableImageFile((m_folder + L"\\missing.img").c_str()));
    EXPECT_TRUE(m_pWatchguard->EnableImageFile(m_folder.c_str()));
    EXPECT_TRUE(m_pWatchguard->EnableImageFile(L"NUL"));
    // Wine keeps the temporary mark only where the file system can hold it.
    std::wstring temporary = m_folder + L"\\temporary.img";
    ASSERT_TRUE(::CopyFileW(m_image.c_str(), temporary.c_str(), FALSE));
    ::SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_TEMPORARY);
    if (::GetFileAttributesW(temporary.c_str()) & FILE_ATTRIBUTE_TEMPORARY)
    {
        EXPECT_TRUE(m_pWatchguard->EnableImageFile(temporary.c_str()));
    }
    for (const Notification& n : Notifications())
        ADD_FAILURE() << "a card from " << Utf8(std::wstring(n.source->GetMediaText(1)));

    EXPECT_TRUE(m_pWatchguard->EnableImageFile(m_image.c_str()));
    EXPECT_TRUE(m_pWatchguard->EnableImageFile(m_image.c_str()));
    std::vector<Notification> seen = Notifications();
    ASSERT_EQ(2u, seen.size());
    EXPECT_NE(seen[0].source, seen[1].source);
}

TEST_F(DriveSourceTest, ImageReadsFollowTheEndOfCardRulesAtAnySize)
{
    std::wstring small = m_folder + L"\\small.img";
    std::vector<BYTE> three(3 * 512);
    for (size_t i = 0; i < three.size(); ++i)
        three[i] = static_cast<BYTE>(i * 7);
    MakeFile(small, three, 3 * 512);

    CSectorixImageFile image(m_pWatchguard, small.c_str());
    ASSERT_TRUE(image.OpenCard());
    SectorBuffer buffer(3);
    EXPECT_TRUE(image.ReadSectorsA(buffer.data(), 0, 3));
    EXPECT_EQ(three, buffer.Bytes(0, 3 * 512));
    SectorBuffer shortened(3);
    EXPECT_FALSE(image.ReadSectorsA(shortened.data(), 2, 3));
    EXPECT_EQ(ReadBytes(small, 1024, 512), shortened.Bytes(0, 512));
    image.CloseCard();

    // Held by a program that denies writing, the image is still read, not written.
    HANDLE hReader = ::CreateFileW(small.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(image.OpenCard());
    EXPECT_TRUE(image.ReadSectorsA(buffer.data(), 1, 2));
    EXPECT_FALSE(image.WriteSectors(buffer.data(), 0, 1));
    EXPECT_EQ(three, ReadBytes(small, 0, three.size()));
    image.CloseCard();
    ::CloseHandle(hReader);

    std::wstring empty = m_folder + L"\\empty.img";
    MakeFile(empty, {}, 0);
    CSectorixImageFile emptyImage(m_pWatchguard, empty.c_str());
    EXPECT_FALSE(emptyImage.OpenCard());
    EXPECT_FALSE(emptyImage.isOpened());

    // An image of 4 GiB and more is measured and read to its end.
    std::wstring large = m_folder + L"\\large.img";
    const LONGLONG largeSize = (4LL << 30) + 1024;
    MakeFile(large, {}, largeSize);
    CSectorixImageFile largeImage(m_pWatchguard, large.c_str());
    ASSERT_TRUE(largeImage.OpenCard());
    EXPECT_EQ(static_cast<unsigned long long>(largeSize), largeImage.GetCardSize());
    SectorBuffer last(2, 0x11);
    EXPECT_TRUE(largeImage.ReadSectorsA(last.data(), static_cast<DWORD>((4ULL << 30) / 512), 2));
    EXPECT_EQ(std::vector<BYTE>(1024, 0), last.Bytes(0, 1024));
    largeImage.CloseCard();
    ::DeleteFileW(large.c_str());
}
