#pragma once

#include <windows.h>

// A progress bar on one console line: share done, and the average rate
// since the start. Redrawn at most ten times a second, so that a fast copy
// is not slowed down by its own display.
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
    void Draw(unsigned long long done);
    void EndLine();

    unsigned long long m_total;
    LARGE_INTEGER m_frequency;
    LARGE_INTEGER m_start;
    double m_lastDraw;
    bool m_bLineOpen = false;
};
