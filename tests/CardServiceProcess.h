#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The stand-in card service in a process of its own: started for one test
// with the arguments it needs, ready once it announces itself, and stopped
// (or, if it does not stop, killed) when the test ends. It records every
// message it receives.
class CardServiceProcess
{
public:
    explicit CardServiceProcess(const std::vector<std::wstring>& arguments);
    ~CardServiceProcess();

    CardServiceProcess(const CardServiceProcess&) = delete;
    CardServiceProcess& operator=(const CardServiceProcess&) = delete;

    bool IsReady() const { return m_bReady; }
    // Asks the service to end; true if it was still running then and ended
    // by itself, with status 0.
    bool Stop();

    // The received messages that start with the given hex bytes, as
    // lower-case hex, in order.
    std::vector<std::string> ReceivedStartingWith(const std::string& prefix) const;
    std::vector<std::string> Received() const { return ReceivedStartingWith(""); }
    // Waits, at most bound milliseconds, until such a message has come.
    bool WaitForReceived(const std::string& prefix, DWORD bound) const;

private:
    std::wstring m_record;
    PROCESS_INFORMATION m_process = {};
    bool m_bReady = false;
};

// A protocol version as the command line writes it, e.g. "1.1.7.1".
std::wstring ServiceVersionText(DWORD version);
// Message bytes as the service records them.
std::string Hex(const void* data, size_t size);
