#include "LapCard.h"

#include "Console.h"
#include "FatLayout.h"
#include "ToolError.h"

// A lap is as large as the file system it holds, as when it is copied
// from the link.
CLapCard::CLapCard(const std::wstring& path)
    : m_path(path)
    , m_file(path)
{
    if (!m_image.Open(m_file.Data(), m_file.Size()))
        throw CToolError(ExitFailed, Utf8(path) + " is no whole lap file: it is cut short, or its list block does " +
                                         "not hold together");
    if (!m_image.InflateHeader())
        throw CToolError(ExitFailed, "the header of the lap " + Utf8(path) + " cannot be inflated");
    unsigned char bootSector[CLapImage::SectorSize];
    if (!m_image.ReadSectors(bootSector, 0, 1))
        throw CToolError(ExitFailed, "the first sector of the lap " + Utf8(path) + " cannot be inflated");
    m_size = static_cast<unsigned long long>(FatTotalSectors(bootSector, sizeof(bootSector))) * CLapImage::SectorSize;
    if (m_size == 0)
        throw CToolError(ExitFailed, "the lap " + Utf8(path) + " holds no FAT file system that tells its size");
}

bool CLapCard::Read(BYTE* buffer, DWORD firstSector, UINT count)
{
    return m_image.ReadSectors(buffer, firstSector, count);
}
