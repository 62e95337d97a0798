// A host on the exported classes, built with the same toolset as
// Sectorix.dll (the classes are C++ and cross the DLL's border with their
// members and strings). It starts the watchguard, waits for a card in a
// drive and copies it whole to a file.
//
//     classes_host COPY
#include "Sectorix/Sectorix.h"
#include "Sectorix/SectorixFlat.h"
#include "Sectorix/Watchguard.h"

#include <cstdio>

namespace
{
// Any message number of the host's choosing; notifications come as this
// message with the state in wParam and the card source in lParam.
const UINT NotifyMessage = WM_APP + 1;
const UINT WaitMilliseconds = 30000;
const UINT SectorsPerRead = 64;

BYTE buffer[SectorsPerRead * Sectorix::SectorSize];

// Takes this thread's messages until a source reports a card, or gives up
// when the thread timer fires.
CSectorix* WaitForCard()
{
    UINT_PTR timer = ::SetTimer(nullptr, 0, WaitMilliseconds, nullptr);
    CSectorix* pCard = nullptr;
    MSG msg;
    while (!pCard && ::GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER)
    {
        if (msg.message == NotifyMessage && msg.wParam == MediaInserted)
            pCard = reinterpret_cast<CSectorix*>(msg.lParam);
        else
            ::DispatchMessageW(&msg);
    }
    ::KillTimer(nullptr, timer);
    return pCard;
}

bool CopyCard(CSectorix* pCard, const char* path)
{
    // The size is known once the card is open.
    unsigned long long sectors = pCard->GetCardSize() / Sectorix::SectorSize;
    std::FILE* copy = std::fopen(path, "wb");
    if (!copy)
        return false;
    bool copied = true;
    for (DWORD first = 0; copied && first < sectors; first += SectorsPerRead)
    {
        UINT count = sectors - first < SectorsPerRead ? static_cast<UINT>(sectors - first) : SectorsPerRead;
        copied = pCard->ReadSectorsA(buffer, first, count) &&
                 std::fwrite(buffer, Sectorix::SectorSize, count, copy) == count;
    }
    return std::fclose(copy) == 0 && copied;
}

// The watchguard's thread ends on WM_CLOSE; the host that started it
// deletes it once the thread is gone, which ends every source.
void StopWatchguard(CWatchguard* pWatchguard)
{
    pWatchguard->EnableNotificationMessages(0, nullptr, 0);
    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(pWatchguard->m_hThread, INFINITE);
    delete pWatchguard;
}
}

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: classes_host COPY\n");
        return 2;
    }

    // The thread's message queue exists before the first notification.
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    CWatchguard* pWatchguard = InitWatchguard();
    if (!pWatchguard)
        return 1;
    pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, NotifyMessage);
    // Drives are held by one process on the machine at a time.
    if (!pWatchguard->EnableDrives(true))
    {
        std::fprintf(stderr, "classes_host: drives are in use by another process\n");
        StopWatchguard(pWatchguard);
        return 1;
    }

    CSectorix* pCard = WaitForCard();
    bool copied = false;
    if (pCard)
    {
        // Only the active source is read; its status call opens the card.
        unsigned short status = 0;
        pWatchguard->ActivateSectorix(pCard, Sectorix::SetActive);
        if (pCard->TelvaneGetStatus(&status) && status == Sectorix::STATUS_CONNECTED)
            copied = CopyCard(pCard, argv[1]);
        pCard->TelvaneEndTransmit();
    }
    StopWatchguard(pWatchguard);

    if (!copied)
    {
        std::fprintf(stderr, "classes_host: no card was copied\n");
        return 1;
    }
    std::printf("classes_host: the card was copied\n");
    return 0;
}
