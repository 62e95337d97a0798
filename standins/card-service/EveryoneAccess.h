#pragma once

#include <windows.h>

// The real service runs under a privileged account and its clients under
// any other: the pipe and the events give everyone full access.
class CEveryoneAccess
{
public:
    CEveryoneAccess();
    ~CEveryoneAccess();
    CEveryoneAccess(const CEveryoneAccess&) = delete;
    CEveryoneAccess& operator=(const CEveryoneAccess&) = delete;

    SECURITY_ATTRIBUTES* Attributes() { return &m_attributes; }

private:
    SECURITY_ATTRIBUTES m_attributes;
};
