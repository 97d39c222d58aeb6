#include "commands/commands.h"

DWORD ExecuteProgram(wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD KillProcesses(wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD ShutDownDevice(wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD SendKeys(wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD PostWindowMessage(wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD SetDisplayOrientation(wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
