/*
 * A host on the flat functions, in C: the calls a host written for the
 * telemetry library's flat interface already makes. It waits for a card and
 * copies it whole to a file.
 *
 *     flat_host COPY
 */
#include <windows.h>

#include <stdio.h>

#include "Sectorix/SectorixFlat.h"

#define SECTORS_PER_READ 64

static BYTE buffer[SECTORS_PER_READ * SECTORIX_SECTOR_SIZE];

static int CopyCard(FILE* copy, ULONGLONG size)
{
    DWORD sectors = (DWORD)(size / SECTORIX_SECTOR_SIZE);
    DWORD first;
    for (first = 0; first < sectors; first += SECTORS_PER_READ)
    {
        UINT count = sectors - first < SECTORS_PER_READ ? sectors - first : SECTORS_PER_READ;
        if (!getSectorDataExA(first, count, buffer))
        {
            fprintf(stderr, "flat_host: reading sector %lu failed\n", (unsigned long)first);
            return 0;
        }
        if (fwrite(buffer, SECTORIX_SECTOR_SIZE, count, copy) != count)
        {
            fprintf(stderr, "flat_host: writing the copy failed\n");
            return 0;
        }
    }
    return 1;
}

int main(int argc, char** argv)
{
    unsigned short status = 0;
    ULONGLONG size = 0;
    FILE* copy;
    int copied;

    if (argc != 2)
    {
        fprintf(stderr, "usage: flat_host COPY\n");
        return 2;
    }

    /* Nothing is started yet: a flat host's first getTelvaneStatus starts
     * the library, prints a prompt and waits, on this thread and without a
     * time limit, until a card is there. That card is then the one read. A
     * host that must be able to give up calls getTelvaneStatusTerminate
     * from another thread. */
    initTelvaneCommunication();
    startTelvaneCommunication();
    if (!getTelvaneStatus(&status) || status != SECTORIX_STATUS_CONNECTED)
    {
        fprintf(stderr, "flat_host: no card could be opened (status 0x%04X)\n", status);
        deinitTelvaneCommunication();
        return 1;
    }

    /* The card is open now, so its size is known. */
    getMCardImageSize64(&size);
    copy = fopen(argv[1], "wb");
    if (!copy)
    {
        fprintf(stderr, "flat_host: cannot write %s\n", argv[1]);
        deinitTelvaneCommunication();
        return 1;
    }
    copied = CopyCard(copy, size);
    copied = fclose(copy) == 0 && copied;

    /* The transfer ends, the card is let go, and the library stops: the
     * next flat sequence would start again from nothing. */
    endDataTransmit();
    endTelvaneCommunication();
    deinitTelvaneCommunication();
    if (!copied)
        return 1;
    printf("flat_host: copied %lu sectors\n", (unsigned long)(size / SECTORIX_SECTOR_SIZE));
    return 0;
}
