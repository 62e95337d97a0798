#include "afx/ModuleState.h"

namespace
{

AFX_MODULE_STATE g_processState = { ::GetModuleHandleW(nullptr) };

HINSTANCE ThisModule()
{
    HMODULE hModule = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &hModule);
    return hModule;
}

AFX_MODULE_STATE g_libraryState = { ThisModule() };

thread_local AFX_MODULE_STATE* t_pModuleState = nullptr;

}

AFX_MODULE_STATE* AfxGetModuleState()
{
    return t_pModuleState ? t_pModuleState : &g_processState;
}

AFX_MODULE_STATE* AfxGetStaticModuleState()
{
    return &g_libraryState;
}

HINSTANCE AfxGetInstanceHandle()
{
    return AfxGetModuleState()->m_hCurrentInstanceHandle;
}

AFX_MAINTAIN_STATE2::AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* pNewState)
    : m_pPrevModuleState(t_pModuleState)
{
    t_pModuleState = pNewState;
}

AFX_MAINTAIN_STATE2::~AFX_MAINTAIN_STATE2()
{
    t_pModuleState = m_pPrevModuleState;
}
