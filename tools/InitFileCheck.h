#pragma once

#include <string>

// An init file is looked at before the card is touched: one that is
// missing, empty or broken is refused with what is wrong with it. Throws
// CToolError(ExitFailed).
void CheckInitFile(const std::wstring& path, const std::wstring& library);
