#pragma once

#include <windows.h>

#include <vector>

namespace Sectorix
{

// The whole file in memory; false when it cannot be opened or read to its end.
bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& bytes);

// Replaces the file with the bytes, written without sharing; false when
// that failed.
bool WriteWholeFile(const wchar_t* path, const std::vector<BYTE>& bytes);

}
