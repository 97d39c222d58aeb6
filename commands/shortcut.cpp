#include "commands/commands.h"

DWORD CreateShortcut(wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
