#pragma once

#include "Sectorix/Sectorix.h"

#include <string>

// Initialises the card of an open, active source through the selected card
// library: optionally formats it with a progress bar fed from a second
// thread (Ctrl+C cancels the format), writes the init file, reads it back
// and verifies it, and says which step failed with which library code.
class CCardInitializer
{
public:
    CCardInitializer(CSectorix* pSource, const std::wstring& initFile, bool format);

    // Throws CToolError(ExitFailed) with the step that failed, and
    // CToolError(ExitInterrupted) when the format was cancelled.
    void Run();

private:
    static DWORD WINAPI InitializeThread(void* pParam);
    void ShowFormatUntil(HANDLE hThread);
    std::string Failure() const;

    CSectorix* m_pSource;
    std::wstring m_initFile;
    bool m_bFormat;
    eSectorixError m_result = ErrorNone;
    DWORD m_dwLibraryCode = 0;
    DWORD m_dwCancelledAt = 0;
    bool m_bCancelled = false;
};
