#include "CardReader.h"

#include "CardLibStandin.h"
#include "StandinFile.h"

#include <cstring>

namespace cs = CardLibStandin;

namespace
{
const size_t RecordHeader = 8;
const size_t LengthOffset = 4;
const size_t CountSize = sizeof(DWORD);
// The image is also open in the product's image-file source, unbuffered:
// what is written here goes to the file at once.
const DWORD ImageSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD ImageFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH;

// Whole records only: each header and its data end inside the file.
bool WholeRecords(const std::vector<BYTE>& bytes)
{
    size_t offset = 0;
    while (offset < bytes.size())
    {
        if (bytes.size() - offset < RecordHeader)
            return false;
        DWORD length = 0;
        std::memcpy(&length, &bytes[offset + LengthOffset], sizeof(length));
        if (bytes.size() - offset - RecordHeader < length)
            return false;
        offset += RecordHeader + length;
    }
    return true;
}

class CImage : public CStandinFile
{
public:
    explicit CImage(const std::wstring& path)
        : CStandinFile(path, GENERIC_READ | GENERIC_WRITE, ImageSharing, OPEN_EXISTING, ImageFlags)
    {
    }
};

bool WriteWholeFile(const wchar_t* path, const std::vector<BYTE>& bytes)
{
    CStandinFile file(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    return file.isOpen() && file.Write(bytes.data(), static_cast<DWORD>(bytes.size()));
}
} // namespace

CCardReader::CCardReader() : m_sockets(1, 1)
{
    wchar_t path[MAX_PATH];
    DWORD length = ::GetEnvironmentVariableW(cs::CardVariable, path, MAX_PATH);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (length == 0 || length >= MAX_PATH || !::GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return;
    m_image = path;
    m_media[0] = data.nFileSizeLow;
}

void CCardReader::SetSockets(const WORD* counts, size_t drivers)
{
    m_sockets.assign(counts, counts + drivers);
}

DWORD CCardReader::SocketCount(WORD driver, WORD* count) const
{
    *count = driver < m_sockets.size() ? m_sockets[driver] : 0;
    return driver < m_sockets.size() ? cs::Success : cs::CodeNoDrive;
}

DWORD CCardReader::SelectDrive(WORD driver, WORD socket)
{
    if (driver >= m_sockets.size() || socket >= m_sockets[driver])
        return cs::CodeNoDrive;
    m_driver = driver;
    m_socket = socket;
    return cs::Success;
}

DWORD CCardReader::SelectedDrive() const
{
    DWORD drive = m_socket;
    for (WORD driver = 0; driver < m_driver && driver < m_sockets.size(); ++driver)
        drive += m_sockets[driver];
    return drive;
}

bool CCardReader::MediumSelected() const
{
    return m_media.count(SelectedDrive()) != 0;
}

DWORD CCardReader::CardSize(DWORD* size) const
{
    auto medium = m_media.find(SelectedDrive());
    if (medium == m_media.end())
        return cs::CodeNoCard;
    *size = medium->second;
    return cs::Success;
}

DWORD CCardReader::Mount(void** handle)
{
    if (m_image.empty() || !CImage(m_image).isOpen())
        return cs::CodeNoCard;
    *handle = reinterpret_cast<void*>(cs::MountHandle);
    m_bMounted = true;
    return cs::Success;
}

DWORD CCardReader::InitCard(const wchar_t* file)
{
    if (!m_bMounted)
        return cs::CodeNotMounted;
    std::vector<BYTE> records;
    if (!ReadWholeFile(file, records) || !WholeRecords(records))
        return cs::CodeBadInitFile;
    CImage image(m_image);
    DWORD count = static_cast<DWORD>(records.size());
    if (!image.isOpen() || image.Size() < CountSize + records.size() || !image.Write(&count, CountSize) ||
        !image.Write(records.data(), count))
        return cs::CodeCardIo;
    return cs::Success;
}

DWORD CCardReader::ReadCard(const wchar_t* output)
{
    if (!m_bMounted)
        return cs::CodeNotMounted;
    CImage image(m_image);
    DWORD count = 0;
    if (!image.isOpen() || !image.Read(&count, CountSize))
        return cs::CodeCardIo;
    if (count == cs::EmptyInit)
        count = 0;
    if (image.Size() - CountSize < count)
        return cs::CodeCardIo;
    std::vector<BYTE> records(count);
    if (!image.Read(records.data(), count))
        return cs::CodeCardIo;
    records.insert(records.end(), m_readBackTail.begin(), m_readBackTail.end());
    return WriteWholeFile(output, records) ? cs::Success : cs::CodeCardIo;
}
