#include "platform/device_info.h"

BOOL QueryPlatformType(wchar_t* text, UINT bytes)
{
    DWORD chars = bytes / sizeof(wchar_t);
    if (!chars)
        return FALSE;
    DWORD length = GetEnvironmentVariableW(L"VARNOLT_PLATFORM_TYPE", text, chars);
    if (length == 0 || length >= chars) {
        text[0] = 0;
        return FALSE;
    }
    return TRUE;
}
