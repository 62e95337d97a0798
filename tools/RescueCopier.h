#pragma once

#include "CardCopier.h"
#include "RescueReader.h"

#include <string>

// Copies a card that may have unreadable sectors: the copy holds zeros in
// their place and is kept, and a list beside it, COPY.badsectors, names them
// as ranges FIRST-LAST, one a line, in decimal; the list is written empty
// when every sector was read, so that it never belongs to an older copy.
class CRescueCopier
{
public:
    explicit CRescueCopier(CCardReader& card);

    // Throws CToolError(ExitFailed) when the copy or its list cannot be
    // written; both files are then as they were.
    void CopyTo(const std::wstring& path);

    bool IsComplete() const { return m_reader.BadSectorCount() == 0; }
    // The copier's report and what could not be read, one line more.
    void Report(const std::wstring& path) const;

    static std::wstring ListPath(const std::wstring& copy);

private:
    void WriteList(COutputFile& list) const;
    std::string ListText() const;

    CRescueReader m_reader;
    CCardCopier m_copier;
};
