#include "app/app.h"

DWORD OpenConsole(wchar_t*, const wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
