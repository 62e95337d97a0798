#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

// Files of a test: card images, log folders, and what the library wrote.
namespace card_files
{

// A Windows path for a file of the build tree.
std::wstring WindowsPath(const char* unixPath);
std::vector<BYTE> ReadBytes(const std::wstring& path, ULONGLONG offset, size_t size);
std::string ReadText(const std::wstring& path);
std::set<std::wstring> FolderNames(const std::wstring& folder);
std::wstring MakeTempFolder(const wchar_t* purpose);
void RemoveTree(const std::wstring& folder);
// Everything written to the log files of a folder, as UTF-8.
std::string LogText(const std::wstring& folder);
std::string Utf8(const std::wstring& text);
// Texts that the library posted to this thread as log messages, with their codes.
std::vector<std::pair<std::wstring, DWORD>> TakeHostMessages(UINT message);

// A sector-aligned buffer below 4 GiB, as 32-bit devices address it.
class SectorBuffer
{
public:
    explicit SectorBuffer(size_t sectors, BYTE fill = 0xAA);
    ~SectorBuffer();
    SectorBuffer(const SectorBuffer&) = delete;
    SectorBuffer& operator=(const SectorBuffer&) = delete;

    BYTE* data() { return m_pData; }
    std::vector<BYTE> Bytes(size_t offset, size_t size) const;

private:
    BYTE* m_pData;
    size_t m_size;
};

}
