#include "ServiceOptions.h"

#include "CardVolume.h"
#include "Console.h"

#include "Sectorix/ServiceProtocol.h"

#include <algorithm>
#include <climits>
#include <cwctype>

namespace
{
const DWORD DefaultVersion = Sectorix::ServiceVersionChangeDriveLetter;
const BYTE DefaultFlags = Sectorix::ServiceFlagNotHotPlugged;
const char DefaultDeviceName[] = "Sectorix stand-in card";
const DWORD DefaultLifetimeSeconds = 600;
// A day; longer and the wait in milliseconds would not fit a DWORD.
const DWORD MaxLifetimeSeconds = 86400;
const DWORD MaxSlowMilliseconds = 600000;
const DWORD MaxDisk = 63;
const DWORD VersionParts = 4;
const DWORD VersionPartBits = 8;
const BYTE MaxVersionPart = 0xFF;
const wchar_t ValueSeparator = L'=';
const wchar_t VersionSeparator = L'.';
const wchar_t MinusSign = L'-';
const wchar_t RangeSeparator = L'-';
const ULONGLONG DecimalBase = 10;

struct SRefusable
{
    const wchar_t* name;
    _eServiceCmd cmd;
};

const SRefusable RefusableRequests[] = {
    {L"open", eServiceCmdOpenCard},          {L"close", eServiceCmdCloseCard},
    {L"read", eServiceCmdReadSectors},       {L"write", eServiceCmdWriteSectors},
    {L"arp", eServiceCmdDeleteArpEntry},     {L"letter", eServiceCmdChangeDriveLetter},
    {L"version", eServiceCmdGetVersion},
};

struct SReadFaultName
{
    const wchar_t* name;
    EReadFault fault;
};

const SReadFaultName PlainReadFaults[] = {
    {L"drop-read", eReadFaultDrop},       {L"size-small", eReadFaultSizeSmall},
    {L"size-large", eReadFaultSizeLarge}, {L"text-empty", eReadFaultTextEmpty},
    {L"sectors-more", eReadFaultSectorsMore}, {L"data-more", eReadFaultDataMore},
    {L"apart", eReadFaultApart},
};

const wchar_t HelpOption[] = L"--help";
const wchar_t ShortHelpOption[] = L"-h";
const wchar_t VersionOption[] = L"--version";
const wchar_t StopOption[] = L"--stop";
const wchar_t OptionMark = L'-';

struct SValueOption
{
    const wchar_t* name;
    bool bRepeatable;
};

const SValueOption ValueOptions[] = {
    {L"--protocol", false}, {L"--drive", true},    {L"--disk", true},         {L"--media-size", false},
    {L"--flags", false},    {L"--code-page", false}, {L"--device-name", false}, {L"--arp-result", false},
    {L"--record", false},   {L"--parent", false},  {L"--lifetime", false},    {L"--fault", true},
};

const SValueOption* FindValueOption(const std::wstring& name)
{
    for (const SValueOption& option : ValueOptions)
    {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

const char UsageText[] =
    "usage: sectorix-card-service [OPTION...]\n"
    "       sectorix-card-service --stop\n"
    "\n"
    "Serves card image files on the card service's pipe until --stop, the end\n"
    "of the --parent process or the --lifetime. Without --drive or --disk it\n"
    "refuses to start, unless it answers only the --parent process.\n"
    "  --protocol A.B.C.D     version answered (default 1.1.10.1)\n"
    "  --drive X=IMAGE        serve drive letter X from IMAGE (repeatable)\n"
    "  --disk N=IMAGE         serve physical disk N, 0..63, from IMAGE (repeatable)\n"
    "  --media-size BYTES     size reported by open answers (default: the image's)\n"
    "  --flags N              flags of long open answers (default 1)\n"
    "  --code-page N          code page of the device name given after it\n"
    "                         (default the system's ANSI code page)\n"
    "  --device-name TEXT     device name of long open answers\n"
    "  --arp-result N         result of ARP answers (default 0)\n"
    "  --record FILE          append each received message to FILE, in hex\n"
    "  --parent PID           end when that process ends\n"
    "  --lifetime SECONDS     end after this long (default 600)\n"
    "  --fault KIND           misbehave (repeatable): error=CMD (open, close, read,\n"
    "                         write, arp, letter, version), short=CMD (the answer\n"
    "                         lacks its last 4 bytes), log-between, split=N,\n"
    "                         drop-read, slow=MS, size-small, size-large,\n"
    "                         text-empty, sectors-more, data-more, fuzz=SEED,\n"
    "                         apart (read answers and their data in two messages),\n"
    "                         bad=FIRST-LAST (reads that touch these sectors\n"
    "                         answer an error; repeatable)\n"
    "  --stop                 end the running stand-in\n"
    "  -h, --help             this text\n"
    "  --version              the version\n"
    "exit status: 0 ended, 1 could not start (or, with --stop, none runs),\n"
    "             2 bad arguments\n";
}

bool CServiceOptions::Parse(int argc, wchar_t* argv[])
{
    m_version = DefaultVersion;
    m_flags = DefaultFlags;
    m_deviceName = DefaultDeviceName;
    m_lifetimeSeconds = DefaultLifetimeSeconds;
    // Help and version are answered on any command line, as by the tools.
    for (int i = 1; i < argc; ++i)
    {
        std::wstring word = argv[i];
        m_bHelp = word == HelpOption || word == ShortHelpOption;
        m_bVersion = word == VersionOption;
        if (m_bHelp || m_bVersion)
            return true;
    }
    std::vector<std::wstring> given;
    for (int i = 1; i < argc; ++i)
    {
        std::wstring option = argv[i];
        if (option == StopOption)
        {
            m_bStop = argc == 2;
            return m_bStop || Fail(option + L" stands alone");
        }
        const SValueOption* pOption = FindValueOption(option);
        if (!pOption)
            return Fail(option.size() > 1 && option[0] == OptionMark ? L"unknown option " + option
                                                                     : L"unexpected " + option);
        if (!pOption->bRepeatable && std::find(given.begin(), given.end(), option) != given.end())
            return Fail(option + L" is given twice");
        given.push_back(option);
        if (i + 1 == argc)
            return Fail(option + L" needs a value");
        if (!Take(option, argv[++i]))
            return false;
    }
    return true;
}

const char* CServiceOptions::Usage()
{
    return UsageText;
}

std::string CServiceOptions::VersionText() const
{
    std::string text;
    for (DWORD part = VersionParts; part-- > 0;)
    {
        text += std::to_string((m_version >> (part * VersionPartBits)) & MaxVersionPart);
        if (part > 0)
            text += '.';
    }
    return text;
}

bool CServiceOptions::Refuses(signed char cmd) const
{
    return std::find(m_refusedCmds.begin(), m_refusedCmds.end(), cmd) != m_refusedCmds.end();
}

bool CServiceOptions::Shortens(signed char cmd) const
{
    return std::find(m_shortCmds.begin(), m_shortCmds.end(), cmd) != m_shortCmds.end();
}

bool CServiceOptions::TouchesBadSector(DWORD first, DWORD count) const
{
    if (count == 0)
        return false;
    ULONGLONG last = static_cast<ULONGLONG>(first) + count - 1;
    for (const SSectorRange& bad : m_badSectors)
    {
        if (first <= bad.last && bad.first <= last)
            return true;
    }
    return false;
}

bool CServiceOptions::Take(const std::wstring& option, const std::wstring& value)
{
    if (option == L"--protocol")
        return TakeVersion(value);
    if (option == L"--drive" || option == L"--disk")
        return TakeImage(option, value);
    if (option == L"--fault")
        return TakeFault(value);
    if (option == L"--device-name")
        return TakeDeviceName(value);
    if (option == L"--code-page")
        return TakeNumber<UINT>(option, value, 0, MAXWORD, m_codePage);
    if (option == L"--arp-result")
        return TakeSigned(option, value, m_arpResult);
    if (option == L"--flags")
        return TakeNumber<BYTE>(option, value, 0, MAXBYTE, m_flags);
    if (option == L"--lifetime")
        return TakeNumber<DWORD>(option, value, 1, MaxLifetimeSeconds, m_lifetimeSeconds);
    if (option == L"--media-size")
    {
        m_bMediaSize = true;
        return TakeNumber<ULONGLONG>(option, value, 0, ULLONG_MAX, m_mediaSize);
    }
    if (option == L"--parent")
    {
        m_bParent = true;
        return TakeNumber<DWORD>(option, value, 0, MAXDWORD, m_parent);
    }
    if (option == L"--record")
    {
        m_recordFile = value;
        return true;
    }
    return Fail(L"unknown option " + option);
}

// X=IMAGE for a drive letter, N=IMAGE for a physical disk.
bool CServiceOptions::TakeImage(const std::wstring& option, const std::wstring& value)
{
    size_t separator = value.find(ValueSeparator);
    if (separator == std::wstring::npos || separator + 1 == value.size())
        return Fail(option + L" wants NAME=IMAGE, not " + value);
    std::wstring name = value.substr(0, separator);
    SServedImage served = {0, value.substr(separator + 1)};
    if (option == L"--drive")
    {
        if (name.size() != 1 || name[0] >= 0x80 || !std::iswalpha(name[0]))
            return Fail(L"--drive wants a drive letter, not " + name);
        served.volume = static_cast<BYTE>(std::towupper(name[0]));
    }
    else
    {
        DWORD disk = 0;
        if (!TakeNumber<DWORD>(option, name, 0, MaxDisk, disk))
            return false;
        served.volume = static_cast<BYTE>(CCardVolume::FirstDiskVolume + disk);
    }
    for (const SServedImage& image : m_images)
    {
        if (image.volume == served.volume)
            return Fail(L"volume " + name + L" is served twice");
    }
    m_images.push_back(served);
    return true;
}

bool CServiceOptions::TakeFault(const std::wstring& kind)
{
    for (const SReadFaultName& plain : PlainReadFaults)
    {
        if (kind == plain.name)
            return TakeReadFault(plain.fault);
    }
    if (kind == L"log-between")
    {
        m_bLogBetween = true;
        return true;
    }
    size_t separator = kind.find(ValueSeparator);
    std::wstring name = kind.substr(0, separator);
    std::wstring value = separator == std::wstring::npos ? std::wstring() : kind.substr(separator + 1);
    std::wstring option = L"--fault " + name + L"=";
    if (name == L"error")
        return TakeRequest(L"error", value, m_refusedCmds);
    if (name == L"short")
        return TakeRequest(L"short", value, m_shortCmds);
    if (name == L"slow")
        return TakeNumber<DWORD>(option, value, 0, MaxSlowMilliseconds, m_slowMilliseconds);
    if (name == L"split")
        return TakeNumber<DWORD>(option, value, 1, MAXDWORD, m_splitSectors) && TakeReadFault(eReadFaultSplit);
    if (name == L"bad")
        return TakeBadSectors(value);
    if (name == L"fuzz")
        return TakeNumber<DWORD>(option, value, 0, MAXDWORD, m_fuzzSeed) && TakeReadFault(eReadFaultFuzz);
    return Fail(L"unknown fault " + kind);
}

bool CServiceOptions::TakeRequest(const std::wstring& fault, const std::wstring& request,
                                  std::vector<signed char>& cmds)
{
    for (const SRefusable& refusable : RefusableRequests)
    {
        if (request == refusable.name)
        {
            cmds.push_back(refusable.cmd);
            return true;
        }
    }
    return Fail(L"--fault " + fault + L"= wants open, close, read, write, arp, letter or version, not " + request);
}

// A read is answered in one wrong way at a time, so that a failing test
// names the fault that broke the client.
bool CServiceOptions::TakeReadFault(EReadFault fault)
{
    if (m_readFault != eReadFaultNone)
        return Fail(L"only one fault may shape the answers to reads");
    m_readFault = fault;
    return true;
}

// Bad sectors shape no answer but their own, so they go with any fault.
bool CServiceOptions::TakeBadSectors(const std::wstring& range)
{
    size_t separator = range.find(RangeSeparator);
    ULONGLONG first = 0;
    ULONGLONG last = 0;
    if (separator == std::wstring::npos || !ParseNumber(range.substr(0, separator), MAXDWORD, first) ||
        !ParseNumber(range.substr(separator + 1), MAXDWORD, last) || first > last)
        return Fail(L"--fault bad= wants FIRST-LAST, sector numbers with FIRST not above LAST, not " + range);
    m_badSectors.push_back({static_cast<DWORD>(first), static_cast<DWORD>(last)});
    return true;
}

bool CServiceOptions::TakeVersion(const std::wstring& text)
{
    m_version = 0;
    size_t start = 0;
    for (DWORD part = 0; part < VersionParts; ++part)
    {
        size_t end = part + 1 == VersionParts ? text.size() : text.find(VersionSeparator, start);
        ULONGLONG number = 0;
        if (end == std::wstring::npos || !ParseNumber(text.substr(start, end - start), MaxVersionPart, number))
            return Fail(L"--protocol wants A.B.C.D, each from 0 to 255, not " + text);
        m_version = (m_version << VersionPartBits) | static_cast<DWORD>(number);
        start = end + 1;
    }
    return true;
}

bool CServiceOptions::TakeDeviceName(const std::wstring& name)
{
    m_deviceName = Narrow(name, m_codePage);
    if (m_deviceName.size() < Sectorix::ServiceDeviceNameSize)
        return true;
    return Fail(L"--device-name takes at most " + std::to_wstring(Sectorix::ServiceDeviceNameSize - 1) +
                L" characters");
}

bool CServiceOptions::TakeSigned(const std::wstring& option, const std::wstring& text, LONG& number)
{
    bool bNegative = !text.empty() && text[0] == MinusSign;
    ULONGLONG magnitude = 0;
    ULONGLONG limit = bNegative ? 0ULL - LONG_MIN : LONG_MAX;
    if (!ParseNumber(text.substr(bNegative ? 1 : 0), limit, magnitude))
        return Fail(option + L" wants a number from " + std::to_wstring(LONG_MIN) + L" to " +
                    std::to_wstring(LONG_MAX) + L", not " + text);
    number = static_cast<LONG>(bNegative ? 0 - magnitude : magnitude);
    return true;
}

// Decimal digits only: no sign, no spaces, no trailing text.
bool CServiceOptions::ParseNumber(const std::wstring& text, ULONGLONG max, ULONGLONG& number)
{
    number = 0;
    for (wchar_t c : text)
    {
        ULONGLONG digit = static_cast<ULONGLONG>(c - L'0');
        if (c < L'0' || c > L'9' || digit > max || number > (max - digit) / DecimalBase)
            return false;
        number = number * DecimalBase + digit;
    }
    return !text.empty();
}

template <typename T>
bool CServiceOptions::TakeNumber(const std::wstring& option, const std::wstring& text, T min, T max, T& number)
{
    ULONGLONG value = 0;
    if (!ParseNumber(text, max, value) || value < min)
        return Fail(option + L" wants a number from " + std::to_wstring(min) + L" to " + std::to_wstring(max) +
                    L", not " + text);
    number = static_cast<T>(value);
    return true;
}

bool CServiceOptions::Fail(const std::wstring& problem)
{
    if (m_problem.empty())
        m_problem = Narrow(problem, CP_UTF8);
    return false;
}
