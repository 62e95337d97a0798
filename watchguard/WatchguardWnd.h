#pragma once

#include "afx/Wnd.h"

class CWatchguard;

namespace Sectorix
{

// The watchguard thread's hidden window: it runs the watch timer.
class CWatchguardWnd : public CWnd
{
public:
    explicit CWatchguardWnd(CWatchguard* pWatchguard);

protected:
    int OnCreate(LPCREATESTRUCTW lpCreateStruct);
    void OnDestroy();
    void OnTimer(UINT_PTR nIDEvent);

    DECLARE_MESSAGE_MAP()

private:
    CWatchguard* m_pWatchguard;
};

}
