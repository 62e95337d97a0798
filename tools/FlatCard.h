#pragma once

#include "CardReader.h"

// The card that getTelvaneStatus found, read through the flat functions;
// its transfer is ended with endDataTransmit when the object goes.
class CFlatCard : public CCardReader
{
public:
    CFlatCard();
    ~CFlatCard() override;

    CFlatCard(const CFlatCard&) = delete;
    CFlatCard& operator=(const CFlatCard&) = delete;

    std::wstring Name() const override;
    unsigned long long Size() const override { return m_size; }
    bool Read(BYTE* buffer, DWORD firstSector, UINT count) override;

private:
    unsigned long long m_size = 0;
};
