#include "Sectorix/Watchguard.h"

#include "afx/Mutex.h"

#include <sddl.h>

namespace
{
// Generic-all access for Everyone, so that processes of any user, a service
// included, open the same mutex.
const wchar_t EveryoneFullAccess[] = L"D:(A;OICI;GA;;;WD)";
}

CWatchguard::CWatchguardMutex::~CWatchguardMutex()
{
    if (m_nLocks > 0)
        m_pMutex->Unlock();
    delete m_pMutex;
}

bool CWatchguard::CWatchguardMutex::Lock(const wchar_t* name)
{
    if (!m_pMutex)
    {
        SECURITY_DESCRIPTOR emptyDescriptor;
        if (!::InitializeSecurityDescriptor(&emptyDescriptor, SECURITY_DESCRIPTOR_REVISION))
            return false;
        SECURITY_ATTRIBUTES attributes = { sizeof(attributes), &emptyDescriptor, TRUE };
        PSECURITY_DESCRIPTOR pDescriptor = nullptr;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(EveryoneFullAccess, SDDL_REVISION_1,
                                                                   &pDescriptor, nullptr))
            attributes.lpSecurityDescriptor = pDescriptor;
        try
        {
            m_pMutex = new CMutex(FALSE, name, &attributes);
        }
        catch (...)
        {
            ::LocalFree(pDescriptor);
            throw;
        }
        ::LocalFree(pDescriptor);
    }
    if (m_pMutex->Lock(0))
        ++m_nLocks;
    return m_nLocks > 0;
}

void CWatchguard::CWatchguardMutex::Unlock()
{
    if (m_nLocks > 0)
    {
        m_pMutex->Unlock();
        --m_nLocks;
    }
    if (m_nLocks == 0)
    {
        delete m_pMutex;
        m_pMutex = nullptr;
    }
}
