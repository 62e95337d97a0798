#pragma once

#include "CardFiles.h"
#include "CardServiceProcess.h"
#include "TestHelpers.h"

#include "Sectorix/SectorixService.h"

#include <functional>
#include <memory>
#include <optional>

// A watchguard with a log folder of its own, a copy of the test card image,
// and the stand-in card service started as each test needs it.
class ServiceTest : public ::testing::Test
{
protected:
    static constexpr size_t CardBytes = 2048 * 1024;

    void SetUp() override;
    void TearDown() override;

    // The service serves the card image as the given drive.
    void StartService(DWORD version, const std::vector<std::wstring>& options = {}, const wchar_t* drive = L"E");
    CSectorixService* MakeSource();
    // A source of drive E with its card open at the service; null otherwise.
    CSectorixService* OpenedSource();
    CSectorixService* StartOpened(DWORD version, const std::vector<std::wstring>& options = {});
    std::string Log() const;
    std::vector<BYTE> Image(ULONGLONG sector, size_t sectors) const;

    std::wstring m_folder;
    std::wstring m_image;
    CWatchguard* m_pWatchguard = nullptr;
    std::unique_ptr<CardServiceProcess> m_service;
    std::vector<CSectorixDrive*> m_sources;
};

// A call running on a thread of its own, so that a test can watch it wait
// and give up on it when it hangs (the thread is then left to the end of
// the process).
class BackgroundCall
{
public:
    explicit BackgroundCall(std::function<bool()> call);
    ~BackgroundCall();

    BackgroundCall(const BackgroundCall&) = delete;
    BackgroundCall& operator=(const BackgroundCall&) = delete;

    bool Started(DWORD bound);
    // The call's answer, or none if it has not returned within the bound.
    std::optional<bool> Answer(DWORD bound);
    // Runs another call on the call's thread the next time it waits alertably.
    bool QueueCall(std::function<void()> call);

private:
    struct State
    {
        std::function<bool()> call;
        HANDLE hStarted;
        bool answer;
        std::function<void()> queued;
    };

    static DWORD WINAPI Run(void* pParam);
    static void CALLBACK RunQueued(ULONG_PTR param);

    State* m_pState;
    HANDLE m_hThread = nullptr;
    bool m_bReturned = false;
};

std::optional<bool> AnswerWithin(DWORD bound, std::function<bool()> call);
