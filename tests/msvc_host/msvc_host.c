/* A host as Microsoft's toolset builds it: compiled for that toolset against
 * the public flat header, linked with the linker's defaults (SafeSEH
 * included) against Sectorix.lib, without a C run-time library. It waits for
 * a card as a flat host does and copies it whole to card-copy.img in the
 * current folder. Exits 0 when the copy is complete. */
#include <windows.h>

#include "Sectorix/SectorixFlat.h"

#define SECTORS_PER_READ 64
#define SECTOR_SHIFT 9
#define COPY_NAME L"card-copy.img"

static BYTE buffer[SECTORS_PER_READ * SECTORIX_SECTOR_SIZE];

static void Say(const char* text)
{
    DWORD length = 0;
    DWORD written = 0;
    while (text[length])
        ++length;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, NULL);
}

static int Fail(const char* text)
{
    Say("msvc host: ");
    Say(text);
    Say("\r\n");
    return 1;
}

static int CopyCard(HANDLE copy, ULONGLONG size)
{
    DWORD sectors = (DWORD)(size >> SECTOR_SHIFT);
    DWORD first = 0;
    while (first < sectors)
    {
        UINT count = sectors - first < SECTORS_PER_READ ? sectors - first : SECTORS_PER_READ;
        DWORD bytes = count * SECTORIX_SECTOR_SIZE;
        DWORD written = 0;
        if (!getSectorDataExA(first, count, buffer))
            return Fail("a sector read failed");
        if (!WriteFile(copy, buffer, bytes, &written, NULL) || written != bytes)
            return Fail("the copy could not be written");
        first += count;
    }
    return 0;
}

static int Run(void)
{
    unsigned short status = 0;
    ULONGLONG size = 0;
    HANDLE copy;
    int result;

    if (!initTelvaneCommunication() || !startTelvaneCommunication())
        return Fail("the link did not start");
    if (!getTelvaneStatus(&status) || status != SECTORIX_STATUS_CONNECTED)
        return Fail("no card could be opened");
    if (!getMCardImageSize64(&size) || size == 0)
        return Fail("the card has no size");
    copy = CreateFileW(COPY_NAME, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (copy == INVALID_HANDLE_VALUE)
        return Fail("the copy could not be made");
    result = CopyCard(copy, size);
    CloseHandle(copy);
    endDataTransmit();
    endTelvaneCommunication();
    deinitTelvaneCommunication();
    if (result == 0)
        Say("msvc host: the card was copied\r\n");
    return result;
}

void HostMain(void)
{
    ExitProcess((UINT)Run());
}
