#include "sources/DeviceApi.h"

namespace Sectorix
{

DeviceApi g_deviceApi = {
    &::CreateFileW,
    &::DeviceIoControl,
    &::GetDriveTypeW,
    &::QueryDosDeviceW,
    &::GetVolumeInformationW,
    &::VerifyVersionInfoW,
};

bool IsWindowsXPOrLater()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 1;
    version.wServicePackMajor = 0;
    DWORDLONG conditions = 0;
    conditions = ::VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = ::VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = ::VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return g_deviceApi.VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                          conditions) != FALSE;
}

}
