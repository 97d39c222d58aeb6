#include "registry/registry.h"

DWORD RegistryCommand(wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
