#include "OutputFile.h"

#include "Console.h"
#include "ToolError.h"

namespace
{
const wchar_t TemporaryPrefix[] = L"sxp";
const wchar_t PathSeparators[] = L"\\/";
const wchar_t CurrentFolder[] = L".";

std::wstring FolderOf(const std::wstring& path)
{
    size_t separator = path.find_last_of(PathSeparators);
    if (separator == std::wstring::npos)
        return path.size() > 1 && path[1] == L':' ? path.substr(0, 2) : CurrentFolder;
    return path.substr(0, separator + 1);
}

// A unique name in the folder, its file already made.
std::wstring MakeTemporary(const std::wstring& folder)
{
    wchar_t name[MAX_PATH];
    if (folder.size() >= MAX_PATH - 14 || !::GetTempFileNameW(folder.c_str(), TemporaryPrefix, 0, name))
        return std::wstring();
    return name;
}
}

COutputFile::COutputFile(const std::wstring& target)
    : m_target(target)
{
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CToolError(ExitFailed, Failure("it is a folder"));
    m_temporary = MakeTemporary(FolderOf(target));
    if (m_temporary.empty())
        throw CToolError(ExitFailed, Failure(SystemMessage(::GetLastError())));
    m_hFile = ::CreateFileW(m_temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE)
    {
        DWORD error = ::GetLastError();
        ::DeleteFileW(m_temporary.c_str());
        throw CToolError(ExitFailed, Failure(SystemMessage(error)));
    }
}

COutputFile::~COutputFile()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        Discard();
}

void COutputFile::Write(const BYTE* data, DWORD size)
{
    DWORD written = 0;
    if (!::WriteFile(m_hFile, data, size, &written, nullptr))
        throw CToolError(ExitFailed, Failure(SystemMessage(::GetLastError())));
    if (written != size)
        throw CToolError(ExitFailed, Failure("the disk took only " + std::to_string(written) + " of " +
                                             std::to_string(size) + " bytes"));
}

// The data reach the disk before the name does, so that a crash in between
// leaves the old file, never a short new one.
void COutputFile::Commit()
{
    if (!::FlushFileBuffers(m_hFile))
        throw CToolError(ExitFailed, Failure(SystemMessage(::GetLastError())));
    ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    if (!::MoveFileExW(m_temporary.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        DWORD error = ::GetLastError();
        ::DeleteFileW(m_temporary.c_str());
        throw CToolError(ExitFailed, Failure(SystemMessage(error)));
    }
}

void COutputFile::CheckWritableFolder(const std::wstring& folder)
{
    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw CToolError(ExitFailed, "cannot write to " + Utf8(folder) + ": " + SystemMessage(::GetLastError()));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CToolError(ExitFailed, "cannot write to " + Utf8(folder) + ": it is a file, not a folder");
    std::wstring probe = MakeTemporary(folder);
    if (probe.empty())
        throw CToolError(ExitFailed, "cannot write to " + Utf8(folder) + ": " + SystemMessage(::GetLastError()));
    ::DeleteFileW(probe.c_str());
}

// A read-only target would refuse to be replaced only once the copy is
// whole; the source itself would be replaced by what is read from it.
void COutputFile::CheckTarget(const std::wstring& target, const std::wstring& source)
{
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CToolError(ExitFailed, "cannot write " + Utf8(target) + ": it is a folder");
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        throw CToolError(ExitFailed, "cannot write " + Utf8(target) + ": it is read-only");
    if (!source.empty() && SameFile(target, source))
        throw CToolError(ExitFailed, "cannot write " + Utf8(target) + ": it is " + Utf8(source) +
                                         ", which the copy is made from; give another name");
    CheckWritableFolder(FolderOf(target));
}

// By the file's identity, not its name: another spelling, a relative path
// or a second link all name the same bytes.
bool COutputFile::SameFile(const std::wstring& first, const std::wstring& second)
{
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const std::wstring* paths[2] = { &first, &second };
    for (int i = 0; i < 2; ++i)
    {
        HANDLE hFile = ::CreateFileW(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
            return false;
        BOOL bKnown = ::GetFileInformationByHandle(hFile, &info[i]);
        ::CloseHandle(hFile);
        if (!bKnown)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

std::string COutputFile::Failure(const std::string& reason) const
{
    return "cannot write " + Utf8(m_target) + ": " + reason;
}

void COutputFile::Discard()
{
    ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    ::DeleteFileW(m_temporary.c_str());
}
