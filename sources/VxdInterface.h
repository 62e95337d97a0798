#pragma once

#include <windows.h>

// The virtual device "\\.\SECTORIX.VXD" of older systems: its control codes
// and the record of a sector transfer.
namespace Sectorix
{

const wchar_t VxdPath[] = L"\\\\.\\SECTORIX.VXD";

// Input: the drive letter (1 byte). Output: a 52-byte description whose
// DWORDs at offsets 4, 8 and 12 multiply to the medium's size in sectors.
const DWORD VxdDescribe = 1;
const DWORD VxdDescriptionSize = 52;
const DWORD VxdSizeFactorsOffset = 4;

// Input: a VxdTransferRecord; the device moves count sectors at the address.
const DWORD VxdRead = 2;
const DWORD VxdWrite = 3;

#pragma pack(push, 1)
struct VxdTransferRecord
{
    BYTE drive;
    BYTE padding[3];
    DWORD firstSector;
    DWORD count;
    DWORD buffer;
};
#pragma pack(pop)
static_assert(sizeof(VxdTransferRecord) == 16, "the virtual device takes a 16-byte record");

}
