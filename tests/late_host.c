/* A host that loads Sectorix.dll late, starts its watchguard and unloads the
 * library again without stopping it, as a host closed in a hurry does. The
 * watchguard's thread goes on running (its timer fires within the wait
 * below), so the library must stay in memory for it. Prints its last line
 * only if the process survived. */
#include "Sectorix/SectorixFlat.h"

#include <stdio.h>

#ifdef _WIN64
#define INIT_WATCHGUARD_NAME "InitWatchguard"
#else
#define INIT_WATCHGUARD_NAME "_InitWatchguard@0"
#endif

/* Longer than the watchguard's media poll, so that its thread runs code of
 * the library after the host let the library go. */
#define AFTER_UNLOAD_MILLISECONDS 3000
#define ROUNDS 2

int main(void)
{
    int round;
    for (round = 0; round < ROUNDS; ++round)
    {
        HMODULE dll = LoadLibraryW(L"Sectorix.dll");
        SECTORIX_PFN_InitWatchguard init;
        if (!dll)
        {
            printf("late host: Sectorix.dll does not load\n");
            return 1;
        }
        init = (SECTORIX_PFN_InitWatchguard)(void (*)(void))GetProcAddress(dll, INIT_WATCHGUARD_NAME);
        if (!init || (round == 0 && !init()))
        {
            printf("late host: no watchguard\n");
            return 1;
        }
        FreeLibrary(dll);
        Sleep(AFTER_UNLOAD_MILLISECONDS);
    }
    printf("late host: the watchguard outlived the unload\n");
    fflush(stdout);
    return 0;
}
