#pragma once

#include <windows.h>

#include <string>

class CCardReader;
class COutputFile;

// Copies a whole open card to a file in requests of 64 sectors, hashing
// what it reads and showing its progress. The file is replaced only by a
// whole copy.
class CCardCopier
{
public:
    explicit CCardCopier(CCardReader& card);

    // Throws CToolError(ExitFailed) on any failure and
    // CToolError(ExitInterrupted) when asked to stop; the file is then as
    // it was.
    void CopyTo(const std::wstring& path);
    // The same into a file the caller commits, with others of its own.
    void Copy(COutputFile& copy);

    // What was copied and how fast, to the person; the SHA-256 line, as
    // sha256sum prints it, to standard output.
    void Report(const std::wstring& path) const;

private:
    unsigned long long WholeSectors() const;
    void ReadChunk(BYTE* buffer, DWORD firstSector, UINT count);
    DWORD FirstUnreadable(BYTE* buffer, DWORD firstSector, UINT count);

    CCardReader& m_card;
    unsigned long long m_bytes = 0;
    double m_rate = 0;
    std::string m_sha256;
};
