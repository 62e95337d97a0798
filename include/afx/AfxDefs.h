#pragma once

#include <windows.h>

// The layer lives inside Sectorix.dll; hosts and tests that link the DLL
// import it, the library itself and its white-box tests define it.
#ifdef SECTORIX_BUILD
#define AFX_API __declspec(dllexport)
#else
#define AFX_API __declspec(dllimport)
#endif

// An opaque place in a collection, for walking it.
typedef struct __POSITION
{
} * POSITION;
