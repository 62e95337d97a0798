#pragma once

#include <windows.h>

#include <string>

// A card open for reading, whichever way the host reaches it: its name in
// messages, its size and its sectors.
class CCardReader
{
public:
    virtual ~CCardReader() = default;

    // The card in messages: "the card in E:".
    virtual std::wstring Name() const = 0;
    virtual unsigned long long Size() const = 0;
    // Reads count whole sectors into a sector-aligned buffer.
    virtual bool Read(BYTE* buffer, DWORD firstSector, UINT count) = 0;
};
