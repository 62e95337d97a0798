#pragma once

#include <cstdio>
#include <string>

// The console speaks UTF-8 here, whatever the system's code page: paths
// are converted once, on their way out.
std::string Utf8(const std::wstring& text);
void PrintLine(std::FILE* stream, const std::string& line);
// The system's text for an error code, on one line.
std::string SystemMessage(unsigned long error);
