#include "RescueCopier.h"

#include "Console.h"
#include "ToolError.h"

namespace
{
const wchar_t ListExtension[] = L".badsectors";
}

CRescueCopier::CRescueCopier(CCardReader& card)
    : m_reader(card)
    , m_copier(m_reader)
{
}

void CRescueCopier::CopyTo(const std::wstring& path)
{
    m_copier.CopyTo(path);
    WriteList(ListPath(path));
}

std::string CRescueCopier::Report(const std::wstring& path) const
{
    std::string report = m_copier.Report(path) + "\n";
    if (IsComplete())
        return report + "every sector was read; " + Utf8(ListPath(path)) + " is empty";
    unsigned long long count = m_reader.BadSectorCount();
    size_t ranges = m_reader.BadSectors().size();
    return report + std::to_string(count) + (count == 1 ? " sector" : " sectors") + " in " + std::to_string(ranges) +
           (ranges == 1 ? " range" : " ranges") + " could not be read and " + (count == 1 ? "is" : "are") +
           " zeros in the copy; listed in " + Utf8(ListPath(path));
}

std::wstring CRescueCopier::ListPath(const std::wstring& copy)
{
    return copy + ListExtension;
}

// Flushed before the tool reports the copy, like the copy itself.
void CRescueCopier::WriteList(const std::wstring& path) const
{
    std::string text = ListText();
    HANDLE hList = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
    DWORD written = 0;
    bool bWritten = hList != INVALID_HANDLE_VALUE &&
                    ::WriteFile(hList, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && ::FlushFileBuffers(hList);
    DWORD error = ::GetLastError();
    if (hList != INVALID_HANDLE_VALUE)
        ::CloseHandle(hList);
    if (!bWritten)
        throw CToolError(ExitFailed, "the copy is kept, but the list of its unreadable sectors " + Utf8(path) +
                                         " cannot be written: " + SystemMessage(error));
}

std::string CRescueCopier::ListText() const
{
    std::string text;
    for (const SSectorRange& range : m_reader.BadSectors())
        text += std::to_string(range.first) + "-" + std::to_string(range.last) + "\n";
    return text;
}
