// Where the console sits. On a handheld, and on a screen of a phone's size, it fills the
// screen as the handheld shell makes it. On the desktop it is an ordinary window that can
// be moved and resized, and its place and size are kept under HKCU\Software\Varnolt.
#include "app/app.h"
#include "base/writers.h"
#include "ui/ui.h"
#include <cwchar>

namespace {

constexpr int FIRST_WIDTH = 640;            // design pixels, before a place was kept
constexpr int FIRST_HEIGHT = 480;
constexpr int SMALLEST_WIDTH = 320;
constexpr int SMALLEST_HEIGHT = 240;
constexpr size_t PLACE_CHARS = 64;
constexpr DWORD DESKTOP_FRAME = WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr wchar_t SETTINGS_KEY[] = L"Software\\Varnolt";
constexpr wchar_t PLACE_VALUE[] = L"ConsoleWindow";

bool isDesktopWindow = false;

RECT WorkAreaOf(HWND window)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &monitor.rcWork, 0);
    return monitor.rcWork;
}

// The kept place when it is whole, moved onto the work area of the screen nearest to it
// (and made no larger than that area): the screens may have changed since.
bool ReadKeptPlace(ConsolePlace& place)
{
    wchar_t text[PLACE_CHARS] = {};
    DWORD type = 0;
    DWORD bytes = sizeof text - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, PLACE_VALUE, RRF_RT_REG_SZ, &type, text, &bytes) != ERROR_SUCCESS ||
        !ParseConsolePlace(text, place))
        return false;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromRect(&place.rect, MONITOR_DEFAULTTONEAREST), &monitor))
        FitRectInto(place.rect, monitor.rcWork);
    return true;
}

void FitToFirstSize(HWND dialog)
{
    RECT area = WorkAreaOf(dialog);
    int width = ScalePixels(FIRST_WIDTH, ScreenDpiX());
    int height = ScalePixels(FIRST_HEIGHT, ScreenDpiY());
    if (width > area.right - area.left)
        width = area.right - area.left;
    if (height > area.bottom - area.top)
        height = area.bottom - area.top;
    SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

void FitRectInto(RECT& rect, const RECT& area)
{
    LONG width = rect.right - rect.left < area.right - area.left ? rect.right - rect.left : area.right - area.left;
    LONG height = rect.bottom - rect.top < area.bottom - area.top ? rect.bottom - rect.top : area.bottom - area.top;
    LONG left = rect.left < area.left ? area.left : rect.left > area.right - width ? area.right - width : rect.left;
    LONG top = rect.top < area.top ? area.top : rect.top > area.bottom - height ? area.bottom - height : rect.top;
    rect = {left, top, left + width, top + height};
}

bool ParseConsolePlace(const wchar_t* text, ConsolePlace& place)
{
    int left = 0, top = 0, width = 0, height = 0, maximized = 0;
    wchar_t rest = 0;
    if (swscanf(text, L"%d,%d,%d,%d,%d%lc", &left, &top, &width, &height, &maximized, &rest) != 5)
        return false;
    if (width < SMALLEST_WIDTH || height < SMALLEST_HEIGHT || (maximized != 0 && maximized != 1))
        return false;
    place.rect = {left, top, left + width, top + height};
    place.isMaximized = maximized == 1;
    return true;
}

void PlaceConsole(HWND dialog)
{
    RECT area = WorkAreaOf(dialog);
    isDesktopWindow = !IsHandheldPlatform() &&
                      !IsPhoneSizedArea(area.right - area.left, area.bottom - area.top, ScreenDpiX(), ScreenDpiY());
    if (!isDesktopWindow) {
        SHINITDLGINFO info = {SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN};
        SHInitDialog(&info);
        return;
    }
    SetWindowLongPtrW(dialog, GWL_STYLE, GetWindowLongPtrW(dialog, GWL_STYLE) | DESKTOP_FRAME);
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ConsolePlace kept;
    if (!ReadKeptPlace(kept)) {
        FitToFirstSize(dialog);
        return;
    }
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    placement.showCmd = kept.isMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    placement.rcNormalPosition = kept.rect;
    SetWindowPlacement(dialog, &placement);
}

void KeepConsolePlace(HWND dialog)
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (!isDesktopWindow || !GetWindowPlacement(dialog, &placement))
        return;
    const RECT& rect = placement.rcNormalPosition;
    wchar_t text[PLACE_CHARS];
    if (FAILED(StringCchPrintfW(text, PLACE_CHARS, L"%d,%d,%d,%d,%d", rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, placement.showCmd == SW_SHOWMAXIMIZED ? 1 : 0)))
        return;
    auto bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    (void)SetRegistryValue({HKEY_CURRENT_USER, SETTINGS_KEY, nullptr}, PLACE_VALUE, REG_SZ, text, bytes);
}

void LimitConsoleSize(MINMAXINFO& limits)
{
    if (!isDesktopWindow)
        return;
    limits.ptMinTrackSize.x = ScalePixels(SMALLEST_WIDTH, ScreenDpiX());
    limits.ptMinTrackSize.y = ScalePixels(SMALLEST_HEIGHT, ScreenDpiY());
}
