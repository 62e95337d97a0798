/* A host that loads Sectorix.dll late, starts the watchguard and unloads the
 * library without stopping it, as a host closed in a hurry does. Its last
 * line comes only if the process outlived the watchguard's next timer. */
#include "Sectorix/SectorixFlat.h"

#include <stdio.h>

#ifdef _WIN64
#define INIT_WATCHGUARD_NAME "InitWatchguard"
#else
#define INIT_WATCHGUARD_NAME "_InitWatchguard@0"
#endif
#define AFTER_UNLOAD_MILLISECONDS 3000

int main(void)
{
    HMODULE dll = LoadLibraryW(L"Sectorix.dll");
    SECTORIX_PFN_InitWatchguard init =
        dll ? (SECTORIX_PFN_InitWatchguard)(void (*)(void))GetProcAddress(dll, INIT_WATCHGUARD_NAME) : NULL;
    if (!init || !init())
        return 1;
    FreeLibrary(dll);
    Sleep(AFTER_UNLOAD_MILLISECONDS);
    printf("late host: the watchguard outlived the unload\n");
    return 0;
}
