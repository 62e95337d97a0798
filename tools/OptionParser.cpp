#include "OptionParser.h"

#include "Console.h"
#include "ToolError.h"

#include "Sectorix/SectorixVersion.h"

namespace
{
const wchar_t HelpOption[] = L"--help";
const wchar_t ShortHelpOption[] = L"-h";
const wchar_t VersionOption[] = L"--version";
const wchar_t OptionMark = L'-';

bool LooksLikeOption(const std::wstring& word)
{
    return word.size() > 1 && word[0] == OptionMark;
}
}

COptionParser::COptionParser(const char* tool, const char* usage)
    : m_tool(tool)
    , m_usage(usage)
{
}

void COptionParser::AddFlag(const wchar_t* name, bool& value)
{
    m_options.push_back({ name, &value, nullptr, false });
}

void COptionParser::AddValue(const wchar_t* name, std::wstring& value)
{
    m_options.push_back({ name, nullptr, &value, false });
}

void COptionParser::AddOperand(const wchar_t* name, std::wstring& value)
{
    m_operands.emplace_back(name, &value);
}

// Help and version are answered before anything else is checked, so that
// they work on any command line.
bool COptionParser::Parse(int argc, wchar_t* argv[])
{
    for (int i = 1; i < argc; ++i)
    {
        std::wstring word = argv[i];
        if (word == HelpOption || word == ShortHelpOption)
        {
            WriteText(stdout, m_usage);
            return false;
        }
        if (word == VersionOption)
        {
            PrintLine(stdout, std::string(m_tool) + " " + SECTORIX_VERSION_STRING);
            return false;
        }
    }
    for (int i = 1; i < argc; ++i)
    {
        std::wstring word = argv[i];
        if (!LooksLikeOption(word))
        {
            TakeOperand(word);
            continue;
        }
        SOption* pOption = Find(word);
        if (!pOption)
            throw CToolError(ExitBadArguments, "unknown option " + Utf8(word));
        Take(*pOption, i, argc, argv);
    }
    if (m_operandsTaken < m_operands.size())
        throw CToolError(ExitBadArguments, Utf8(m_operands[m_operandsTaken].first) + " is missing");
    return true;
}

COptionParser::SOption* COptionParser::Find(const std::wstring& name)
{
    for (SOption& option : m_options)
    {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

// A value may itself start with a dash (a file named so), but an empty one
// names nothing.
void COptionParser::Take(SOption& option, int& i, int argc, wchar_t* argv[])
{
    if (option.bGiven)
        throw CToolError(ExitBadArguments, Utf8(option.name) + " is given twice");
    option.bGiven = true;
    if (option.pFlag)
    {
        *option.pFlag = true;
        return;
    }
    if (i + 1 == argc || argv[i + 1][0] == L'\0')
        throw CToolError(ExitBadArguments, Utf8(option.name) + " needs a value");
    *option.pValue = argv[++i];
}

void COptionParser::TakeOperand(const std::wstring& word)
{
    if (m_operandsTaken == m_operands.size())
        throw CToolError(ExitBadArguments, "unexpected " + Utf8(word));
    *m_operands[m_operandsTaken++].second = word;
}
