#pragma once

#include "CardReader.h"
#include "MappedFile.h"

#include "telemetry/LapImage.h"

// A stored lap file served as a card with no link: mapped, checked and
// inflated by the same code that serves laps in the library, so that the
// card is the one a host would have read from the link.
class CLapCard : public CCardReader
{
public:
    // Throws CToolError(ExitFailed) when the file cannot be read, is no
    // sound lap, or holds no FAT file system that tells the card's size.
    explicit CLapCard(const std::wstring& path);

    std::wstring Name() const override { return L"the card in the lap file " + m_path; }
    unsigned long long Size() const override { return m_size; }
    bool Read(BYTE* buffer, DWORD firstSector, UINT count) override;

private:
    std::wstring m_path;
    CMappedFile m_file;
    CLapImage m_image;
    unsigned long long m_size = 0;
};
