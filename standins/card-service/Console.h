#pragma once

#include <windows.h>

#include <string>

extern const char ProgramName[];

std::string Narrow(const std::wstring& text, UINT codePage);
// The system's text for an error code, on one line.
std::string SystemMessage(DWORD error);
// One line on stderr, named after the program; threads may call it at once.
void Complain(const std::string& problem);
