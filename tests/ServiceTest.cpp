#include "ServiceTest.h"

#include "SimulatedMachine.h"

#include "api/FlatExports.h"
#include "watchguard/Logbuch.h"

#include <cstdio>

using namespace card_files;

void ServiceTest::SetUp()
{
    m_folder = MakeTempFolder(L"service");
    m_image = m_folder + L"\\card.img";
    ASSERT_TRUE(::CopyFileW(WindowsPath(TEST_CARD_IMAGE).c_str(), m_image.c_str(), FALSE));
    m_pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, m_pWatchguard);
    m_pWatchguard->SetLogFolder((m_folder + L"\\logs").c_str());
}

// Sources go while the watchguard's alertable thread still receives for
// their pipes.
void ServiceTest::TearDown()
{
    for (CSectorixDrive* pSource : m_sources)
        pSource->Delete();
    m_sources.clear();
    testing_helpers::StopWatchguard(m_pWatchguard);
    if (HasFailure())
        std::printf("log book:\n%s", Log().c_str());
    if (m_service)
    {
        EXPECT_TRUE(m_service->Stop());
    }
    m_service.reset();
    TLogbuch::Instance().SetFolder(L"");
    RemoveTree(m_folder);
}

void ServiceTest::StartService(DWORD version, const std::vector<std::wstring>& options, const wchar_t* drive)
{
    std::vector<std::wstring> arguments = { L"--protocol", ServiceVersionText(version), L"--drive",
                                            drive + (L"=" + m_image) };
    arguments.insert(arguments.end(), options.begin(), options.end());
    m_service = std::make_unique<CardServiceProcess>(arguments);
    ASSERT_TRUE(m_service->IsReady());
}

CSectorixService* ServiceTest::MakeSource()
{
    CSectorixDrive* pSource = CSectorixDrive::Create(m_pWatchguard, 'E', false);
    if (!pSource)
        return nullptr;
    m_sources.push_back(pSource);
    return pSource->IsKindOf(RUNTIME_CLASS(CSectorixService)) ? static_cast<CSectorixService*>(pSource) : nullptr;
}

CSectorixService* ServiceTest::OpenedSource()
{
    CSectorixService* pSource = MakeSource();
    return pSource && pSource->OpenCard() ? pSource : nullptr;
}

CSectorixService* ServiceTest::StartOpened(DWORD version, const std::vector<std::wstring>& options)
{
    StartService(version, options);
    return m_service->IsReady() ? OpenedSource() : nullptr;
}

std::string ServiceTest::Log() const
{
    return LogText(m_folder + L"\\logs");
}

std::vector<BYTE> ServiceTest::Image(ULONGLONG sector, size_t sectors) const
{
    return ReadBytes(m_image, sector * 512, sectors * 512);
}

BackgroundCall::BackgroundCall(std::function<bool()> call)
    : m_pState(new State{ std::move(call), ::CreateEventW(nullptr, TRUE, FALSE, nullptr), false, nullptr })
{
    m_hThread = ::CreateThread(nullptr, 0, &Run, m_pState, 0, nullptr);
}

// A call that has not returned still uses its state, which is then left
// behind.
BackgroundCall::~BackgroundCall()
{
    if (m_hThread && !m_bReturned)
        return;
    if (m_hThread)
        ::CloseHandle(m_hThread);
    ::CloseHandle(m_pState->hStarted);
    delete m_pState;
}

DWORD WINAPI BackgroundCall::Run(void* pParam)
{
    State* pState = static_cast<State*>(pParam);
    ::SetEvent(pState->hStarted);
    pState->answer = pState->call();
    return 0;
}

void CALLBACK BackgroundCall::RunQueued(ULONG_PTR param)
{
    reinterpret_cast<State*>(param)->queued();
}

bool BackgroundCall::Started(DWORD bound)
{
    return m_hThread && ::WaitForSingleObject(m_pState->hStarted, bound) == WAIT_OBJECT_0;
}

std::optional<bool> BackgroundCall::Answer(DWORD bound)
{
    if (!m_bReturned && m_hThread)
        m_bReturned = ::WaitForSingleObject(m_hThread, bound) == WAIT_OBJECT_0;
    return m_bReturned ? std::optional<bool>(m_pState->answer) : std::nullopt;
}

bool BackgroundCall::QueueCall(std::function<void()> call)
{
    m_pState->queued = std::move(call);
    return m_hThread && ::QueueUserAPC(&RunQueued, m_hThread, reinterpret_cast<ULONG_PTR>(m_pState)) != 0;
}

std::optional<bool> AnswerWithin(DWORD bound, std::function<bool()> call)
{
    return BackgroundCall(std::move(call)).Answer(bound);
}
