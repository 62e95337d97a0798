#include "sources/SectorixImageFile.h"

#include "Sectorix/Watchguard.h"

#include <cwchar>

namespace
{
// Folders, devices, and files that are temporary or offline are no card.
const DWORD NotAnImage =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE;
const wchar_t DeviceNamespace[] = L"\\\\.\\";

// Device names (NUL, COM1, \\.\X:) carry no device attribute; their full
// path lies in the device namespace.
bool IsDevicePath(const wchar_t* path)
{
    wchar_t fullPath[MAX_PATH];
    DWORD length = ::GetFullPathNameW(path, MAX_PATH, fullPath, nullptr);
    return length > 0 && length < MAX_PATH && wcsncmp(fullPath, DeviceNamespace, wcslen(DeviceNamespace)) == 0;
}

const DWORD ImageAccess = GENERIC_READ | GENERIC_WRITE;
const DWORD ImageSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD ImageFlags = FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL;
}

CSectorixImageFile::CSectorixImageFile(CWatchguard* pWatchguard, const wchar_t* path)
    : CSectorixWin2000(pWatchguard, 0, false)
    , m_strPath(path)
{
    m_eType = TypeImageFile;
}

CSectorixImageFile::~CSectorixImageFile() = default;

CString CSectorixImageFile::GetMediaText(int language)
{
    CString text;
    text.Format(L"%s '%s'", language == 0 ? L"Lese" : L"Reading", m_strPath.GetString());
    return text;
}

bool CSectorixImageFile::TestMedia(bool)
{
    if (m_bActivated)
        return false;
    DWORD attributes = ::GetFileAttributesW(m_strPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & NotAnImage) || IsDevicePath(m_strPath))
        return false;
    if (!m_bMediaPresent)
    {
        m_bMediaPresent = true;
        m_pWatchguard->SendNotification(MediaInserted, this);
    }
    return true;
}

bool CSectorixImageFile::Activate()
{
    m_bActivated = true;
    return true;
}

bool CSectorixImageFile::Deactivate()
{
    CSectorixDrive::Deactivate();
    return false;
}

// A file has no volume to spare: opening it is the test.
bool CSectorixImageFile::isCardInserted()
{
    return CSectorixDrive::isCardInserted();
}

// An image that may not be written (read-only, or held by a program that
// denies writing) is still read. The whole 64-bit size counts, so an image
// of 4 GiB or more is read to its end; an empty one is no card.
bool CSectorixImageFile::OpenCard()
{
    m_hDevice = ::CreateFileW(m_strPath, ImageAccess, ImageSharing, nullptr, OPEN_EXISTING, ImageFlags, nullptr);
    DWORD error = ::GetLastError();
    if (m_hDevice == INVALID_HANDLE_VALUE && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION))
        m_hDevice = ::CreateFileW(m_strPath, GENERIC_READ, ImageSharing, nullptr, OPEN_EXISTING, ImageFlags, nullptr);
    if (m_hDevice == INVALID_HANDLE_VALUE)
        return false;
    m_qwPosition = 0;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_hDevice, &size) || size.QuadPart == 0)
    {
        CloseCard();
        return false;
    }
    m_qwCardSize = static_cast<unsigned long long>(size.QuadPart);
    return true;
}

bool CSectorixImageFile::CloseCard()
{
    if (m_hDevice == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(m_hDevice);
    m_hDevice = INVALID_HANDLE_VALUE;
    return true;
}
