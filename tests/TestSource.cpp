#include "TestSource.h"

IMPLEMENT_DYNAMIC(CTestSource, CSectorix)

std::atomic<int> CTestSource::s_nAlive{ 0 };

CTestSource::CTestSource(CWatchguard* pWatchguard, DWORD unit, bool hotPlugged)
    : CSectorix(pWatchguard, TypeDrive)
    , m_unit(unit)
{
    m_bHotPlugged = hotPlugged;
    ++s_nAlive;
}

CTestSource::~CTestSource()
{
    --s_nAlive;
}
