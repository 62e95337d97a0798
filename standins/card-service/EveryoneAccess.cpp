#include "EveryoneAccess.h"

#include <sddl.h>

namespace
{
const wchar_t EveryoneFullAccess[] = L"D:(A;OICI;GA;;;WD)";
}

// Should the conversion fail, the objects get the default security, which
// still lets the developer's own processes in.
CEveryoneAccess::CEveryoneAccess()
    : m_attributes{sizeof(m_attributes), nullptr, FALSE}
{
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(EveryoneFullAccess, SDDL_REVISION_1,
                                                           &m_attributes.lpSecurityDescriptor, nullptr);
}

CEveryoneAccess::~CEveryoneAccess()
{
    ::LocalFree(m_attributes.lpSecurityDescriptor);
}
