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

CString CTestSource::GetMediaText(int language)
{
    return language == 0 ? L"Testkarte" : L"Test card";
}

bool CTestSource::TestMedia(bool)
{
    m_dwTestThread = ::GetCurrentThreadId();
    ++m_nTestCalls;
    return m_bMediaAnswer;
}

bool CTestSource::Activate()
{
    ++m_nActivateCalls;
    return m_bActivateAnswer;
}

bool CTestSource::Deactivate()
{
    ++m_nDeactivateCalls;
    return m_bDeactivateAnswer;
}
