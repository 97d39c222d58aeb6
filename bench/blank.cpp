// The start-up floor: a GUI program with the same system libraries as Varnolt.exe
// (each is imported through one call that the run never takes) that exits at once.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int)
{
    if (commandLine[0] == L'\x1') {      // never: keeps every import
        InitCommonControls();
        GetOpenFileNameW(nullptr);
        PlaySoundW(nullptr, nullptr, 0);
        CoInitialize(nullptr);
        ShellExecuteW(nullptr, nullptr, nullptr, nullptr, nullptr, 0);
        PathFindExtensionW(commandLine);
        GetStockObject(0);
        RegCloseKey(nullptr);
    }
    return GetSystemMetrics(SM_CXSCREEN) < 0 ? 1 : 0;
}
