#include "ProgressLine.h"

#include <cstdio>
#include <string>

namespace
{
const double RedrawInterval = 0.1;
const int BarWidth = 30;
const double BytesPerMegabyte = 1e6;
const double Percent = 100.0;
}

CProgressLine::CProgressLine(unsigned long long total)
    : m_total(total)
{
    ::QueryPerformanceFrequency(&m_frequency);
    ::QueryPerformanceCounter(&m_start);
    m_lastDraw = -RedrawInterval;
}

CProgressLine::~CProgressLine()
{
    if (m_bLineOpen)
        EndLine();
}

void CProgressLine::Update(unsigned long long done)
{
    double now = Seconds();
    if (now - m_lastDraw < RedrawInterval)
        return;
    m_lastDraw = now;
    Draw(done);
}

void CProgressLine::Finish(unsigned long long done)
{
    Draw(done);
    EndLine();
}

double CProgressLine::Rate(unsigned long long done) const
{
    double seconds = Seconds();
    return seconds > 0 ? static_cast<double>(done) / seconds : 0;
}

double CProgressLine::Seconds() const
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - m_start.QuadPart) / static_cast<double>(m_frequency.QuadPart);
}

void CProgressLine::Draw(unsigned long long done)
{
    double share = m_total ? static_cast<double>(done) / static_cast<double>(m_total) : 1.0;
    int filled = static_cast<int>(share * BarWidth);
    int percent = static_cast<int>(share * Percent);
    std::string bar(static_cast<size_t>(BarWidth), '-');
    bar.replace(0, static_cast<size_t>(filled), static_cast<size_t>(filled), '#');
    std::printf("\r[%s] %3d %%  %7.1f MB/s", bar.c_str(), percent, Rate(done) / BytesPerMegabyte);
    std::fflush(stdout);
    m_bLineOpen = true;
}

void CProgressLine::EndLine()
{
    std::fputc('\n', stdout);
    std::fflush(stdout);
    m_bLineOpen = false;
}
