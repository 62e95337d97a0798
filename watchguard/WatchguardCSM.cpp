// The watchguard's CSM card-reader drives: one source for every drive the
// CMDLL card library can select, enabled under the kind's lock.
#include "Sectorix/Watchguard.h"

#include "Sectorix/CMDLLApi.h"
#include "afx/CriticalSection.h"
#include "afx/SingleLock.h"
#include "sources/SectorixCSM.h"

#include <new>

namespace
{
const wchar_t CSMMutexName[] = L"Global\\CWatchguard::EnableCSM::Mutex";
const DWORD EveryUnit = 0xFFFFFFFF;
const int NoDrive = -1;
}

// A library of another kind, one not loaded, or one without drives leaves
// the kind enabled without sources. Drives already registered are
// registered again. Each source is registered before its first test, so
// that a medium already in the drive reaches the host.
bool CWatchguard::EnableCSM(bool enable)
{
    CSingleLock lock(&m_lock, TRUE);
    if (!enable)
    {
        for (INT_PTR i = 0; i < m_sources.GetSize();)
        {
            CSectorix* pSource = m_sources[i];
            if (pSource->IsKindOf(RUNTIME_CLASS(CSectorixCSM)) && !pSource->isFor(EveryUnit))
                Remove(pSource, true);
            else
                ++i;
        }
        m_mutexCSM.Unlock();
        return true;
    }
    if (!m_mutexCSM.Lock(CSMMutexName))
        return false;
    CSingleLock useLock(&CCSMDLL::GetUseLock(), TRUE);
    CCSMDLL* pCSMDLL = CCSMDLL::GetCSMDLL();
    if (!pCSMDLL || !pCSMDLL->IsKindOf(RUNTIME_CLASS(CCMDLLApi)) || !pCSMDLL->isValid())
        return false;
    CCMDLLApi* pCMDLL = static_cast<CCMDLLApi*>(pCSMDLL);
    if (pCMDLL->cmdllSelectDrive(0) == NoDrive)
        return false;
    for (int drive = 0; drive != NoDrive; drive = pCMDLL->cmdllSelectDrive(drive + 1))
    {
        CSectorixCSM* pSource = new (std::nothrow) CSectorixCSM(this, static_cast<DWORD>(drive));
        if (!pSource)
            break;
        m_sources.Add(pSource);
        pSource->TestMedia(false);
    }
    return true;
}
