#pragma once

#include "sources/SectorixWin2000.h"

// A file holding the byte-for-byte image of a card, read like a card in a
// drive. It serves one activation: afterwards it stays quiet, and its
// deactivation takes it out of the registry.
class CSectorixImageFile : public CSectorixWin2000
{
public:
    CSectorixImageFile(CWatchguard* pWatchguard, const wchar_t* path);
    ~CSectorixImageFile() override;

    CString GetMediaText(int language) override;
    bool TestMedia(bool removed) override;
    bool Activate() override;
    bool Deactivate() override;
    bool isCardInserted() override;
    bool OpenCard() override;
    bool CloseCard() override;

private:
    bool m_bActivated = false;
    CString m_strPath;
};
