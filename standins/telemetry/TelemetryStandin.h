#pragma once

// The control entry of the stand-in telemetry libraries (telvane.dll,
// SpiDirect.dll, RT9Burst.DLL). Tests load a stand-in themselves (so that its
// state outlives the product's own reference) and steer it through this one
// entry; the product never looks it up. Each loaded file name is a library
// of its own with its own state.

#include <windows.h>

#include <string>

namespace TelemetryStandin
{

// int op, UINT_PTR value, const void* data.
typedef int(WINAPI* ControlProc)(int, UINT_PTR, const void*);
const char ControlName[] = "_StandinControl@12";

// The first word of the version record.
const DWORD Version = 0x00020100;

// What getTelvanePacketSize stores.
const UINT PacketSize = 4096;

// Codes of getTelvaneError besides the pending burst (0xFF17) and 0 (no error).
const WORD ErrorNotConnected = 0xFF01;
// A fetch failed; answered once, so that the burst ends there.
const WORD ErrorTransfer = 0xFF02;

// Sector reads and lap and board-log fetches succeed only while the status
// is connected (0xF006); the link starts not connected (0x0F03).
enum Operation
{
    // value: the new status word. Posted to the window given to
    // enableNotifyMessage (wParam = status) and signalled on the sync object,
    // each time, also when it did not change.
    SetStatus = 1,
    // value: the step that getTelvaneStep answers (2 = burst mode).
    SetStep,
    // data: path of a card image (null: none). Answers nonzero when loaded.
    SetCardImage,
    // data: const Lap*; appended to the laps on offer, read from the file
    // now. Answers nonzero when the file was read.
    OfferLap,
    // value: a byte offset. The next lap or board-log fetch whose range holds
    // that byte fails; the lap stays on offer.
    FailFetchAt,
    // value: milliseconds slept in every lap or board-log fetch.
    SetFetchDelay,
    // data: the bytes, value: their count. Replaces the board log; a board
    // log is on offer until EndLogFileTransmit, which starts an empty one.
    SetBoardLog,
    // value: what initTelvaneCommunication answers (1 at start).
    SetInitResult,
    // value: what startTelvaneCommunication answers (1 at start).
    SetStartResult,
    // data: wchar_t buffer, value: its size in characters. Copies as much of
    // the call record as fits (terminated); answers the record's length.
    GetCalls,
    ClearCalls,
};

// One lap on offer: its bytes come from the file; the rest fills _lap_info.
struct Lap
{
    const wchar_t* path;
    DWORD id;
    BYTE first;
    BYTE second;
    WORD third;
};

// The call record holds one line per entry call, "name@bytes(arguments)",
// for example "initTelvaneCommunication@8(first,second)", "enableNotifyMessage@12(8002)",
// "getLastLapData@12(16384,32768)": texts as passed ("null" for none), the
// message in hex, every other number in decimal.
inline std::wstring Calls(ControlProc control)
{
    std::wstring calls(control(GetCalls, 0, nullptr), L'\0');
    control(GetCalls, calls.size() + 1, &calls[0]);
    return calls;
}

inline ControlProc Control(HMODULE library)
{
    return reinterpret_cast<ControlProc>(reinterpret_cast<void*>(::GetProcAddress(library, ControlName)));
}

} // namespace TelemetryStandin
