#pragma once

#include "afx/SyncObject.h"

// A Windows critical section: the owning thread may enter it again.
class AFX_API CCriticalSection : public CSyncObject
{
    DECLARE_DYNAMIC(CCriticalSection)
public:
    CCriticalSection();
    ~CCriticalSection() override;

    BOOL Lock(DWORD dwTimeout = INFINITE) override;
    BOOL Unlock() override;

private:
    CRITICAL_SECTION m_sect;
};
