#pragma once

#include <string>

namespace Sectorix
{

// A narrow copy of a text in the calling thread's ANSI code page, the code
// page of every narrow text that outside libraries take; empty for null.
std::string ToThreadAnsi(const wchar_t* text);

}
