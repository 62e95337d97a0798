#include "Sectorix/CMRECDLL.h"

#include "cardlib/RecorderInit.h"
#include "cardlib/WholeFile.h"

#include <vector>

using namespace Sectorix;

IMPLEMENT_DYNAMIC(CCMRECDLL, CCSMDLL)

namespace
{
const DWORD ExtraInfoCapacity = 65536;
// The error number the binding gives an init file it cannot use.
const DWORD UnusableInitError = 18;
const double Percent = 100.0;
// MountDataSource's handle once the recorder's card has answered.
void* const CardAnswered = reinterpret_cast<void*>(1);
}

CCMRECDLL::CCMRECDLL(const wchar_t* path)
    : CCSMDLL(path)
{
}

bool CCMRECDLL::Load()
{
    return CCSMDLL::Load() && Resolve("cmrecGetErrorText", m_pfnGetErrorText) &&
           Resolve("cmrecInitCard", m_pfnInitCard) && Resolve("cmrecReadConfig", m_pfnReadConfig) &&
           Resolve("cmrecReadExtraInfo", m_pfnReadExtraInfo) && Resolve("cmrecInitFormat", m_pfnInitFormat) &&
           Resolve("cmrecDoFormat", m_pfnDoFormat) && Resolve("cmrecExitFormat", m_pfnExitFormat) &&
           Resolve("cmrecInitReadData", m_pfnInitReadData) && Resolve("cmrecDoReadData", m_pfnDoReadData) &&
           Resolve("cmrecExitReadData", m_pfnExitReadData) && Resolve("cmrecRegisterPosition", m_pfnRegisterPosition);
}

// The library has no data sources: mounting only asks whether the card
// answers, and a card about to be formatted is not asked.
DWORD CCMRECDLL::MountDataSource(const wchar_t*, void*& handle, bool format)
{
    if (format)
        return CARDLIB_SUCCESS;
    BYTE configuration[CardInit::ConfigurationSize];
    DWORD error = m_pfnReadConfig(configuration);
    if (error == 0)
        handle = CardAnswered;
    return cmrecMapError(error);
}

void CCMRECDLL::UnmountDataSource(void*)
{
}

DWORD CCMRECDLL::InitCard(const wchar_t* initFile)
{
    std::vector<BYTE> file;
    CardInit::RecorderInit init;
    if (!ReadWholeFile(initFile, file) || !CardInit::FindRecorderInit(file.data(), file.size(), init))
        return cmrecMapError(UnusableInitError);
    return cmrecMapError(m_pfnInitCard(init.configuration, init.extraInfo, init.extraInfoLength));
}

bool CCMRECDLL::IsUsableInit(const BYTE* data, size_t size)
{
    CardInit::RecorderInit init;
    return CardInit::FindRecorderInit(data, size, init);
}

// Extra information longer than the buffer it was read into is not
// written: the library overran the size it was given.
DWORD CCMRECDLL::ReadInitCard(const wchar_t*, const wchar_t* outputFile)
{
    BYTE configuration[CardInit::ConfigurationSize];
    DWORD error = m_pfnReadConfig(configuration);
    if (error != 0)
        return cmrecMapError(error);
    std::vector<BYTE> extraInfo(ExtraInfoCapacity);
    DWORD size = ExtraInfoCapacity;
    error = m_pfnReadExtraInfo(extraInfo.data(), &size);
    if (error == 0 && size > ExtraInfoCapacity)
        return cmrecMapError(UnusableInitError);
    if (error == 0 && outputFile)
        WriteWholeFile(outputFile, CardInit::MakeRecorderInit(configuration, extraInfo.data(), size));
    return cmrecMapError(error);
}

// The library reports the work done and left after every step; a cancel
// ends the loop like the last step, with the library's format closed.
DWORD CCMRECDLL::AsyncFormatCard()
{
    DWORD done = 0;
    DWORD remaining = 0;
    DWORD error = m_pfnInitFormat(&remaining);
    while (error == 0 && remaining != 0 && !m_bCancel)
    {
        m_dwProgress = static_cast<DWORD>(done * Percent / (static_cast<double>(done) + remaining));
        error = m_pfnDoFormat(&done, &remaining);
    }
    m_pfnExitFormat();
    m_dwProgress = 100;
    return cmrecMapError(error);
}

DWORD CCMRECDLL::cmrecMapError(DWORD error)
{
    return CardInit::MapRecorderError(error);
}
