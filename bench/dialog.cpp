// The floor of a window's start-up: a GUI program that shows one dialog and closes when
// told to (WM_CLOSE, or a command), like the console but with nothing of its own.
#include <windows.h>

namespace {

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND || message == WM_CLOSE) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

struct Template {
    DLGTEMPLATE header;
    WORD menu, windowClass;
    wchar_t title[8];
};

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    static const Template TEMPLATE = {
        {WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER, 0, 0, 0, 0, 151, 137}, 0, 0, L"Floor"};
    return static_cast<int>(DialogBoxIndirectParamW(instance, &TEMPLATE.header, nullptr, DialogProc, 0));
}
