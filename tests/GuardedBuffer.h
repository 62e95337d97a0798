#pragma once

#include <windows.h>

#include <algorithm>

// A buffer whose last byte is followed by a page that cannot be touched and
// whose first byte is preceded by a known pattern: a write past its end
// faults at once, a write before its start shows in the pattern.
class GuardedBuffer
{
public:
    static constexpr BYTE Pattern = 0xCD;
    static constexpr size_t PatternSize = 4096;

    explicit GuardedBuffer(size_t size)
        : m_size(size)
    {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        size_t page = info.dwPageSize;
        size_t usable = (PatternSize + size + page - 1) / page * page;
        m_pBase = static_cast<BYTE*>(::VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(m_pBase + usable, page, PAGE_NOACCESS, &old);
        m_pData = m_pBase + usable - size;
        std::fill(m_pBase, m_pData, Pattern);
        std::fill(m_pData, m_pData + size, BYTE(0));
    }

    ~GuardedBuffer() { ::VirtualFree(m_pBase, 0, MEM_RELEASE); }

    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    BYTE* data() { return m_pData; }
    size_t size() const { return m_size; }

    bool PatternIntact() const
    {
        return std::all_of(m_pBase, m_pData, [](BYTE b) { return b == Pattern; });
    }

private:
    BYTE* m_pBase;
    BYTE* m_pData;
    size_t m_size;
};
