#include "commands/commands.h"

DWORD FileOperation(wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
