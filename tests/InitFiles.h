#pragma once

// Card init files for the tests: records built byte by byte, written to
// real files.
#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace init_files
{

typedef std::vector<uint8_t> Bytes;

// One record: type, checksum and length little-endian, then the data.
inline Bytes Record(uint16_t type, const Bytes& data, uint16_t checksum = 0)
{
    uint32_t length = static_cast<uint32_t>(data.size());
    Bytes record;
    for (uint32_t field : { uint32_t(type), uint32_t(checksum) })
    {
        record.push_back(static_cast<uint8_t>(field));
        record.push_back(static_cast<uint8_t>(field >> 8));
    }
    for (int shift = 0; shift < 32; shift += 8)
        record.push_back(static_cast<uint8_t>(length >> shift));
    record.insert(record.end(), data.begin(), data.end());
    return record;
}

inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

inline Bytes Filled(size_t size, uint8_t first)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

inline bool Write(const std::wstring& path, const Bytes& bytes)
{
    HANDLE hFile =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = ::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    ::CloseHandle(hFile);
    return ok;
}

// One to four mutations of a file: truncations, stray, raised and
// inserted bytes, lengths overwritten, record headers inserted.
inline Bytes Mutated(const Bytes& base, std::mt19937& random)
{
    Bytes file = base;
    for (int mutations = 1 + static_cast<int>(random() % 4); mutations > 0 && !file.empty(); --mutations)
    {
        size_t at = random() % file.size();
        auto position = file.begin() + static_cast<std::ptrdiff_t>(at);
        switch (random() % 6)
        {
        case 0:
            file.resize(at);
            break;
        case 1:
            file[at] = static_cast<uint8_t>(random());
            break;
        case 2:
            if (at + 8 <= file.size())
                std::fill(position + 4, position + 8, static_cast<uint8_t>(random()));
            break;
        case 3:
            file.insert(position, base.begin(), base.begin() + 8);
            break;
        case 4:
            file[at] = static_cast<uint8_t>(file[at] + 1);
            break;
        default:
            file.insert(file.end(), random() % 9, static_cast<uint8_t>(random()));
            break;
        }
    }
    return file;
}

}
