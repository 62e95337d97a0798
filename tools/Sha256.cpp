#include "Sha256.h"

#include "ToolError.h"

namespace
{
const DWORD DigestSize = 32;
const char HexDigits[] = "0123456789abcdef";
const int NibbleBits = 4;
const BYTE LowNibble = 0x0F;

CToolError HashError(const char* step)
{
    return CToolError(ExitFailed, std::string("SHA-256 is not available: ") + step + " failed (error " +
                                      std::to_string(::GetLastError()) + ")");
}
}

CSha256::CSha256()
{
    if (!::CryptAcquireContextW(&m_hProvider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        throw HashError("CryptAcquireContext");
    if (!::CryptCreateHash(m_hProvider, CALG_SHA_256, 0, 0, &m_hHash))
    {
        CToolError error = HashError("CryptCreateHash");
        ::CryptReleaseContext(m_hProvider, 0);
        throw error;
    }
}

CSha256::~CSha256()
{
    ::CryptDestroyHash(m_hHash);
    ::CryptReleaseContext(m_hProvider, 0);
}

void CSha256::Add(const BYTE* data, DWORD size)
{
    if (!::CryptHashData(m_hHash, data, size, 0))
        throw HashError("CryptHashData");
}

std::string CSha256::Hex()
{
    BYTE digest[DigestSize];
    DWORD size = sizeof(digest);
    if (!::CryptGetHashParam(m_hHash, HP_HASHVAL, digest, &size, 0) || size != DigestSize)
        throw HashError("CryptGetHashParam");
    std::string hex;
    for (BYTE b : digest)
    {
        hex += HexDigits[b >> NibbleBits];
        hex += HexDigits[b & LowNibble];
    }
    return hex;
}
