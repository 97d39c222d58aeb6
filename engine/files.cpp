#include "engine/engine.h"
#include "archive/archive.h"
#include "platform/platform.h"
#include "registry/registry.h"
#include "ui/ui.h"
#include <shellapi.h>
#include <climits>
#include <cstdlib>

namespace {

constexpr DWORD SHARE_READ = FILE_SHARE_READ;
constexpr size_t SPARE_BYTES = 16;
constexpr ULONGLONG LARGEST_TEXT_FILE = INT_MAX - SPARE_BYTES;    // the conversion counts in int
constexpr ULONGLONG LARGEST_BYTE_FILE = MAXDWORD - SPARE_BYTES;

// Reads up to 'count' bytes into 'buffer'; returns how many arrived.
DWORD ReadUpTo(HANDLE file, void* buffer, DWORD count)
{
    DWORD read = 0;
    if (count && !ReadFile(file, buffer, count, &read, nullptr))
        return 0;
    return read;
}

// The number of bytes to read: the file's size, or '*limit' when that is smaller. More
// than 'largest' bytes are refused (false) rather than cut short.
bool SizeToRead(HANDLE file, const DWORD* limit, ULONGLONG largest, DWORD& bytes)
{
    LARGE_INTEGER size;
    ULONGLONG wanted = GetFileSizeEx(file, &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
    if (limit && *limit < wanted)
        wanted = *limit;
    if (wanted > largest)
        return false;
    bytes = static_cast<DWORD>(wanted);
    return true;
}

// Converts 8-bit text to a new UTF-16 block; frees 'bytes' either way.
wchar_t* WidenText(char* bytes, DWORD& length, UINT codePage)
{
    size_t capacity = static_cast<size_t>(length) + SPARE_BYTES;
    auto* wide = static_cast<wchar_t*>(malloc(capacity * sizeof(wchar_t)));
    int units = 0;
    if (wide)
        units = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), wide, static_cast<int>(capacity));
    free(bytes);
    if (!wide)
        return nullptr;
    length = static_cast<DWORD>(units > 0 ? units : 0) * sizeof(wchar_t);
    return wide;
}

// The text after a header and the one line break that ends it (never past the text's end).
wchar_t* SkipHeader(wchar_t* text, size_t headerLength)
{
    return text[headerLength] ? text + headerLength + 1 : text + headerLength;
}

} // namespace

// Opens 'path': write access creates or empties it, read-write opens or creates it, any
// other access opens an existing file. Returns nullptr on failure.
HANDLE OpenFileForAccess(const wchar_t* path, DWORD access)
{
    DWORD creation = OPEN_EXISTING;
    if (access == GENERIC_WRITE)
        creation = CREATE_ALWAYS;
    else if (access == (GENERIC_READ | GENERIC_WRITE))
        creation = OPEN_ALWAYS;
    HANDLE file = CreateFileW(path, access, SHARE_READ, nullptr, creation, 0, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// Reads a text file into a malloc'ed UTF-16 block ending in NUL: UTF-16 with mark, UTF-16
// without mark (second byte 0), UTF-8 with mark, or ANSI. 'byteCount' (optional) limits
// the bytes read on entry and holds the content's length in bytes on return.
wchar_t* ReadTextFile(const wchar_t* path, DWORD* byteCount)
{
    HANDLE file = OpenFileForAccess(path, GENERIC_READ);
    if (!file)
        return nullptr;
    DWORD size = 0;
    auto* bytes = SizeToRead(file, byteCount, LARGEST_TEXT_FILE, size)
                      ? static_cast<unsigned char*>(malloc(static_cast<size_t>(size) + SPARE_BYTES))
                      : nullptr;
    if (!bytes) {
        CloseHandle(file);
        return nullptr;
    }
    DWORD length = ReadUpTo(file, bytes, size < 2 ? size : 2);
    bool utf16Mark = false;
    UINT codePage = CP_ACP;
    if (length == 2) {
        unsigned mark = bytes[0] | bytes[1] << 8;
        DWORD rest = size - 2;
        if (mark == 0xFEFF) {
            utf16Mark = true;
            length = 0;
        } else if (mark == 0xBBEF) {
            unsigned char third;
            ReadUpTo(file, &third, 1);
            codePage = CP_UTF8;
            length = 0;
            rest = size > 3 ? size - 3 : 0;
        }
        length += ReadUpTo(file, bytes + length, rest);
    }
    CloseHandle(file);
    wchar_t* text = reinterpret_cast<wchar_t*>(bytes);
    if (length >= 2 && !utf16Mark && bytes[1] != 0) {
        text = WidenText(reinterpret_cast<char*>(bytes), length, codePage);
        if (!text)
            return nullptr;
    }
    auto* end = reinterpret_cast<unsigned char*>(text) + length;
    end[0] = end[1] = end[2] = 0;
    if (byteCount)
        *byteCount = length;
    return text;
}

// Reads a file's bytes, limited by '*byteCount' when given, into 'buffer' or into a new
// malloc'ed block; two zero bytes follow the content. Returns nullptr on failure.
void* ReadFileBytes(const wchar_t* path, DWORD* byteCount, void* buffer)
{
    HANDLE file = OpenFileForAccess(path, GENERIC_READ);
    if (!file)
        return nullptr;
    DWORD size = 0;
    unsigned char* bytes = nullptr;
    if (SizeToRead(file, byteCount, LARGEST_BYTE_FILE, size))
        bytes = static_cast<unsigned char*>(buffer ? buffer : malloc(static_cast<size_t>(size) + SPARE_BYTES));
    if (!bytes) {
        CloseHandle(file);
        return nullptr;
    }
    DWORD read = ReadUpTo(file, bytes, size);
    bytes[read] = bytes[read + 1] = 0;
    if (byteCount)
        *byteCount = read;
    CloseHandle(file);
    return bytes;
}

// Writes 'data' to 'path', replacing the file or appending to it. Returns the number of
// bytes written: 0 when the file cannot be opened.
DWORD WriteFileBytes(const wchar_t* path, const void* data, DWORD byteCount, bool append)
{
    HANDLE file = OpenFileForAccess(path, append ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE);
    if (!file)
        return 0;
    if (append)
        SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    if (!WriteFile(file, data, byteCount, &written, nullptr))
        written = 0;
    CloseHandle(file);
    return written;
}

namespace {

constexpr DWORD LOAD_PREFIX_BYTES = 64 * 1024;
constexpr ptrdiff_t DECIDING_UNITS = 64;     // more than the longer header and its line break

const wchar_t REGEDIT4[] = L"REGEDIT4";
const wchar_t REGEDIT5[] = L"Windows Registry Editor Version 5.00";

wchar_t* SkipLeadingBlanks(wchar_t* text)
{
    while (*text == L'\r' || *text == L'\n' || *text == L'\t' || *text == L' ' || *text >= 127)
        ++text;
    return text;
}

bool IsLargerThan(const wchar_t* path, DWORD bytes)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return true;                                // read in full, which reports the failure
    return data.nFileSizeHigh != 0 || data.nFileSizeLow > bytes;
}

// The units in front of the registry text when 'start' begins with a header (the text
// before it, the header and the one line break after it); 0 when it begins with neither.
size_t CountHeaderUnits(wchar_t* text, wchar_t* start)
{
    size_t headerLength = 0;
    if (MatchPrefix(start, REGEDIT4) >= ARRAYSIZE(REGEDIT4) - 1)
        headerLength = ARRAYSIZE(REGEDIT4) - 1;
    else if (MatchPrefix(start, REGEDIT5) >= ARRAYSIZE(REGEDIT5) - 1)
        headerLength = ARRAYSIZE(REGEDIT5) - 1;
    return headerLength ? static_cast<size_t>(SkipHeader(start, headerLength) - text) : 0;
}

// Reads the start of 'path' as text, enough to tell a file's kind; 'whole' tells whether
// that is all of it. A file whose first characters lie beyond that start is read in full.
wchar_t* ReadLoadPrefix(const wchar_t* path, bool& whole)
{
    DWORD bytes = LOAD_PREFIX_BYTES;
    wchar_t* text = ReadTextFile(path, &bytes);
    whole = text && !IsLargerThan(path, LOAD_PREFIX_BYTES);
    if (!text || whole || text + bytes / sizeof(wchar_t) - SkipLeadingBlanks(text) >= DECIDING_UNITS)
        return text;
    free(text);
    whole = true;
    return ReadTextFile(path, nullptr);
}

} // namespace

// LOAD: a provisioning document ('<'), a registry file (either header) or a script,
// told apart by the text's first characters after blanks, line breaks and marks. A
// registry file is imported piece by piece; the others are read in full.
DWORD LoadFile(wchar_t* path)
{
    bool whole = false;
    wchar_t* text = ReadLoadPrefix(path, whole);
    if (!text)
        return RESULT_UNREADABLE;
    if (size_t headerUnits = CountHeaderUnits(text, SkipLeadingBlanks(text))) {
        free(text);
        return ImportRegistryFile(path, headerUnits);
    }
    if (!whole) {
        free(text);
        text = ReadTextFile(path, nullptr);
        if (!text)
            return RESULT_UNREADABLE;
    }
    wchar_t* start = SkipLeadingBlanks(text);
    DWORD result;
    if (*start == L'<') {
        wchar_t* output = nullptr;
        result = static_cast<DWORD>(DMProcessConfigXML(start, 1, &output));
        delete[] output;
    } else {
        result = RunScript(text, path);
    }
    free(text);
    return result;
}

namespace {

struct OpenRequest {
    DWORD recursive;
    const wchar_t* namePattern;
    wchar_t* parameters;
};

using FileAction = DWORD (*)(wchar_t* path, wchar_t* parameters);

DWORD LoadAction(wchar_t* path, wchar_t*) { return LoadFile(path); }

struct ExtensionEntry {
    const wchar_t* extension;
    FileAction action;
};

// Compared without regard to case, in this order; anything else opens through the shell.
constexpr ExtensionEntry EXTENSION_TABLE[] = {
    {L"vrs", LoadAction},     {L"reg", LoadAction},     {L"rgu", LoadAction},
    {L"xml", LoadAction},     {L"provxml", LoadAction},
    {L"dll", CallDllExport},  {L"ocx", CallDllExport},  {L"ax", CallDllExport},
    {L"rar", ExtractRar},     {L"tgz", ExtractTarGz},
};

// Opens a document with the shell's default action, without waiting for what it starts.
DWORD OpenWithShell(wchar_t* path, wchar_t* parameters)
{
    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_FLAG_NO_UI;
    request.hwnd = consoleWindow;
    request.lpFile = path;
    request.lpParameters = parameters;
    request.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&request))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    return error ? error : ERROR_NO_ASSOCIATION;
}

DWORD ActOnFile(wchar_t* path, const wchar_t* name, wchar_t* parameters)
{
    const wchar_t* dot = wcsrchr(name, L'.');
    if (dot) {
        for (const auto& row : EXTENSION_TABLE)
            if (_wcsicmp(dot + 1, row.extension) == 0)
                return row.action(path, parameters);
    }
    return OpenWithShell(path, parameters);
}

// The visitor of OpenFilesByPattern: acts on each file by its extension and, for a
// recursive request, descends into folders and filters names with case-sensitive wildcards.
DWORD OpenMatchingFile(void* userData, const wchar_t* folder, const WIN32_FIND_DATAW& found)
{
    auto& request = *static_cast<OpenRequest*>(userData);
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && (found.cFileName[0] == L'.' || !request.recursive))
        return RESULT_NO_FILE;
    if (!isFolder && request.recursive && !WildcardMatch(found.cFileName, request.namePattern))
        return RESULT_NO_FILE;
    wchar_t path[MAX_PATH_CHARS];
    if (FAILED(StringCchPrintfW(path, MAX_PATH_CHARS, L"%s\\%s", folder, found.cFileName)))
        return RESULT_NO_FILE;
    if (isFolder)
        return EnumerateFiles(OpenMatchingFile, &request, path, L"*");
    return ActOnFile(path, found.cFileName, request.parameters);
}

} // namespace

// The action of a line without keyword: "[!]folder\pattern[,parameters]" acts on every
// matching file ('!' searches all subfolders). The last file's result is the result.
DWORD OpenFilesByPattern(wchar_t* line)
{
    OpenRequest request{line[0] == L'!', nullptr, nullptr};
    request.parameters = CutAtSeparator(line);
    wchar_t* folder = line;
    request.namePattern = SplitLastComponent(folder);
    if (!request.recursive)
        return EnumerateFiles(OpenMatchingFile, &request, folder, request.namePattern);
    if (*folder == L'!')
        ++folder;
    return EnumerateFiles(OpenMatchingFile, &request, folder, L"*");
}
