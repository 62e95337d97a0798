#include "afx/Wnd.h"

#include "afx/ModuleState.h"

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

namespace
{
thread_local CWnd* t_pWndInit = nullptr;
thread_local MSG t_msgCurrent = {};
}

CWnd::~CWnd()
{
    DestroyWindow();
}

// The CBT hook sees the window before its first message, which is when it
// must be subclassed for WM_NCCREATE and WM_CREATE to reach the map.
BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle,
                    const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam)
{
    t_pWndInit = this;
    HHOOK hHook = ::SetWindowsHookExW(WH_CBT, &CbtHook, nullptr, ::GetCurrentThreadId());
    HWND hWnd = ::CreateWindowExW(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top,
                                  pParentWnd ? pParentWnd->m_hWnd : nullptr,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), AfxGetInstanceHandle(),
                                  lpParam);
    if (hHook)
        ::UnhookWindowsHookEx(hHook);
    t_pWndInit = nullptr;
    return hWnd != nullptr;
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer)
{
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent)
{
    return ::KillTimer(m_hWnd, nIDEvent);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (const AFX_MSGMAP_ENTRY* pEntry = FindMessageEntry(message))
        return pEntry->pfn(this, wParam, lParam);
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

void CWnd::PostNcDestroy()
{
}

LRESULT CWnd::Default()
{
    return DefWindowProc(t_msgCurrent.message, t_msgCurrent.wParam, t_msgCurrent.lParam);
}

int CWnd::OnCreate(LPCREATESTRUCTW)
{
    return static_cast<int>(Default());
}

void CWnd::OnDestroy()
{
    Default();
}

void CWnd::OnTimer(UINT_PTR)
{
    Default();
}

void CWnd::Attach(HWND hWnd)
{
    m_hWnd = hWnd;
    ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WndProc)));
}

void CWnd::Detach()
{
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
}

LRESULT CALLBACK CWnd::CbtHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_CREATEWND && t_pWndInit)
    {
        CWnd* pWnd = t_pWndInit;
        t_pWndInit = nullptr;
        pWnd->Attach(reinterpret_cast<HWND>(wParam));
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

// Handlers reach the default processing of the message being handled
// through Default(); nested messages save and restore it.
LRESULT CALLBACK CWnd::WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = reinterpret_cast<CWnd*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (!pWnd)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    MSG msgPrevious = t_msgCurrent;
    t_msgCurrent = MSG{ hWnd, message, wParam, lParam, 0, {} };
    LRESULT lResult = pWnd->WindowProc(message, wParam, lParam);
    t_msgCurrent = msgPrevious;
    if (message == WM_NCDESTROY)
    {
        pWnd->Detach();
        pWnd->PostNcDestroy();
    }
    return lResult;
}
