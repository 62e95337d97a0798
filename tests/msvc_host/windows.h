/* The few Windows declarations the host needs. A host built with Microsoft's
 * toolset takes them from the Windows SDK; this one, built by clang for that
 * toolset where no SDK is installed, declares them itself. */
#ifndef MSVC_HOST_WINDOWS_H
#define MSVC_HOST_WINDOWS_H

#include <stddef.h>

#define WINAPI __stdcall
#define WM_USER 0x0400
#define GENERIC_WRITE 0x40000000UL
#define CREATE_ALWAYS 2
#define FILE_ATTRIBUTE_NORMAL 0x80
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef unsigned int UINT;
typedef long LONG;
typedef long LONG_PTR;
typedef int BOOL;
typedef unsigned __int64 ULONGLONG;
typedef wchar_t WCHAR;
typedef void* HANDLE;

__declspec(dllimport) HANDLE WINAPI GetStdHandle(DWORD handle);
__declspec(dllimport) HANDLE WINAPI CreateFileW(const WCHAR* name, DWORD access, DWORD share, void* security,
                                                DWORD disposition, DWORD flags, HANDLE templateFile);
__declspec(dllimport) BOOL WINAPI WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
                                            void* overlapped);
__declspec(dllimport) BOOL WINAPI CloseHandle(HANDLE handle);
__declspec(dllimport) void WINAPI ExitProcess(UINT code);

#endif
