#include "CardFiles.h"

#include <fstream>
#include <iterator>

namespace card_files
{

std::wstring WindowsPath(const char* unixPath)
{
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p)
        path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

std::vector<BYTE> ReadBytes(const std::wstring& path, ULONGLONG offset, size_t size)
{
    std::vector<BYTE> bytes(size);
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    ::SetFilePointerEx(hFile, position, nullptr, FILE_BEGIN);
    ::ReadFile(hFile, bytes.data(), static_cast<DWORD>(size), &read, nullptr);
    ::CloseHandle(hFile);
    bytes.resize(read);
    return bytes;
}

std::string ReadText(const std::wstring& path)
{
    std::vector<BYTE> bytes = ReadBytes(path, 0, 1 << 20);
    return std::string(bytes.begin(), bytes.end());
}

std::set<std::wstring> FolderNames(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.insert(name);
    } while (::FindNextFileW(hFind, &found));
    ::FindClose(hFind);
    return names;
}

std::wstring MakeTempFolder(const wchar_t* purpose)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    std::wstring folder = std::wstring(temp) + L"sectorix-" + purpose + L"-" +
                          std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    RemoveTree(folder);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void RemoveTree(const std::wstring& folder)
{
    for (const std::wstring& name : FolderNames(folder))
    {
        std::wstring path = folder + L"\\" + name;
        if (::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else
            ::DeleteFileW(path.c_str());
    }
    ::RemoveDirectoryW(folder.c_str());
}

std::string LogText(const std::wstring& folder)
{
    std::string text;
    for (const std::wstring& name : FolderNames(folder))
        text += ReadText(folder + L"\\" + name);
    return text;
}

std::string Utf8(const std::wstring& text)
{
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    return utf8;
}

std::vector<std::pair<std::wstring, DWORD>> TakeHostMessages(UINT message)
{
    std::vector<std::pair<std::wstring, DWORD>> messages;
    MSG msg;
    while (::PeekMessageW(&msg, reinterpret_cast<HWND>(-1), message, message, PM_REMOVE))
    {
        HGLOBAL hText = reinterpret_cast<HGLOBAL>(msg.lParam);
        messages.emplace_back(hText ? static_cast<const wchar_t*>(::GlobalLock(hText)) : L"",
                              static_cast<DWORD>(msg.wParam));
        if (hText)
        {
            ::GlobalUnlock(hText);
            ::GlobalFree(hText);
        }
    }
    return messages;
}

SectorBuffer::SectorBuffer(size_t sectors, BYTE fill)
    : m_size(sectors * 512)
{
    const size_t granularity = 1 << 16;
    m_pData = nullptr;
    for (UINT_PTR address = 0x10000000; !m_pData && address < 0x80000000; address += 0x1000000)
        m_pData = static_cast<BYTE*>(::VirtualAlloc(reinterpret_cast<void*>(address),
                                                    (m_size + granularity - 1) / granularity * granularity,
                                                    MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    std::fill(m_pData, m_pData + m_size, fill);
}

SectorBuffer::~SectorBuffer()
{
    ::VirtualFree(m_pData, 0, MEM_RELEASE);
}

std::vector<BYTE> SectorBuffer::Bytes(size_t offset, size_t size) const
{
    return std::vector<BYTE>(m_pData + offset, m_pData + offset + size);
}

}
