// Card initialisation of every kind of source, through the card library
// the host selected.
#include "Sectorix/Sectorix.h"

#include "Sectorix/CMDLLApi.h"
#include "afx/CriticalSection.h"
#include "afx/SingleLock.h"
#include "sources/SectorixCSM.h"

using namespace Sectorix;

namespace
{
const DWORD TempPathSize = MAX_PATH;
const wchar_t ReadBackPrefix[] = L"TMP";

// A CSM drive is reached through the drive the library has selected.
DWORD SelectDrive(CSectorix& source)
{
    if (!source.IsKindOf(RUNTIME_CLASS(CSectorixCSM)))
        return CARDLIB_SUCCESS;
    return source.Activate() ? CARDLIB_SUCCESS : CARDLIB_NO_DRIVE;
}

// What every run ends with, whichever step stopped it: the low word of the
// last code the library gave, the read-back file gone, the data source
// closed.
class CInitializationRun
{
public:
    CInitializationRun(CCSMDLL* pCSMDLL, DWORD* libraryCode)
        : m_pCSMDLL(pCSMDLL)
        , m_pLibraryCode(libraryCode)
    {
        wchar_t folder[TempPathSize];
        DWORD length = ::GetTempPathW(TempPathSize, folder);
        if (length > 0 && length < TempPathSize && ::GetTempFileNameW(folder, ReadBackPrefix, 0, m_readBack))
            m_bReadBack = true;
    }

    ~CInitializationRun()
    {
        if (m_pLibraryCode)
            *m_pLibraryCode = LOWORD(m_dwCode);
        if (m_bReadBack)
            ::DeleteFileW(m_readBack);
        if (m_hDataSource)
            m_pCSMDLL->UnmountDataSource(m_hDataSource);
    }

    CInitializationRun(const CInitializationRun&) = delete;
    CInitializationRun& operator=(const CInitializationRun&) = delete;

    // Keeps the code as the last one received; true on success.
    bool Succeeded(DWORD code)
    {
        m_dwCode = code;
        return code == CARDLIB_SUCCESS;
    }

    const wchar_t* ReadBackFile() const { return m_readBack; }
    void*& DataSource() { return m_hDataSource; }

private:
    CCSMDLL* m_pCSMDLL;
    DWORD* m_pLibraryCode;
    DWORD m_dwCode = CARDLIB_SUCCESS;
    wchar_t m_readBack[MAX_PATH] = {};
    bool m_bReadBack = false;
    void* m_hDataSource = nullptr;
};
}

// A library that cannot be loaded mounts nothing. Nothing reaches the card
// before the init file is known to be usable, a CSM drive works on its own
// drive, not the one a poll selects, and a format that failed leaves the
// card without an init.
eSectorixError CSectorix::InitializeCard(const wchar_t* initFile, bool format, DWORD* libraryCode)
{
    CCSMDLL* pCSMDLL = CCSMDLL::GetCSMDLL();
    if (!pCSMDLL || !pCSMDLL->isValid())
    {
        if (libraryCode)
            *libraryCode = LOWORD(CARDLIB_NOT_LOADED);
        return ErrorMount;
    }
    // The watch timer's poll selects each CSM drive in turn; it waits while
    // a drive is initialised.
    CSingleLock driveLock(&CCSMDLL::GetUseLock(), IsKindOf(RUNTIME_CLASS(CSectorixCSM)));
    CInitializationRun run(pCSMDLL, libraryCode);
    if (!run.Succeeded(pCSMDLL->CheckInitFile(initFile)))
        return ErrorInitCard;
    if (!run.Succeeded(SelectDrive(*this)))
        return ErrorMount;
    if (!run.Succeeded(pCSMDLL->MountDataSource(GetCSMDataSourceName(), run.DataSource(), format)))
        return ErrorMount;
    if (format)
    {
        m_bFormatting = true;
        DWORD formatted = pCSMDLL->FormatCard(*this);
        m_bFormatting = false;
        if (!run.Succeeded(formatted))
            return ErrorInitCard;
    }
    DWORD code = pCSMDLL->InitCard(initFile);
    if (!run.Succeeded(code))
        return code == CARDLIB_NOT_MOUNTED ? ErrorMount : ErrorInitCard;
    if (!run.Succeeded(pCSMDLL->ReadInitCard(GetCSMDataSourceName(), run.ReadBackFile())))
        return ErrorReadInit;
    if (!pCSMDLL->VerifyCard(initFile, run.ReadBackFile()) || !pCSMDLL->VerifyCard(run.ReadBackFile(), initFile))
        return ErrorVerify;
    return ErrorNone;
}

// Only the CMDLL library marks cards as read.
DWORD CSectorix::SetCardHasBeenRead(void* dataSource)
{
    if (!dataSource)
        return CARDLIB_SUCCESS;
    CCSMDLL* pCSMDLL = CCSMDLL::GetCSMDLL();
    if (!pCSMDLL || !pCSMDLL->isValid() || !pCSMDLL->IsKindOf(RUNTIME_CLASS(CCMDLLApi)))
        return CARDLIB_NOT_LOADED;
    return static_cast<CCMDLLApi*>(pCSMDLL)->cmdllCardHasBeenRead(&dataSource);
}

bool CSectorix::FormatCardProgress(DWORD& progress, bool& pastStart, bool cancel)
{
    if (!m_bFormatting)
        return false;
    CCSMDLL::GetCSMDLL()->AsyncFormatProgress(progress, pastStart, cancel);
    return true;
}
