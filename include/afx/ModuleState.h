#pragma once

#include "afx/AfxDefs.h"

// Which module's resources (its instance handle) the current thread works
// with. Exported entries switch to the library's own state for their
// duration with AFX_MANAGE_STATE.
struct AFX_MODULE_STATE
{
    HINSTANCE m_hCurrentInstanceHandle;
};

AFX_API AFX_MODULE_STATE* AfxGetModuleState();
AFX_API AFX_MODULE_STATE* AfxGetStaticModuleState();
AFX_API HINSTANCE AfxGetInstanceHandle();

class AFX_API AFX_MAINTAIN_STATE2
{
public:
    explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* pNewState);
    ~AFX_MAINTAIN_STATE2();

    AFX_MAINTAIN_STATE2(const AFX_MAINTAIN_STATE2&) = delete;
    AFX_MAINTAIN_STATE2& operator=(const AFX_MAINTAIN_STATE2&) = delete;

private:
    AFX_MODULE_STATE* m_pPrevModuleState;
};

#define AFX_MANAGE_STATE(p) AFX_MAINTAIN_STATE2 _ctlState(p);
