#include "ServiceEvents.h"

#include "Sectorix/ServiceProtocol.h"

namespace
{
const wchar_t StopEventName[] = L"Global\\SectorixStandInStop";

void Close(HANDLE hEvent)
{
    if (hEvent)
        ::CloseHandle(hEvent);
}
}

CServiceEvents::CServiceEvents(SECURITY_ATTRIBUTES* pSecurity)
    : m_pSecurity(pSecurity)
{
}

CServiceEvents::~CServiceEvents()
{
    if (m_hVersion2)
    {
        ::ResetEvent(m_hRunning);
        ::ResetEvent(m_hVersion2);
    }
    Close(m_hRunning);
    Close(m_hVersion2);
    Close(m_hStop);
}

DWORD CServiceEvents::Create()
{
    m_hStop = CreateReset(StopEventName);
    m_hRunning = m_hStop ? CreateReset(SECTORIX_SERVICE_RUNNING) : nullptr;
    m_hVersion2 = m_hRunning ? CreateReset(SECTORIX_SERVICE_V2_RUNNING) : nullptr;
    return m_hVersion2 ? ERROR_SUCCESS : ::GetLastError();
}

// A client that sees the service running asks at once whether it knows the
// version request; the answer must already stand.
void CServiceEvents::AnnounceRunning(bool bVersion2)
{
    if (bVersion2)
        ::SetEvent(m_hVersion2);
    ::SetEvent(m_hRunning);
}

bool CServiceEvents::SignalStop()
{
    HANDLE hStop = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName);
    if (!hStop)
        return false;
    ::SetEvent(hStop);
    ::CloseHandle(hStop);
    return true;
}

HANDLE CServiceEvents::CreateReset(const wchar_t* pName)
{
    HANDLE hEvent = ::CreateEventW(m_pSecurity, TRUE, FALSE, pName);
    if (hEvent)
        ::ResetEvent(hEvent);
    return hEvent;
}
