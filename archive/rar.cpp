#include "archive/archive.h"

DWORD ExtractRar(wchar_t*, wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
