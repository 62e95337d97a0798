#include "RescueCopier.h"

#include "Console.h"
#include "OutputFile.h"
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

// The list is written before either file replaces its old one, so that a
// disk too full for it leaves the old copy and its list together.
void CRescueCopier::CopyTo(const std::wstring& path)
{
    COutputFile copy(path);
    m_copier.Copy(copy);
    COutputFile list(ListPath(path));
    WriteList(list);
    copy.Commit();
    list.Commit();
}

void CRescueCopier::Report(const std::wstring& path) const
{
    m_copier.Report(path);
    if (IsComplete())
    {
        Say("every sector was read; " + Utf8(ListPath(path)) + " is empty");
        return;
    }
    unsigned long long count = m_reader.BadSectorCount();
    size_t ranges = m_reader.BadSectors().size();
    Say(std::to_string(count) + (count == 1 ? " sector" : " sectors") + " in " + std::to_string(ranges) +
        (ranges == 1 ? " range" : " ranges") + " could not be read and " + (count == 1 ? "is" : "are") +
        " zeros in the copy; listed in " + Utf8(ListPath(path)));
}

std::wstring CRescueCopier::ListPath(const std::wstring& copy)
{
    return copy + ListExtension;
}

void CRescueCopier::WriteList(COutputFile& list) const
{
    std::string text = ListText();
    list.Write(reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()));
}

std::string CRescueCopier::ListText() const
{
    std::string text;
    for (const SSectorRange& range : m_reader.BadSectors())
        text += std::to_string(range.first) + "-" + std::to_string(range.last) + "\n";
    return text;
}
