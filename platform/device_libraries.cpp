#include "platform/device_libraries.h"
#include <cstring>
#include <cwchar>

namespace {

// Where an export of a device library lives on the desktop.
struct DesktopHome {
    const wchar_t* deviceLibrary;
    const char* entryPoint;
    const wchar_t* desktopLibrary;
};

constexpr DesktopHome DESKTOP_HOMES[] = {
    {L"CoreDll", "GetOpenFileNameW", L"comdlg32.dll"},
};

// The current folder is left out of every search: a library planted there must not run.
constexpr DWORD BY_NAME = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
constexpr DWORD BY_PATH = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

bool IsPath(const wchar_t* name)
{
    return wcspbrk(name, L"\\/:") != nullptr;
}

} // namespace

HMODULE LoadDeviceLibrary(const wchar_t* name, const char* entryPoint)
{
    for (const auto& home : DESKTOP_HOMES)
        if (_wcsicmp(name, home.deviceLibrary) == 0 && strcmp(entryPoint, home.entryPoint) == 0)
            return LoadLibraryExW(home.desktopLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return LoadLibraryExW(name, nullptr, IsPath(name) ? BY_PATH : BY_NAME);
}
