#pragma once

#include "Sectorix/SectorixDefs.h"
#include "afx/Object.h"
#include "afx/String.h"

namespace Sectorix
{

// More codes of the card library code space; they reach the host unchanged.
const DWORD CARDLIB_NOT_LOADED = 0x20010001;
const DWORD CARDLIB_NO_CARD = 0x20010002;
const DWORD CARDLIB_FORMAT_FAILED = 0x20010006;
const DWORD CARDLIB_UNUSABLE_INIT = 0x20010007;
const DWORD CARDLIB_NOT_MOUNTED = 0x2001000F;

}

// The card-reader library the host chose, one per process: it loads the
// library, formats cards on a thread of its own with progress and cancel,
// and compares card init files record by record. The bindings resolve the
// library's entries and do the card operations.
class SECTORIX_API CCSMDLL : public CObject
{
    DECLARE_DYNAMIC(CCSMDLL)

public:
    ~CCSMDLL() override;

    static bool SelectCSMDLL(const wchar_t* path);
    static CCSMDLL* GetCSMDLL();
    static void Unload();

    virtual DWORD MountDataSource(const wchar_t* name, void*& handle, bool format) = 0;
    virtual void UnmountDataSource(void* handle) = 0;
    virtual DWORD InitCard(const wchar_t* initFile) = 0;
    virtual DWORD ReadInitCard(const wchar_t* dataSource, const wchar_t* outputFile) = 0;
    virtual bool VerifyCard(const wchar_t* fileA, const wchar_t* fileB);

    bool isValid() const { return m_bValid; }
    const CString& GetPath() const { return m_strPath; }
    void AsyncFormatCardBegin();
    bool AsyncFormatProgress(DWORD& progress, bool& pastStart, bool cancel);
    DWORD AsyncFormatResult();
    DWORD FormatCard();

protected:
    explicit CCSMDLL(const wchar_t* path);

    virtual bool Load();
    virtual DWORD AsyncFormatCard() = 0;

    // Binds one entry of the loaded library by its plain name.
    template <class TEntry>
    bool Resolve(const char* name, TEntry& entry)
    {
        entry = reinterpret_cast<TEntry>(reinterpret_cast<void*>(::GetProcAddress(m_hModule, name)));
        return entry != nullptr;
    }

    HMODULE m_hModule = nullptr;
    bool m_bValid = false;
    CString m_strPath;
    volatile bool m_bCancel = false;
    volatile bool m_bPastStart = false;
    volatile DWORD m_dwProgress = 0;
    volatile DWORD m_dwResult = Sectorix::CARDLIB_SUCCESS;
    HANDLE m_hThread = nullptr;

private:
    static DWORD WINAPI AsyncFormatThreadProc(void* pParam);
    void StartFormat();
    void EndFormatThread();

    static CCSMDLL* s_pCSMDLL;
};
