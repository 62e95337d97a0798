#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The lap files in a folder, as the telemetry link leaves them there: each
// with its numbers (from its name), its size and whether it is whole, that
// is whether its list block holds together and both compressed parts
// inflate to their ends.
class CLapList
{
public:
    // Throws CToolError(ExitFailed) when the folder cannot be listed.
    explicit CLapList(const std::wstring& folder);

    // One line a lap, in the order of the names, and a count; the exit
    // status says whether every lap is whole.
    int Print() const;

    static const size_t LapNumberCount = 3;
    // The lap numbers in the name the link gives a lap file,
    // IDENTIFIER_FIRST_SECOND_THIRD.mflap; false for any other name.
    static bool FileNumbers(const std::wstring& name, unsigned (&numbers)[LapNumberCount]);

private:
    std::vector<std::wstring> LapFileNames() const;
    std::string Line(const std::wstring& name, unsigned long long size);
    static std::string Numbers(const std::wstring& name);
    static const char* Flaw(const unsigned char* data, size_t size);

    std::wstring m_folder;
    std::vector<std::string> m_lines;
    size_t m_nWhole = 0;
};
