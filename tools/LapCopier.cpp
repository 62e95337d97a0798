#include "LapCopier.h"

#include "ActiveCard.h"
#include "CardCopier.h"
#include "Console.h"
#include "Interruption.h"
#include "LapList.h"
#include "ToolError.h"
#include "WatchguardSession.h"

#include "Sectorix/SectorixTelvane.h"

#include <climits>

namespace
{
const wchar_t LapFolderName[] = L"\\SPIFiles";
const wchar_t PathSeparators[] = L"\\/";

// The source keeps the file of the lap it serves; the file's name carries
// the lap's numbers, which are the lap's own whatever laps were skipped.
class CServedLap : public CSectorixTelvane
{
public:
    static std::wstring File(CSectorixTelvane* pSource)
    {
        return std::wstring(pSource->*(&CServedLap::m_strLapFile));
    }
};

bool LapNumbers(const std::wstring& file, LPARAM& numbers)
{
    size_t separator = file.find_last_of(PathSeparators);
    std::wstring name = separator == std::wstring::npos ? file : file.substr(separator + 1);
    unsigned parts[CLapList::LapNumberCount] = {};
    if (!CLapList::FileNumbers(name, parts) || parts[0] > USHRT_MAX || parts[1] > USHRT_MAX)
        return false;
    numbers = static_cast<LPARAM>(parts[0] << 16 | parts[1]);
    return true;
}

std::string LapName(LPARAM numbers)
{
    return "lap " + std::to_string(HIWORD(numbers)) + "." + std::to_string(LOWORD(numbers));
}

// Laps go beside the program that stores them.
std::wstring ProgramLapFolder()
{
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, length < MAX_PATH ? length : 0);
    return program.substr(0, program.find_last_of(L'\\')) + LapFolderName;
}

// Only the wait for the next lap cannot be left early from this thread;
// the laps stored so far are safe in their files.
void StopDuringLapWait()
{
    PrintLine(stderr, "sectorix-read: stopped by " + CInterruption::Cause() + "; the laps stored so far stay in " +
                          Utf8(ProgramLapFolder()));
    ::ExitProcess(ExitInterrupted);
}
}

CLapCopier::CLapCopier(CWatchguardSession& session, const std::wstring& folder)
    : m_session(session)
    , m_folder(folder)
    , m_lapFolder(ProgramLapFolder())
{
}

int CLapCopier::Run(CSectorixTelvane* pSource)
{
    for (;;)
    {
        CInterruption::SetStopAction(StopDuringLapWait);
        bool bServed = CInterruption::Requested() ? false : pSource->WaitForBurstData();
        CInterruption::SetStopAction(nullptr);
        CInterruption::ThrowIfRequested("the laps stored so far stay in " + Utf8(m_lapFolder));
        if (!bServed)
            break;
        CopyServed(pSource);
    }
    m_session.Stop();
    NameMissing();
    Say(std::to_string(m_copied.size()) + (m_copied.size() == 1 ? " lap" : " laps") + " copied");
    if (m_failures == 0)
        return ExitSuccess;
    throw CToolError(ExitFailed, std::to_string(m_failures) + (m_failures == 1 ? " lap" : " laps") +
                                     " of the link could not be copied");
}

// A lap that cannot be read is kept by the link in its file; the tool goes
// on with the next.
void CLapCopier::CopyServed(CSectorixTelvane* pSource)
{
    std::wstring file = CServedLap::File(pSource);
    LPARAM numbers = 0;
    if (!LapNumbers(file, numbers))
    {
        Fail("the lap in " + Utf8(file) + " has a name without its numbers and was not copied");
        return;
    }
    m_served.insert(numbers);
    std::wstring copy = CopyName(numbers);
    Say(LapName(numbers));
    try
    {
        CActiveCard card(m_session.Watchguard(), pSource, L"lap " + std::to_wstring(HIWORD(numbers)) + L"." +
                                                              std::to_wstring(LOWORD(numbers)));
        CCardCopier copier(card);
        copier.CopyTo(copy);
        copier.Report(copy);
        m_copied.insert(numbers);
    }
    catch (const CToolError& error)
    {
        if (error.Code() == ExitInterrupted)
            throw;
        Fail(LapName(numbers) + " was not copied: " + error.what() + "; it stays in " + Utf8(file));
    }
}

// Laps the link stored but could not serve, and laps it could not store.
void CLapCopier::NameMissing()
{
    for (LPARAM numbers : m_session.LapsStored())
    {
        if (!m_served.count(numbers))
            Fail(LapName(numbers) + " arrived damaged and could not be served as a card; it stays in " +
                 Utf8(m_lapFolder));
    }
    for (LPARAM numbers : m_session.LapsNotStored())
    {
        if (!m_served.count(numbers) && !m_session.LapsStored().count(numbers))
            Fail(LapName(numbers) + " did not arrive whole; what arrived stays in " + Utf8(m_lapFolder));
    }
}

void CLapCopier::Fail(const std::string& problem)
{
    PrintLine(stderr, "sectorix-read: " + problem);
    ++m_failures;
}

std::wstring CLapCopier::CopyName(LPARAM numbers) const
{
    return m_folder + L"\\lap-" + std::to_wstring(HIWORD(numbers)) + L"-" + std::to_wstring(LOWORD(numbers)) +
           L".img";
}
