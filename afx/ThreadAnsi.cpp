#include "afx/ThreadAnsi.h"

#include <windows.h>

#include <vector>

namespace Sectorix
{

std::string ToThreadAnsi(const wchar_t* text)
{
    if (!text)
        return std::string();
    int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::vector<char> narrow(static_cast<size_t>(size));
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    return std::string(narrow.data());
}

}
