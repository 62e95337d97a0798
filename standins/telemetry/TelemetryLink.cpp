#include "TelemetryLink.h"

#include "ScopedLock.h"
#include "StandinFile.h"

#include <cstring>

namespace
{
const ULONGLONG SectorSize = 512;
const BYTE BurstStep = 2;
// Lap files to offer from the start, separated by semicolons, for a host
// that cannot reach the control entry (the demo).
const wchar_t LapsVariable[] = L"TELEMETRY_STANDIN_LAPS";
const wchar_t LapSeparator = L';';
const std::vector<BYTE> NoLap;
} // namespace

CTelemetryLink::CTelemetryLink() : m_hSync(::CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    ::InitializeCriticalSection(&m_lock);
}

CTelemetryLink::~CTelemetryLink()
{
    ::CloseHandle(m_hSync);
    ::DeleteCriticalSection(&m_lock);
}

int CTelemetryLink::Control(int op, UINT_PTR value, const void* data)
{
    namespace ts = TelemetryStandin;
    CScopedLock lock(m_lock);
    switch (op)
    {
    case ts::SetStatus:
        SetStatus(static_cast<WORD>(value));
        return 1;
    case ts::SetStep:
        m_step = static_cast<BYTE>(value);
        return 1;
    case ts::SetCardImage:
        return SetCardImage(static_cast<const wchar_t*>(data));
    case ts::OfferLap:
        return OfferLap(*static_cast<const ts::Lap*>(data));
    case ts::FailFetchAt:
        m_bFaultArmed = true;
        m_faultOffset = static_cast<DWORD>(value);
        return 1;
    case ts::SetFetchDelay:
        m_fetchDelay = static_cast<DWORD>(value);
        return 1;
    case ts::SetBoardLog:
        m_boardLog.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + value);
        return 1;
    case ts::SetInitResult:
        m_initResult = static_cast<int>(value);
        return 1;
    case ts::SetStartResult:
        m_startResult = static_cast<int>(value);
        return 1;
    case ts::GetCalls:
        return static_cast<int>(m_record.Copy(static_cast<wchar_t*>(const_cast<void*>(data)), value));
    case ts::ClearCalls:
        m_record.Clear();
        return 1;
    default:
        return 0;
    }
}

int CTelemetryLink::InitResult()
{
    CScopedLock lock(m_lock);
    return m_initResult;
}

int CTelemetryLink::Start()
{
    CScopedLock lock(m_lock);
    if (m_startResult && !m_bEnvironmentRead)
        OfferLapsFromEnvironment();
    return m_startResult;
}

void CTelemetryLink::EnableNotify(HWND window, UINT message)
{
    CScopedLock lock(m_lock);
    m_hNotifyWnd = window;
    m_nNotifyMsg = message;
}

WORD CTelemetryLink::Status()
{
    CScopedLock lock(m_lock);
    return m_status;
}

// The second value is the number of laps on offer.
BYTE CTelemetryLink::Step(DWORD* value)
{
    CScopedLock lock(m_lock);
    *value = static_cast<DWORD>(m_laps.size());
    return m_step;
}

// The burst goes on while a lap or a board log is on offer.
WORD CTelemetryLink::Error()
{
    CScopedLock lock(m_lock);
    if (m_bTransferFailed)
    {
        m_bTransferFailed = false;
        return TelemetryStandin::ErrorTransfer;
    }
    if (m_status != StatusConnected)
        return TelemetryStandin::ErrorNotConnected;
    return m_laps.empty() && m_boardLog.empty() ? ErrorNone : ErrorBurstPending;
}

ULONGLONG CTelemetryLink::CardSize()
{
    CScopedLock lock(m_lock);
    return m_card.size();
}

bool CTelemetryLink::ReadSectors(BYTE* buffer, DWORD first, UINT count)
{
    CScopedLock lock(m_lock);
    if (!CardHolds(first, count))
        return false;
    std::memcpy(buffer, m_card.data() + first * SectorSize, count * SectorSize);
    return true;
}

bool CTelemetryLink::ReadSectorList(BYTE* buffer, UINT count, const DWORD* sectors)
{
    CScopedLock lock(m_lock);
    for (UINT i = 0; i < count; ++i)
    {
        if (!CardHolds(sectors[i], 1))
            return false;
        std::memcpy(buffer + i * SectorSize, m_card.data() + sectors[i] * SectorSize, SectorSize);
    }
    return true;
}

bool CTelemetryLink::WriteSectors(const BYTE* buffer, DWORD first, UINT count)
{
    CScopedLock lock(m_lock);
    if (!CardHolds(first, count))
        return false;
    std::memcpy(m_card.data() + first * SectorSize, buffer, count * SectorSize);
    return true;
}

bool CTelemetryLink::LapSize(LapInfo* info)
{
    CScopedLock lock(m_lock);
    if (m_status != StatusConnected || m_laps.empty())
        return false;
    const OfferedLap& lap = m_laps.front();
    *info = LapInfo{0, lap.numbers.id, lap.numbers.first, lap.numbers.second, lap.numbers.third,
                    static_cast<DWORD>(lap.bytes.size())};
    return true;
}

bool CTelemetryLink::LapData(DWORD offset, DWORD count, BYTE* buffer)
{
    Delay();
    CScopedLock lock(m_lock);
    return Fetch(m_laps.empty() ? NoLap : m_laps.front().bytes, offset, count, buffer);
}

void CTelemetryLink::EndLap()
{
    CScopedLock lock(m_lock);
    if (!m_laps.empty())
        m_laps.pop_front();
}

bool CTelemetryLink::LogSize(LapInfo* info)
{
    CScopedLock lock(m_lock);
    if (m_status != StatusConnected)
        return false;
    info->size = static_cast<DWORD>(m_boardLog.size());
    return true;
}

bool CTelemetryLink::LogData(DWORD offset, DWORD count, BYTE* buffer)
{
    Delay();
    CScopedLock lock(m_lock);
    return Fetch(m_boardLog, offset, count, buffer);
}

// The board starts a new, empty log once the whole one was taken.
void CTelemetryLink::EndLog()
{
    CScopedLock lock(m_lock);
    m_boardLog.clear();
}

// Called under the lock: the window learns the status from the post, a
// waiter on the sync object asks for it.
void CTelemetryLink::SetStatus(WORD status)
{
    m_status = status;
    if (m_hNotifyWnd)
        ::PostMessageW(m_hNotifyWnd, m_nNotifyMsg, status, 0);
    ::SetEvent(m_hSync);
}

bool CTelemetryLink::OfferLap(const TelemetryStandin::Lap& lap)
{
    OfferedLap offered{lap, {}};
    offered.numbers.path = nullptr;
    if (!ReadWholeFile(lap.path, offered.bytes))
        return false;
    m_laps.push_back(std::move(offered));
    return true;
}

// Lap k of the list (from 1) gets the identifier k and the numbers k, 0, k.
void CTelemetryLink::OfferLapsFromEnvironment()
{
    m_bEnvironmentRead = true;
    wchar_t list[MAX_PATH * 16];
    DWORD length = ::GetEnvironmentVariableW(LapsVariable, list, ARRAYSIZE(list));
    if (length == 0 || length >= ARRAYSIZE(list))
        return;
    std::wstring paths(list, length);
    DWORD number = 0;
    for (size_t start = 0; start <= paths.size();)
    {
        size_t end = paths.find(LapSeparator, start);
        if (end == std::wstring::npos)
            end = paths.size();
        std::wstring path = paths.substr(start, end - start);
        start = end + 1;
        if (path.empty())
            continue;
        ++number;
        OfferLap(TelemetryStandin::Lap{path.c_str(), number, static_cast<BYTE>(number), 0, static_cast<WORD>(number)});
    }
    m_step = BurstStep;
    SetStatus(StatusConnected);
}

bool CTelemetryLink::SetCardImage(const wchar_t* path)
{
    m_card.clear();
    return !path || ReadWholeFile(path, m_card);
}

bool CTelemetryLink::CardHolds(ULONGLONG first, ULONGLONG count) const
{
    return m_status == StatusConnected && (first + count) * SectorSize <= m_card.size();
}

// Outside the lock, so that the tests can steer the link during a slow fetch.
void CTelemetryLink::Delay()
{
    DWORD delay = 0;
    {
        CScopedLock lock(m_lock);
        delay = m_fetchDelay;
    }
    ::Sleep(delay);
}

// Called under the lock. An armed fault fails the first fetch that reaches
// its byte and is then spent. Every failed fetch is told once by the next
// error query, so that a burst never goes on over it.
bool CTelemetryLink::Fetch(const std::vector<BYTE>& source, DWORD offset, DWORD count, BYTE* buffer)
{
    bool bFault = m_bFaultArmed && m_faultOffset >= offset && m_faultOffset - offset < count;
    if (bFault)
        m_bFaultArmed = false;
    if (bFault || m_status != StatusConnected || ULONGLONG(offset) + count > source.size())
    {
        m_bTransferFailed = true;
        return false;
    }
    std::memcpy(buffer, source.data() + offset, count);
    return true;
}
