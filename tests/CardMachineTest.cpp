#include "CardMachineTest.h"

#include "Sectorix/SectorixDrive.h"
#include "api/FlatExports.h"
#include "watchguard/Logbuch.h"

#include <dbt.h>

using namespace card_files;

void CardMachineTest::SetUp()
{
    m_folder = MakeTempFolder(L"card");
    m_image = m_folder + L"\\card.img";
    ASSERT_TRUE(::CopyFileW(WindowsPath(TEST_CARD_IMAGE).c_str(), m_image.c_str(), FALSE));
    ArrangeMachine();
    m_pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, m_pWatchguard);
    m_pWatchguard->SetLogFolder((m_folder + L"\\logs").c_str());
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

// Messages left for this thread would reach the next test of the process.
void CardMachineTest::TearDown()
{
    if (m_pWatchguard)
        m_pWatchguard->EnableNotificationMessages(0, nullptr, 0);
    testing_helpers::StopWatchguard(m_pWatchguard);
    TLogbuch::Instance().SetFolder(L"");
    RemoveTree(m_folder);
    MSG msg;
    while (::PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
        ;
}

SimulatedMachine::Disk CardMachineTest::CardDisk() const
{
    SimulatedMachine::Disk disk;
    disk.image = m_image;
    disk.partitions = { { 0, CardBytes } };
    return disk;
}

void CardMachineTest::BroadcastDeviceChange()
{
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG,
                                      testing_helpers::WaitBound, &result));
}

void CardMachineTest::ChangeMedia(int disk, bool present)
{
    DEV_BROADCAST_VOLUME event = m_machine.ChangeMedia(disk, present);
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(WatchguardWindow(), WM_DEVICECHANGE,
                                      present ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                                      reinterpret_cast<LPARAM>(&event), SMTO_ABORTIFHUNG, testing_helpers::WaitBound,
                                      &result));
}

namespace
{
BOOL CALLBACK TakeWindow(HWND hWnd, LPARAM lParam)
{
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}
}

HWND CardMachineTest::WatchguardWindow()
{
    HWND hWnd = nullptr;
    ::EnumThreadWindows(m_pWatchguard->m_nThreadID, &TakeWindow, reinterpret_cast<LPARAM>(&hWnd));
    EXPECT_NE(nullptr, hWnd);
    return hWnd;
}

CSectorix* CardMachineTest::FindDrive(DWORD unit)
{
    return m_pWatchguard->Find(RUNTIME_CLASS(CSectorixDrive), unit);
}

CSectorix* CardMachineTest::WaitForDrive(DWORD unit)
{
    DWORD start = ::GetTickCount();
    CSectorix* pSource = nullptr;
    while (!(pSource = FindDrive(unit)) && ::GetTickCount() - start < testing_helpers::WaitBound)
        ::Sleep(20);
    return pSource;
}

std::string CardMachineTest::Log() const
{
    return LogText(m_folder + L"\\logs");
}

std::vector<BYTE> CardMachineTest::Image(ULONGLONG sector, size_t sectors) const
{
    return ReadBytes(m_image, sector * 512, sectors * 512);
}
