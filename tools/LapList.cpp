#include "LapList.h"

#include "Console.h"
#include "Interruption.h"
#include "MappedFile.h"
#include "ToolError.h"

#include "telemetry/InflateStream.h"
#include "telemetry/LapImage.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace
{
const wchar_t LapPattern[] = L"\\*.mflap";
const size_t LapExtensionLength = 6;
// The link names a lap file by its identifier and three lap numbers.
const wchar_t LapNameFormat[] = L"%x_%u_%u_%u%lc";
const int LapNameFields = 4;
const size_t InflateChunk = 64 * 1024;
const char WholeText[] = "whole";
const char CutShortText[] = "not whole: cut short, or its list block does not hold together";
const char HeaderText[] = "not whole: its header does not inflate";
const char DataText[] = "not whole: its lap data is cut short or corrupt";
const char StoppedText[] = "nothing was listed";

bool InflatesToEnd(const unsigned char* packed, uint32_t size)
{
    CInflateStream stream;
    if (!stream.Start(packed, size))
        return false;
    std::unique_ptr<unsigned char[]> chunk(new unsigned char[InflateChunk]);
    CInflateStream::Result result = CInflateStream::Filled;
    size_t produced = 0;
    while (result == CInflateStream::Filled && !CInterruption::Requested())
        result = stream.Inflate(chunk.get(), InflateChunk, produced);
    return result == CInflateStream::Ended;
}

void CloseFind(HANDLE hFind)
{
    ::FindClose(hFind);
}
}

CLapList::CLapList(const std::wstring& folder)
    : m_folder(folder)
{
    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw CToolError(ExitFailed, "cannot list the laps in " + Utf8(folder) + ": " +
                                         SystemMessage(::GetLastError()));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CToolError(ExitFailed, Utf8(folder) + " is a file, not a folder of laps");
    // A large lap takes a while to inflate to its end, so a stop is looked
    // for within each lap as well as between them.
    for (const std::wstring& name : LapFileNames())
    {
        CInterruption::ThrowIfRequested(StoppedText);
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ::GetFileAttributesExW((folder + L"\\" + name).c_str(), GetFileExInfoStandard, &data);
        m_lines.push_back(Line(name, static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow));
    }
    CInterruption::ThrowIfRequested(StoppedText);
}

int CLapList::Print() const
{
    for (const std::string& line : m_lines)
        PrintLine(stdout, line);
    size_t laps = m_lines.size();
    if (laps == 0)
        PrintLine(stdout, "no lap files in " + Utf8(m_folder));
    else
        PrintLine(stdout, std::to_string(laps) + (laps == 1 ? " lap" : " laps") + " in " + Utf8(m_folder) + ", " +
                              std::to_string(m_nWhole) + " whole");
    return m_nWhole == laps ? ExitSuccess : ExitIncomplete;
}

std::vector<std::wstring> CLapList::LapFileNames() const
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE hFind = ::FindFirstFileW((m_folder + LapPattern).c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
    {
        DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return names;
        throw CToolError(ExitFailed, "cannot list the laps in " + Utf8(m_folder) + ": " + SystemMessage(error));
    }
    std::unique_ptr<void, decltype(&CloseFind)> find(hFind, &CloseFind);
    do
    {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (::FindNextFileW(hFind, &found));
    std::sort(names.begin(), names.end());
    return names;
}

// A lap that cannot be read is listed as such; the others are still listed.
std::string CLapList::Line(const std::wstring& name, unsigned long long size)
{
    std::string verdict;
    try
    {
        CMappedFile file(m_folder + L"\\" + name);
        const char* flaw = Flaw(file.Data(), file.Size());
        verdict = flaw ? flaw : WholeText;
        m_nWhole += flaw ? 0 : 1;
    }
    catch (const CToolError& error)
    {
        verdict = error.what();
    }
    return Numbers(name) + "\t" + std::to_string(size) + " bytes\t" + verdict + "\t" + Utf8(name);
}

bool CLapList::FileNumbers(const std::wstring& name, unsigned (&numbers)[LapNumberCount])
{
    unsigned int identifier = 0;
    wchar_t rest = 0;
    if (name.size() <= LapExtensionLength)
        return false;
    std::wstring stem = name.substr(0, name.size() - LapExtensionLength);
    return std::swscanf(stem.c_str(), LapNameFormat, &identifier, &numbers[0], &numbers[1], &numbers[2], &rest) ==
           LapNameFields;
}

std::string CLapList::Numbers(const std::wstring& name)
{
    unsigned numbers[LapNumberCount] = {};
    if (!FileNumbers(name, numbers))
        return "lap ?";
    return "lap " + std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]);
}

// What keeps the lap from being served whole; null when nothing does.
const char* CLapList::Flaw(const unsigned char* data, size_t size)
{
    CLapImage image;
    if (!image.Open(data, size))
        return CutShortText;
    if (!image.InflateHeader())
        return HeaderText;
    const _list_block& block = image.ListBlock();
    if (!InflatesToEnd(data + block.DataOffset(), block.DataPackedSize()))
        return DataText;
    return nullptr;
}
