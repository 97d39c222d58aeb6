#include "commands/commands.h"

DWORD ShowMessageBox(wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD PlaySoundFile(wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
