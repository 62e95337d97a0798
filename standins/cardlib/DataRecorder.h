#pragma once

#include "CardLibStandin.h"

#include <vector>

// The CMREC half: the recorder's configuration and extra information, and
// its format in steps.
class CDataRecorder
{
public:
    CDataRecorder();

    const BYTE* Config() const { return m_config; }
    const std::vector<BYTE>& ExtraInfo() const { return m_extra; }
    void SetConfig(const BYTE* config);
    void SetExtraInfo(const BYTE* bytes, size_t count) { m_extra.assign(bytes, bytes + count); }
    void SetFormatWork(DWORD work) { m_formatWork = work; }
    void SetFormatStep(DWORD step) { m_formatStep = step ? step : 1; }

    DWORD ReadExtraInfo(BYTE* buffer, DWORD* size) const;
    void InitCard(const BYTE* config, const BYTE* extra, DWORD length);
    DWORD FormatWork() const { return m_formatWork; }
    void FormatStep(DWORD* done, DWORD* remaining) const;

private:
    BYTE m_config[CardLibStandin::ConfigSize];
    std::vector<BYTE> m_extra;
    DWORD m_formatWork = CardLibStandin::DefaultFormatWork;
    DWORD m_formatStep = CardLibStandin::DefaultFormatStep;
};
