#include "Sectorix/SectorixTelvane.h"

#include "Sectorix/Watchguard.h"
#include "afx/SingleLock.h"
#include "afx/WinThread.h"
#include "telemetry/LapImage.h"

#include <algorithm>

using namespace Sectorix;

IMPLEMENT_DYNAMIC(CSectorixTelvane, CSectorixSPI)

namespace
{
const unsigned char NoStep = 0;
const unsigned char BurstStep = 2;
const DWORD QueuedStepValue = 1;
const DWORD CardCodeRestartFailed = 0x20010031;
const wchar_t* const BoardPCTexts[2][2] = {
    { L"Verbindung zum BoardPC getrennt.", L"Verbindung zum BoardPC hergestellt." },
    { L"Disconnected from BoardPC.", L"Connection to BoardPC established." },
};
}

CSectorixTelvane::CSectorixTelvane(CWatchguard* pWatchguard)
    : CSectorixSPI(pWatchguard, L"telvane.dll", TypeTelvane)
    , m_evStop(FALSE, TRUE)
    , m_evIdle(TRUE, TRUE)
    , m_evQueued(FALSE, TRUE)
    , m_lstQueue(10)
    , m_evNoWaits(TRUE, TRUE)
{
}

// The burst thread and the waiters use the library and the members to
// their end, so nothing is freed before they have gone.
CSectorixTelvane::~CSectorixTelvane()
{
    StopBurst();
    ReleaseLap();
    delete m_pLapImage;
}

// Any step but burst mode is the ordinary link, whose connection is the
// card; a library without burst entries has no step at all.
void CSectorixTelvane::OnStatusChange(UINT status)
{
    CSectorixSPI::OnStatusChange(status);
    unsigned char step = NoStep;
    DWORD value = 0;
    if (!HasBurstEntries() || !m_pfnGetTelvaneStep(&step, &value))
        step = NoStep;
    m_bStep = step;
    m_dwStepValue = value;
    if (m_bStep == NoStep)
        return;
    if (m_bStep == BurstStep)
        StartBurstThread();
    else
        CardInsertRemove(status == STATUS_CONNECTED);
}

// The stop request is cleared before the thread exists, so that one made
// while the thread is starting is not lost. A thread that cannot be
// started leaves the source idle; a stopped source starts none. The
// thread's own handle is kept, as its object deletes itself: a stop waits
// until the thread has left the library's code, not only its work.
void CSectorixTelvane::StartBurstThread()
{
    CSingleLock lock(&m_csBurst, TRUE);
    if (m_bStopped || ::WaitForSingleObject(m_evIdle, 0) != WAIT_OBJECT_0)
        return;
    m_evIdle.ResetEvent();
    m_evStop.ResetEvent();
    CloseBurstThread();
    CWinThread* pThread = AfxBeginThread(&_BurstDataEntry, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (!pThread)
    {
        m_evIdle.SetEvent();
        return;
    }
    HANDLE hProcess = ::GetCurrentProcess();
    if (!::DuplicateHandle(hProcess, pThread->m_hThread, hProcess, &m_hBurstThread, SYNCHRONIZE, FALSE, 0))
        m_hBurstThread = nullptr;
    pThread->ResumeThread();
}

void CSectorixTelvane::CloseBurstThread()
{
    if (m_hBurstThread)
        ::CloseHandle(m_hBurstThread);
    m_hBurstThread = nullptr;
}

void CSectorixTelvane::QueueFile(CString path)
{
    CSingleLock lock(&m_csQueue, TRUE);
    if (m_bStep == NoStep)
    {
        m_bStep = BurstStep;
        m_dwStepValue = QueuedStepValue;
    }
    m_lstQueue.AddTail(path);
    CardInsertRemove(true);
    m_evQueued.SetEvent();
}

// A source that is stopped, or on its way out, answers false at once.
bool CSectorixTelvane::WaitForBurstData()
{
    CEvent evEnd(FALSE, TRUE);
    if (!EnterWait(evEnd))
        return false;
    bool served = ServeNextLap(evEnd);
    LeaveWait(evEnd);
    return served;
}

void CSectorixTelvane::EndBurstWaits()
{
    CSingleLock lock(&m_csBurst, TRUE);
    for (HANDLE hEnd : m_waits)
        ::SetEvent(hEnd);
}

bool CSectorixTelvane::EnterWait(HANDLE hEnd)
{
    CSingleLock lock(&m_csBurst, TRUE);
    if (m_bStopped)
        return false;
    m_waits.push_back(hEnd);
    m_evNoWaits.ResetEvent();
    return true;
}

void CSectorixTelvane::LeaveWait(HANDLE hEnd)
{
    CSingleLock lock(&m_csBurst, TRUE);
    m_waits.erase(std::find(m_waits.begin(), m_waits.end(), hEnd));
    if (m_waits.empty())
        m_evNoWaits.SetEvent();
}

// For good: the burst thread is told to stop and no other starts, every
// waiter is told to leave, and both are waited for. The caller must not
// hold the watchguard's lock, which both may need on their way out.
void CSectorixTelvane::StopBurst()
{
    {
        CSingleLock lock(&m_csBurst, TRUE);
        m_bStopped = true;
        m_evStop.SetEvent();
        for (HANDLE hEnd : m_waits)
            ::SetEvent(hEnd);
    }
    ::WaitForSingleObject(m_evIdle, INFINITE);
    if (m_hBurstThread)
        ::WaitForSingleObject(m_hBurstThread, INFINITE);
    ::WaitForSingleObject(m_evNoWaits, INFINITE);
    // The last waiter out gives the sign while it still holds the lock.
    CSingleLock lock(&m_csBurst, TRUE);
    CloseBurstThread();
}

void CSectorixTelvane::EndLink()
{
    StopBurst();
    CSectorixSPI::EndLink();
}

// Serves the oldest finished lap as the card; a lap file that cannot be
// prepared is skipped. False once no burst runs and nothing is queued, and
// when the wait is ended from outside.
bool CSectorixTelvane::ServeNextLap(HANDLE hEnd)
{
    for (;;)
    {
        ReleaseLap();
        HANDLE events[] = { hEnd, m_evIdle, m_evQueued };
        if (::WaitForMultipleObjects(ARRAYSIZE(events), events, FALSE, INFINITE) == WAIT_OBJECT_0)
            return false;
        if (::WaitForSingleObject(m_evQueued, 0) != WAIT_OBJECT_0)
        {
            CardInsertRemove(false);
            return false;
        }
        if (!TakeQueuedFile())
            continue;
        if (!m_pLapImage)
            m_pLapImage = new CLapImage;
        if (PrepareLapFile(m_strLapFile) && PrepareHdrFile())
            return true;
    }
}

// Another waiting thread may have emptied the queue since the event was seen.
bool CSectorixTelvane::TakeQueuedFile()
{
    CSingleLock lock(&m_csQueue, TRUE);
    if (m_lstQueue.IsEmpty())
    {
        m_evQueued.ResetEvent();
        return false;
    }
    m_strLapFile = m_lstQueue.RemoveHead();
    if (m_lstQueue.IsEmpty())
        m_evQueued.ResetEvent();
    return true;
}

bool CSectorixTelvane::EraseFlashcard()
{
    return m_pfnRestartMeasurement() != FALSE;
}

// The source is a whole record of the program's own length, as the served
// lap's list block is.
void CSectorixTelvane::CopyListBlock(const _list_block* source, _list_block* target, WORD targetLength)
{
    ::CopyListBlock(source, sizeof(_list_block), target, targetLength);
}

// A data source of the card library's marks nothing here; without one the
// vehicle is told to start measuring anew.
DWORD CSectorixTelvane::SetCardHasBeenRead(void* card)
{
    if (card)
        return CARDLIB_SUCCESS;
    return TelvaneRestartMeasurement() ? CARDLIB_SUCCESS : CardCodeRestartFailed;
}

bool CSectorixTelvane::IsBurstMode()
{
    return m_bStep == BurstStep;
}

// The vehicle computer answers for the link in every mode.
bool CSectorixTelvane::TelvaneGetStatus(unsigned short* status)
{
    *status = STATUS_CONNECTED;
    return true;
}

_list_block* CSectorixTelvane::TelvaneGetListBlock()
{
    return IsBurstMode() ? &m_listBlock : nullptr;
}

// The library learns the card's size before the first read.
bool CSectorixTelvane::Activate()
{
    if (!IsBurstMode())
        GetCardSize();
    return true;
}

bool CSectorixTelvane::Deactivate()
{
    return true;
}

CString CSectorixTelvane::GetMediaText(int language)
{
    unsigned short status = 0;
    bool connected = GetLibraryStatus(&status) && status == STATUS_CONNECTED;
    return BoardPCTexts[language == 0 ? 0 : 1][connected ? 1 : 0];
}

bool CSectorixTelvane::ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count)
{
    if (!IsBurstMode())
        return CSectorixSPI::ReadSectorsA(buffer, firstSector, count);
    return m_pView && m_pLapImage->ReadSectors(buffer, firstSector, count);
}

bool CSectorixTelvane::ReadSectorsB(BYTE* buffer, UINT count, DWORD* sectors)
{
    if (!IsBurstMode())
        return CSectorixSPI::ReadSectorsB(buffer, count, sectors);
    static_assert(sizeof(DWORD) == sizeof(uint32_t), "sector numbers");
    return m_pView && m_pLapImage->ReadSectorList(buffer, count, reinterpret_cast<const uint32_t*>(sectors));
}
