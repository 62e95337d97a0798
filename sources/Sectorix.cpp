#include "Sectorix/Sectorix.h"

IMPLEMENT_DYNAMIC(CSectorix, CObject)

namespace
{
const wchar_t TelvaneDataSourceName[] = L"*TELVANE";
}

CSectorix::CSectorix(CWatchguard* pWatchguard, eSectorixType type)
    : m_pWatchguard(pWatchguard)
    , m_eType(type)
{
}

CSectorix::~CSectorix() = default;

const wchar_t* CSectorix::GetCSMDataSourceName()
{
    return TelvaneDataSourceName;
}

bool CSectorix::Deactivate()
{
    return true;
}

CWatchguard* CSectorix::Watchguard()
{
    return m_pWatchguard;
}

_list_block* CSectorix::TelvaneGetListBlock()
{
    return nullptr;
}

bool CSectorix::IsBurstMode()
{
    return false;
}

bool CSectorix::WaitForBurstData()
{
    return false;
}
