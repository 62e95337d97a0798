#pragma once

#include "Sectorix/CSMDLL.h"

// The binding to CMRECDLL.DLL, whose entries take no data source: it writes
// and reads the card init file itself from the recorder configuration and
// the extra information the library exchanges, formats in steps, and gives
// the library's error numbers as codes of the CMDLL code space.
class SECTORIX_API CCMRECDLL : public CCSMDLL
{
    DECLARE_DYNAMIC(CCMRECDLL)
    friend class CCSMDLL;

public:
    DWORD MountDataSource(const wchar_t* name, void*& handle, bool format) override;
    void UnmountDataSource(void* handle) override;
    DWORD InitCard(const wchar_t* initFile) override;
    DWORD ReadInitCard(const wchar_t* dataSource, const wchar_t* outputFile) override;

    DWORD cmrecMapError(DWORD error);

protected:
    typedef unsigned int(__cdecl* PFN_ReadConfig)(BYTE* configuration);
    typedef unsigned int(__cdecl* PFN_ReadExtraInfo)(BYTE* buffer, DWORD* size);
    typedef unsigned int(__cdecl* PFN_InitCard)(const BYTE* configuration, const BYTE* extraInfo, DWORD length);
    typedef unsigned int(__cdecl* PFN_InitFormat)(DWORD* remaining);
    typedef unsigned int(__cdecl* PFN_DoFormat)(DWORD* done, DWORD* remaining);
    typedef unsigned int(__cdecl* PFN_ExitFormat)();
    // Entries that are resolved but never called.
    typedef FARPROC PFN_Presence;

    explicit CCMRECDLL(const wchar_t* path);

    bool Load() override;
    DWORD AsyncFormatCard() override;
    bool IsUsableInit(const BYTE* data, size_t size) override;

    PFN_Presence m_pfnGetErrorText = nullptr;
    PFN_InitFormat m_pfnInitFormat = nullptr;
    PFN_DoFormat m_pfnDoFormat = nullptr;
    PFN_ExitFormat m_pfnExitFormat = nullptr;
    PFN_InitCard m_pfnInitCard = nullptr;
    PFN_ReadConfig m_pfnReadConfig = nullptr;
    PFN_ReadExtraInfo m_pfnReadExtraInfo = nullptr;
    PFN_Presence m_pfnInitReadData = nullptr;
    PFN_Presence m_pfnDoReadData = nullptr;
    PFN_Presence m_pfnExitReadData = nullptr;
    PFN_Presence m_pfnRegisterPosition = nullptr;
};
