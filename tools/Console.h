#pragma once

#include <cstdio>
#include <string>

// The console speaks UTF-8 here, whatever the system's code page: paths
// are converted once, on their way out.
std::string Utf8(const std::wstring& text);
// Text as it is, line feeds and all, and a line with a line feed.
void WriteText(std::FILE* stream, const std::string& text);
void PrintLine(std::FILE* stream, const std::string& line);
// What the tool tells the person running it goes to standard error, so
// that standard output carries only what a script reads; --quiet silences
// it, but never an error.
void SetQuiet(bool bQuiet);
bool IsQuiet();
void Say(const std::string& line);
// A console that redraws a line in place, rather than a file or a pipe.
bool IsTerminal(std::FILE* stream);
// The system's text for an error code, on one line.
std::string SystemMessage(unsigned long error);
