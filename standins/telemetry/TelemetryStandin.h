#pragma once

// The control entry of the stand-in telemetry libraries (telvane.dll,
// SpiDirect.dll, RT9Burst.DLL).

#include "StandinControl.h"

namespace TelemetryStandin
{

using Standin::Control;
using Standin::ControlProc;

// The first word of the version record.
const DWORD Version = 0x00020100;

// What getTelvanePacketSize stores.
const UINT PacketSize = 4096;

// getTelvaneError answers, in this order of precedence: ErrorTransfer once
// after any failed lap or board-log fetch (so that a burst ends there),
// ErrorNotConnected while the status is not connected, the pending burst
// (0xFF17) while a lap or a board log is on offer, else 0.
const WORD ErrorNotConnected = 0xFF01;
const WORD ErrorTransfer = 0xFF02;

// Sector reads and lap and board-log fetches succeed only while the status
// is connected (0xF006); the link starts not connected (0x0F03), and a
// disconnect is the status set to anything else. The sync object is an
// auto-reset event.
//
// A host that cannot reach this entry (the demo) names lap files in the
// environment variable TELEMETRY_STANDIN_LAPS, separated by semicolons: the
// first successful startTelvaneCommunication offers them (lap k from 1 with
// the identifier k and the numbers k, 0, k), sets step 2 and the connected
// status.
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
    // now. Answers nonzero when the file was read. getLastLapSize offers the
    // oldest lap until endLastLapTransmit, also after a failed fetch;
    // getTelvaneStep's second value is the number of laps on offer.
    OfferLap,
    // value: a byte offset. The next lap or board-log fetch whose range holds
    // that byte fails (once).
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
// for example "initTelvaneCommunication@8(first,null)",
// "enableNotifyMessage@12(8002)" or "getLastLapData@12(16384,32768)": texts
// as passed ("null" for none), the message in hex, other numbers in decimal.
inline std::wstring Calls(ControlProc control)
{
    return Standin::Calls(control, GetCalls);
}

} // namespace TelemetryStandin
