#include "ActiveCard.h"

#include "Console.h"
#include "FatLayout.h"
#include "ToolError.h"

#include "Sectorix/Sectorix.h"

#include <cstdio>

namespace
{
const size_t StatusTextSize = 8;
}

CActiveCard::CActiveCard(CWatchguard* pWatchguard, CSectorix* pSource, const std::wstring& where)
    : m_pWatchguard(pWatchguard)
    , m_pSource(pSource)
    , m_where(where)
{
    if (!m_pWatchguard->ActivateSectorix(m_pSource, Sectorix::SetActive))
        throw CToolError(ExitFailed, "another card source is active; " + Utf8(where) + " cannot be read now");
    try
    {
        Open();
    }
    catch (...)
    {
        Close();
        throw;
    }
}

CActiveCard::~CActiveCard()
{
    Close();
}

// A lap served in burst mode is as large as the file system it holds; the
// link itself answers only for the vehicle's card.
unsigned long long CActiveCard::Size() const
{
    if (!m_pSource->IsBurstMode())
        return m_pSource->GetCardSize();
    BYTE bootSector[Sectorix::SectorSize];
    if (!m_pSource->ReadSectorsA(bootSector, 0, 1))
        return 0;
    return static_cast<unsigned long long>(FatTotalSectors(bootSector, sizeof(bootSector))) * Sectorix::SectorSize;
}

bool CActiveCard::Read(BYTE* buffer, DWORD firstSector, UINT count)
{
    return m_pSource->ReadSectorsA(buffer, firstSector, count);
}

void CActiveCard::Open()
{
    unsigned short status = 0;
    if (!m_pSource->TelvaneGetStatus(&status))
        throw CToolError(ExitFailed, "the card in " + Utf8(m_where) + " is gone");
    if (status == Sectorix::STATUS_CARD_NOT_OPENED)
        throw CToolError(ExitFailed, "the card in " + Utf8(m_where) + " cannot be opened");
    if (status != Sectorix::STATUS_CONNECTED)
    {
        char text[StatusTextSize];
        std::snprintf(text, sizeof(text), "0x%04X", status);
        throw CToolError(ExitFailed, "the card in " + Utf8(m_where) + " is not ready (status " + text + ")");
    }
}

void CActiveCard::Close()
{
    m_pSource->TelvaneEndTransmit();
    m_pWatchguard->ActivateSectorix(nullptr, Sectorix::SetActive);
}
