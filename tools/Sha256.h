#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

// SHA-256 through the system's CryptoAPI, fed piece by piece.
class CSha256
{
public:
    // Throws CToolError(ExitFailed) when the system has no SHA-256.
    CSha256();
    ~CSha256();

    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Add(const BYTE* data, DWORD size);
    // Lower-case hex, as sha256sum prints it; ends the hash.
    std::string Hex();

private:
    HCRYPTPROV m_hProvider = 0;
    HCRYPTHASH m_hHash = 0;
};
