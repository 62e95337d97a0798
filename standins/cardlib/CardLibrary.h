#pragma once

#include "CallRecord.h"
#include "CardReader.h"
#include "EntryGate.h"
#include "DataRecorder.h"
#include "ScopedLock.h"

// Everything behind the entries of one loaded stand-in file: both halves,
// what the tests chose for single entries, and the call record.
class CCardLibrary
{
public:
    CCardLibrary();
    ~CCardLibrary();
    CCardLibrary(const CCardLibrary&) = delete;
    CCardLibrary& operator=(const CCardLibrary&) = delete;

    int Control(int op, UINT_PTR value, const void* data);
    CCallRecord& Record() { return m_record; }
    CCardReader& Reader() { return m_reader; }
    CDataRecorder& Recorder() { return m_recorder; }

    // An entry's work under the lock, unless the tests chose its answer;
    // its call is already recorded.
    template <typename Work>
    DWORD Call(const wchar_t* entry, Work work)
    {
        DWORD answer = 0;
        if (m_gate.Pass(entry, answer))
            return answer;
        CScopedLock lock(m_lock);
        return work();
    }

private:
    int ControlHalves(int op, UINT_PTR value, const void* data);

    CRITICAL_SECTION m_lock;
    CCardReader m_reader;
    CDataRecorder m_recorder;
    CEntryGate m_gate;
    CCallRecord m_record;
};
