#include "Sectorix/CSMDLL.h"

#include "Sectorix/CMDLLApi.h"
#include "Sectorix/CMRECDLL.h"
#include "cardlib/InitRecords.h"
#include "afx/CriticalSection.h"
#include "afx/SingleLock.h"
#include "cardlib/WholeFile.h"

#include <cwchar>
#include <new>
#include <vector>

using namespace Sectorix;

IMPLEMENT_DYNAMIC(CCSMDLL, CObject)

CCSMDLL* CCSMDLL::s_pCSMDLL = nullptr;

namespace
{
const wchar_t CmdllName[] = L"CMDLL.DLL";
const wchar_t CmrecName[] = L"CMRECDLL.DLL";

CCriticalSection g_useLock;
}

CCSMDLL::CCSMDLL(const wchar_t* path)
    : m_strPath(path)
{
}

CCSMDLL::~CCSMDLL()
{
    EndFormatThread();
    if (m_hModule)
        ::FreeLibrary(m_hModule);
}

// Only the two whole file names select a binding, in any case; the answer
// compares the stored name exactly, so a second choice never replaces the
// first until Unload.
bool CCSMDLL::SelectCSMDLL(const wchar_t* path)
{
    const wchar_t* name = path ? path : CmdllName;
    CSingleLock lock(&g_useLock, TRUE);
    if (!s_pCSMDLL)
    {
        if (_wcsicmp(name, CmdllName) == 0)
            s_pCSMDLL = new (std::nothrow) CCMDLLApi(name);
        else if (_wcsicmp(name, CmrecName) == 0)
            s_pCSMDLL = new (std::nothrow) CCMRECDLL(name);
    }
    return s_pCSMDLL && s_pCSMDLL->m_strPath == name;
}

CCSMDLL* CCSMDLL::GetCSMDLL()
{
    CSingleLock lock(&g_useLock, TRUE);
    if (!s_pCSMDLL)
        SelectCSMDLL(nullptr);
    return GetSelectedCSMDLL();
}

// A library that could not be loaded is tried again on the next call.
CCSMDLL* CCSMDLL::GetSelectedCSMDLL()
{
    CSingleLock lock(&g_useLock, TRUE);
    CCSMDLL* pCSMDLL = s_pCSMDLL;
    if (pCSMDLL && !pCSMDLL->m_bValid)
        pCSMDLL->m_bValid = pCSMDLL->LoadOnce();
    return pCSMDLL;
}

bool CCSMDLL::LoadOnce()
{
    if (Load())
        return true;
    if (m_hModule)
    {
        ::FreeLibrary(m_hModule);
        m_hModule = nullptr;
    }
    return false;
}

CCriticalSection& CCSMDLL::GetUseLock()
{
    return g_useLock;
}

// The binding leaves the selection first, so that no new use finds it; a
// format still running is stopped before the binding goes, as its thread
// uses the binding and the library.
void CCSMDLL::Unload()
{
    CCSMDLL* pCSMDLL;
    {
        CSingleLock lock(&g_useLock, TRUE);
        pCSMDLL = s_pCSMDLL;
        s_pCSMDLL = nullptr;
    }
    if (!pCSMDLL)
        return;
    pCSMDLL->m_bCancel = true;
    pCSMDLL->EndFormatThread();
    delete pCSMDLL;
}

// The wait is on a handle of its own, without the lock: the format may need
// the watchguard, whose poll holds the watchguard's lock while it takes
// this one, and an Unload meanwhile may free the binding.
void CCSMDLL::StopAsyncFormat(CRuntimeClass* pClass)
{
    HANDLE hThread = nullptr;
    {
        CSingleLock lock(&g_useLock, TRUE);
        CCSMDLL* pCSMDLL = s_pCSMDLL;
        if (!pCSMDLL || !pCSMDLL->m_hThread || !pCSMDLL->IsKindOf(pClass))
            return;
        pCSMDLL->m_bCancel = true;
        HANDLE hProcess = ::GetCurrentProcess();
        if (!::DuplicateHandle(hProcess, pCSMDLL->m_hThread, hProcess, &hThread, SYNCHRONIZE, FALSE, 0))
            return;
    }
    ::WaitForSingleObject(hThread, INFINITE);
    ::CloseHandle(hThread);
}

bool CCSMDLL::Load()
{
    m_hModule = ::LoadLibraryW(m_strPath);
    return m_hModule != nullptr;
}

// Files whose records run past their end count as unreadable.
bool CCSMDLL::VerifyCard(const wchar_t* fileA, const wchar_t* fileB)
{
    std::vector<BYTE> a;
    std::vector<BYTE> b;
    return ReadWholeFile(fileA, a) && ReadWholeFile(fileB, b) &&
           CardInit::RecordsFoundIn(a.data(), a.size(), b.data(), b.size());
}

// A format begun before the last one was collected is not started: the
// running one keeps its thread and its result. A thread that cannot be
// started ends the format at once as failed.
void CCSMDLL::AsyncFormatCardBegin()
{
    if (m_hThread)
    {
        if (::WaitForSingleObject(m_hThread, 0) != WAIT_OBJECT_0)
            return;
        EndFormatThread();
    }
    StartFormat();
    m_dwResult = CARDLIB_SUCCESS;
    m_hThread = ::CreateThread(nullptr, 0, AsyncFormatThreadProc, this, CREATE_SUSPENDED, nullptr);
    if (m_hThread)
        ::ResumeThread(m_hThread);
    else
        m_dwResult = CARDLIB_FORMAT_FAILED;
}

// The cancel request made before the thread runs is kept: the thread does
// not clear what AsyncFormatCardBegin cleared already.
DWORD WINAPI CCSMDLL::AsyncFormatThreadProc(void* pParam)
{
    CCSMDLL* pCSMDLL = static_cast<CCSMDLL*>(pParam);
    pCSMDLL->m_dwResult = pCSMDLL->AsyncFormatCard();
    return 0;
}

bool CCSMDLL::AsyncFormatProgress(DWORD& progress, bool& pastStart, bool cancel)
{
    progress = m_dwProgress;
    pastStart = m_bPastStart;
    if (cancel)
        m_bCancel = true;
    return !m_hThread || ::WaitForSingleObject(m_hThread, 0) == WAIT_OBJECT_0;
}

// Called early, it waits for the format to end rather than close a handle
// that AsyncFormatProgress still waits on.
DWORD CCSMDLL::AsyncFormatResult()
{
    EndFormatThread();
    return m_dwResult;
}

DWORD CCSMDLL::FormatCard()
{
    StartFormat();
    return AsyncFormatCard();
}

DWORD CCSMDLL::FormatCard(CSectorix& card)
{
    StartFormat();
    return FormatSourceCard(card);
}

// A library that formats through its own entries reaches only its own card.
DWORD CCSMDLL::FormatSourceCard(CSectorix&)
{
    return AsyncFormatCard();
}

// An empty file would reach the card as an init of nothing.
DWORD CCSMDLL::CheckInitFile(const wchar_t* initFile)
{
    std::vector<BYTE> bytes;
    if (!ReadWholeFile(initFile, bytes) || bytes.empty() || !IsUsableInit(bytes.data(), bytes.size()))
        return CARDLIB_UNUSABLE_INIT;
    return CARDLIB_SUCCESS;
}

bool CCSMDLL::IsUsableInit(const BYTE* data, size_t size)
{
    return CardInit::IsIntact(data, size);
}

void CCSMDLL::StartFormat()
{
    m_bCancel = false;
    m_bPastStart = false;
    m_dwProgress = 0;
}

void CCSMDLL::EndFormatThread()
{
    if (!m_hThread)
        return;
    ::WaitForSingleObject(m_hThread, INFINITE);
    ::CloseHandle(m_hThread);
    m_hThread = nullptr;
}
