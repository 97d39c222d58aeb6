#include "archive/archive.h"

DWORD ExtractTarGz(wchar_t*, wchar_t*)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}
