#include "Console.h"

#include <cstdio>

const char ProgramName[] = "sectorix-card-service";

std::string Narrow(const std::wstring& text, UINT codePage)
{
    if (text.empty())
        return std::string();
    int length = static_cast<int>(text.size());
    int bytes = ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), length, &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

std::string SystemMessage(DWORD error)
{
    char* pText = nullptr;
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, 0, reinterpret_cast<char*>(&pText), 0, nullptr);
    std::string text(pText ? pText : "", length);
    ::LocalFree(pText);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text + " (error " + std::to_string(error) + ")";
}

// The C runtime locks the stream for each call, so whole lines never mix.
void Complain(const std::string& problem)
{
    std::string line = std::string(ProgramName) + ": " + problem + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}
