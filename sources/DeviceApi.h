#pragma once

#include <windows.h>

namespace Sectorix
{

// The Win32 calls that reach volumes, disks and the virtual device, and the
// version check. The library calls them through this table so that tests
// can put a simulated machine behind it; files, file pointers, reads and
// writes on the handles are the real calls.
struct DeviceApi
{
    HANDLE (WINAPI* CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL (WINAPI* DeviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    UINT (WINAPI* GetDriveTypeW)(LPCWSTR);
    DWORD (WINAPI* QueryDosDeviceW)(LPCWSTR, LPWSTR, DWORD);
    BOOL (WINAPI* GetVolumeInformationW)(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    BOOL (WINAPI* VerifyVersionInfoW)(LPOSVERSIONINFOEXW, DWORD, DWORDLONG);
};

extern DeviceApi g_deviceApi;

// Windows 5.1 (XP) or later, asked through the table's version check.
bool IsWindowsXPOrLater();

}
