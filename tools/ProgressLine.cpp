#include "ProgressLine.h"

#include "Console.h"

#include <cstdio>

namespace
{
const double TerminalRedrawInterval = 0.1;
const double LogLineInterval = 10.0;
// Below this an estimate of the time left says more about the start-up
// than about the copy.
const double EstimateAfter = 1.0;
// Short enough that the whole line fits an 80-column console.
const int BarWidth = 12;
const double BytesPerMegabyte = 1e6;
const double Percent = 100.0;
const int SecondsPerMinute = 60;
const int LineSize = 160;

std::string Duration(double seconds)
{
    long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof(text), "%ld:%02ld", whole / SecondsPerMinute, whole % SecondsPerMinute);
    return text;
}
}

CProgressLine::CProgressLine(unsigned long long total)
    : m_total(total)
    , m_bShown(!IsQuiet())
    , m_bTerminal(IsTerminal(stderr))
{
    ::QueryPerformanceFrequency(&m_frequency);
    ::QueryPerformanceCounter(&m_start);
}

CProgressLine::~CProgressLine()
{
    if (m_bLineOpen)
        EndLine();
}

void CProgressLine::Update(unsigned long long done)
{
    double now = Seconds();
    if (now - m_lastDraw < (m_bTerminal ? TerminalRedrawInterval : LogLineInterval))
        return;
    m_lastDraw = now;
    Draw(done);
}

void CProgressLine::Finish(unsigned long long done)
{
    Draw(done);
    if (m_bLineOpen)
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

std::string CProgressLine::Text(unsigned long long done) const
{
    double share = m_total ? static_cast<double>(done) / static_cast<double>(m_total) : 1.0;
    int filled = static_cast<int>(share * BarWidth);
    std::string bar(static_cast<size_t>(BarWidth), '-');
    bar.replace(0, static_cast<size_t>(filled), static_cast<size_t>(filled), '#');
    double seconds = Seconds();
    double rate = Rate(done);
    std::string left = seconds >= EstimateAfter && rate > 0 && done < m_total
                           ? Duration(static_cast<double>(m_total - done) / rate) + " left"
                           : "";
    char text[LineSize];
    std::snprintf(text, sizeof(text), "[%s] %3d %%  %.1f/%.1f MB  %.1f MB/s  %s elapsed  %s", bar.c_str(),
                  static_cast<int>(share * Percent), static_cast<double>(done) / BytesPerMegabyte,
                  static_cast<double>(m_total) / BytesPerMegabyte, rate / BytesPerMegabyte,
                  Duration(seconds).c_str(), left.c_str());
    std::string line = text;
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

void CProgressLine::Draw(unsigned long long done)
{
    if (!m_bShown)
        return;
    if (!m_bTerminal)
    {
        PrintLine(stderr, Text(done));
        return;
    }
    // A shorter line covers what is left of the longer one before it.
    std::string text = Text(done);
    if (text.size() < m_drawnLength)
        text.append(m_drawnLength - text.size(), ' ');
    m_drawnLength = text.size();
    WriteText(stderr, "\r" + text);
    m_bLineOpen = true;
}

void CProgressLine::EndLine()
{
    WriteText(stderr, "\n");
    m_bLineOpen = false;
}
