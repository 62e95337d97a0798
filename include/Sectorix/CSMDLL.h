#pragma once

#include "Sectorix/SectorixDefs.h"
#include "afx/Object.h"
#include "afx/String.h"

class CCriticalSection;

namespace Sectorix
{

// More codes of the card library code space; they reach the host unchanged.
const DWORD CARDLIB_NOT_LOADED = 0x20010001;
// The library's answer for a drive it does not serve.
const DWORD CARDLIB_NO_DRIVE = 0x20010001;
const DWORD CARDLIB_NO_CARD = 0x20010002;
const DWORD CARDLIB_FORMAT_FAILED = 0x20010006;
const DWORD CARDLIB_UNUSABLE_INIT = 0x20010007;
const DWORD CARDLIB_NOT_MOUNTED = 0x2001000F;

}

class CSectorix;

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
    // For users that must not bring back a library the host unloaded: the
    // binding the host selected, loaded on first use, or null.
    static CCSMDLL* GetSelectedCSMDLL();
    // Held while a binding is used on a thread other than the host's, so
    // that Unload waits until that use has ended.
    static CCriticalSection& GetUseLock();
    // A running asynchronous format of a binding of the class is cancelled
    // and waited for; the host still collects its result.
    static void StopAsyncFormat(CRuntimeClass* pClass);

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
    // Formats the card of that source, not the active one.
    DWORD FormatCard(CSectorix& card);
    // Success when the init file reads completely and holds what this
    // library will write to a card.
    DWORD CheckInitFile(const wchar_t* initFile);

protected:
    explicit CCSMDLL(const wchar_t* path);

    virtual bool Load();
    virtual DWORD AsyncFormatCard() = 0;
    // Slots after those that hosts already know.
    virtual DWORD FormatSourceCard(CSectorix& card);
    virtual bool IsUsableInit(const BYTE* data, size_t size);

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
    bool LoadOnce();

    static CCSMDLL* s_pCSMDLL;
};
