// Stand-ins for operations that only Windows Mobile offers.
#pragma once
#include <windows.h>

// provisioning.cpp
// Processes a provisioning XML document (flag 1: process it). Returns an HRESULT and may
// hand back an output text that the caller releases with delete[]. The desktop has no
// configuration manager: it reports E_NOTIMPL and returns no output.
HRESULT DMProcessConfigXML(const wchar_t* xml, DWORD flags, wchar_t** output);
