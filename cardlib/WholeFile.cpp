#include "cardlib/WholeFile.h"

#include <new>

namespace Sectorix
{

namespace
{
const DWORD ReadChunk = 1 << 20;

class CFileHandle
{
public:
    explicit CFileHandle(HANDLE hFile)
        : m_hFile(hFile)
    {
    }
    ~CFileHandle()
    {
        if (m_hFile != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_hFile);
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    operator HANDLE() const { return m_hFile; }

private:
    HANDLE m_hFile;
};
}

bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& bytes)
{
    CFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE || !::GetFileSizeEx(file, &size) ||
        static_cast<unsigned long long>(size.QuadPart) > bytes.max_size())
        return false;
    try
    {
        bytes.resize(static_cast<size_t>(size.QuadPart));
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    for (size_t done = 0; done < bytes.size();)
    {
        DWORD want = static_cast<DWORD>(bytes.size() - done < ReadChunk ? bytes.size() - done : ReadChunk);
        DWORD got = 0;
        if (!::ReadFile(file, bytes.data() + done, want, &got, nullptr) || got == 0)
            return false;
        done += got;
    }
    return true;
}

bool WriteWholeFile(const wchar_t* path, const std::vector<BYTE>& bytes)
{
    CFileHandle file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file != INVALID_HANDLE_VALUE &&
           ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

}
