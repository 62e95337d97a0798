#include "CardInitializer.h"

#include "Console.h"
#include "Interruption.h"
#include "ProgressLine.h"
#include "ToolError.h"

#include <cstdio>

namespace
{
const DWORD PollInterval = 10;
const DWORD FullProgress = 100;
}

CCardInitializer::CCardInitializer(CSectorix* pSource, const std::wstring& initFile, bool format)
    : m_pSource(pSource)
    , m_initFile(initFile)
    , m_bFormat(format)
{
}

// The library works on a thread of its own, so that this one can show the
// format's progress and pass on a Ctrl+C.
void CCardInitializer::Run()
{
    HANDLE hThread = ::CreateThread(nullptr, 0, InitializeThread, this, 0, nullptr);
    if (!hThread)
        throw CToolError(ExitFailed, "cannot start the initialisation: " + SystemMessage(::GetLastError()));
    if (m_bFormat)
        ShowFormatUntil(hThread);
    ::WaitForSingleObject(hThread, INFINITE);
    ::CloseHandle(hThread);
    if (m_result != ErrorNone)
        throw CToolError(ExitFailed, Failure());
    Say("init file written, read back and verified both ways");
    if (m_bCancelled)
        throw CToolError(ExitInterrupted, "the format was cancelled at " + std::to_string(m_dwCancelledAt) +
                                              " %, the init file written; the rest of the card was not overwritten");
}

DWORD WINAPI CCardInitializer::InitializeThread(void* pParam)
{
    CCardInitializer* pInitializer = static_cast<CCardInitializer*>(pParam);
    pInitializer->m_result = pInitializer->m_pSource->InitializeCard(pInitializer->m_initFile.c_str(),
                                                                     pInitializer->m_bFormat,
                                                                     &pInitializer->m_dwLibraryCode);
    return 0;
}

// The bar follows the format while the source reports one; the library's
// init steps after it are short. A format too short to be seen running is
// shown done, unless the card could not even be mounted.
void CCardInitializer::ShowFormatUntil(HANDLE hThread)
{
    Say("formatting the card");
    unsigned long long size = m_pSource->GetCardSize();
    CProgressLine progressLine(size);
    DWORD progress = 0;
    bool formatSeen = false;
    while (::WaitForSingleObject(hThread, PollInterval) == WAIT_TIMEOUT)
    {
        bool pastStart = false;
        // The library goes on with the init file after a cancelled format,
        // so the card is never left without one.
        bool cancel = CInterruption::Requested() && !m_bCancelled;
        if (!m_pSource->FormatCardProgress(progress, pastStart, cancel))
        {
            if (formatSeen)
                break;
            continue;
        }
        formatSeen = true;
        if (cancel)
        {
            m_bCancelled = true;
            m_dwCancelledAt = progress;
        }
        progressLine.Update(size * progress / FullProgress);
    }
    if (!formatSeen)
    {
        ::WaitForSingleObject(hThread, INFINITE);
        if (m_result == ErrorMount)
            return;
    }
    progressLine.Finish(size * (m_bCancelled ? m_dwCancelledAt : FullProgress) / FullProgress);
}

std::string CCardInitializer::Failure() const
{
    char code[16];
    std::snprintf(code, sizeof(code), "0x%04lX", static_cast<unsigned long>(m_dwLibraryCode));
    switch (m_result)
    {
    case ErrorMount:
        return std::string("the card library could not mount the card (library code ") + code + ")";
    case ErrorInitCard:
        return std::string("the card library could not write the init file to the card (library code ") + code + ")";
    case ErrorReadInit:
        return std::string("the card library could not read the init file back from the card (library code ") +
               code + ")";
    default:
        return "the init file read back from the card differs from " + Utf8(m_initFile);
    }
}
