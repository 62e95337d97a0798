#include "CardServiceProcess.h"

#include "CardFiles.h"

#include "Sectorix/ServiceProtocol.h"

#include <cstdio>
#include <sstream>

namespace
{
const wchar_t ServiceProgram[] = L"sectorix-card-service.exe";
const wchar_t StopEventName[] = L"Global\\SectorixStandInStop";
const DWORD StartBound = 10000;
const DWORD StopBound = 10000;
const unsigned LifetimeSeconds = 120;
const DWORD StrayPollInterval = 20;

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

bool PipeExists()
{
    return ::WaitNamedPipeW(SECTORIX_SERVICE_PIPE, NMPWAIT_NOWAIT) || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

// A service left over from an earlier run (one whose test was killed, or a
// developer's) would answer in place of the one this test starts.
void StopStrayService()
{
    if (!PipeExists())
        return;
    HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, StopEventName);
    ::SetEvent(stop);
    for (DWORD start = ::GetTickCount(); PipeExists() && ::GetTickCount() - start < StopBound;)
        ::Sleep(StrayPollInterval);
    ::CloseHandle(stop);
}

std::wstring Quoted(const std::wstring& argument)
{
    return L"\"" + argument + L"\"";
}
}

CardServiceProcess::CardServiceProcess(const std::vector<std::wstring>& arguments)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t record[MAX_PATH];
    ::GetTempFileNameW(temp, L"svc", 0, record);
    m_record = record;

    StopStrayService();
    std::wstring command = Quoted(ProgramFolder() + L"\\" + ServiceProgram);
    command += L" --parent " + std::to_wstring(::GetCurrentProcessId());
    command += L" --lifetime " + std::to_wstring(LifetimeSeconds);
    command += L" --record " + Quoted(m_record);
    for (const std::wstring& argument : arguments)
        command += L" " + Quoted(argument);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &m_process))
        return;
    HANDLE running = ::CreateEventW(nullptr, TRUE, FALSE, SECTORIX_SERVICE_RUNNING);
    HANDLE handles[] = { running, m_process.hProcess };
    m_bReady = ::WaitForMultipleObjects(2, handles, FALSE, StartBound) == WAIT_OBJECT_0;
    ::CloseHandle(running);
}

CardServiceProcess::~CardServiceProcess()
{
    Stop();
    ::DeleteFileW(m_record.c_str());
}

// The stop event and the pipe are shared by every program of the Wine
// prefix: a test run beside this one stops this service when it starts its
// own, and this test then talks to the other's. A service that has ended
// already is reported, and the stop event is left alone for the other's.
bool CardServiceProcess::Stop()
{
    if (!m_process.hProcess)
        return false;
    bool endedBefore = ::WaitForSingleObject(m_process.hProcess, 0) == WAIT_OBJECT_0;
    if (endedBefore && m_bReady)
        std::printf("the stand-in card service ended before its test stopped it: another program of this Wine "
                    "prefix stopped it (a second test run in the same build tree?) or it crashed\n");
    bool ended = endedBefore;
    if (!endedBefore)
    {
        HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, StopEventName);
        ::SetEvent(stop);
        ended = ::WaitForSingleObject(m_process.hProcess, StopBound) == WAIT_OBJECT_0;
        ::CloseHandle(stop);
    }
    if (!ended)
    {
        ::TerminateProcess(m_process.hProcess, 1);
        ::WaitForSingleObject(m_process.hProcess, StopBound);
    }
    DWORD status = 1;
    ::GetExitCodeProcess(m_process.hProcess, &status);
    ::CloseHandle(m_process.hThread);
    ::CloseHandle(m_process.hProcess);
    m_process = {};
    return !endedBefore && ended && status == 0;
}

std::vector<std::string> CardServiceProcess::ReceivedStartingWith(const std::string& prefix) const
{
    std::vector<std::string> lines;
    std::istringstream text(card_files::ReadText(m_record));
    for (std::string line; std::getline(text, line);)
    {
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
    }
    return lines;
}

bool CardServiceProcess::WaitForReceived(const std::string& prefix, DWORD bound) const
{
    const DWORD Poll = 10;
    for (DWORD start = ::GetTickCount(); ReceivedStartingWith(prefix).empty(); ::Sleep(Poll))
    {
        if (::GetTickCount() - start >= bound)
            return false;
    }
    return true;
}

std::wstring ServiceVersionText(DWORD version)
{
    return std::to_wstring(version >> 24) + L"." + std::to_wstring((version >> 16) & 0xFF) + L"." +
           std::to_wstring((version >> 8) & 0xFF) + L"." + std::to_wstring(version & 0xFF);
}

std::string Hex(const void* data, size_t size)
{
    std::string text;
    char digits[3];
    for (size_t i = 0; i < size; ++i)
    {
        std::snprintf(digits, sizeof(digits), "%02x", static_cast<const BYTE*>(data)[i]);
        text += digits;
    }
    return text;
}
