#include "StandinFile.h"

CStandinFile::CStandinFile(const std::wstring& path, DWORD access, DWORD sharing, DWORD disposition, DWORD flags)
    : m_hFile(::CreateFileW(path.c_str(), access, sharing, nullptr, disposition, flags, nullptr))
{
}

CStandinFile::~CStandinFile()
{
    if (isOpen())
        ::CloseHandle(m_hFile);
}

ULONGLONG CStandinFile::Size() const
{
    LARGE_INTEGER size = {};
    return ::GetFileSizeEx(m_hFile, &size) ? size.QuadPart : 0;
}

bool CStandinFile::Read(void* buffer, DWORD count)
{
    DWORD read = 0;
    return count == 0 || (::ReadFile(m_hFile, buffer, count, &read, nullptr) && read == count);
}

bool CStandinFile::Write(const void* buffer, DWORD count)
{
    DWORD written = 0;
    return count == 0 || (::WriteFile(m_hFile, buffer, count, &written, nullptr) && written == count);
}

bool ReadWholeFile(const std::wstring& path, std::vector<BYTE>& bytes)
{
    CStandinFile file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ULONGLONG size = file.Size();
    if (!file.isOpen() || size > MAXDWORD)
        return false;
    bytes.resize(static_cast<size_t>(size));
    return file.Read(bytes.data(), static_cast<DWORD>(size));
}
