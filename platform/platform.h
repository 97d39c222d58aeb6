// Stand-ins for operations that only Windows Mobile offers.
#pragma once
#include <windows.h>

// provisioning.cpp
constexpr DWORD CFGFLAG_PROCESS = 1;

// Why a provisioning document was refused as a whole; nothing of it was applied.
constexpr HRESULT PROVISIONING_BAD_XML = static_cast<HRESULT>(0x80042009u);           // not well-formed XML
constexpr HRESULT PROVISIONING_UNKNOWN_PROVIDER = static_cast<HRESULT>(0x80042004u);  // a characteristic other than Registry
constexpr HRESULT PROVISIONING_OTHER_ROOT = static_cast<HRESULT>(0x8007000Du);        // not a wap-provisioningdoc
constexpr HRESULT PROVISIONING_UNKNOWN_DATATYPE = static_cast<HRESULT>(0x8007065Eu);
constexpr HRESULT PROVISIONING_BAD_VALUE = static_cast<HRESULT>(0x8007065Du);         // does not fit its datatype
constexpr HRESULT PROVISIONING_BAD_KEY_PATH = static_cast<HRESULT>(0x800700A1u);      // unknown root, empty part, too long
constexpr HRESULT PROVISIONING_UNSUPPORTED = static_cast<HRESULT>(0x80070032u);       // element, attribute or content

// Processes a provisioning document (flag CFGFLAG_PROCESS; any other flag gives E_NOTIMPL).
// The desktop applies a wap-provisioningdoc whose characteristics are of type Registry:
// the whole document is checked first and refused with one of the PROVISIONING_ codes
// when any part of it is unacceptable; otherwise each item is applied on its own. The
// result is S_OK, or the first failing item's HRESULT. 'output' receives the document
// echoed back with query answers and an error element at each failed item (nullptr when
// it could not be made); the caller releases it with delete[].
HRESULT DMProcessConfigXML(const wchar_t* xml, DWORD flags, wchar_t** output);
