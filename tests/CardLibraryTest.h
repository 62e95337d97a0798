#pragma once

#include "CardFiles.h"
#include "InitFiles.h"
#include "TestHelpers.h"
#include "TestSource.h"

#include "CardLibStandin.h"
#include "Sectorix/CMDLLApi.h"
#include "Sectorix/CMRECDLL.h"

#include <string>
#include <vector>

// The stand-in card libraries of one variant folder on the DLL search path,
// loaded by the test itself so that it can steer them, a watchguard whose
// notifications the test records, and a folder for the test's files.
class CardLibraryTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    virtual const wchar_t* Variant() const { return L"full"; }

    std::wstring VariantFolder() const;
    int Cmdll(int op, UINT_PTR value = 0, const void* data = nullptr) { return m_cmdll(op, value, data); }
    int Cmrec(int op, UINT_PTR value = 0, const void* data = nullptr) { return m_cmrec(op, value, data); }
    std::wstring CmdllCalls() { return CardLibStandin::Calls(m_cmdll); }
    std::wstring CmrecCalls() { return CardLibStandin::Calls(m_cmrec); }

    // The binding of the library, selected and loaded.
    CCMDLLApi* SelectCMDLL();
    CCMRECDLL* SelectCMREC();

    std::wstring File(const wchar_t* name, const init_files::Bytes& bytes);

    CWatchguard* m_pWatchguard = nullptr;
    testing_helpers::NotificationLog m_notifications;
    std::wstring m_folder;
    HMODULE m_hCmdll = nullptr;
    HMODULE m_hCmrec = nullptr;
    CardLibStandin::ControlProc m_cmdll = nullptr;
    CardLibStandin::ControlProc m_cmrec = nullptr;
};

// A card in memory, made active in the watchguard: its writes change the
// bytes and are recorded with the format's past-start flag at that moment;
// a chosen write fails, and a chosen write waits for the test.
class CMemoryCard : public CTestSource
{
public:
    struct Write
    {
        DWORD first;
        UINT count;
        bool pastStart;
    };

    CMemoryCard(CWatchguard* pWatchguard, size_t size);

    unsigned long long GetCardSize() override { return m_bytes.size(); }
    bool WriteSectors(BYTE* buffer, DWORD firstSector, UINT count) override;

    std::vector<BYTE> m_bytes;
    std::vector<Write> m_writes;
    size_t m_failAt = SIZE_MAX;
    size_t m_holdAt = SIZE_MAX;
    CEvent m_evHeld;
    CEvent m_evRelease;
};

// Reaches the binding's entry table as the tests need it.
struct CMDLLAccess : CCMDLLApi
{
    using CCMDLLApi::m_pfnInitReadLastLap;
};
