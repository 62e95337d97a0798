#include "afx/Exception.h"

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CResourceException, CException)

void CException::Delete()
{
    delete this;
}

void AfxThrowResourceException()
{
    throw new CResourceException;
}
