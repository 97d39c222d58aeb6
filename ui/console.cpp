#include "ui/ui.h"

HWND consoleWindow = nullptr;

DWORD OpenConsole(wchar_t*, const wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
