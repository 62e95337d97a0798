#pragma once

// Whole files in and out of memory, for the tools that make and measure
// lap files; failures end the tool with a CToolError.
#include <string>
#include <vector>

std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);
