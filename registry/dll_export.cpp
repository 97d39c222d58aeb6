#include "registry/registry.h"

DWORD CallDllExport(wchar_t*, wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
