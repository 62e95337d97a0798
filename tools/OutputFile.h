#pragma once

#include <windows.h>

#include <string>

// A file written whole or not at all: the bytes go to a temporary file
// beside the target, which replaces the target only once every byte is on
// the disk. Until then, and after any failure, the target stays as it was
// and the temporary file is removed.
class COutputFile
{
public:
    // Throws CToolError(ExitFailed) when the temporary file cannot be made.
    explicit COutputFile(const std::wstring& target);
    ~COutputFile();

    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Throw CToolError(ExitFailed) naming the target.
    void Write(const BYTE* data, DWORD size);
    void Commit();

    // A folder files can be made in, and a target that can be written
    // there and is not the file the copy is made from; or
    // CToolError(ExitFailed) saying why not.
    static void CheckWritableFolder(const std::wstring& folder);
    static void CheckTarget(const std::wstring& target, const std::wstring& source = std::wstring());

private:
    static bool SameFile(const std::wstring& first, const std::wstring& second);
    std::string Failure(const std::string& reason) const;
    void Discard();

    std::wstring m_target;
    std::wstring m_temporary;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};
