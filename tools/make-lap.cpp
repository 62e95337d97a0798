// make-lap CARD_IMAGE LAP_FILE: writes the lap file of a FAT card image,
// its header the sectors before the data area and its lap data the rest, so
// that the card served from the lap equals the image byte for byte.
#include "Console.h"
#include "FatLayout.h"
#include "FileBytes.h"
#include "LapWriter.h"
#include "ToolError.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace
{
const size_t SectorSize = 512;

// A lap is served as the card its file system describes: an image that is
// not whole sectors, or holds less than its file system covers, would come
// back padded with zeros.
void CheckWholeSectors(const std::wstring& path, const std::vector<unsigned char>& card)
{
    if (card.size() % SectorSize != 0)
        throw CToolError(ExitFailed, Utf8(path) + " is " + std::to_string(card.size()) +
                                         " bytes, not whole sectors of 512 bytes");
    uint64_t covered = uint64_t(FatTotalSectors(card.data(), card.size())) * SectorSize;
    if (covered > card.size())
        throw CToolError(ExitFailed, Utf8(path) + " is " + std::to_string(card.size()) +
                                         " bytes, but its file system covers " + std::to_string(covered));
}
}

int wmain(int argc, wchar_t* argv[])
{
    if (argc != 3)
    {
        PrintLine(stderr, "usage: make-lap CARD_IMAGE LAP_FILE");
        return ExitBadArguments;
    }
    try
    {
        std::vector<unsigned char> card = ReadFileBytes(argv[1]);
        CheckWholeSectors(argv[1], card);
        uint32_t firstDataSector = FatFirstDataSector(card.data(), card.size());
        if (firstDataSector == 0)
            throw CToolError(ExitFailed, Utf8(argv[1]) + " is not a FAT card image");
        WriteFileBytes(argv[2], MakeLapFile(card.data(), card.size(), firstDataSector, firstDataSector));
        return ExitSuccess;
    }
    catch (const CToolError& error)
    {
        PrintLine(stderr, "make-lap: " + std::string(error.what()));
        return error.Code();
    }
    catch (const std::exception& error)
    {
        PrintLine(stderr, "make-lap: " + std::string(error.what()));
        return ExitFailed;
    }
}
