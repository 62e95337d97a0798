// The requests of the service card source and the service's own operations:
// discovery, mount points and ARP entries.
#include "Sectorix/SectorixService.h"

#include "afx/Exception.h"
#include "afx/SingleLock.h"
#include "watchguard/Logbuch.h"

#include <new>

using namespace Sectorix;

IMPLEMENT_DYNAMIC(CSectorixService, CSectorixDrive)

DWORD CSectorixService::s_ServiceVersion = 0;

namespace
{
const DWORD CloseSettleDelay = 10;

#ifndef _WIN64
static_assert(sizeof(PIPE_READ_BUFFER) == 2100, "receive buffer");
#endif

const wchar_t NoServiceText[] = L"No SectorixService";
const wchar_t NotSupportedText[] = L"ChangeDriveLetter not supported by SectorixService";
const wchar_t CannotConnectText[] = L"Cannot connect to SectorixService";
const wchar_t PathTooLongText[] = L"Mount point too long for SectorixService";

PIPE_READ_BUFFER* NewReadBuffer(CSectorixService* pOwner)
{
    PIPE_READ_BUFFER* pBuffer = static_cast<PIPE_READ_BUFFER*>(::operator new(sizeof(PIPE_READ_BUFFER)));
    ZeroMemory(&pBuffer->overlapped, sizeof(pBuffer->overlapped));
    pBuffer->pOwner = pOwner;
    pBuffer->area[0] = 0;
    pBuffer->area[1] = 0;
    return pBuffer;
}

bool IsSignalled(const wchar_t* name)
{
    CEvent event(FALSE, TRUE, name);
    return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// The path goes out whole or not at all; a cut path would name another
// mount point.
bool CopyPath(char16_t (&field)[ServicePathLength], const CString& path)
{
    if (path.GetLength() >= static_cast<int>(ServicePathLength))
        return false;
    CopyMemory(field, path.GetString(), (path.GetLength() + 1) * sizeof(wchar_t));
    return true;
}
}

CSectorixService::CSectorixService(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged)
    : CSectorixDrive(pWatchguard, volume, hotPlugged)
    , m_evResponse(FALSE, FALSE)
    , m_evWrite(FALSE, TRUE)
    , m_pCurrent(NewReadBuffer(this))
    , m_pNext(NewReadBuffer(this))
    , m_evRead(FALSE, TRUE)
{
}

// An open pipe still has a read on its way into the buffers.
CSectorixService::~CSectorixService()
{
    ClosePipe();
    if (m_hReceiver)
        ::CloseHandle(m_hReceiver);
    ::operator delete(m_pCurrent);
    ::operator delete(m_pNext);
}

bool CSectorixService::isOpened()
{
    return m_bOpened;
}

DWORD CSectorixService::CardMessageSize() const
{
    return s_ServiceVersion < ServiceVersionPhysicalDrives ? ServiceCardSizeShort : sizeof(SECTORIX_CARD);
}

void CSectorixService::SendCardMessage(_eServiceCmd cmd, const wchar_t* operation)
{
    SECTORIX_CARD request = {};
    request.header = { CardMessageSize(), cmd, m_nVolume };
    WriteToPipe(&request.header, operation);
}

// A second open that the service refuses leaves the source closed, not
// still opened from the first.
bool CSectorixService::OpenCard()
{
    CSingleLock command(&m_csCommand, TRUE);
    m_bOpened = false;
    if (OpenPipe() == INVALID_HANDLE_VALUE)
        return false;
    SendCardMessage(eServiceCmdOpenCard, L"CSectorixService::OpenCard");
    if (SECTORIX_HEADERS* pResponse = ReadResponse(eServiceCmdOpenCard))
    {
        m_bOpened = true;
        m_qwCardSize = pResponse->card.mediaSize;
        if (s_ServiceVersion >= ServiceVersionPhysicalDrives)
        {
            char name[ServiceDeviceNameSize + 1] = {};
            CopyMemory(name, pResponse->card.deviceName, ServiceDeviceNameSize);
            wchar_t wide[ServiceDeviceNameSize + 1] = {};
            ::MultiByteToWideChar(CP_THREAD_ACP, 0, name, -1, wide, ServiceDeviceNameSize + 1);
            m_strDeviceName = wide;
            if (!(pResponse->card.flags & ServiceFlagNotHotPlugged))
                m_bHotPlugged = true;
        }
    }
    if (!m_bOpened)
        ClosePipe();
    return m_bOpened;
}

bool CSectorixService::CloseCard()
{
    {
        CSingleLock command(&m_csCommand, TRUE);
        if (m_hPipe == INVALID_HANDLE_VALUE)
            return false;
        SECTORIX_CARD request = {};
        request.header = { CardMessageSize(), eServiceCmdCloseCard, m_nVolume };
        if (WriteToPipe(&request.header, L"CSectorixService::CloseCard"))
            ReadResponse();
    }
    ClosePipe();
    ::Sleep(CloseSettleDelay);
    m_bOpened = false;
    return true;
}

// The receive path counts the sectors as they land: responses that follow
// each other closely may be handed over as one, the last standing for all.
bool CSectorixService::ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count)
{
    CSingleLock command(&m_csCommand, TRUE);
    if (m_hPipe == INVALID_HANDLE_VALUE || m_pReadTarget)
        return false;
    // The service would answer an empty read, and that answer would be
    // taken for the next request's.
    if (count == 0)
        return true;
    SetReadTarget(buffer, count);
    SECTORIX_SECTORS request = { { sizeof(SECTORIX_SECTORS), eServiceCmdReadSectors, m_nVolume }, firstSector, count };
    bool result = WriteToPipe(&request.header, L"CSectorixService::ReadSectorsA");
    while (result && ReadRoom() > 0)
    {
        if (!ReadResponse(eServiceCmdReadSectors))
            result = false;
    }
    SetReadTarget(nullptr, 0);
    return result;
}

bool CSectorixService::WriteSectors(BYTE* buffer, DWORD firstSector, UINT count)
{
    // The data's length must fit the one write that carries it.
    if (count > MAXDWORD / SectorSize)
        return false;
    CSingleLock command(&m_csCommand, TRUE);
    if (m_hPipe == INVALID_HANDLE_VALUE)
        return false;
    SECTORIX_SECTORS request = { { sizeof(SECTORIX_SECTORS), eServiceCmdWriteSectors, m_nVolume }, firstSector, count };
    WriteToPipe(&request.header, L"CSectorixService::WriteSectors");
    WriteToPipe(buffer, count * SectorSize, L"CSectorixService::WriteSectors");
    return ReadResponse(eServiceCmdWriteSectors) != nullptr;
}

// The version is asked once per process, on the first call, whether or not
// the service runs then; a service that cannot be asked is taken as 1.0.0.0.
// Without a watchguard nothing could receive the answer, so the question
// waits for a call that has one.
bool CSectorixService::IsServiceAvailable()
{
    try
    {
        bool available = IsSignalled(SECTORIX_SERVICE_RUNNING);
        volatile LONG* pVersion = reinterpret_cast<volatile LONG*>(&s_ServiceVersion);
        if (ReceiverThread() && ::InterlockedCompareExchange(pVersion, ServiceVersion1000, 0) == 0)
        {
            CSectorixService service(nullptr, 0, false);
            if (service.OpenPipe() != INVALID_HANDLE_VALUE)
            {
                if (IsSignalled(SECTORIX_SERVICE_V2_RUNNING))
                {
                    SECTORIX_VERSION request = { { sizeof(SECTORIX_VERSION), eServiceCmdGetVersion, 0 }, 0 };
                    if (service.WriteToPipe(&request.header, L"CSectorixService::IsServiceAvailable"))
                    {
                        if (SECTORIX_HEADERS* pResponse = service.ReadResponse(eServiceCmdGetVersion))
                            s_ServiceVersion = pResponse->version.version;
                    }
                }
                service.ClosePipe();
            }
        }
        return available;
    }
    catch (CException* e)
    {
        e->Delete();
        return false;
    }
}

// An empty answer means the mount point was changed; anything else says why
// not. A request that could not be sent or got no answer is no success.
CString CSectorixService::ChangeDriveLetter(CString mountPoint, CString newMountPoint)
{
    if (!IsServiceAvailable())
        return NoServiceText;
    if (s_ServiceVersion < ServiceVersionChangeDriveLetter)
        return NotSupportedText;
    SECTORIX_DRIVE_LETTER request = {};
    request.header = { sizeof(SECTORIX_DRIVE_LETTER), eServiceCmdChangeDriveLetter, 0 };
    if (!CopyPath(request.mountPoint, mountPoint) || !CopyPath(request.newMountPoint, newMountPoint))
        return PathTooLongText;
    CSectorixService service(nullptr, 0, false);
    if (service.OpenPipe() == INVALID_HANDLE_VALUE)
        return CannotConnectText;
    CString result = CannotConnectText;
    if (service.WriteToPipe(&request.header, L"CSectorixService::ChangeDriveLetter"))
    {
        SECTORIX_HEADERS* pResponse = service.ReadResponse();
        if (pResponse && pResponse->header.cmd != eServiceCmdError)
            result.Empty();
        else if (!service.LastError().IsEmpty())
            result = service.LastError();
    }
    service.ClosePipe();
    return result;
}

eDeleteArpEntryResult CSectorixService::DeleteArpEntry(unsigned long address)
{
    if (!IsServiceAvailable() || s_ServiceVersion < ServiceVersionDeleteArp)
        return eDeleteArpEntryFailed;
    CSectorixService service(nullptr, 0, false);
    if (service.OpenPipe() == INVALID_HANDLE_VALUE)
        return eDeleteArpEntryFailed;
    eDeleteArpEntryResult result = eDeleteArpEntryFailed;
    SECTORIX_ARP request = { { sizeof(SECTORIX_ARP), eServiceCmdDeleteArpEntry, 0 }, address, 0 };
    if (service.WriteToPipe(&request.header, L"CSectorixService::DeleteArpEntry"))
    {
        SECTORIX_HEADERS* pResponse = service.ReadResponse(eServiceCmdDeleteArpEntry);
        if (s_ServiceVersion < ServiceVersionArpResult)
        {
            result = eDeleteArpEntrySuccess;
            TLogbuch::Instance().Write(L"DeleteArpEntry: success");
        }
        else if (pResponse)
        {
            result = static_cast<eDeleteArpEntryResult>(pResponse->arp.result);
            TLogbuch::Instance().WriteFormat(L"DeleteArpEntry (x.x.x.%u): result %d", address >> 24,
                                             static_cast<int>(result));
        }
    }
    service.ClosePipe();
    return result;
}
