// Stand-ins for operations that only Windows Mobile offers.
#pragma once
#include <windows.h>

// provisioning.cpp
constexpr DWORD CFGFLAG_PROCESS = 1;

// What processes a document for the configuration manager: the program installs it (the
// registry family applies Registry documents). It returns the document's result and, in
// 'output' when that is not nullptr, the output document (nullptr when it could not be
// made), which the caller releases with delete[].
using ConfigurationProcessor = HRESULT (*)(const wchar_t* xml, wchar_t** output);
// Makes 'processor' the one DMProcessConfigXML hands documents to (nullptr: none); returns
// the previous one.
ConfigurationProcessor InstallConfigurationProcessor(ConfigurationProcessor processor);
// Processes a provisioning document (flag CFGFLAG_PROCESS; any other flag gives E_NOTIMPL)
// with the installed processor; without one, E_NOTIMPL as for a flag the desktop lacks.
// 'output' receives the output document or nullptr.
HRESULT DMProcessConfigXML(const wchar_t* xml, DWORD flags, wchar_t** output);
