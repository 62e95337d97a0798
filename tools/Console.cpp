#include "Console.h"

#include <windows.h>

#include <cwctype>
#include <io.h>

namespace
{
bool g_bQuiet = false;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int length = static_cast<int>(text.size());
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &out[0], bytes, nullptr, nullptr);
    return out;
}

// The C run time's text mode would end each line with a carriage return in
// files and pipes; it stays on for what the library itself prints.
void WriteText(std::FILE* stream, const std::string& text)
{
    std::fflush(stream);
    HANDLE hStream = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD written = 0;
    if (hStream != INVALID_HANDLE_VALUE)
        ::WriteFile(hStream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void PrintLine(std::FILE* stream, const std::string& line)
{
    WriteText(stream, line + "\n");
}

void SetQuiet(bool bQuiet)
{
    g_bQuiet = bQuiet;
}

bool IsQuiet()
{
    return g_bQuiet;
}

void Say(const std::string& line)
{
    if (!g_bQuiet)
        PrintLine(stderr, line);
}

bool IsTerminal(std::FILE* stream)
{
    // A character device need not be a console: NUL is one too.
    HANDLE hStream = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return hStream != INVALID_HANDLE_VALUE && ::GetConsoleMode(hStream, &mode);
}

std::string SystemMessage(unsigned long error)
{
    wchar_t* pText = nullptr;
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, 0, reinterpret_cast<wchar_t*>(&pText), 0, nullptr);
    std::wstring text(pText ? pText : L"", length);
    ::LocalFree(pText);
    while (!text.empty() && std::iswspace(text.back()))
        text.pop_back();
    return Utf8(text) + " (error " + std::to_string(error) + ")";
}
