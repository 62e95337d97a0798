// The burst thread of the Telvane source: laps into lap files, the vehicle
// computer's log into BoardPC.log, pass after pass while the vehicle has
// more to send.
#include "Sectorix/SectorixTelvane.h"

#include "Sectorix/Watchguard.h"
#include "telemetry/TelemetryLibrary.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace Sectorix;

namespace
{
const DWORD ChunkSize = 32768;
const DWORD ResumeCompareSize = 16384;
const wchar_t SpiFolder[] = L"\\SPIFiles";
const wchar_t LapFileFormat[] = L"%s\\SPIFiles\\%08X_%03d_%03d_%05d.mflap";
const wchar_t BoardLogFormat[] = L"%s\\BoardPC.log";

LPARAM LapNumbers(const _lap_info& info)
{
    return static_cast<LPARAM>(static_cast<DWORD>(info.firstLap) << 16 | info.secondLap);
}

bool WriteAll(HANDLE hFile, const BYTE* data, DWORD size)
{
    DWORD written = 0;
    return ::WriteFile(hFile, data, size, &written, nullptr) && written == size;
}

bool IsFolder(const CString& path)
{
    DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
}

UINT CSectorixTelvane::_BurstDataEntry(LPVOID pSource)
{
    return static_cast<CSectorixTelvane*>(pSource)->BurstDataEntry();
}

// A failure skips the laps of later passes until the board log stores
// again; the vehicle decides with its error code whether another pass runs.
// A pass that ends in a failure nothing mended ends the run: the laps it
// would skip are still on offer, and passing over them again and again
// would keep the thread, and a host waiting for burst data, going for
// ever. The next status change tries them again.
UINT CSectorixTelvane::BurstDataEntry()
{
    std::vector<BYTE> buffer(ChunkSize);
    PrepareSpiFolder();
    bool success = true;
    do
    {
        if (success)
            success = FetchLaps(buffer.data());
        FetchBoardLog(buffer.data(), success);
    } while (IsBurstPending(buffer.data()) && success);
    m_evStop.ResetEvent();
    m_evIdle.SetEvent();
    return 0;
}

bool CSectorixTelvane::IsStopping() const
{
    return ::WaitForSingleObject(m_evStop, 0) == WAIT_OBJECT_0;
}

// Lap files go beside the host's program.
void CSectorixTelvane::PrepareSpiFolder()
{
    if (m_strFolder.IsEmpty())
    {
        wchar_t module[MAX_PATH] = {};
        DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return;
        if (wchar_t* pName = wcsrchr(module, L'\\'))
            *pName = L'\0';
        m_strFolder = module;
    }
    CString spiFolder = m_strFolder;
    spiFolder += SpiFolder;
    if (!IsFolder(spiFolder))
        ::CreateDirectoryW(spiFolder, nullptr);
}

// Answers the success flag: false when a lap could not be stored; a stop
// request ends the laps with the flag kept.
bool CSectorixTelvane::FetchLaps(BYTE* buffer)
{
    for (;;)
    {
        _lap_info info = {};
        if (IsStopping() || !m_pfnGetLastLapSize(&info))
            return true;
        CString path;
        path.Format(LapFileFormat, m_strFolder.GetString(), info.id, info.firstLap, info.secondLap, info.thirdLap);
        PostNotifyMessage(NOTIFY_LAP_STARTED, LapNumbers(info));
        bool stored = FetchLap(info, path, buffer);
        if (stored && !IsStopping())
        {
            m_pfnEndLastLapTransmit();
            QueueFile(path);
            PostNotifyMessage(NOTIFY_LAP_DONE, LapNumbers(info));
            m_nProgress = 0;
            continue;
        }
        PostNotifyMessage(NOTIFY_LAP_FAILED, LapNumbers(info));
        if (!stored)
            return false;
    }
}

bool CSectorixTelvane::FetchLap(const _lap_info& info, const CString& path, BYTE* buffer)
{
    HANDLE hFile = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    unsigned long long position = 0;
    bool stored = ResumeLap(hFile, info, buffer, position) && StoreLapRest(hFile, info, buffer, position);
    ::CloseHandle(hFile);
    return stored;
}

// A file left by an earlier attempt is kept when its start equals the
// lap's, and the rest is appended; otherwise it is written anew. A file
// longer than the lap is an older lap of the same numbers, never a start
// of this one. A file that cannot be cut, as one mapped elsewhere, is not
// written over.
bool CSectorixTelvane::ResumeLap(HANDLE hFile, const _lap_info& info, BYTE* buffer, unsigned long long& position)
{
    LARGE_INTEGER existing = {};
    if (!::GetFileSizeEx(hFile, &existing) || existing.QuadPart == 0)
        return true;
    DWORD head = std::min(info.size, ResumeCompareSize);
    if (!m_pfnGetLastLapData(0, head, buffer))
        return false;
    DWORD read = 0;
    if (static_cast<unsigned long long>(existing.QuadPart) <= info.size &&
        ::ReadFile(hFile, buffer + head, head, &read, nullptr) && read == head &&
        std::memcmp(buffer, buffer + head, head) == 0)
    {
        PostNotifyMessage(NOTIFY_LAP_PRESENT, static_cast<LPARAM>(existing.QuadPart));
        position = static_cast<unsigned long long>(existing.QuadPart);
        return true;
    }
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(hFile, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(hFile))
        return false;
    position = head;
    return WriteAll(hFile, buffer, head);
}

bool CSectorixTelvane::StoreLapRest(HANDLE hFile, const _lap_info& info, BYTE* buffer, unsigned long long position)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    ::SetFilePointerEx(hFile, to, nullptr, FILE_BEGIN);
    while (!IsStopping() && position < info.size)
    {
        m_nProgress = static_cast<int>(static_cast<double>(position) * 100.0 / info.size + 0.5);
        DWORD offset = static_cast<DWORD>(position);
        DWORD chunk = std::min(info.size - offset, ChunkSize);
        if (!m_pfnGetLastLapData(offset, chunk, buffer) || !WriteAll(hFile, buffer, chunk))
            return false;
        position += chunk;
    }
    return true;
}

// The log is appended from where the last pass ended; a log shorter than
// that is a new one and is appended from its start. Once the vehicle
// accepts the end of a complete transfer, its next log starts at 0.
void CSectorixTelvane::FetchBoardLog(BYTE* buffer, bool& success)
{
    if (!m_pfnGetLogFileSize || !m_pfnGetLogFileData || !m_pfnEndLogFileTransmit)
        return;
    _lap_info info = {};
    if (!m_pfnGetLogFileSize(&info) || info.size == 0)
        return;
    // With no log folder logging is off: the log stays on the vehicle,
    // untold. The vehicle keeps offering it, so the run ends with this pass
    // as when a log cannot be stored, rather than pass again at once.
    if (m_pWatchguard->GetLogFolder().IsEmpty())
    {
        success = false;
        return;
    }
    CString path;
    path.Format(BoardLogFormat, CString(m_pWatchguard->GetLogFolder()).GetString());
    HANDLE hFile = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
    LARGE_INTEGER end = {};
    success = hFile != INVALID_HANDLE_VALUE && ::SetFilePointerEx(hFile, end, nullptr, FILE_END);
    if (m_nBoardLogOffset > info.size)
        m_nBoardLogOffset = 0;
    while (success && !IsStopping() && m_nBoardLogOffset < info.size)
    {
        DWORD chunk = std::min(info.size - m_nBoardLogOffset, ChunkSize);
        success = m_pfnGetLogFileData(m_nBoardLogOffset, chunk, buffer) && WriteAll(hFile, buffer, chunk);
        if (success)
            m_nBoardLogOffset += chunk;
    }
    if (hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(hFile);
    if (m_nBoardLogOffset == info.size && m_pfnEndLogFileTransmit())
        m_nBoardLogOffset = 0;
}

// The error text lands in the work buffer, which is far larger than any text.
bool CSectorixTelvane::IsBurstPending(BYTE* buffer)
{
    unsigned short code = 0;
    return m_pfnGetTelvaneError(&code, reinterpret_cast<wchar_t*>(buffer)) && code == ERROR_BURST_PENDING &&
           !IsStopping();
}
