#pragma once

#include "afx/Object.h"

// Exceptions are thrown as heap pointers and released by the catcher with Delete.
class AFX_API CException : public CObject
{
    DECLARE_DYNAMIC(CException)
public:
    void Delete();

protected:
    CException() = default;
};

class AFX_API CResourceException : public CException
{
    DECLARE_DYNAMIC(CResourceException)
};

[[noreturn]] AFX_API void AfxThrowResourceException();
