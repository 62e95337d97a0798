#pragma once

#include "CardFiles.h"
#include "SimulatedMachine.h"
#include "TestHelpers.h"

// A watchguard on a simulated machine, with a copy of the test card image
// to serve, a log folder of its own, and this thread ready for messages.
class CardMachineTest : public ::testing::Test
{
protected:
    static constexpr ULONGLONG CardSectors = 4096;
    static constexpr ULONGLONG CardBytes = CardSectors * 512;

    void SetUp() override;
    void TearDown() override;

    // What is on the machine before the watchguard starts and looks at it.
    virtual void ArrangeMachine() = 0;

    SimulatedMachine::Disk CardDisk() const;

    // Windows tells every top-level window that the device nodes changed.
    void BroadcastDeviceChange();
    // A medium put into the drive of a disk or taken out, and the volume
    // event that Windows sends the watchguard's window about it.
    void ChangeMedia(int disk, bool present);
    HWND WatchguardWindow();
    CSectorix* FindDrive(DWORD unit);
    CSectorix* WaitForDrive(DWORD unit);

    std::string Log() const;
    bool Logged(const char* text) const { return Log().find(text) != std::string::npos; }
    std::vector<BYTE> Image(ULONGLONG sector, size_t sectors) const;

    SimulatedMachine m_machine;
    std::wstring m_folder;
    std::wstring m_image;
    CWatchguard* m_pWatchguard = nullptr;
};
