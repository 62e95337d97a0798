/* A host written in C that knows Sectorix.dll only through its public
 * header and flat import library: it calls the functions by name and
 * checks the answers that need no card. Exits 0 when all hold. */
#include "Sectorix/SectorixFlat.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static int failures = 0;

static void check(int holds, const char* what)
{
    if (!holds)
    {
        printf("C host: %s\n", what);
        ++failures;
    }
}

int main(void)
{
    SECTORIX_VERSION_INFO info;
    SECTORIX_LIST_BLOCK record;
    unsigned short code = 0;
    WCHAR text[16] = L"keep";

    check(getTelvaneVersionInfo(&info) == 1, "version record refused");
    check(info.version == SECTORIX_VERSION_INFO_VERSION, "version");
    check(wcscmp(info.product, L"Sectorix DLL") == 0, "product name");
    check(initTelvaneCommunication() == 1, "initTelvaneCommunication in flat mode");
    check(startTelvaneCommunication() == 1, "startTelvaneCommunication without watchguard");
    check(getTelvaneError(&code, text) == 0, "getTelvaneError without watchguard");

    check(InitWatchguard() != NULL, "InitWatchguard");
    check(getTelvaneError(&code, text) == 1 && code == SECTORIX_ERROR_NO_SOURCE, "getTelvaneError without source");
    memset(&record, 0xA5, sizeof(record));
    record.words[0] = 0;
    check(getListBlock(record.words) == 0, "getListBlock without source");
    check(record.words[0] == 0 && record.words[SECTORIX_LIST_BLOCK_DEFAULT_SIZE / 2 - 1] == 0 &&
              record.words[SECTORIX_LIST_BLOCK_DEFAULT_SIZE / 2] == 0xA5A5,
          "list block zero-filled to its default length");
    check(deinitTelvaneCommunication() == 1, "deinitTelvaneCommunication");

    if (failures == 0)
        printf("C host: every flat answer as expected\n");
    return failures == 0 ? 0 : 1;
}
