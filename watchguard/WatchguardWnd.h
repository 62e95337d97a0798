#pragma once

#include "afx/MapStringToString.h"
#include "afx/Wnd.h"

#include <dbt.h>

class CWatchguard;

namespace Sectorix
{

// The watchguard thread's hidden window: it runs the watch timer and turns
// device-change broadcasts into arrivals and removals of drive units.
class CWatchguardWnd : public CWnd
{
public:
    explicit CWatchguardWnd(CWatchguard* pWatchguard);

protected:
    int OnCreate(LPCREATESTRUCTW lpCreateStruct);
    void OnDestroy();
    void OnTimer(UINT_PTR nIDEvent);
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);
    LRESULT OnEnumerateDosDevices(WPARAM wParam, LPARAM lParam);
    LRESULT OnTelvaneStatus(WPARAM wParam, LPARAM lParam);
    LRESULT OnSPIDirectStatus(WPARAM wParam, LPARAM lParam);
    LRESULT OnRT9ABurstStatus(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    void OnVolumeEvent(const DEV_BROADCAST_HDR* pHeader, bool removed);
    void ReportAdded(const CString& name);
    void ReportRemoved(const CString& name);
    void RemoveUnformattedMountPoint(const CString& name);
    void PostUnit(WPARAM change, WORD unit);

    CWatchguard* m_pWatchguard;
    CMapStringToString m_mapDosDevices;
    HDEVNOTIFY m_hDevNotify = nullptr;
};

}
