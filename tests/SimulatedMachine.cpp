#include "SimulatedMachine.h"

#include "Sectorix/SectorixDefs.h"
#include "sources/DeviceApi.h"
#include "sources/VxdInterface.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

using namespace Sectorix;

namespace
{
const wchar_t VolumePrefix[] = L"\\\\.\\";
const wchar_t DiskPrefix[] = L"\\\\.\\PhysicalDrive";
const wchar_t DosTarget[] = L"\\Device\\Simulated";


Sectorix::DeviceApi g_realApi;

// Which file a handle refers to, so that a handle value the process reuses
// for something else is not taken for the device.
ULONGLONG FileIndex(HANDLE hFile)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(hFile, &info))
        return 0;
    return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

BOOL Fail(DWORD error)
{
    ::SetLastError(error);
    return FALSE;
}

bool Transfer(const std::wstring& image, DWORD firstSector, DWORD count, BYTE* buffer, bool write)
{
    HANDLE hFile = ::CreateFileW(image.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(firstSector) * SectorSize;
    DWORD done = 0;
    bool ok = ::SetFilePointerEx(hFile, offset, nullptr, FILE_BEGIN) &&
              (write ? ::WriteFile(hFile, buffer, count * SectorSize, &done, nullptr)
                     : ::ReadFile(hFile, buffer, count * SectorSize, &done, nullptr));
    ::CloseHandle(hFile);
    return ok;
}
}

SimulatedMachine* SimulatedMachine::s_pCurrent = nullptr;

SimulatedMachine::SimulatedMachine()
{
    g_realApi = Sectorix::g_deviceApi;
    s_pCurrent = this;
    Sectorix::g_deviceApi.CreateFileW = &CreateFileW;
    Sectorix::g_deviceApi.DeviceIoControl = &DeviceIoControl;
    Sectorix::g_deviceApi.GetDriveTypeW = &GetDriveTypeW;
    Sectorix::g_deviceApi.QueryDosDeviceW = &QueryDosDeviceW;
    Sectorix::g_deviceApi.GetVolumeInformationW = &GetVolumeInformationW;
    Sectorix::g_deviceApi.VerifyVersionInfoW = &VerifyVersionInfoW;
}

SimulatedMachine::~SimulatedMachine()
{
    Sectorix::g_deviceApi = g_realApi;
    s_pCurrent = nullptr;
}

int SimulatedMachine::Count(const std::wstring& call)
{
    auto lock = Lock();
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

int SimulatedMachine::OpenHandles()
{
    auto lock = Lock();
    return static_cast<int>(std::count_if(m_handles.begin(), m_handles.end(), [](const auto& entry) {
        return FileIndex(entry.first) == entry.second.fileIndex;
    }));
}

HANDLE SimulatedMachine::Open(const std::wstring& image, DWORD flags, Opened opened)
{
    HANDLE hFile = ::CreateFileW(image.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | (flags & FILE_FLAG_NO_BUFFERING),
                                 nullptr);
    if (hFile != INVALID_HANDLE_VALUE)
    {
        opened.fileIndex = FileIndex(hFile);
        m_handles[hFile] = opened;
    }
    return hFile;
}

HANDLE WINAPI SimulatedMachine::CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                            DWORD disposition, DWORD flags, HANDLE hTemplate)
{
    SimulatedMachine& machine = *s_pCurrent;
    auto lock = machine.Lock();
    std::wstring name = path;
    if (name.compare(0, 4, VolumePrefix) != 0)
        return ::CreateFileW(path, access, share, security, disposition, flags, hTemplate);
    machine.calls.push_back(L"open " + name);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    if (name == VxdPath)
    {
        if (!machine.vxdPresent || machine.vxdDrives.empty())
            return INVALID_HANDLE_VALUE;
        return machine.Open(machine.vxdDrives.begin()->second.image, 0, { Opened::VirtualDevice, 0, 0 });
    }
    if (name.compare(0, wcslen(DiskPrefix), DiskPrefix) == 0)
    {
        int number = _wtoi(name.c_str() + wcslen(DiskPrefix));
        auto disk = machine.disks.find(number);
        if (disk == machine.disks.end())
            return INVALID_HANDLE_VALUE;
        if (disk->second.openFails)
        {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return machine.Open(disk->second.image, flags, { Opened::DiskDevice, number, 0 });
    }
    if (name.size() == 6 && name[5] == L':')
    {
        wchar_t letter = towupper(name[4]);
        auto volume = machine.volumes.find(letter);
        if (volume == machine.volumes.end() || volume->second.disks.empty())
            return INVALID_HANDLE_VALUE;
        if (machine.LockHolder(letter))
        {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return machine.Open(machine.disks[volume->second.disks[0]].image, flags, { Opened::VolumeDevice, letter, 0 });
    }
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI SimulatedMachine::DeviceIoControl(HANDLE hDevice, DWORD code, LPVOID input, DWORD, LPVOID output,
                                              DWORD outputSize, LPDWORD returned, LPOVERLAPPED)
{
    SimulatedMachine& machine = *s_pCurrent;
    if (machine.beforeControl)
        machine.beforeControl(code);
    auto lock = machine.Lock();
    *returned = 0;
    auto opened = machine.m_handles.find(hDevice);
    if (opened == machine.m_handles.end())
        return Fail(ERROR_INVALID_HANDLE);
    switch (opened->second.kind)
    {
    case Opened::VolumeDevice:
        return machine.VolumeControl(hDevice, opened->second.number, code, output, outputSize);
    case Opened::DiskDevice:
        return machine.DiskControl(opened->second.number, code, output, outputSize);
    case Opened::VirtualDevice:
        return machine.VxdControl(code, input, output);
    }
    return Fail(ERROR_INVALID_FUNCTION);
}

BOOL SimulatedMachine::VolumeControl(HANDLE hVolume, int letter, DWORD code, LPVOID output, DWORD outputSize)
{
    const Volume& volume = volumes[static_cast<wchar_t>(letter)];
    std::wstring name = std::wstring(1, static_cast<wchar_t>(letter)) + L":";
    switch (code)
    {
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
    {
        DWORD needed = offsetof(VOLUME_DISK_EXTENTS, Extents) + volume.disks.size() * sizeof(DISK_EXTENT);
        if (outputSize < needed)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        auto* pExtents = static_cast<VOLUME_DISK_EXTENTS*>(output);
        pExtents->NumberOfDiskExtents = static_cast<DWORD>(volume.disks.size());
        for (size_t i = 0; i < volume.disks.size(); ++i)
            pExtents->Extents[i] = DISK_EXTENT{ static_cast<DWORD>(volume.disks[i]), {}, {} };
        return TRUE;
    }
    case FSCTL_LOCK_VOLUME:
        calls.push_back(L"lock " + name);
        return LockVolume(hVolume, static_cast<wchar_t>(letter));
    case FSCTL_DISMOUNT_VOLUME:
        calls.push_back(L"dismount " + name);
        if (volume.dismountFails)
            return Fail(ERROR_INVALID_PARAMETER);
        Dismount(hVolume, static_cast<wchar_t>(letter));
        return TRUE;
    case FSCTL_UNLOCK_VOLUME:
        calls.push_back(L"unlock " + name);
        if (LockHolder(static_cast<wchar_t>(letter)) != hVolume)
            return Fail(ERROR_NOT_LOCKED);
        m_volumeLocks.erase(static_cast<wchar_t>(letter));
        return TRUE;
    }
    return Fail(ERROR_INVALID_FUNCTION);
}

// Granted to one handle of a volume that no other handle and no file of
// another program has open.
BOOL SimulatedMachine::LockVolume(HANDLE hVolume, wchar_t letter)
{
    if (LockHolder(letter) || volumes[letter].otherProgramFiles > 0)
        return Fail(ERROR_ACCESS_DENIED);
    for (const auto& opened : m_handles)
    {
        if (opened.first != hVolume && IsOpen(opened.first, Opened::VolumeDevice, letter))
            return Fail(ERROR_ACCESS_DENIED);
    }
    m_volumeLocks[letter] = hVolume;
    return TRUE;
}

void SimulatedMachine::Dismount(HANDLE hVolume, wchar_t letter)
{
    Volume& volume = volumes[letter];
    if (LockHolder(letter) == hVolume)
        return;
    volume.brokenFiles += volume.otherProgramFiles;
    volume.otherProgramFiles = 0;
}

// A handle value the process reused for another file is not the device.
bool SimulatedMachine::IsOpen(HANDLE hDevice, Opened::Kind kind, int number)
{
    auto opened = m_handles.find(hDevice);
    return opened != m_handles.end() && opened->second.kind == kind && opened->second.number == number &&
           FileIndex(hDevice) == opened->second.fileIndex;
}

// Closing the handle that locked a volume lets go of the lock.
HANDLE SimulatedMachine::LockHolder(wchar_t letter)
{
    auto held = m_volumeLocks.find(letter);
    if (held == m_volumeLocks.end())
        return nullptr;
    if (IsOpen(held->second, Opened::VolumeDevice, letter))
        return held->second;
    m_volumeLocks.erase(held);
    return nullptr;
}

bool SimulatedMachine::IsLocked(wchar_t letter)
{
    auto lock = Lock();
    return LockHolder(letter) != nullptr;
}

DEV_BROADCAST_VOLUME SimulatedMachine::ChangeMedia(int disk, bool present)
{
    auto lock = Lock();
    disks[disk].mediaPresent = present;
    DEV_BROADCAST_VOLUME event = {};
    event.dbcv_size = sizeof(event);
    event.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    event.dbcv_flags = DBTF_MEDIA;
    for (const auto& volume : volumes)
    {
        const std::vector<int>& onDisks = volume.second.disks;
        if (std::find(onDisks.begin(), onDisks.end(), disk) != onDisks.end())
            event.dbcv_unitmask |= 1u << (volume.first - L'A');
    }
    return event;
}

BOOL SimulatedMachine::DiskControl(int number, DWORD code, LPVOID output, DWORD outputSize)
{
    Disk& disk = disks[number];
    std::wstring name = L"PhysicalDrive" + std::to_wstring(number);
    switch (code)
    {
    case IOCTL_DISK_GET_DRIVE_LAYOUT:
    {
        if (!disk.mediaPresent)
            return Fail(ERROR_NOT_READY);
        DWORD needed = offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry) +
                       disk.partitions.size() * sizeof(PARTITION_INFORMATION);
        if (outputSize < needed)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        auto* pLayout = static_cast<DRIVE_LAYOUT_INFORMATION*>(output);
        pLayout->PartitionCount = static_cast<DWORD>(disk.partitions.size());
        pLayout->Signature = 0x5EC7;
        for (size_t i = 0; i < disk.partitions.size(); ++i)
        {
            PARTITION_INFORMATION& entry = pLayout->PartitionEntry[i];
            entry = {};
            entry.StartingOffset.QuadPart = static_cast<LONGLONG>(disk.partitions[i].offset);
            entry.PartitionLength.QuadPart = static_cast<LONGLONG>(disk.partitions[i].length);
        }
        return TRUE;
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
    {
        auto* pGeometry = static_cast<DISK_GEOMETRY*>(output);
        pGeometry->Cylinders.QuadPart = static_cast<LONGLONG>(disk.geometrySectors);
        pGeometry->MediaType = RemovableMedia;
        pGeometry->TracksPerCylinder = 1;
        pGeometry->SectorsPerTrack = 1;
        pGeometry->BytesPerSector = SectorSize;
        return TRUE;
    }
    case FSCTL_LOCK_VOLUME:
        calls.push_back(L"lock " + name);
        return ++m_lockAttempts[number] > disk.lockFailures ? TRUE : Fail(ERROR_ACCESS_DENIED);
    case FSCTL_UNLOCK_VOLUME:
        calls.push_back(L"unlock " + name);
        return TRUE;
    }
    return Fail(ERROR_INVALID_FUNCTION);
}

BOOL SimulatedMachine::VxdControl(DWORD code, LPVOID input, LPVOID output)
{
    if (code == VxdDescribe)
    {
        wchar_t letter = *static_cast<const BYTE*>(input);
        calls.push_back(L"describe " + std::wstring(1, letter));
        auto drive = vxdDrives.find(letter);
        if (drive == vxdDrives.end())
            return Fail(ERROR_NOT_READY);
        if (drive->second.describeError)
            return Fail(drive->second.describeError);
        BYTE* description = static_cast<BYTE*>(output);
        std::memset(description, 0xCC, VxdDescriptionSize);
        std::memcpy(description + VxdSizeFactorsOffset, drive->second.factors, sizeof(drive->second.factors));
        return TRUE;
    }
    if (code != VxdRead && code != VxdWrite)
        return Fail(ERROR_INVALID_FUNCTION);
    const auto* pRecord = static_cast<const VxdTransferRecord*>(input);
    auto drive = vxdDrives.find(pRecord->drive);
    calls.push_back((code == VxdRead ? L"vxd read " : L"vxd write ") + std::to_wstring(pRecord->firstSector) + L"+" +
                    std::to_wstring(pRecord->count));
    if (drive == vxdDrives.end())
        return Fail(ERROR_NOT_READY);
    BYTE* buffer = reinterpret_cast<BYTE*>(static_cast<UINT_PTR>(pRecord->buffer));
    return Transfer(drive->second.image, pRecord->firstSector, pRecord->count, buffer, code == VxdWrite)
               ? TRUE
               : Fail(ERROR_READ_FAULT);
}

UINT WINAPI SimulatedMachine::GetDriveTypeW(LPCWSTR root)
{
    SimulatedMachine& machine = *s_pCurrent;
    auto lock = machine.Lock();
    auto volume = machine.volumes.find(towupper(root[0]));
    if (root[1] != L':' || volume == machine.volumes.end())
        return DRIVE_NO_ROOT_DIR;
    return volume->second.driveType;
}

std::vector<std::wstring> SimulatedMachine::DosNames() const
{
    std::vector<std::wstring> names = otherDosNames;
    for (const auto& volume : volumes)
        names.push_back(std::wstring(1, volume.first) + L":");
    for (const auto& disk : disks)
        names.push_back(L"PhysicalDrive" + std::to_wstring(disk.first));
    return names;
}

DWORD WINAPI SimulatedMachine::QueryDosDeviceW(LPCWSTR name, LPWSTR target, DWORD size)
{
    SimulatedMachine& machine = *s_pCurrent;
    auto lock = machine.Lock();
    std::vector<std::wstring> names = machine.DosNames();
    std::wstring list;
    if (name)
    {
        machine.calls.push_back(L"query " + std::wstring(name));
        if (std::find(names.begin(), names.end(), name) == names.end())
            return Fail(ERROR_FILE_NOT_FOUND);
        list = std::wstring(DosTarget) + L'\0';
    }
    else
    {
        if (machine.dosListError)
            return Fail(machine.dosListError);
        for (const std::wstring& each : names)
            list += each + L'\0';
    }
    list += L'\0';
    if (list.size() > size)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(list.begin(), list.end(), target);
    return static_cast<DWORD>(list.size());
}

BOOL WINAPI SimulatedMachine::GetVolumeInformationW(LPCWSTR root, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD,
                                                   LPWSTR fileSystem, DWORD fileSystemSize)
{
    SimulatedMachine& machine = *s_pCurrent;
    auto lock = machine.Lock();
    machine.calls.push_back(L"volume information " + std::wstring(root));
    auto volume = machine.volumes.find(towupper(root[0]));
    if (root[1] != L':' || volume == machine.volumes.end())
        return Fail(ERROR_PATH_NOT_FOUND);
    if (volume->second.fileSystem.empty())
        return Fail(ERROR_UNRECOGNIZED_VOLUME);
    if (volume->second.fileSystem.size() >= fileSystemSize)
        return Fail(ERROR_BAD_LENGTH);
    std::copy(volume->second.fileSystem.begin(), volume->second.fileSystem.end(), fileSystem);
    fileSystem[volume->second.fileSystem.size()] = L'\0';
    return TRUE;
}

BOOL WINAPI SimulatedMachine::VerifyVersionInfoW(LPOSVERSIONINFOEXW, DWORD, DWORDLONG)
{
    return s_pCurrent->windowsXPOrLater ? TRUE : Fail(ERROR_OLD_WIN_VERSION);
}
