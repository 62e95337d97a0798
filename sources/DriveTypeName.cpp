#include "sources/DriveTypeName.h"

namespace Sectorix
{

const wchar_t* DriveTypeName(UINT type)
{
    static const wchar_t* const names[] = {
        L"DRIVE_UNKNOWN", L"DRIVE_NO_ROOT_DIR", L"DRIVE_REMOVABLE", L"DRIVE_FIXED",
        L"DRIVE_REMOTE",  L"DRIVE_CDROM",       L"DRIVE_RAMDISK",
    };
    return type < ARRAYSIZE(names) ? names[type] : L"Unknown";
}

}
