#pragma once

// The inflated lap data, readable at any offset. One live inflation moves on
// from where the last read ended; copies of it taken at fixed intervals as it
// first passes them (access points) let a read at a lower offset start at
// the nearest point below instead of at the beginning, so that once the
// points are there reads in any order cost at most about twice as much as
// reads in order. Whole copies of the inflation, not windows saved at deflate
// block ends, because blocks of well-compressed data lie 100 KiB and more
// apart, and a copy can be taken at any byte. The points are capped: when
// they run out, every other one is dropped and the interval doubles.
#include "telemetry/InflateStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CLapDataStream
{
public:
    // Each point holds a whole inflation state with its 32 KiB window, some
    // 39 KiB: at most about 40 MiB, reached by laps of 64 MiB of data.
    static constexpr size_t MaxAccessPoints = 1024;
    static constexpr uint64_t InitialSpacing = 64 * 1024;

    explicit CLapDataStream(size_t maxAccessPoints = MaxAccessPoints);

    bool Start(const unsigned char* packed, uint32_t packedSize);
    void Close();

    // Fills output with the inflated bytes from offset on, zeros past the
    // end of the data; false where the stream is corrupt.
    bool Read(uint64_t offset, unsigned char* output, size_t length);

    size_t AccessPoints() const { return m_points.size(); }
    uint64_t Spacing() const { return m_spacing; }

private:
    struct AccessPoint
    {
        uint64_t offset;
        std::unique_ptr<CInflateStream> stream;
    };

    CInflateStream::Result MoveTo(uint64_t offset);
    CInflateStream::Result Advance(unsigned char* output, size_t length, size_t& produced);
    const AccessPoint& PointAtOrBelow(uint64_t offset) const;
    void AddAccessPoint();

    CInflateStream m_live;
    bool m_bLiveUsable;
    uint64_t m_position;
    uint64_t m_end;
    uint64_t m_spacing;
    std::vector<AccessPoint> m_points;
    std::vector<unsigned char> m_scratch;
    // The bytes the last skip left in m_scratch.
    uint64_t m_skippedOffset;
    size_t m_skippedLength;
    size_t m_nMaxAccessPoints;
};
