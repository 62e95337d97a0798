#pragma once

#include <windows.h>

#include <string>

// The progress of a long operation on standard error: share done, bytes,
// the average rate since the start, the time taken and an estimate of the
// time left. On a console it is one line redrawn at most ten times a
// second, so that a fast copy is not slowed down by its own display;
// elsewhere a line of its own now and then, never a carriage return.
// --quiet shows none.
class CProgressLine
{
public:
    explicit CProgressLine(unsigned long long total);
    // A line left open by a failure is ended, so the message that follows
    // starts on a line of its own.
    ~CProgressLine();

    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    void Update(unsigned long long done);
    // Draws the final state and ends the line.
    void Finish(unsigned long long done);
    // Bytes a second since the start.
    double Rate(unsigned long long done) const;

private:
    double Seconds() const;
    std::string Text(unsigned long long done) const;
    void Draw(unsigned long long done);
    void EndLine();

    unsigned long long m_total;
    bool m_bShown;
    bool m_bTerminal;
    LARGE_INTEGER m_frequency;
    LARGE_INTEGER m_start;
    double m_lastDraw = 0;
    size_t m_drawnLength = 0;
    bool m_bLineOpen = false;
};
