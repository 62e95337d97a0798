#pragma once

// Whole files read into memory, for the tools that make and measure
// lap files; failures end the tool with a CToolError.
#include <string>
#include <vector>

std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
