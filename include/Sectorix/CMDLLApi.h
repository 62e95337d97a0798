#pragma once

#include "Sectorix/CSMDLL.h"

#pragma pack(push, 1)

// What cmdllGetDriveStatus fills; only the first byte's medium bit is read.
struct SECTORIX_CMDLL_DRIVE_STATUS
{
    BYTE flags;
    BYTE reserved[31];
};

#pragma pack(pop)

static_assert(sizeof(SECTORIX_CMDLL_DRIVE_STATUS) == 32, "drive status record");

// The binding to CMDLL.DLL, the default card library: it initialises and
// reads back cards through a data source of the library, formats a card by
// erasing its sectors, and lists the PC-card drives the library serves.
class SECTORIX_API CCMDLLApi : public CCSMDLL
{
    DECLARE_DYNAMIC(CCMDLLApi)
    friend class CCSMDLL;

public:
    // In the drive status record's first byte: a medium is in the drive.
    static const BYTE DriveStatusMedium = 0x04;

    DWORD MountDataSource(const wchar_t* name, void*& handle, bool format) override;
    void UnmountDataSource(void* handle) override;
    DWORD InitCard(const wchar_t* initFile) override;
    DWORD ReadInitCard(const wchar_t* dataSource, const wchar_t* outputFile) override;

    unsigned int cmdllDoReadCard1(const char* dataSource, const char* outputFile);
    unsigned int cmdllMountDataSource(const char* name, void*& handle, int format);
    unsigned int cmdllGetDriveStatus(SECTORIX_CMDLL_DRIVE_STATUS* status);
    unsigned int cmdllGetCardSize(DWORD* size);
    unsigned int cmdllCardHasBeenRead(void** dataSource);
    int cmdllSelectDrive(int index);

protected:
    typedef unsigned int(__cdecl* PFN_GetDriveStatus)(SECTORIX_CMDLL_DRIVE_STATUS* status);
    typedef unsigned int(__cdecl* PFN_GetCardSize)(DWORD* size);
    typedef unsigned int(__cdecl* PFN_CardHasBeenRead)(void** dataSource);
    typedef unsigned int(__cdecl* PFN_DoInitCard)(const char* initFile);
    typedef unsigned int(__cdecl* PFN_DoReadCard1)(const char* dataSource, const char* outputFile);
    typedef unsigned int(__cdecl* PFN_MountDataSource)(const char* name, void** handle, int format);
    typedef unsigned int(__cdecl* PFN_UnmountDataSource)(void** handle);
    typedef unsigned int(__cdecl* PFN_GetPCCardDriverCount)(unsigned short* count);
    typedef unsigned int(__cdecl* PFN_GetPCCardSocketCount)(unsigned short driver, unsigned short* count);
    typedef unsigned int(__cdecl* PFN_SelectPCCardDrive)(unsigned short driver, unsigned short socket);
    // Entries that are resolved but never called.
    typedef FARPROC PFN_Presence;

    explicit CCMDLLApi(const wchar_t* path);

    bool Load() override;
    DWORD AsyncFormatCard() override;
    DWORD FormatSourceCard(CSectorix& card) override;

    PFN_GetDriveStatus m_pfnGetDriveStatus = nullptr;
    PFN_Presence m_pfnGetErrorText = nullptr;
    PFN_CardHasBeenRead m_pfnCardHasBeenRead = nullptr;
    PFN_DoInitCard m_pfnDoInitCard = nullptr;
    PFN_Presence m_pfnInitReadCard2 = nullptr;
    PFN_Presence m_pfnDoReadCard2 = nullptr;
    PFN_Presence m_pfnExitReadCard2 = nullptr;
    PFN_Presence m_pfnInitCopyCard2Image = nullptr;
    PFN_Presence m_pfnDoCopyCard2Image = nullptr;
    PFN_Presence m_pfnExitCopyCard2Image = nullptr;
    PFN_GetCardSize m_pfnGetCardSize = nullptr;
    PFN_GetPCCardDriverCount m_pfnGetPCCardDriverCount = nullptr;
    PFN_GetPCCardSocketCount m_pfnGetPCCardSocketCount = nullptr;
    PFN_SelectPCCardDrive m_pfnSelectPCCardDrive = nullptr;
    PFN_UnmountDataSource m_pfnUnmountDataSource = nullptr;
    PFN_Presence m_pfnGetMountStatus = nullptr;
    PFN_Presence m_pfnGetDataSourceSize = nullptr;
    PFN_Presence m_pfnReadMemInfoCM = nullptr;
    PFN_Presence m_pfnReadRecInfoSGID = nullptr;
    PFN_Presence m_pfnReadRecInfoSG = nullptr;
    PFN_Presence m_pfnReadRecInfoESIBID = nullptr;
    PFN_Presence m_pfnReadRecInfoESIB = nullptr;
    PFN_Presence m_pfnReadRecInfoCMID = nullptr;
    PFN_Presence m_pfnReadRecInfoCM = nullptr;
    PFN_Presence m_pfnReadVELORInfo = nullptr;
    PFN_Presence m_pfnReadStatusSG = nullptr;
    PFN_Presence m_pfnReadStatusESIB = nullptr;
    PFN_Presence m_pfnReadLapStack = nullptr;
    PFN_Presence m_pfnReadLogFile = nullptr;
    PFN_Presence m_pfnReadDataInfo = nullptr;
    PFN_Presence m_pfnInitReadLapData1A = nullptr;
    PFN_Presence m_pfnDoReadLapData1A = nullptr;
    PFN_Presence m_pfnExitReadLapData1A = nullptr;
    PFN_Presence m_pfnInitReadLapData1B = nullptr;
    PFN_Presence m_pfnDoReadLapData1B = nullptr;
    PFN_Presence m_pfnExitReadLapData1B = nullptr;
    PFN_Presence m_pfnInitReadLapData1C = nullptr;
    PFN_Presence m_pfnDoReadLapData1C = nullptr;
    PFN_Presence m_pfnExitReadLapData1C = nullptr;
    PFN_Presence m_pfnInitReadLongTerm1 = nullptr;
    PFN_Presence m_pfnDoReadLongTerm1 = nullptr;
    PFN_Presence m_pfnExitReadLongTerm1 = nullptr;
    PFN_Presence m_pfnInitReadLapData2A = nullptr;
    PFN_Presence m_pfnDoReadLapData2A = nullptr;
    PFN_Presence m_pfnExitReadLapData2A = nullptr;
    PFN_Presence m_pfnInitReadLapData2B = nullptr;
    PFN_Presence m_pfnDoReadLapData2B = nullptr;
    PFN_Presence m_pfnExitReadLapData2B = nullptr;
    PFN_Presence m_pfnInitReadLapData2C = nullptr;
    PFN_Presence m_pfnDoReadLapData2C = nullptr;
    PFN_Presence m_pfnExitReadLapData2C = nullptr;
    PFN_Presence m_pfnInitReadLongTerm2 = nullptr;
    PFN_Presence m_pfnDoReadLongTerm2 = nullptr;
    PFN_Presence m_pfnExitReadLongTerm2 = nullptr;
    PFN_Presence m_pfnInitReadLastLap = nullptr;
    PFN_Presence m_pfnDoReadLastLap = nullptr;
    PFN_Presence m_pfnExitReadLastLap = nullptr;
    PFN_MountDataSource m_pfnMountDataSource = nullptr;
    PFN_DoReadCard1 m_pfnDoReadCard1 = nullptr;
private:
    template <class TEntry>
    bool ResolveEither(const char* first, const char* second, TEntry& entry);
    bool ResolveRequired();
    DWORD EraseCard(DWORD sectors, CSectorix* pCard);
    void ResolveLastLapGroup();
};
