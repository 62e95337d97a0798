#include "Recorder.h"

namespace
{
const char HexDigits[] = "0123456789abcdef";
const int NibbleBits = 4;
const BYTE LowNibble = 0x0F;
const char LineEnd = '\n';
}

CRecorder::CRecorder()
{
    ::InitializeCriticalSection(&m_lock);
}

CRecorder::~CRecorder()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile);
    ::DeleteCriticalSection(&m_lock);
}

DWORD CRecorder::Open(const std::wstring& path)
{
    m_hFile = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    return m_hFile == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
}

// Whole lines go out under the lock, so that connections never split one;
// each goes to the end of the file as it is then, since a test may empty the
// file between its checks.
void CRecorder::Record(const std::vector<BYTE>& message)
{
    if (m_hFile == INVALID_HANDLE_VALUE)
        return;
    std::string line;
    line.reserve(message.size() * 2 + 1);
    for (BYTE byte : message)
    {
        line += HexDigits[byte >> NibbleBits];
        line += HexDigits[byte & LowNibble];
    }
    line += LineEnd;
    ::EnterCriticalSection(&m_lock);
    LARGE_INTEGER end = {};
    DWORD written = 0;
    ::SetFilePointerEx(m_hFile, end, nullptr, FILE_END);
    ::WriteFile(m_hFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::FlushFileBuffers(m_hFile);
    ::LeaveCriticalSection(&m_lock);
}
