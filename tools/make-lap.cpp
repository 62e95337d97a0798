// make-lap CARD_IMAGE LAP_FILE: writes the lap file of a FAT card image,
// its header the sectors before the data area and its lap data the rest, so
// that the card served from the lap equals the image byte for byte.
#include "Console.h"
#include "FatLayout.h"
#include "FileBytes.h"
#include "LapWriter.h"
#include "OptionParser.h"
#include "ToolError.h"
#include "ToolMain.h"

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
    "exit status: 0 written, 1 failed, 2 bad arguments\n";

int Run(int argc, wchar_t* argv[])
{
    std::wstring image;
    std::wstring lap;
    COptionParser parser(ToolName, Usage);
    parser.AddOperand(L"CARD_IMAGE", image);
    parser.AddOperand(L"LAP_FILE", lap);
    if (!parser.Parse(argc, argv))
        return ExitSuccess;
    std::vector<unsigned char> card = ReadFileBytes(image);
    uint32_t firstDataSector = FatFirstDataSector(card.data(), card.size());
    if (firstDataSector == 0)
        throw CToolError(ExitFailed, Utf8(image) + " is not a FAT card image");
    WriteFileBytes(lap, MakeLapFile(card.data(), card.size(), firstDataSector, firstDataSector));
    return ExitSuccess;
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunTool(ToolName, argc, argv, Run);
}
