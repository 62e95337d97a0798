// The card library's selection for hosts without class access.
#include "Sectorix/CSMDLL.h"
#include "afx/ModuleState.h"
#include "api/FlatExports.h"

extern "C" bool WINAPI SelectCSMDLL(const wchar_t* library)
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    return CCSMDLL::SelectCSMDLL(library);
}

extern "C" void WINAPI UnloadCSMDLL()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    CCSMDLL::Unload();
}
