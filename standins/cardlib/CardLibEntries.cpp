// The entries of the stand-in card-reader libraries. Both files are built
// from these with their own export lists; the two forms of the entries that
// a library may export with a leading underscore have functions of their
// own, so that the record tells which one was called.
#include "CardLibrary.h"

#include <algorithm>
#include <string>

namespace cs = CardLibStandin;

namespace
{
const wchar_t NoText[] = L"null";

CCardLibrary g_library;

CCallRecord& Record()
{
    return g_library.Record();
}

// A text as the library received it, in the ANSI code page.
std::wstring Wide(const char* text)
{
    if (!text)
        return NoText;
    int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1)
        ::MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    return wide;
}

unsigned long HandleValue(void* const* handle)
{
    return static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(*handle));
}

unsigned int DoReadCard1(const wchar_t* called, const char* source, const char* output)
{
    std::wstring file = Wide(output);
    Record().Add(L"%ls(%ls,%ls)", called, Wide(source).c_str(), file.c_str());
    return g_library.Call(L"cmdllDoReadCard1", [&] { return g_library.Reader().ReadCard(file.c_str()); });
}

unsigned int MountDataSource(const wchar_t* called, const char* source, void** handle, int flag)
{
    Record().Add(L"%ls(%ls,%d)", called, Wide(source).c_str(), flag);
    return g_library.Call(L"cmdllMountDataSource", [&] { return g_library.Reader().Mount(handle); });
}
} // namespace

extern "C" {

int WINAPI StandinControl(int op, UINT_PTR value, const void* data)
{
    return g_library.Control(op, value, data);
}

// Behind every entry that the product only resolves.
unsigned int __cdecl NotServed()
{
    Record().Add(L"unserved()");
    return cs::NotServed;
}

unsigned int __cdecl cmdllGetDriveStatus(BYTE* status)
{
    Record().Add(L"cmdllGetDriveStatus()");
    return g_library.Call(L"cmdllGetDriveStatus", [&] {
        std::fill_n(status, cs::DriveStatusSize, 0);
        status[0] = g_library.Reader().MediumSelected() ? cs::DriveStatusMedium : 0;
        return cs::Success;
    });
}

unsigned int __cdecl cmdllGetCardSize(DWORD* size)
{
    Record().Add(L"cmdllGetCardSize()");
    return g_library.Call(L"cmdllGetCardSize", [&] { return g_library.Reader().CardSize(size); });
}

unsigned int __cdecl cmdllGetPCCardDriverCount(WORD* count)
{
    Record().Add(L"cmdllGetPCCardDriverCount()");
    return g_library.Call(L"cmdllGetPCCardDriverCount", [&] {
        *count = g_library.Reader().DriverCount();
        return cs::Success;
    });
}

unsigned int __cdecl cmdllGetPCCardSocketCount(WORD driver, WORD* count)
{
    Record().Add(L"cmdllGetPCCardSocketCount(%u)", driver);
    return g_library.Call(L"cmdllGetPCCardSocketCount",
                          [&] { return g_library.Reader().SocketCount(driver, count); });
}

unsigned int __cdecl cmdllSelectPCCardDrive(WORD driver, WORD socket)
{
    Record().Add(L"cmdllSelectPCCardDrive(%u,%u)", driver, socket);
    return g_library.Call(L"cmdllSelectPCCardDrive", [&] { return g_library.Reader().SelectDrive(driver, socket); });
}

unsigned int __cdecl UnderscoreMountDataSource(const char* source, void** handle, int flag)
{
    return MountDataSource(L"_cmdllMountDataSource", source, handle, flag);
}

unsigned int __cdecl cmdllMountDataSource(const char* source, void** handle, int flag)
{
    return MountDataSource(L"cmdllMountDataSource", source, handle, flag);
}

unsigned int __cdecl cmdllUnmountDataSource(void** handle)
{
    Record().Add(L"cmdllUnmountDataSource(%lx)", HandleValue(handle));
    return g_library.Call(L"cmdllUnmountDataSource", [&] {
        g_library.Reader().Unmount();
        return cs::Success;
    });
}

unsigned int __cdecl cmdllCardHasBeenRead(void** handle)
{
    Record().Add(L"cmdllCardHasBeenRead(%lx)", HandleValue(handle));
    return g_library.Call(L"cmdllCardHasBeenRead", [] { return cs::Success; });
}

unsigned int __cdecl cmdllDoInitCard(const char* file)
{
    std::wstring name = Wide(file);
    Record().Add(L"cmdllDoInitCard(%ls)", name.c_str());
    return g_library.Call(L"cmdllDoInitCard", [&] { return g_library.Reader().InitCard(name.c_str()); });
}

unsigned int __cdecl UnderscoreDoReadCard1(const char* source, const char* output)
{
    return DoReadCard1(L"_cmdllDoReadCard1", source, output);
}

unsigned int __cdecl cmdllDoReadCard1(const char* source, const char* output)
{
    return DoReadCard1(L"cmdllDoReadCard1", source, output);
}

unsigned int __cdecl cmrecReadConfig(BYTE* config)
{
    Record().Add(L"cmrecReadConfig()");
    return g_library.Call(L"cmrecReadConfig", [&] {
        const BYTE* stored = g_library.Recorder().Config();
        std::copy(stored, stored + cs::ConfigSize, config);
        return cs::RecorderSuccess;
    });
}

unsigned int __cdecl cmrecReadExtraInfo(BYTE* buffer, DWORD* size)
{
    Record().Add(L"cmrecReadExtraInfo(%lu)", *size);
    return g_library.Call(L"cmrecReadExtraInfo", [&] { return g_library.Recorder().ReadExtraInfo(buffer, size); });
}

unsigned int __cdecl cmrecInitCard(const BYTE* config, const BYTE* extra, DWORD length)
{
    Record().Add(L"cmrecInitCard(%lu)", length);
    return g_library.Call(L"cmrecInitCard", [&] {
        g_library.Recorder().InitCard(config, extra, length);
        return cs::RecorderSuccess;
    });
}

unsigned int __cdecl cmrecInitFormat(DWORD* remaining)
{
    Record().Add(L"cmrecInitFormat()");
    return g_library.Call(L"cmrecInitFormat", [&] {
        *remaining = g_library.Recorder().FormatWork();
        return cs::RecorderSuccess;
    });
}

unsigned int __cdecl cmrecDoFormat(DWORD* done, DWORD* remaining)
{
    Record().Add(L"cmrecDoFormat(%lu,%lu)", *done, *remaining);
    return g_library.Call(L"cmrecDoFormat", [&] {
        g_library.Recorder().FormatStep(done, remaining);
        return cs::RecorderSuccess;
    });
}

unsigned int __cdecl cmrecExitFormat()
{
    Record().Add(L"cmrecExitFormat()");
    return g_library.Call(L"cmrecExitFormat", [] { return cs::RecorderSuccess; });
}

} // extern "C"
