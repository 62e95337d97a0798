#pragma once

#include "Sectorix/ServiceProtocol.h"

#include <cstdint>
#include <string>

// What the card service sends, checked before anything of it is used or
// written anywhere. Plain code: the pipe is behind CMessageSource, so the
// same checks run on a fuzzer's input.
namespace Sectorix
{

// The bytes of a message that did not come with its first read.
class CMessageSource
{
public:
    // Exactly length bytes, or false.
    virtual bool Read(uint8_t* target, uint32_t length) = 0;

protected:
    ~CMessageSource() = default;
};

// The caller's buffer that read responses fill one after the other.
struct SSectorTarget
{
    uint8_t* pNext;
    uint64_t room;
};

enum EReceived
{
    eReceivedBroken,
    eReceivedResponse,
    eReceivedLogLine
};

// The fixed part a message of this kind needs before its fields may be
// read; a shorter one would be read from what an earlier message left.
uint32_t MinimumMessageSize(_eServiceCmd cmd, uint32_t serviceVersion);

// Completes one message whose first `arrived` bytes are at the start of
// `area` (ServiceMessageAreaSize bytes): its fixed part, then its text (the
// bytes as sent, into `text`) or its sectors (into the target, which moves
// on). Broken: a size its fields do not fit or the area cannot hold, an
// empty text, sectors beyond the target's room, bytes beyond what the
// message announces, or a source that ends early.
EReceived ReceiveMessage(uint8_t* area, uint32_t arrived, uint32_t serviceVersion, CMessageSource& source,
                         SSectorTarget& target, std::string& text);

}
