#include "base/base.h"

HINSTANCE instanceHandle = nullptr;
const wchar_t* applicationTitle = L"Varnolt";
wchar_t ScriptVariables[VARIABLE_COUNT][MAX_PATH_CHARS] = {};
HWND consoleWindow = nullptr;
