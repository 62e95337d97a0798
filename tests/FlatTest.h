#pragma once

#include "Sectorix/SectorixFlat.h"

#include <windows.h>

#include <string>

// What the flat tests share: the calling host's standard output, and the
// flat status call with a bound on its wait.
namespace flat_test
{

// What the flat wait writes: its prompt, and the start of the line for a
// card that came.
const char Prompt[] = "Bitte Flashkarte JETZT einstecken ...";
const char Inserted[] = "Medium eingelegt: ";

// Takes over standard output (file descriptor 1, which the library's
// wide-character printf writes to) until the object goes.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string Text() const;
    // How often the text occurs in what was written so far.
    size_t Count(const std::string& part) const;

private:
    std::wstring m_path;
    int m_saved = -1;
};

struct StatusResult
{
    int answer;
    bool terminated;
};

// getTelvaneStatus; a wait that finds no card within the bound is ended
// with getTelvaneStatusTerminate from another thread, so that a missed card
// fails the test instead of hanging it.
StatusResult BoundedStatus(unsigned short* status, DWORD bound);

// The flat wait of a host whose card is there: the prompt once, the card's
// media line once, the status connected. Fails the test otherwise.
void ExpectCardFound(const StdoutCapture& out, const std::string& mediaLine);

// getTelvaneStatus on a thread of its own, as a host that waits for a card
// in the background. A call that does not return when it should is made to
// (WM_QUIT, then a terminate), so that it fails the test instead of hanging
// it.
class StatusThread
{
public:
    StatusThread();
    ~StatusThread();

    StatusThread(const StatusThread&) = delete;
    StatusThread& operator=(const StatusThread&) = delete;

    // Whether the call returned within the bound.
    bool Returned(DWORD bound);
    int Answer() const { return m_answer; }

private:
    static DWORD WINAPI Main(void* pParam);

    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    volatile int m_answer = -1;
};

// Takes this thread's notifications of the flat wait until one of the state
// arrives or the time runs out, without dispatching anything else.
bool WaitForNotification(WPARAM state, DWORD bound, LPARAM* source = nullptr);

}
