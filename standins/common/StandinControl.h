#pragma once

// What every stand-in library shares with the tests that steer it: one
// control entry beside the library's own, never looked up by the product.
// Tests load a stand-in themselves (so that its state outlives the
// product's own reference); each loaded file name is a library of its own
// with its own state.

#include <windows.h>

#include <string>

namespace Standin
{

// int op, UINT_PTR value, const void* data.
typedef int(WINAPI* ControlProc)(int, UINT_PTR, const void*);
const char ControlName[] = "_StandinControl@12";

inline ControlProc Control(HMODULE library)
{
    return reinterpret_cast<ControlProc>(reinterpret_cast<void*>(::GetProcAddress(library, ControlName)));
}

// The whole call record, through the library's operation that copies it
// (data: wchar_t buffer, value: its size in characters; answers the
// record's length).
inline std::wstring Calls(ControlProc control, int getCalls)
{
    std::wstring calls(control(getCalls, 0, nullptr), L'\0');
    control(getCalls, calls.size() + 1, &calls[0]);
    return calls;
}

} // namespace Standin
