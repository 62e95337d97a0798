#pragma once

#include <windows.h>

#include <dbt.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Stands behind the library's device calls: volumes, physical disks backed
// by card image files, partition layouts, geometry, the virtual device of
// older systems, the DOS device names and the version check. It answers as
// Windows would for what the test put on it, and records what was asked.
class SimulatedMachine
{
public:
    struct Partition
    {
        ULONGLONG offset;
        ULONGLONG length;
    };

    struct Disk
    {
        std::wstring image;
        bool mediaPresent = true;
        std::vector<Partition> partitions;
        ULONGLONG geometrySectors = 0;
        int lockFailures = 0;
        bool openFails = false;
    };

    // Files that another program holds open on a volume keep it from being
    // locked; a dismount without the lock goes through and makes their
    // handles invalid, which the machine counts as broken files.
    struct Volume
    {
        UINT driveType = DRIVE_REMOVABLE;
        std::vector<int> disks;
        bool dismountFails = false;
        // Empty for a volume without a file system.
        std::wstring fileSystem = L"FAT";
        int otherProgramFiles = 0;
        int brokenFiles = 0;
    };

    struct VxdDrive
    {
        std::wstring image;
        DWORD factors[3] = {};
        DWORD describeError = 0;
    };

    SimulatedMachine();
    ~SimulatedMachine();

    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    std::map<int, Disk> disks;
    std::map<wchar_t, Volume> volumes;
    std::map<wchar_t, VxdDrive> vxdDrives;
    bool vxdPresent = false;
    bool windowsXPOrLater = true;
    std::vector<std::wstring> otherDosNames = { L"NUL", L"COM1", L"Global" };
    // Makes the list of all DOS device names fail with this error.
    DWORD dosListError = 0;

    // Puts a medium into the drive of a disk or takes it out, and gives the
    // volume event that Windows sends top-level windows about it.
    DEV_BROADCAST_VOLUME ChangeMedia(int disk, bool present);
    // Whether a handle of the library holds the volume's lock.
    bool IsLocked(wchar_t letter);

    // What the library asked for, in order: "open \\.\E:", "lock PhysicalDrive1", ...
    std::vector<std::wstring> calls;
    int Count(const std::wstring& call);
    // Device handles the library opened and has not closed.
    int OpenHandles();

    // Runs on the caller's thread before a device control is answered,
    // outside the machine's lock, so that a test can let another thread in.
    std::function<void(DWORD code)> beforeControl;

    // Held while the test changes the machine under a running watchguard.
    std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock<std::recursive_mutex>(m_mutex); }

private:
    struct Opened
    {
        enum Kind { VolumeDevice, DiskDevice, VirtualDevice } kind;
        int number;
        ULONGLONG fileIndex;
    };

    static HANDLE WINAPI CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    static BOOL WINAPI DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    static UINT WINAPI GetDriveTypeW(LPCWSTR);
    static DWORD WINAPI QueryDosDeviceW(LPCWSTR, LPWSTR, DWORD);
    static BOOL WINAPI GetVolumeInformationW(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    static BOOL WINAPI VerifyVersionInfoW(LPOSVERSIONINFOEXW, DWORD, DWORDLONG);

    HANDLE Open(const std::wstring& image, DWORD flags, Opened opened);
    BOOL VolumeControl(HANDLE hVolume, int letter, DWORD code, LPVOID output, DWORD outputSize);
    BOOL LockVolume(HANDLE hVolume, wchar_t letter);
    void Dismount(HANDLE hVolume, wchar_t letter);
    bool IsOpen(HANDLE hDevice, Opened::Kind kind, int number);
    HANDLE LockHolder(wchar_t letter);
    BOOL DiskControl(int number, DWORD code, LPVOID output, DWORD outputSize);
    BOOL VxdControl(DWORD code, LPVOID input, LPVOID output);
    std::vector<std::wstring> DosNames() const;

    std::recursive_mutex m_mutex;
    std::map<HANDLE, Opened> m_handles;
    std::map<int, int> m_lockAttempts;
    std::map<wchar_t, HANDLE> m_volumeLocks;
    static SimulatedMachine* s_pCurrent;
};
