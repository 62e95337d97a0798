#pragma once

// The control entry of the stand-in card-reader libraries CMDLL.DLL and
// CMRECDLL.DLL. Both files come from the same sources and each holds both
// halves below; a test steers the half its file exports.
//
// Every library entry is cdecl and exported by its plain name. The variant
// folders under CARDLIB_STANDIN_DIR:
//   full/              CMDLL.DLL with "_cmdllDoReadCard1" and
//                      "_cmdllMountDataSource" (not the names without the
//                      underscore); CMRECDLL.DLL with its eleven entries
//   plain-names/       CMDLL.DLL with "cmdllDoReadCard1" and
//                      "cmdllMountDataSource" instead
//   both-readcard1/    CMDLL.DLL with "_cmdllDoReadCard1" and
//                      "cmdllDoReadCard1"
//   no-readlogfile/    CMDLL.DLL without cmdllReadLogFile
//   no-exitlastlap/    CMDLL.DLL without cmdllExitReadLastLap
//   cmrec-missing-one/ CMRECDLL.DLL without cmrecRegisterPosition
// The entries the product only resolves answer NotServed and record
// "unserved()".

#include "StandinControl.h"

namespace CardLibStandin
{

using Standin::Control;
using Standin::ControlProc;

// CMDLL codes.
const DWORD Success = 0x20010000;
const DWORD CodeNoDrive = 0x20010001;   // no driver or socket of that number
const DWORD CodeNoCard = 0x20010002;    // size query without a medium; mount without a card image
const DWORD CodeCardIo = 0x20010005;    // the card image or the output file failed, or the init does not fit
const DWORD CodeBadInitFile = 0x20010007; // unreadable init file, or a record running past its end
const DWORD CodeNotMounted = 0x2001000F;  // init or read-back while no data source is mounted
const DWORD NotServed = 0xFFFFFFFF;

// The handle that a successful cmdllMountDataSource stores.
const UINT_PTR MountHandle = 0x5EC70001;

// cmdllGetDriveStatus fills 32 bytes, all 0 but for this bit of the first
// byte while the selected drive holds a medium.
const size_t DriveStatusSize = 32;
const BYTE DriveStatusMedium = 0x04;

// The card image holds the init at its start: a DWORD byte count, then the
// init file's records exactly as cmdllDoInitCard got them.
// cmdllDoReadCard1 writes those bytes to its output file; a count of
// EmptyInit (an erased card) reads back as an empty file.
const DWORD EmptyInit = 0xFFFFFFFF;

// CMREC error numbers of the stand-in's own.
const DWORD RecorderSuccess = 0;
const DWORD RecorderErrorTooLong = 17; // the extra information exceeds the caller's buffer

const size_t ConfigSize = 86;
// At load: configuration all 0, no extra information, a format of
// DefaultFormatWork in steps of DefaultFormatStep.
const DWORD DefaultFormatWork = 100;
const DWORD DefaultFormatStep = 25;

// How long a held entry waits for Release at the most.
const DWORD HoldLimit = 10000;

// A host that cannot reach the control entry (the demo) names a card image
// in this environment variable: at load the image is set and drive 0 holds
// a medium of the image's size.
const wchar_t CardVariable[] = L"CARDLIB_STANDIN_CARD";

enum Operation
{
    // value: number of drivers, data: const WORD[] their socket counts. At
    // load: one driver with one socket. Drives are numbered across drivers,
    // driver by driver, socket by socket; driver 0, socket 0 is selected.
    SetSockets = 1,
    // value: drive number, data: const DWORD* card size in bytes.
    InsertMedium,
    // value: drive number.
    RemoveMedium,
    // data: path of the card image behind every data source (null: none).
    // The file is opened at each use.
    SetCardImage,
    // data: the bytes, value: their count. cmdllDoReadCard1 writes them
    // after the card's records (a card that reads back more than was written).
    AppendOnReadBack,
    // data: const BYTE[ConfigSize].
    SetConfig,
    // data: BYTE[ConfigSize], receives the configuration.
    GetConfig,
    // data: the bytes, value: their count.
    SetExtraInfo,
    // data: buffer, value: its size. Copies what fits; answers the length.
    GetExtraInfo,
    // value: the remaining work that cmrecInitFormat reports.
    SetFormatWork,
    // value: the work that each cmrecDoFormat does (at least 1).
    SetFormatStep,
    // data: entry name without a leading underscore (const wchar_t*),
    // value: its answer. From now the entry records its call, answers value
    // and does nothing else (a mount stores no handle).
    SetAnswer,
    // data: entry name. The entry works again.
    ClearAnswer,
    // data: entry name, value: calls that pass first. The next call after
    // those is recorded and then waits for Release (HoldLimit at most)
    // before it goes on as usual. One hold at a time.
    HoldEntry,
    // value: milliseconds. Answers nonzero once a call is held.
    WaitHeld,
    Release,
    // data: wchar_t buffer, value: its size in characters. Copies as much of
    // the call record as fits (terminated); answers the record's length.
    GetCalls,
    ClearCalls,
    // Everything back to its state at load, the record emptied, a held
    // call released.
    Reset,
};

// The call record holds one line per entry call, "name(arguments)", under
// the name the entry was called by: for example
// "_cmdllMountDataSource(*TELVANE,1)", "cmdllSelectPCCardDrive(1,1)",
// "cmdllUnmountDataSource(5ec70001)", "cmrecDoFormat(30,70)": texts as
// received ("null" for none), handles in hex, other numbers in decimal.
// Arguments per entry: cmdllGetPCCardSocketCount(driver),
// cmdllSelectPCCardDrive(driver,socket), cmdllCardHasBeenRead(handle),
// cmdllDoInitCard(file), cmdllDoReadCard1(source,file),
// cmdllMountDataSource(source,flag), cmrecReadExtraInfo(capacity),
// cmrecInitCard(extra length), cmrecDoFormat(done,remaining) as passed in;
// the other entries record "()".
inline std::wstring Calls(ControlProc control)
{
    return Standin::Calls(control, GetCalls);
}

} // namespace CardLibStandin
