#pragma once

#include <windows.h>

#include <string>

class CCardReader;

// Copies a whole open card to a file in requests of 64 sectors, hashing
// what it reads and showing its progress.
class CCardCopier
{
public:
    explicit CCardCopier(CCardReader& card);

    // Throws CToolError(ExitFailed) on any failure, after deleting the
    // partial copy.
    void CopyTo(const std::wstring& path);

    unsigned long long Bytes() const { return m_bytes; }
    double BytesPerSecond() const { return m_rate; }
    const std::string& Sha256() const { return m_sha256; }
    // What was copied to the path, how fast, and its SHA-256, on two lines.
    std::string Report(const std::wstring& path) const;

private:
    void Copy(HANDLE hCopy, const std::wstring& path);
    unsigned long long WholeSectors() const;
    void ReadChunk(BYTE* buffer, DWORD firstSector, UINT count);
    DWORD FirstUnreadable(BYTE* buffer, DWORD firstSector, UINT count);
    static void Write(HANDLE hCopy, const BYTE* buffer, DWORD bytes, const std::wstring& path);

    CCardReader& m_card;
    unsigned long long m_bytes = 0;
    double m_rate = 0;
    std::string m_sha256;
};
