#include "watchguard/Logbuch.h"

#include "afx/SingleLock.h"

#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
const wchar_t FileNameFormat[] = L"Sectorix %04d-%02d-%02d.log";
const wchar_t FilePattern[] = L"Sectorix \?\?\?\?-\?\?-\?\?.log";
const char StreamMode[] = "a+t";
const char ByteOrderMark[] = "\xEF\xBB\xBF";
const wchar_t LineFormat[] = L"%02d.%02d.%04d\t%02d:%02d:%02d.%03d\t%s\n";
const size_t FilesKept = 7;
const ULONGLONG TicksPerSecond = 10000000;
const ULONGLONG MaxAgeSeconds = 7 * 24 * 60 * 60;

ULONGLONG WholeSeconds(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return value.QuadPart / TicksPerSecond;
}

std::string Utf8(const CString& text)
{
    int length = ::WideCharToMultiByte(CP_UTF8, 0, text, text.GetLength(), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, text.GetLength(), &bytes[0], length, nullptr, nullptr);
    return bytes;
}

bool SameDay(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay;
}

struct LogFile
{
    CString name;
    ULONGLONG lastWrite;
};
}

TLogbuch TLogbuch::s_instance;

TLogbuch& TLogbuch::Instance()
{
    return s_instance;
}

TLogbuch::TLogbuch()
    : m_pfnClock(&::GetSystemTimeAsFileTime)
{
}

TLogbuch::~TLogbuch()
{
    SetFolder(L"");
}

void TLogbuch::SetClock(Clock clock)
{
    CSingleLock lock(&m_lock, TRUE);
    m_pfnClock = clock;
}

bool TLogbuch::SetFolder(const wchar_t* folder)
{
    CSingleLock lock(&m_lock, TRUE);
    Close();
    m_strFolder = folder;
    if (m_strFolder.IsEmpty())
        return true;
    return Open();
}

void TLogbuch::Write(const wchar_t* text)
{
    if (!IsEnabled())
        return;
    CSingleLock lock(&m_lock, TRUE);
    if (!IsEnabled())
        return;
    FILETIME utc;
    SYSTEMTIME now;
    Now(utc, now);
    if (!SameDay(now, m_stDate))
        Open();
    if (!m_pFile)
        return;
    CString line;
    line.Format(LineFormat, now.wDay, now.wMonth, now.wYear, now.wHour, now.wMinute, now.wSecond,
                now.wMilliseconds, text);
    fputs(Utf8(line).c_str(), m_pFile);
    fflush(m_pFile);
}

void TLogbuch::WriteFormat(const wchar_t* format, ...)
{
    if (!IsEnabled())
        return;
    CString text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
    Write(text);
}

bool TLogbuch::Open()
{
    Close();
    FILETIME utc;
    Now(utc, m_stDate);
    RemoveOldFiles(utc);
    CString name;
    name.Format(FileNameFormat, m_stDate.wYear, m_stDate.wMonth, m_stDate.wDay);
    wchar_t path[MAX_PATH];
    if (!::PathCombineW(path, m_strFolder, name))
        return false;
    m_pFile = OpenShared(path);
    return m_pFile != nullptr;
}

// Other processes may read, write and even delete the file while it is
// open; the C run time's own sharing modes never allow deleting. The
// stream is in text mode (line feeds become CR LF); its text is UTF-8,
// and a new or empty file starts with the byte-order mark.
FILE* TLogbuch::OpenShared(const wchar_t* path)
{
    HANDLE hFile = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size = {};
    bool empty = ::GetFileSizeEx(hFile, &size) && size.QuadPart == 0;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_APPEND | _O_TEXT);
    if (fd == -1)
    {
        ::CloseHandle(hFile);
        return nullptr;
    }
    FILE* pFile = _fdopen(fd, StreamMode);
    if (!pFile)
    {
        _close(fd);
        return nullptr;
    }
    if (empty)
        fputs(ByteOrderMark, pFile);
    return pFile;
}

void TLogbuch::Close()
{
    if (m_pFile)
    {
        fclose(m_pFile);
        m_pFile = nullptr;
    }
}

// The seven newest files always stay; older ones go once their last write
// lies more than seven days back.
void TLogbuch::RemoveOldFiles(const FILETIME& utcNow)
{
    wchar_t pattern[MAX_PATH];
    if (!::PathCombineW(pattern, m_strFolder, FilePattern))
        return;
    std::vector<LogFile> files;
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW(pattern, &found);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do
        files.push_back({ found.cFileName, WholeSeconds(found.ftLastWriteTime) });
    while (::FindNextFileW(hFind, &found));
    ::FindClose(hFind);

    std::sort(files.begin(), files.end(),
              [](const LogFile& a, const LogFile& b) { return a.lastWrite > b.lastWrite; });
    ULONGLONG now = WholeSeconds(utcNow);
    for (size_t i = files.size(); i-- > 0 && files.size() > FilesKept; )
    {
        if (now > files[i].lastWrite && now - files[i].lastWrite > MaxAgeSeconds)
        {
            wchar_t path[MAX_PATH];
            if (::PathCombineW(path, m_strFolder, files[i].name))
                ::DeleteFileW(path);
            files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

void TLogbuch::Now(FILETIME& utc, SYSTEMTIME& local) const
{
    m_pfnClock(&utc);
    SYSTEMTIME utcTime;
    ::FileTimeToSystemTime(&utc, &utcTime);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local);
}
