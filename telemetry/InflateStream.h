#pragma once

// One zlib inflation over a compressed part held in memory, started with the
// linked zlib's own inflateInit and fed with the sync flush. A stream can be
// copied whole (window and bit position included) and later restarted from
// the copy.
#include <zlib.h>

#include <cstddef>
#include <cstdint>

class CInflateStream
{
public:
    enum Result
    {
        Filled,  // the output is full
        Ended,   // the stream ended; the output holds what it gave
        Failed,  // corrupt, cut short, or out of memory
    };

    CInflateStream();
    ~CInflateStream();
    CInflateStream(const CInflateStream&) = delete;
    CInflateStream& operator=(const CInflateStream&) = delete;

    bool Start(const unsigned char* input, uint32_t size);
    bool CopyFrom(const CInflateStream& other);
    void End();

    // Inflates up to length bytes into output; produced says how many came.
    Result Inflate(unsigned char* output, size_t length, size_t& produced);

private:
    z_stream m_stream;
    bool m_bStarted;
};
