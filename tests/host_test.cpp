// The library as a host sees it: Sectorix.dll loaded by the system, the flat
// entries resolved by their exported names, the classes used through their
// exported members.
#include "CardServiceProcess.h"
#include "TestHelpers.h"
#include "TestSource.h"

#include "Sectorix/SectorixApi.h"
#include "Sectorix/SectorixDrive.h"

#include <string>

using namespace testing_helpers;

namespace
{

const UINT NotifyMessage = WM_APP + 7;

#ifdef _WIN64
std::string ExportName(const char* name, int)
{
    return name;
}
#else
std::string ExportName(const char* name, int argumentBytes)
{
    return "_" + std::string(name) + "@" + std::to_string(argumentBytes);
}
#endif

template <class T>
T Resolve(const char* name, int argumentBytes)
{
    HMODULE hSectorix = ::GetModuleHandleW(L"Sectorix.dll");
    return reinterpret_cast<T>(
        reinterpret_cast<void*>(::GetProcAddress(hSectorix, ExportName(name, argumentBytes).c_str())));
}

}

TEST(Host, RunsTheWatchguardWithASourceOfItsOwn)
{
    auto pfnInit = Resolve<SECTORIX_PFN_InitWatchguard>("InitWatchguard", 0);
    auto pfnGet = Resolve<SECTORIX_PFN_GetWatchguard>("GetWatchguard", 0);
    ASSERT_TRUE(pfnInit && pfnGet);
#ifndef _WIN64
    // Only the decorated names are exported.
    EXPECT_EQ(nullptr, ::GetProcAddress(::GetModuleHandleW(L"Sectorix.dll"), "InitWatchguard"));
#endif
    EXPECT_EQ(nullptr, pfnGet());
    CWatchguard* pWatchguard = pfnInit();
    ASSERT_NE(nullptr, pWatchguard);
    EXPECT_EQ(pWatchguard, pfnGet());

    pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, NotifyMessage);
    CTestSource* pSource = new CTestSource(pWatchguard, 'E');
    Register(pWatchguard, pSource);
    EXPECT_EQ(pSource, pWatchguard->Find(RUNTIME_CLASS(CSectorix), 'E'));
    EXPECT_STREQ(L"*TELVANE", pSource->GetCSMDataSourceName());
    pWatchguard->SendNotification(MediaInserted, pSource);
    MSG msg;
    ASSERT_TRUE(WaitForMessage(NotifyMessage, msg));
    EXPECT_EQ(reinterpret_cast<LPARAM>(pSource), msg.lParam);
    EXPECT_TRUE(pWatchguard->ActivateSectorix(pSource, Sectorix::SetActive));

    // Drive sources are made and destroyed through their exported members.
    CSectorixDrive* pDrive = CSectorixDrive::Create(pWatchguard, 'Q', false);
    ASSERT_NE(nullptr, pDrive);
    EXPECT_EQ(L"Q:", pDrive->GetDeviceName());
    EXPECT_FALSE(pDrive->isCardInserted());
    pDrive->Delete();

    StopWatchguard(pWatchguard);
    EXPECT_EQ(0, CTestSource::s_nAlive);
    EXPECT_EQ(nullptr, pfnGet());
}

// A host that deletes the watchguard without stopping it first: the thread
// still ends before anything it uses goes, and says so.
TEST(Host, DeletingARunningWatchguardEndsItsThreadFirst)
{
    auto pfnInit = Resolve<SECTORIX_PFN_InitWatchguard>("InitWatchguard", 0);
    auto pfnGet = Resolve<SECTORIX_PFN_GetWatchguard>("GetWatchguard", 0);
    ASSERT_TRUE(pfnInit && pfnGet);
    CWatchguard* pWatchguard = pfnInit();
    ASSERT_NE(nullptr, pWatchguard);
    pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, NotifyMessage);
    Register(pWatchguard, new CTestSource(pWatchguard, 'E'));
    HANDLE hThread = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), pWatchguard->m_hThread, ::GetCurrentProcess(), &hThread,
                                  SYNCHRONIZE, FALSE, 0));

    delete pWatchguard;
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 0));
    ::CloseHandle(hThread);
    EXPECT_EQ(0, CTestSource::s_nAlive);
    EXPECT_EQ(nullptr, pfnGet());
    MSG msg;
    do
        ASSERT_TRUE(WaitForMessage(NotifyMessage, msg));
    while (msg.wParam != WatchguardStopped);
}

// The host's call reaches the card service, whose own result comes back.
TEST(Host, FlatDeleteArpEntryAsksTheCardService)
{
    auto pfnDeleteArpEntry = Resolve<SECTORIX_PFN_DeleteArpEntry>("DeleteArpEntry", 4);
    auto pfnInit = Resolve<SECTORIX_PFN_InitWatchguard>("InitWatchguard", 0);
    ASSERT_TRUE(pfnDeleteArpEntry && pfnInit);
    CardServiceProcess service({ L"--protocol", L"1.1.10.1", L"--arp-result", L"-5" });
    ASSERT_TRUE(service.IsReady());
    CWatchguard* pWatchguard = pfnInit();
    ASSERT_NE(nullptr, pWatchguard);
    EXPECT_EQ(-5, pfnDeleteArpEntry(0x1401A8C0));
    StopWatchguard(pWatchguard);
    EXPECT_EQ(1u, service.ReceivedStartingWith("0e000000" "05" "00" "c0a80114").size());
    EXPECT_TRUE(service.Stop());
    EXPECT_EQ(-2, pfnDeleteArpEntry(0x1401A8C0));
}

// The choice holds until it is unloaded; the library is loaded only on use.
TEST(Host, FlatCardLibrarySelectionKeepsTheFirstChoiceUntilUnloaded)
{
    auto select = Resolve<SECTORIX_PFN_SelectCSMDLL>("SelectCSMDLL", 4);
    auto unload = Resolve<SECTORIX_PFN_UnloadCSMDLL>("UnloadCSMDLL", 0);
    ASSERT_TRUE(select && unload);
    EXPECT_TRUE(select(L"cmrecdll.dll"));
    EXPECT_FALSE(select(L"CMDLL.DLL"));
    unload();
    EXPECT_TRUE(select(nullptr));
    unload();
    unload();
}
