// make-lap CARD_IMAGE LAP_FILE: writes the lap file of a FAT card image,
// its header the sectors before the data area and its lap data the rest, so
// that the card served from the lap equals the image byte for byte.
#include "Console.h"
#include "FatLayout.h"
#include "FileBytes.h"
#include "Interruption.h"
#include "LapWriter.h"
#include "OptionParser.h"
#include "OutputFile.h"
#include "ToolError.h"
#include "ToolMain.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{
const char ToolName[] = "make-lap";
const char Usage[] =
    "usage: make-lap CARD_IMAGE LAP_FILE\n"
    "\n"
    "Writes the lap file of a FAT card image, as the vehicle's logger sends it.\n"
    "  -h, --help  this text\n"
    "  --version   the version\n"
    "exit status: 0 written, 1 failed, 2 bad arguments, 130 stopped by Ctrl+C,\n"
    "             Ctrl+Break or the closing console (LAP_FILE as it was)\n";
const size_t SectorSize = 512;
const size_t WriteChunk = 1 << 20;

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

// A lap file of the same name stays as it was unless the new one is whole.
void WriteLap(const std::wstring& path, const std::vector<unsigned char>& bytes)
{
    COutputFile file(path);
    for (size_t done = 0; done < bytes.size(); done += WriteChunk)
    {
        size_t size = bytes.size() - done < WriteChunk ? bytes.size() - done : WriteChunk;
        file.Write(bytes.data() + done, static_cast<DWORD>(size));
    }
    CInterruption::ThrowIfRequested("no lap file was written");
    file.Commit();
}

int Run(int argc, wchar_t* argv[])
{
    std::wstring image;
    std::wstring lap;
    COptionParser parser(ToolName, Usage);
    parser.AddOperand(L"CARD_IMAGE", image);
    parser.AddOperand(L"LAP_FILE", lap);
    if (!parser.Parse(argc, argv))
        return ExitSuccess;
    COutputFile::CheckTarget(lap, image);
    std::vector<unsigned char> card = ReadFileBytes(image);
    CheckWholeSectors(image, card);
    uint32_t firstDataSector = FatFirstDataSector(card.data(), card.size());
    if (firstDataSector == 0)
        throw CToolError(ExitFailed, Utf8(image) + " is not a FAT card image");
    WriteLap(lap, MakeLapFile(card.data(), card.size(), firstDataSector, firstDataSector));
    return ExitSuccess;
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunTool(ToolName, argc, argv, Run);
}
