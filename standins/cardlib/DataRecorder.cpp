#include "DataRecorder.h"

#include <algorithm>
#include <cstring>

namespace cs = CardLibStandin;

CDataRecorder::CDataRecorder() : m_config{}
{
}

void CDataRecorder::SetConfig(const BYTE* config)
{
    std::memcpy(m_config, config, sizeof(m_config));
}

DWORD CDataRecorder::ReadExtraInfo(BYTE* buffer, DWORD* size) const
{
    if (*size < m_extra.size())
        return cs::RecorderErrorTooLong;
    std::copy(m_extra.begin(), m_extra.end(), buffer);
    *size = static_cast<DWORD>(m_extra.size());
    return 0;
}

void CDataRecorder::InitCard(const BYTE* config, const BYTE* extra, DWORD length)
{
    SetConfig(config);
    SetExtraInfo(extra, length);
}

void CDataRecorder::FormatStep(DWORD* done, DWORD* remaining) const
{
    DWORD step = std::min(m_formatStep, *remaining);
    *done += step;
    *remaining -= step;
}
