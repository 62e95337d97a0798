#include "ActiveCard.h"

#include "Console.h"
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

unsigned long long CActiveCard::Size() const
{
    return m_pSource->GetCardSize();
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
