#include "ui/ui.h"

DWORD ShowHelp(HWND, wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
