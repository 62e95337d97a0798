#include "telemetry/LapDataStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
// The skip to a read's offset goes through this buffer in steps of its
// size, and the last step stays there for a read that wants it: reading
// downwards, the request below the last one is what was skipped to reach
// it. As large as the first interval between points, so that one step
// covers the skip from a point.
const size_t ScratchSize = CLapDataStream::InitialSpacing;
const uint64_t UnknownEnd = std::numeric_limits<uint64_t>::max();
}

CLapDataStream::CLapDataStream(size_t maxAccessPoints)
    : m_bLiveUsable(false)
    , m_position(0)
    , m_end(UnknownEnd)
    , m_spacing(InitialSpacing)
    , m_skippedOffset(0)
    , m_skippedLength(0)
    // Thinning keeps every other point: the cap is even, and at least two.
    , m_nMaxAccessPoints(std::max<size_t>(maxAccessPoints, 2) / 2 * 2)
{
}

bool CLapDataStream::Start(const unsigned char* packed, uint32_t packedSize)
{
    Close();
    if (!m_live.Start(packed, packedSize))
        return false;
    m_bLiveUsable = true;
    AddAccessPoint();
    m_scratch.resize(ScratchSize);
    return !m_points.empty();
}

void CLapDataStream::Close()
{
    m_live.End();
    m_points.clear();
    m_scratch.clear();
    m_bLiveUsable = false;
    m_position = 0;
    m_end = UnknownEnd;
    m_spacing = InitialSpacing;
    m_skippedOffset = 0;
    m_skippedLength = 0;
}

bool CLapDataStream::Read(uint64_t offset, unsigned char* output, size_t length)
{
    if (m_points.empty())
        return false;
    if (m_skippedLength != 0 && offset >= m_skippedOffset && length <= m_skippedLength &&
        offset - m_skippedOffset <= m_skippedLength - length)
    {
        std::memcpy(output, m_scratch.data() + (offset - m_skippedOffset), length);
        return true;
    }
    size_t produced = 0;
    CInflateStream::Result result = offset < m_end ? MoveTo(offset) : CInflateStream::Ended;
    if (result == CInflateStream::Filled)
        result = Advance(output, length, produced);
    if (result == CInflateStream::Failed)
        return false;
    std::memset(output + produced, 0, length - produced);
    return true;
}

CInflateStream::Result CLapDataStream::MoveTo(uint64_t offset)
{
    const AccessPoint& point = PointAtOrBelow(offset);
    if (!m_bLiveUsable || m_position > offset || point.offset > m_position)
    {
        m_bLiveUsable = m_live.CopyFrom(*point.stream);
        if (!m_bLiveUsable)
            return CInflateStream::Failed;
        m_position = point.offset;
    }
    while (m_position < offset)
    {
        size_t produced = 0;
        size_t step = static_cast<size_t>(std::min<uint64_t>(offset - m_position, m_scratch.size()));
        uint64_t stepOffset = m_position;
        m_skippedLength = 0;
        CInflateStream::Result result = Advance(m_scratch.data(), step, produced);
        if (result != CInflateStream::Filled)
            return result;
        m_skippedOffset = stepOffset;
        m_skippedLength = step;
    }
    return CInflateStream::Filled;
}

// Inflates from the live position on, stopping at the next point's offset
// when the stream is the first to reach it.
CInflateStream::Result CLapDataStream::Advance(unsigned char* output, size_t length, size_t& produced)
{
    produced = 0;
    while (produced < length)
    {
        uint64_t next = m_points.back().offset + m_spacing;
        size_t piece = length - produced;
        if (m_position < next)
            piece = static_cast<size_t>(std::min<uint64_t>(piece, next - m_position));
        size_t made = 0;
        CInflateStream::Result result = m_live.Inflate(output + produced, piece, made);
        produced += made;
        m_position += made;
        if (result == CInflateStream::Ended)
            m_end = m_position;
        if (result == CInflateStream::Failed)
            m_bLiveUsable = false;
        if (result != CInflateStream::Filled)
            return result;
        if (m_position == next)
            AddAccessPoint();
    }
    return CInflateStream::Filled;
}

const CLapDataStream::AccessPoint& CLapDataStream::PointAtOrBelow(uint64_t offset) const
{
    auto above = std::upper_bound(m_points.begin(), m_points.end(), offset,
                                  [](uint64_t value, const AccessPoint& point) { return value < point.offset; });
    return *(above - 1);
}

void CLapDataStream::AddAccessPoint()
{
    if (m_points.size() == m_nMaxAccessPoints)
    {
        size_t kept = 0;
        for (size_t i = 0; i < m_points.size(); i += 2)
            m_points[kept++] = std::move(m_points[i]);
        m_points.resize(kept);
        m_spacing *= 2;
    }
    if (!m_points.empty() && m_position != m_points.back().offset + m_spacing)
        return;
    AccessPoint point{ m_position, std::make_unique<CInflateStream>() };
    if (point.stream->CopyFrom(m_live))
        m_points.push_back(std::move(point));
}
