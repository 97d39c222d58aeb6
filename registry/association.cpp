#include "registry/registry.h"

DWORD AssociateFileType(wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
