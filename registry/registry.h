// The registry layer and REGX, .reg import, file-type association and library registration.
#pragma once
#include <windows.h>

// regx.cpp
[[nodiscard]] DWORD RegistryCommand(wchar_t* args);

// reg_import.cpp
// Imports .reg text. With a cursor (a '[' section inside a script) the import stops at the
// first line that is not registry text and leaves the cursor there; without one it reads to the end.
[[nodiscard]] DWORD ImportRegistryText(wchar_t* text, wchar_t** cursor);

// association.cpp
[[nodiscard]] DWORD AssociateFileType(wchar_t* args);

// dll_export.cpp
[[nodiscard]] DWORD CallDllExport(wchar_t* library, wchar_t* rest);
