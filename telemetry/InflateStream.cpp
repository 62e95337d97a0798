#include "telemetry/InflateStream.h"

#include <algorithm>
#include <cstring>

namespace
{
// zlib counts output in unsigned ints; larger requests go in pieces.
const size_t MaxPiece = 1u << 30;
}

CInflateStream::CInflateStream()
    : m_bStarted(false)
{
    std::memset(&m_stream, 0, sizeof(m_stream));
}

CInflateStream::~CInflateStream()
{
    End();
}

bool CInflateStream::Start(const unsigned char* input, uint32_t size)
{
    End();
    std::memset(&m_stream, 0, sizeof(m_stream));
    m_stream.next_in = const_cast<Bytef*>(input);
    m_stream.avail_in = size;
    m_bStarted = inflateInit(&m_stream) == Z_OK;
    return m_bStarted;
}

bool CInflateStream::CopyFrom(const CInflateStream& other)
{
    End();
    if (!other.m_bStarted)
        return false;
    m_bStarted = inflateCopy(&m_stream, const_cast<z_stream*>(&other.m_stream)) == Z_OK;
    return m_bStarted;
}

void CInflateStream::End()
{
    if (m_bStarted)
        inflateEnd(&m_stream);
    m_bStarted = false;
}

CInflateStream::Result CInflateStream::Inflate(unsigned char* output, size_t length, size_t& produced)
{
    produced = 0;
    if (!m_bStarted)
        return Failed;
    while (produced < length)
    {
        uInt piece = static_cast<uInt>(std::min(length - produced, MaxPiece));
        m_stream.next_out = output + produced;
        m_stream.avail_out = piece;
        int status = inflate(&m_stream, Z_SYNC_FLUSH);
        produced += piece - m_stream.avail_out;
        if (status == Z_STREAM_END)
            return Ended;
        // Room left with the input used up means the stream was cut short.
        if (status != Z_OK || (m_stream.avail_out != 0 && m_stream.avail_in == 0))
            return Failed;
    }
    return Filled;
}
