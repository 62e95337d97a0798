#pragma once

#include <string>
#include <vector>

// The command line of a tool, read the one way every tool reads it:
// options named with two dashes, each given at most once, a value as the
// next word; words that name no option fill the tool's operands in order.
// -h, --help and --version are known to every tool.
class COptionParser
{
public:
    COptionParser(const char* tool, const char* usage);

    void AddFlag(const wchar_t* name, bool& value);
    void AddValue(const wchar_t* name, std::wstring& value);
    void AddOperand(const wchar_t* name, std::wstring& value);

    // False once --help or --version has been answered on standard output:
    // the tool then ends with success. Throws CToolError(ExitBadArguments).
    bool Parse(int argc, wchar_t* argv[]);

private:
    struct SOption
    {
        std::wstring name;
        bool* pFlag;
        std::wstring* pValue;
        bool bGiven;
    };

    SOption* Find(const std::wstring& name);
    void Take(SOption& option, int& i, int argc, wchar_t* argv[]);
    void TakeOperand(const std::wstring& word);

    const char* m_tool;
    const char* m_usage;
    std::vector<SOption> m_options;
    std::vector<std::pair<std::wstring, std::wstring*>> m_operands;
    size_t m_operandsTaken = 0;
};
