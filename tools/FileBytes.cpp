#include "FileBytes.h"

#include "Console.h"
#include "ToolError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace
{
using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePtr Open(const std::wstring& path, const wchar_t* mode)
{
    FilePtr file(_wfopen(path.c_str(), mode), &std::fclose);
    if (!file)
        throw CToolError(ExitFailed, "cannot open " + Utf8(path) + ": " + std::strerror(errno));
    return file;
}
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path)
{
    FilePtr file = Open(path, L"rb");
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (std::ferror(file.get()))
        throw CToolError(ExitFailed, "cannot read " + Utf8(path));
    return bytes;
}
