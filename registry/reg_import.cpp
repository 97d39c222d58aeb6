#include "registry/registry.h"

DWORD ImportRegistryText(wchar_t*, wchar_t**)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
