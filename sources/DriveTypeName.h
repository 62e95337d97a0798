#pragma once

#include <windows.h>

namespace Sectorix
{

// The name of a GetDriveTypeW result as the log writes it.
const wchar_t* DriveTypeName(UINT type);

}
