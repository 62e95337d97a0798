#include "InitFileCheck.h"

#include "Console.h"
#include "FileBytes.h"
#include "ToolError.h"

#include "cardlib/InitRecords.h"
#include "cardlib/RecorderInit.h"

#include <windows.h>

#include <vector>

namespace
{
const wchar_t RecorderLibrary[] = L"CMRECDLL.DLL";
}

void CheckInitFile(const std::wstring& path, const std::wstring& library)
{
    std::string name = "the init file " + Utf8(path);
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw CToolError(ExitFailed, name + " cannot be found: " + SystemMessage(::GetLastError()));
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        throw CToolError(ExitFailed, name + " is a folder");
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    if (bytes.empty())
        throw CToolError(ExitFailed, name + " is empty");
    if (!CardInit::IsIntact(bytes.data(), bytes.size()))
        throw CToolError(ExitFailed, name + " is corrupt: its last record runs past its end");
    CardInit::RecorderInit init;
    bool bRecorder = _wcsicmp(library.c_str(), RecorderLibrary) == 0;
    if (bRecorder && !CardInit::FindRecorderInit(bytes.data(), bytes.size(), init))
        throw CToolError(ExitFailed, name + " is not one for " + Utf8(library) +
                                         ": it lacks the recorder configuration or the extra information");
}
