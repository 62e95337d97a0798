#pragma once

#include "afx/CriticalSection.h"
#include "afx/String.h"

#include <cstdio>

// The process-wide log book: one UTF-8 file per local day in the host's
// folder, each line time-stamped and flushed at once; nothing at all while
// no folder is set.
class TLogbuch
{
public:
    typedef void (WINAPI* Clock)(FILETIME* pUtcNow);

    static TLogbuch& Instance();

    virtual ~TLogbuch();

    TLogbuch(const TLogbuch&) = delete;
    TLogbuch& operator=(const TLogbuch&) = delete;

    bool SetFolder(const wchar_t* folder);
    const CString& GetFolder() const { return m_strFolder; }
    bool IsEnabled() const { return !m_strFolder.IsEmpty(); }

    void Write(const wchar_t* text);
    void WriteFormat(const wchar_t* format, ...);

    // The time source of every stamp, file name and clean-up; tests move it.
    void SetClock(Clock clock);

private:
    TLogbuch();

    static TLogbuch s_instance;

    bool Open();
    static FILE* OpenShared(const wchar_t* path);
    void Close();
    void RemoveOldFiles(const FILETIME& utcNow);
    void Now(FILETIME& utc, SYSTEMTIME& local) const;

    CString m_strFolder;
    FILE* m_pFile = nullptr;
    SYSTEMTIME m_stDate = {};
    CCriticalSection m_lock;
    Clock m_pfnClock;
};
