#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// The CMDLL half: PC-card drivers and their sockets, the media in them, and
// the one card image behind every data source, where the init is kept.
class CCardReader
{
public:
    CCardReader();

    void SetSockets(const WORD* counts, size_t drivers);
    void InsertMedium(DWORD drive, DWORD size) { m_media[drive] = size; }
    void RemoveMedium(DWORD drive) { m_media.erase(drive); }
    void SetCardImage(const wchar_t* path) { m_image = path ? path : L""; }
    void AppendOnReadBack(const BYTE* bytes, size_t count) { m_readBackTail.assign(bytes, bytes + count); }

    WORD DriverCount() const { return static_cast<WORD>(m_sockets.size()); }
    DWORD SocketCount(WORD driver, WORD* count) const;
    DWORD SelectDrive(WORD driver, WORD socket);
    bool MediumSelected() const;
    DWORD CardSize(DWORD* size) const;

    DWORD Mount(void** handle);
    void Unmount() { m_bMounted = false; }
    DWORD InitCard(const wchar_t* file);
    DWORD ReadCard(const wchar_t* output);

private:
    DWORD SelectedDrive() const;

    std::vector<WORD> m_sockets;
    WORD m_driver = 0;
    WORD m_socket = 0;
    std::map<DWORD, DWORD> m_media;
    std::wstring m_image;
    std::vector<BYTE> m_readBackTail;
    bool m_bMounted = false;
};
