#include "sources/SectorixWin98.h"

#include "Sectorix/Watchguard.h"
#include "sources/DeviceApi.h"
#include "sources/VxdInterface.h"

IMPLEMENT_DYNAMIC(CSectorixWin98, CSectorixDrive)

using namespace Sectorix;

namespace
{
// The three factors of the medium's size in sectors, as the device describes it.
DWORD DescribedSectors(const BYTE* description)
{
    const DWORD* factors = reinterpret_cast<const DWORD*>(description + VxdSizeFactorsOffset);
    return factors[0] * factors[1] * factors[2];
}
}

CSectorixWin98::CSectorixWin98(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged)
    : CSectorixDrive(pWatchguard, volume, hotPlugged)
{
}

CSectorixWin98::~CSectorixWin98()
{
    CloseCard();
}

bool CSectorixWin98::isOpened()
{
    return m_hVxD != INVALID_HANDLE_VALUE;
}

bool CSectorixWin98::OpenCard()
{
    if (!IsCardDriveType(DriveType()))
        return false;

    m_hVxD = g_deviceApi.CreateFileW(VxdPath, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (m_hVxD == INVALID_HANDLE_VALUE)
    {
        DWORD error = ::GetLastError();
        CString text;
        text.Format(L"Volume %c: CreateFile Error = %08x", m_nVolume, error);
        if (m_pWatchguard)
            m_pWatchguard->SendLogMessage(text, error);
        return false;
    }

    BYTE drive = m_nVolume;
    BYTE description[VxdDescriptionSize] = {};
    DWORD returned = 0;
    if (g_deviceApi.DeviceIoControl(m_hVxD, VxdDescribe, &drive, sizeof(drive), description, sizeof(description),
                                    &returned, nullptr))
    {
        m_qwCardSize = static_cast<unsigned long long>(DescribedSectors(description)) * SectorSize;
        if (m_qwCardSize != 0)
            return true;
    }
    else
    {
        ReportLastError();
    }
    CloseCard();
    return false;
}

bool CSectorixWin98::CloseCard()
{
    if (m_hVxD != INVALID_HANDLE_VALUE)
    {
        ::CloseHandle(m_hVxD);
        m_hVxD = INVALID_HANDLE_VALUE;
    }
    return true;
}

bool CSectorixWin98::ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count)
{
    if (m_hVxD == INVALID_HANDLE_VALUE)
        return false;
    LowerThreadPriority();
    return Transfer(VxdRead, buffer, firstSector, count);
}

bool CSectorixWin98::WriteSectors(BYTE* buffer, DWORD firstSector, UINT count)
{
    if (m_hVxD == INVALID_HANDLE_VALUE)
        return false;
    return Transfer(VxdWrite, buffer, firstSector, count);
}

// The device moves whatever the record asks for, so requests are kept on
// the card here: one that starts past the end moves nothing, one that runs
// past it is shortened and still answers false.
bool CSectorixWin98::Transfer(DWORD code, BYTE* buffer, DWORD firstSector, UINT count)
{
    UINT sectors = SectorsWithinCard(firstSector, count);
    if (sectors == 0 && count != 0)
        return false;
    VxdTransferRecord record = {};
    record.drive = m_nVolume;
    record.firstSector = firstSector;
    record.count = sectors;
    record.buffer = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(buffer));
    DWORD returned = 0;
    if (!g_deviceApi.DeviceIoControl(m_hVxD, code, &record, sizeof(record), nullptr, 0, &returned, nullptr))
    {
        ReportLastError();
        return false;
    }
    return sectors == count;
}

void CSectorixWin98::ReportLastError()
{
    DWORD error = ::GetLastError();
    CString text;
    FormatLastError(text, error, L"%s(%d)");
    if (m_pWatchguard)
        m_pWatchguard->SendLogMessage(text, error);
}
