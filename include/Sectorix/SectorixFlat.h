/*
 * Sectorix.dll's flat stdcall functions, for hosts written in C or C++.
 *
 * They carry the names and argument lists of the telemetry library's flat
 * interface, so that a host written for that library reads a card through
 * Sectorix.dll with the same calls, whatever source the card sits in. The
 * DLL exports them under their decorated names (_getTelvaneStatus@4, ...);
 * a host links them by name through an import library (Sectorix.lib for
 * Microsoft's toolset and tools that read its format, libSectorixFlat.a for
 * mingw-w64), or resolves those names with GetProcAddress (the
 * SECTORIX_PFN_ types below) when it loads the DLL late. The header is C89
 * and C++, and needs nothing but <windows.h>.
 *
 * A typical sequence: initTelvaneCommunication, startTelvaneCommunication,
 * getTelvaneStatus (waits for a card and makes it the one read), the sector
 * reads, endDataTransmit, endTelvaneCommunication,
 * deinitTelvaneCommunication. After the last the next sequence starts again
 * from nothing. Functions that answer int answer 1 for success, 0 otherwise.
 */
#ifndef SECTORIX_SECTORIXFLAT_H
#define SECTORIX_SECTORIXFLAT_H

#include <windows.h>

/* The functions that answer a truth value answer a one-byte bool. In C it
 * is named by its keyword, so that a host keeps bool, true and false for
 * its own use. */
#if defined(__cplusplus)
typedef bool SECTORIX_BOOL;
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L
typedef _Bool SECTORIX_BOOL;
#else
typedef unsigned char SECTORIX_BOOL;
#endif

/* The library itself and its white-box tests define the functions. */
#ifdef SECTORIX_BUILD
#define SECTORIX_FLAT_API
#else
#define SECTORIX_FLAT_API __declspec(dllimport)
#endif

/* Link status words stored by getTelvaneStatus: only the first means the
 * card can be read. */
#define SECTORIX_STATUS_CONNECTED 0xF006
#define SECTORIX_STATUS_NOT_CONNECTED 0x0F03
#define SECTORIX_STATUS_CARD_NOT_OPENED 0x0F04

/* The code getTelvaneError stores while no card source is active. */
#define SECTORIX_ERROR_NO_SOURCE 0xFFFE

/* While getTelvaneStatus waits for a card, every notification comes to the
 * calling thread as this thread message, wParam one of the states below,
 * lParam the card source concerned (or 0). */
#define SECTORIX_WM_NOTIFY (WM_USER + 1)
#define SECTORIX_WATCHGUARD_STOPPED 0
#define SECTORIX_WATCHGUARD_STARTED 1
#define SECTORIX_MEDIA_REMOVED 2
#define SECTORIX_MEDIA_INSERTED 3
#define SECTORIX_STATUS_TERMINATE 4

/* What telemetry links post to their notification target in wParam,
 * besides the status words. */
#define SECTORIX_NOTIFY_LAP_STARTED 0xFE03
#define SECTORIX_NOTIFY_LAP_DONE 0xFE04
#define SECTORIX_NOTIFY_LAP_FAILED 0xFE05
#define SECTORIX_NOTIFY_LAP_PRESENT 0xFE06
#define SECTORIX_NOTIFY_VERSION 0xFE07

/* The kinds of card source that getSectorixType stores. */
#define SECTORIX_TYPE_RT9A_BURST 0
#define SECTORIX_TYPE_SPI_DIRECT 1
#define SECTORIX_TYPE_TELVANE 2
#define SECTORIX_TYPE_DRIVE 3
#define SECTORIX_TYPE_CSM 10
#define SECTORIX_TYPE_IMAGE_FILE 20

/* DeleteArpEntry's answers besides the card service's own. */
#define SECTORIX_ARP_DELETE_SUCCESS 0
#define SECTORIX_ARP_DELETE_FAILED (-2)

#define SECTORIX_SECTOR_SIZE 512

/* What getTelvaneVersionInfo fills: 1284 bytes, texts zero-padded. */
#define SECTORIX_VERSION_INFO_VERSION 0x00000100
typedef struct SECTORIX_VERSION_INFO
{
    DWORD version;
    WCHAR product[128];
    WCHAR vendor[128];
    WCHAR notice[128];
    WCHAR description[256];
} SECTORIX_VERSION_INFO;
typedef char SECTORIX_VERSION_INFO_IS_1284_BYTES[sizeof(SECTORIX_VERSION_INFO) == 1284 ? 1 : -1];

/* The list block of a telemetry lap: little-endian 16-bit words, the first
 * the record's length in bytes, the last a check word that makes the sum of
 * all words 0. The host sets the length word of its record before
 * getListBlock, which fills the record in that length (a length word of 0
 * asks for SECTORIX_LIST_BLOCK_DEFAULT_SIZE bytes); the full record is
 * SECTORIX_LIST_BLOCK_SIZE bytes, and its known fields (32-bit, at these
 * byte offsets) are the same in records of any length that reaches them. */
#define SECTORIX_LIST_BLOCK_SIZE 82
#define SECTORIX_LIST_BLOCK_DEFAULT_SIZE 56
#define SECTORIX_LIST_BLOCK_FIRST_DATA_SECTOR 44
#define SECTORIX_LIST_BLOCK_HEADER_OFFSET 56
#define SECTORIX_LIST_BLOCK_HEADER_SIZE 60
#define SECTORIX_LIST_BLOCK_HEADER_PACKED_SIZE 64
#define SECTORIX_LIST_BLOCK_DATA_OFFSET 68
#define SECTORIX_LIST_BLOCK_DATA_PACKED_SIZE 76
typedef struct SECTORIX_LIST_BLOCK
{
    WORD words[SECTORIX_LIST_BLOCK_SIZE / 2];
} SECTORIX_LIST_BLOCK;
typedef char SECTORIX_LIST_BLOCK_IS_82_BYTES[sizeof(SECTORIX_LIST_BLOCK) == SECTORIX_LIST_BLOCK_SIZE ? 1 : -1];

#ifdef __cplusplus
class CWatchguard;
extern "C" {
#else
/* The watchguard is a C++ object; a C host only passes its address on. */
typedef struct CWatchguard CWatchguard;
#endif

/* The watchguard: a host that asks for it with GetWatchguard owns its life
 * from then on, and the functions below no longer create it themselves. */
SECTORIX_FLAT_API CWatchguard* WINAPI InitWatchguard(void);
SECTORIX_FLAT_API CWatchguard* WINAPI GetWatchguard(void);

SECTORIX_FLAT_API int WINAPI initTelvaneCommunication(void);
SECTORIX_FLAT_API int WINAPI startTelvaneCommunication(void);
/* The first call of a flat host prints a prompt to standard output and
 * waits, without a time limit, until a card is there (then it is the one
 * read), until getTelvaneStatusTerminate is called on another thread (the
 * answer is then 0), or until the thread receives WM_QUIT. Meanwhile it
 * takes every message of the calling thread's queue. */
SECTORIX_FLAT_API int WINAPI getTelvaneStatus(unsigned short* status);
SECTORIX_FLAT_API int WINAPI getTelvaneStatusTerminate(void);
/* Always 0: the library offers no event object. */
SECTORIX_FLAT_API int WINAPI getTelvaneSyncObject(HANDLE* sync);
SECTORIX_FLAT_API int WINAPI getTelvaneVersionInfo(SECTORIX_VERSION_INFO* info);
SECTORIX_FLAT_API int WINAPI getTelvaneError(unsigned short* code, WCHAR* text);
SECTORIX_FLAT_API int WINAPI getTelvanePacketSize(UINT* size);
/* getMCardImageSize answers 0 for a card of a multiple of 4 GiB; the 64-bit
 * form gives every size. */
SECTORIX_FLAT_API int WINAPI getMCardImageSize(DWORD* size);
SECTORIX_FLAT_API int WINAPI getMCardImageSize64(ULONGLONG* size);
SECTORIX_FLAT_API int WINAPI getSectorData(DWORD sector, BYTE* buffer);
/* With a sector list, reads the listed sectors and ignores firstSector. */
SECTORIX_FLAT_API int WINAPI getSectorDataEx(DWORD firstSector, UINT count, BYTE* buffer, DWORD* sectors);
SECTORIX_FLAT_API int WINAPI getSectorDataExA(DWORD firstSector, UINT count, BYTE* buffer);
SECTORIX_FLAT_API int WINAPI getSectorDataExB(UINT count, DWORD* sectors, BYTE* buffer);
SECTORIX_FLAT_API int WINAPI putSectorDataExA(DWORD firstSector, UINT count, BYTE* buffer);
SECTORIX_FLAT_API int WINAPI getListBlock(unsigned short* record);
SECTORIX_FLAT_API int WINAPI putLogbookEntry(DWORD entry);
SECTORIX_FLAT_API int WINAPI reloginMemoryCard(void);
SECTORIX_FLAT_API int WINAPI restartMeasurement(void);
/* The command travels in a 32-bit slot, as every argument does. */
SECTORIX_FLAT_API int WINAPI sendTelvaneCommand(unsigned short command, BYTE* data, unsigned short* length,
                                                BYTE* answer);
SECTORIX_FLAT_API int WINAPI endDataTransmit(void);
SECTORIX_FLAT_API int WINAPI endTelvaneCommunication(void);
SECTORIX_FLAT_API int WINAPI deinitTelvaneCommunication(void);
SECTORIX_FLAT_API int WINAPI getSectorixType(unsigned short* type);
/* The folder of the daily log files; it must exist. */
SECTORIX_FLAT_API SECTORIX_BOOL WINAPI SetLogFolder(const WCHAR* folder);
/* Asks the card service to delete an ARP entry (IPv4 address in network
 * order). */
SECTORIX_FLAT_API LONG WINAPI DeleteArpEntry(DWORD address);
/* Chooses the card library, "CMDLL.DLL" (the default, also for null) or
 * "CMRECDLL.DLL" in any case and without a folder; true when that library
 * is the chosen one. A choice stays until UnloadCSMDLL. */
SECTORIX_FLAT_API SECTORIX_BOOL WINAPI SelectCSMDLL(const WCHAR* library);
SECTORIX_FLAT_API void WINAPI UnloadCSMDLL(void);

/* For hosts that load the DLL late, resolving the decorated names. */
typedef CWatchguard*(WINAPI* SECTORIX_PFN_InitWatchguard)(void);
typedef CWatchguard*(WINAPI* SECTORIX_PFN_GetWatchguard)(void);
typedef int(WINAPI* SECTORIX_PFN_initTelvaneCommunication)(void);
typedef int(WINAPI* SECTORIX_PFN_startTelvaneCommunication)(void);
typedef int(WINAPI* SECTORIX_PFN_getTelvaneStatus)(unsigned short*);
typedef int(WINAPI* SECTORIX_PFN_getTelvaneStatusTerminate)(void);
typedef int(WINAPI* SECTORIX_PFN_getTelvaneSyncObject)(HANDLE*);
typedef int(WINAPI* SECTORIX_PFN_getTelvaneVersionInfo)(SECTORIX_VERSION_INFO*);
typedef int(WINAPI* SECTORIX_PFN_getTelvaneError)(unsigned short*, WCHAR*);
typedef int(WINAPI* SECTORIX_PFN_getTelvanePacketSize)(UINT*);
typedef int(WINAPI* SECTORIX_PFN_getMCardImageSize)(DWORD*);
typedef int(WINAPI* SECTORIX_PFN_getMCardImageSize64)(ULONGLONG*);
typedef int(WINAPI* SECTORIX_PFN_getSectorData)(DWORD, BYTE*);
typedef int(WINAPI* SECTORIX_PFN_getSectorDataEx)(DWORD, UINT, BYTE*, DWORD*);
typedef int(WINAPI* SECTORIX_PFN_getSectorDataExA)(DWORD, UINT, BYTE*);
typedef int(WINAPI* SECTORIX_PFN_getSectorDataExB)(UINT, DWORD*, BYTE*);
typedef int(WINAPI* SECTORIX_PFN_putSectorDataExA)(DWORD, UINT, BYTE*);
typedef int(WINAPI* SECTORIX_PFN_getListBlock)(unsigned short*);
typedef int(WINAPI* SECTORIX_PFN_putLogbookEntry)(DWORD);
typedef int(WINAPI* SECTORIX_PFN_reloginMemoryCard)(void);
typedef int(WINAPI* SECTORIX_PFN_restartMeasurement)(void);
typedef int(WINAPI* SECTORIX_PFN_sendTelvaneCommand)(unsigned short, BYTE*, unsigned short*, BYTE*);
typedef int(WINAPI* SECTORIX_PFN_endDataTransmit)(void);
typedef int(WINAPI* SECTORIX_PFN_endTelvaneCommunication)(void);
typedef int(WINAPI* SECTORIX_PFN_deinitTelvaneCommunication)(void);
typedef int(WINAPI* SECTORIX_PFN_getSectorixType)(unsigned short*);
typedef SECTORIX_BOOL(WINAPI* SECTORIX_PFN_SetLogFolder)(const WCHAR*);
typedef LONG(WINAPI* SECTORIX_PFN_DeleteArpEntry)(DWORD);
typedef SECTORIX_BOOL(WINAPI* SECTORIX_PFN_SelectCSMDLL)(const WCHAR*);
typedef void(WINAPI* SECTORIX_PFN_UnloadCSMDLL)(void);

#ifdef __cplusplus
}
#endif

#endif
