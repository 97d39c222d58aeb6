#include "engine/engine.h"
#include "base/changes.h"
#include <cstdlib>

namespace {

constexpr DWORD LOAD_PREFIX_BYTES = 64 * 1024;
constexpr ptrdiff_t DECIDING_UNITS = 64;     // more than the longer header and its line break

const wchar_t REGEDIT4[] = L"REGEDIT4";
const wchar_t REGEDIT5[] = L"Windows Registry Editor Version 5.00";

// The text after a header and the one line break that ends it (never past the text's end).
const wchar_t* SkipHeader(const wchar_t* text, size_t headerLength)
{
    return text[headerLength] ? text + headerLength + 1 : text + headerLength;
}

bool IsLargerThan(const wchar_t* path, DWORD bytes)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return true;                                // read in full, which reports the failure
    return data.nFileSizeHigh != 0 || data.nFileSizeLow > bytes;
}

// Reads the start of 'path' as text, enough to tell a file's kind; 'whole' tells whether
// that is all of it. A file whose first characters lie beyond that start is read in full.
wchar_t* ReadLoadPrefix(const wchar_t* path, bool& whole)
{
    DWORD bytes = LOAD_PREFIX_BYTES;
    wchar_t* text = ReadTextFile(path, &bytes);
    whole = text && !IsLargerThan(path, LOAD_PREFIX_BYTES);
    if (!text || whole || text + bytes / sizeof(wchar_t) - SkipLoadBlanks(text) >= DECIDING_UNITS)
        return text;
    free(text);
    whole = true;
    return ReadTextFile(path, nullptr);
}

} // namespace

const wchar_t* SkipLoadBlanks(const wchar_t* text)
{
    while (*text == L'\r' || *text == L'\n' || *text == L'\t' || *text == L' ' || *text >= 127)
        ++text;
    return text;
}

size_t CountHeaderUnits(const wchar_t* text, const wchar_t* start)
{
    size_t headerLength = 0;
    if (MatchPrefix(start, REGEDIT4) >= ARRAYSIZE(REGEDIT4) - 1)
        headerLength = ARRAYSIZE(REGEDIT4) - 1;
    else if (MatchPrefix(start, REGEDIT5) >= ARRAYSIZE(REGEDIT5) - 1)
        headerLength = ARRAYSIZE(REGEDIT5) - 1;
    return headerLength ? static_cast<size_t>(SkipHeader(start, headerLength) - text) : 0;
}

// LOAD: a provisioning document ('<'), a registry file (either header) or a script,
// told apart by the text's first characters after blanks, line breaks and marks. A
// registry file is imported piece by piece; the others are read in full.
DWORD LoadFile(const wchar_t* path)
{
    bool whole = false;
    wchar_t* text = ReadLoadPrefix(path, whole);
    if (!text)
        return RESULT_UNREADABLE;
    if (size_t headerUnits = CountHeaderUnits(text, SkipLoadBlanks(text))) {
        free(text);
        auto import = CurrentScriptLanguage().importRegistryFile;
        return import ? import(path, headerUnits) : ERROR_CALL_NOT_IMPLEMENTED;
    }
    if (!whole) {
        free(text);
        text = ReadTextFile(path, nullptr);
        if (!text)
            return RESULT_UNREADABLE;
    }
    const wchar_t* start = SkipLoadBlanks(text);
    DWORD result;
    if (*start == L'<') {
        result = ApplyProvisioningDocument(start);
    } else {
        TextOrigin origin{path, text, 0};
        result = RunScript(text, path, &origin);
    }
    free(text);
    return result;
}

DWORD CommandLoad(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    return LoadFile(args);
}

namespace {

DWORD ActOnFile(const wchar_t* path, const wchar_t* name, const wchar_t* parameters)
{
    const ScriptLanguage& language = CurrentScriptLanguage();
    if (const wchar_t* dot = wcsrchr(name, L'.')) {
        for (size_t i = 0; i < language.extensionCount; ++i)
            if (_wcsicmp(dot + 1, language.extensions[i].extension) == 0)
                return language.extensions[i].action(path, parameters);
    }
    DWORD answer = AnnounceAction(ChangeKind::StartProgram, path, parameters);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    return ShellOpen(path, parameters, nullptr);
}

// Every file of the pattern gets the same parameters: no action changes them.
DWORD OpenMatchingFile(void* userData, const WalkEntry& entry)
{
    const auto& request = *static_cast<const OpenRequest*>(userData);
    return ActOnFile(entry.path, entry.found->cFileName, request.parameters);
}

} // namespace

OpenRequest ReadOpenRequest(const wchar_t* line)
{
    ArgumentPieces parts = CutArgument(line, 2);
    return {line[0] == L'!', parts.pieces[0], parts.pieces[1].start};
}

// The action of a line without keyword: "[!]folder\pattern[,parameters]" acts on every
// matching file by its extension ('!' searches all subfolders, with the name pattern
// matched exactly). The last file's result is the result. The folder and pattern are cut
// apart in a copy of their own.
DWORD OpenFilesByPattern(const wchar_t* line)
{
    OpenRequest request = ReadOpenRequest(line);
    wchar_t path[LINE_BUFFER_CHARS];
    if (CopyPiece(path, request.path) != ERROR_SUCCESS)
        return RESULT_NO_FILE;
    wchar_t* folder = path;
    const wchar_t* pattern = SplitLastComponent(folder);
    if (request.recursive && *folder == L'!')
        ++folder;
    FileWalk walk{OpenMatchingFile, nullptr, &request, RESULT_NO_FILE};
    return WalkFiles(walk, folder, pattern, request.recursive);
}

DWORD CommandOpenFiles(const wchar_t* line, const wchar_t*, ScriptContext&)
{
    return OpenFilesByPattern(line);
}
