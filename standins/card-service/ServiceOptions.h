#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The ways a read request can be answered wrongly, one at a time.
enum EReadFault
{
    eReadFaultNone,
    eReadFaultSplit,
    eReadFaultDrop,
    eReadFaultSizeSmall,
    eReadFaultSizeLarge,
    eReadFaultTextEmpty,
    eReadFaultSectorsMore,
    eReadFaultDataMore,
    eReadFaultFuzz,
    eReadFaultApart
};

// Sectors FIRST to LAST, both included.
struct SSectorRange
{
    DWORD first;
    DWORD last;
};

struct SServedImage
{
    BYTE volume;
    std::wstring image;
};

// The command line of the stand-in, checked strictly: a mistyped option in
// a test must fail loudly rather than serve something else.
class CServiceOptions
{
public:
    // False with the Problem() when the command line is wrong.
    bool Parse(int argc, wchar_t* argv[]);
    static const char* Usage();
    const std::string& Problem() const { return m_problem; }

    bool WantsHelp() const { return m_bHelp; }
    bool WantsVersion() const { return m_bVersion; }
    bool WantsStop() const { return m_bStop; }
    DWORD Version() const { return m_version; }
    std::string VersionText() const;
    const std::vector<SServedImage>& Images() const { return m_images; }
    ULONGLONG MediaSize(ULONGLONG imageSize) const { return m_bMediaSize ? m_mediaSize : imageSize; }
    BYTE Flags() const { return m_flags; }
    const std::string& DeviceName() const { return m_deviceName; }
    LONG ArpResult() const { return m_arpResult; }
    const std::wstring& RecordFile() const { return m_recordFile; }
    bool HasParent() const { return m_bParent; }
    DWORD Parent() const { return m_parent; }
    DWORD LifetimeSeconds() const { return m_lifetimeSeconds; }

    bool Refuses(signed char cmd) const;
    bool Shortens(signed char cmd) const;
    bool LogsBetween() const { return m_bLogBetween; }
    DWORD SlowMilliseconds() const { return m_slowMilliseconds; }
    EReadFault ReadFault() const { return m_readFault; }
    DWORD SplitSectors() const { return m_splitSectors; }
    DWORD FuzzSeed() const { return m_fuzzSeed; }
    // Whether a read of count sectors from first touches a bad sector.
    bool TouchesBadSector(DWORD first, DWORD count) const;

private:
    bool Take(const std::wstring& option, const std::wstring& value);
    bool TakeImage(const std::wstring& option, const std::wstring& value);
    bool TakeFault(const std::wstring& kind);
    bool TakeRequest(const std::wstring& fault, const std::wstring& request, std::vector<signed char>& cmds);
    bool TakeReadFault(EReadFault fault);
    bool TakeBadSectors(const std::wstring& range);
    bool TakeVersion(const std::wstring& text);
    bool TakeDeviceName(const std::wstring& name);
    bool TakeSigned(const std::wstring& option, const std::wstring& text, LONG& number);
    static bool ParseNumber(const std::wstring& text, ULONGLONG max, ULONGLONG& number);
    template <typename T>
    bool TakeNumber(const std::wstring& option, const std::wstring& text, T min, T max, T& number);
    bool Fail(const std::wstring& problem);

    std::string m_problem;
    bool m_bHelp = false;
    bool m_bVersion = false;
    bool m_bStop = false;
    DWORD m_version;
    std::vector<SServedImage> m_images;
    bool m_bMediaSize = false;
    ULONGLONG m_mediaSize = 0;
    BYTE m_flags;
    std::string m_deviceName;
    UINT m_codePage = CP_ACP;
    LONG m_arpResult = 0;
    std::wstring m_recordFile;
    bool m_bParent = false;
    DWORD m_parent = 0;
    DWORD m_lifetimeSeconds;
    std::vector<signed char> m_refusedCmds;
    std::vector<signed char> m_shortCmds;
    bool m_bLogBetween = false;
    DWORD m_slowMilliseconds = 0;
    EReadFault m_readFault = eReadFaultNone;
    DWORD m_splitSectors = 0;
    DWORD m_fuzzSeed = 0;
    std::vector<SSectorRange> m_badSectors;
};
