#include "CardLibraryTest.h"

#include "api/FlatExports.h"

#include <algorithm>

namespace cs = CardLibStandin;
using namespace testing_helpers;

void CardLibraryTest::SetUp()
{
    ASSERT_TRUE(::SetDllDirectoryW(VariantFolder().c_str()));
    m_hCmdll = ::LoadLibraryW((VariantFolder() + L"\\CMDLL.DLL").c_str());
    m_hCmrec = ::LoadLibraryW((VariantFolder() + L"\\CMRECDLL.DLL").c_str());
    m_cmdll = m_hCmdll ? cs::Control(m_hCmdll) : nullptr;
    m_cmrec = m_hCmrec ? cs::Control(m_hCmrec) : nullptr;
    m_folder = card_files::MakeTempFolder(L"cardlib");
    m_pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, m_pWatchguard);
    m_pWatchguard->SetLogFolder(m_folder.c_str());
    m_pWatchguard->EnableNotificationMessages(WM_APP + 60, m_notifications.Callback());
}

void CardLibraryTest::TearDown()
{
    StopWatchguard(m_pWatchguard);
    CCSMDLL::Unload();
    SetLogFolder(L"");
    if (m_hCmdll)
        ::FreeLibrary(m_hCmdll);
    if (m_hCmrec)
        ::FreeLibrary(m_hCmrec);
    ::SetDllDirectoryW(nullptr);
    card_files::RemoveTree(m_folder);
}

std::wstring CardLibraryTest::VariantFolder() const
{
    return card_files::WindowsPath(CARDLIB_STANDIN_DIR) + L"\\" + Variant();
}

namespace
{
// The library of the name, selected, loaded and of the binding's class.
template <typename Binding>
Binding* Select(const wchar_t* name)
{
    EXPECT_TRUE(CCSMDLL::SelectCSMDLL(name));
    CCSMDLL* pCSMDLL = CCSMDLL::GetCSMDLL();
    EXPECT_TRUE(pCSMDLL && pCSMDLL->isValid() && pCSMDLL->IsKindOf(RUNTIME_CLASS(Binding)));
    return static_cast<Binding*>(pCSMDLL);
}
}

CCMDLLApi* CardLibraryTest::SelectCMDLL()
{
    return Select<CCMDLLApi>(L"CMDLL.DLL");
}

CCMRECDLL* CardLibraryTest::SelectCMREC()
{
    return Select<CCMRECDLL>(L"CMRECDLL.DLL");
}

std::wstring CardLibraryTest::File(const wchar_t* name, const init_files::Bytes& bytes)
{
    std::wstring path = m_folder + L"\\" + name;
    EXPECT_TRUE(init_files::Write(path, bytes));
    return path;
}

CMemoryCard::CMemoryCard(CWatchguard* pWatchguard, size_t size)
    : CTestSource(pWatchguard, 0)
    , m_bytes(size, 0x5A)
    , m_evHeld(FALSE, FALSE)
    , m_evRelease(FALSE, FALSE)
{
}

bool CMemoryCard::WriteSectors(BYTE* buffer, DWORD firstSector, UINT count)
{
    DWORD progress = 0;
    bool pastStart = false;
    CCSMDLL::GetCSMDLL()->AsyncFormatProgress(progress, pastStart, false);
    if (m_writes.size() == m_holdAt)
    {
        m_evHeld.SetEvent();
        ::WaitForSingleObject(m_evRelease, WaitBound);
    }
    bool fail = m_writes.size() == m_failAt;
    m_writes.push_back({ firstSector, count, pastStart });
    size_t at = static_cast<size_t>(firstSector) * Sectorix::SectorSize;
    size_t size = static_cast<size_t>(count) * Sectorix::SectorSize;
    if (fail || at + size > m_bytes.size())
        return false;
    std::copy(buffer, buffer + size, m_bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}
