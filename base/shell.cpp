#include "base/base.h"
#include "base/outward_calls.h"
#include <shellapi.h>

DWORD LastErrorOr(DWORD fallback)
{
    DWORD error = GetLastError();
    return error ? error : fallback;
}

DWORD ShellOpen(const wchar_t* file, const wchar_t* parameters, HANDLE* process)
{
    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_FLAG_NO_UI | (process ? SEE_MASK_NOCLOSEPROCESS : 0);
    request.hwnd = consoleWindow;
    request.lpFile = file;
    request.lpParameters = parameters;
    request.nShow = SW_SHOWNORMAL;
    if (process)
        *process = nullptr;
    if (!outwardCalls.shellExecute(&request))
        return LastErrorOr(ERROR_NO_ASSOCIATION);
    if (process)
        *process = request.hProcess;
    return ERROR_SUCCESS;
}
