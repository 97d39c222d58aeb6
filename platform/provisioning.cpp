#include "platform/platform.h"

HRESULT DMProcessConfigXML(const wchar_t*, DWORD, wchar_t** output)
{
    if (output)
        *output = nullptr;
    return E_NOTIMPL;
}
