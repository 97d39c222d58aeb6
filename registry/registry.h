// The registry layer and REGX, .reg import, provisioning documents, file-type association
// and library registration. Every change they make goes through the registry writer.
#pragma once
#include "base/writers.h"

// registry_layer.cpp
// Opens 'path' below 'parent', creating it and its missing parents (CreateRegistryKey of the
// registry writer), for callers that only need the handle: nullptr when it cannot be opened.
HKEY OpenRegistryKey(HKEY parent, const wchar_t* path, REGSAM access);
void CloseRegistryKey(HKEY key);

// Reads a value as text into 'buffer' and returns its length without the terminator. The
// buffer always ends as a text; a missing value, or data with no room left for a
// terminator, read as the empty text (0).
DWORD ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD capacity);
// Stores 'text' with its terminator as REG_SZ through the registry writer; a nullptr name
// is the default value.
[[nodiscard]] DWORD WriteRegistryString(const RegistryKey& key, const wchar_t* name, const wchar_t* text);
// The 32-bit value 'name', or 'defaultValue' when it is missing or cannot be read.
DWORD ReadRegistryDword(HKEY key, const wchar_t* name, DWORD defaultValue);

// Decodes "1f,2,AB CD" into 'bytes': each group's first two characters make one byte
// (non-hex characters and the end count as 0), groups start after each comma. Returns the
// number of bytes, at most the text's length. 'bytes' may lie over 'text' itself: each
// byte lands on a unit already read.
DWORD DecodeHexList(const wchar_t* text, BYTE* bytes);
// Reads hexadecimal digits up to the first other character; the low 32 bits are kept.
DWORD ReadHexNumber(const wchar_t* text);

// regx.cpp
// A REGX argument "root\key path\value part[=value text[?rest]]" cut into read-only pieces:
// at its first '=', the first '?' after that and the last backslash before the '='.
struct RegxArgument {
    HKEY root;
    TextPiece keyPath;
    TextPiece valuePart;        // with its marker
    TextPiece valueText;        // its start is nullptr without '='; up to the '?'
    bool isTest;                // a '?' follows the '='
};
// E_INVALIDARG without a known root or a backslash after it.
[[nodiscard]] DWORD ReadRegxArgument(const wchar_t* args, RegxArgument& parts);
[[nodiscard]] DWORD RegistryCommand(const wchar_t* args);

// reg_import.cpp
// Imports .reg text. With a cursor (a '[' section inside a script) the import stops at the
// first line that is not registry text and leaves the cursor there; without one it reads to the end.
// The result is the first problem's code: a key or value the registry refused, or 1017 for
// a line that is not registry text; 0 when everything was applied.
[[nodiscard]] DWORD ImportRegistryText(wchar_t* text, wchar_t** cursor);
// The two forms of registry text: "Windows Registry Editor Version 5.00" (and a script's
// '[' sections), whose data are stored as written, and REGEDIT4, whose hex(1), hex(2) and
// hex(7) data are ANSI text unless they are UTF-16 already.
enum class RegistryFormat { Version5, Regedit4 };
// ImportRegistryText for text of the given form.
[[nodiscard]] DWORD ImportRegistryTextAs(RegistryFormat format, wchar_t* text, wchar_t** cursor);
// Skips blanks and line breaks: the gaps between registry lines.
const wchar_t* SkipRegistryGaps(const wchar_t* text);
// How far the registry line at some start has been read: the units read from its start,
// and how the reading stands there.
struct RegistryLineScan {
    size_t read;
    bool verbatim;          // a key or comment line, taken as it stands
    bool inQuotes;
};
RegistryLineScan StartRegistryLineScan(const wchar_t* line);
// Reads the registry line at 'line' on from where 'scan' stands, as the importer reads it
// (continuation lines included), and returns its end: its line break, or the text's end
// when it (or the look past a backslash at its end for the line to join) reaches it. Then
// 'scan' stands before the read that the text's end cut short, so that the same line, with
// more text after it, is read on from there rather than from its start.
const wchar_t* ScanRegistryLine(const wchar_t* line, RegistryLineScan& scan);

// reg_file.cpp
// The bytes read from a .reg file at a time; only a line longer than this grows the buffers.
constexpr DWORD REG_FILE_PIECE_BYTES = 64 * 1024;
// Imports a .reg file piece by piece, with the encodings ReadTextFile accepts; the same
// result as ImportRegistryTextAs on the whole text from 'headerUnits' decoded units on
// (the blanks, marks and header before the registry text, whose header tells the form).
// 110 when it cannot be opened.
[[nodiscard]] DWORD ImportRegistryFile(const wchar_t* path, size_t headerUnits);

// association.cpp
[[nodiscard]] DWORD AssociateFileType(const wchar_t* args);

// dll_export.cpp
constexpr size_t MAX_EXPORT_ARGUMENTS = 4;
// The rest of a CDLL line, "name[,a1[,a2[,a3[,a4]]]]", cut into read-only pieces; later
// separators stay in the fourth argument. An empty rest names DllRegisterServer.
struct ExportRequest {
    TextPiece name;
    TextPiece arguments[MAX_EXPORT_ARGUMENTS];
    size_t count;
};
ExportRequest ReadExportRequest(const wchar_t* rest);
[[nodiscard]] DWORD CallDllExport(const wchar_t* library, const wchar_t* rest);

// provisioning.cpp
// Why a provisioning document was refused as a whole; nothing of it was applied.
constexpr HRESULT PROVISIONING_BAD_XML = static_cast<HRESULT>(0x80042009u);           // not well-formed XML
constexpr HRESULT PROVISIONING_UNKNOWN_PROVIDER = static_cast<HRESULT>(0x80042004u);  // a characteristic other than Registry
constexpr HRESULT PROVISIONING_OTHER_ROOT = static_cast<HRESULT>(0x8007000Du);        // not a wap-provisioningdoc
constexpr HRESULT PROVISIONING_UNKNOWN_DATATYPE = static_cast<HRESULT>(0x8007065Eu);
constexpr HRESULT PROVISIONING_BAD_VALUE = static_cast<HRESULT>(0x8007065Du);         // does not fit its datatype
constexpr HRESULT PROVISIONING_BAD_KEY_PATH = static_cast<HRESULT>(0x800700A1u);      // unknown root, empty part, too long
constexpr HRESULT PROVISIONING_UNSUPPORTED = static_cast<HRESULT>(0x80070032u);       // element, attribute or content
// Applies a wap-provisioningdoc whose characteristics are of type Registry (the program's
// configuration processor, see platform/platform.h): the whole document is checked first
// and refused with one of the PROVISIONING_ codes when any part of it is unacceptable;
// otherwise each item is applied on its own. The result is S_OK, or the first failing
// item's HRESULT. 'output' (when not nullptr) receives the document echoed back with query
// answers and an error element at each failed item, or nullptr when it could not be made;
// the caller releases it with delete[].
HRESULT ProcessProvisioningDocument(const wchar_t* xml, wchar_t** output);
