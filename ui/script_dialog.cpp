#include "ui/ui.h"

DWORD ShowScriptDialog(const wchar_t*, wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
