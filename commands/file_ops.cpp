#include "commands/commands.h"
#include "engine/engine.h"
#include <shellapi.h>
#include <cstdlib>

namespace {

constexpr size_t ANSI_TEXT_BYTES = 1024;
constexpr FILEOP_FLAGS DELETE_FLAGS = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;   // 0x0214

enum class FileAction { Delete, CreatePath, WriteAnsi, WriteUtf16, Copy };

struct FileOperator {
    FileAction action;
    wchar_t* mark;      // the operator character, or the argument's end for a delete
};

// Scans 'args' for the first operator. On the way ';' and "->" become NUL, so that the
// text before the operator is a NUL-separated list whose first piece is the operand.
FileOperator FindFileOperator(wchar_t* args)
{
    for (wchar_t* p = args;; ++p) {
        switch (*p) {
        case 0: return {FileAction::Delete, p};
        case L';': *p = 0; break;
        case L'-':
            if (p[1] == L'>') {
                p[0] = p[1] = 0;
                ++p;
            }
            break;
        case L'\\':
            if (!p[1])
                return {FileAction::CreatePath, p};
            break;
        case L'<': return {FileAction::WriteAnsi, p};
        case L'{': return {FileAction::WriteUtf16, p};
        case L'>': return {FileAction::Copy, p};
        }
    }
}

DWORD LastErrorOr(DWORD fallback)
{
    DWORD error = GetLastError();
    return error ? error : fallback;
}

// Deletes the NUL-separated names from 'list' up to 'end' (the argument's terminator, or
// an earlier double NUL). The shell wants one more NUL after the last name; it goes into
// a copy, because the terminator may be the line buffer's last unit.
DWORD DeleteFiles(const wchar_t* list, const wchar_t* end)
{
    wchar_t names[LINE_BUFFER_CHARS + 1];
    size_t units = static_cast<size_t>(end - list) + 1;
    if (units >= ARRAYSIZE(names))
        return ERROR_FILENAME_EXCED_RANGE;
    memcpy(names, list, units * sizeof(wchar_t));
    names[units] = 0;
    if (fileCommandsDryRun)
        return ERROR_SUCCESS;
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = names;
    operation.fFlags = DELETE_FLAGS;
    return static_cast<DWORD>(SHFileOperationW(&operation));
}

// "path<text" writes ANSI bytes, "path{text" UTF-16 code units. The unit after the
// operator is the mode: '=' appends, anything else overwrites and is not written.
// Returns 0 when at least one byte was written, otherwise 1.
DWORD WriteText(wchar_t* path, wchar_t* mark, bool ansi)
{
    *mark = 0;
    wchar_t* text = mark + 1;
    bool append = false;
    if (*text)
        append = *text++ == L'=';
    char ansiBytes[ANSI_TEXT_BYTES];
    const void* data = text;
    DWORD byteCount = static_cast<DWORD>(wcslen(text) * sizeof(wchar_t));
    if (ansi) {
        int converted = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(wcslen(text)), ansiBytes,
                                            sizeof ansiBytes, nullptr, nullptr);
        data = ansiBytes;
        byteCount = converted > 0 ? static_cast<DWORD>(converted) : 0;   // too long: nothing is written
    }
    if (fileCommandsDryRun)
        return byteCount ? ERROR_SUCCESS : 1;
    return WriteFileBytes(path, data, byteCount, append) ? ERROR_SUCCESS : 1;
}

void ClearReadOnly(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (GetFileAttributesExW(path, GetFileExInfoStandard, &attributes) &&
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path, attributes.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
}

constexpr DWORD COPY_CHUNK_BYTES = 64 * 1024;

// True when 'path' names the very file 'opened' is open on (a copy onto itself).
bool IsSameFile(HANDLE opened, const wchar_t* path)
{
    HANDLE other = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    bool same = GetFileInformationByHandle(opened, &a) && GetFileInformationByHandle(other, &b) &&
                a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

// Opens the copy's target for writing. Its folders are made only when it cannot be
// created without them (probing each folder of each file costs more than the copy).
HANDLE OpenCopyTarget(wchar_t* target)
{
    HANDLE output = OpenFileForAccess(target, GENERIC_WRITE);
    if (!output && GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreatePathDirectories(target);
        output = OpenFileForAccess(target, GENERIC_WRITE);
    }
    return output;
}

// Streams the source into the target in fixed-size chunks, so memory does not grow with
// the file. Returns 0, or the platform's error of the open, read or write. A target that
// is the source itself cannot be opened for writing while the source is open (it is
// shared for reading only); such a copy leaves the file as it is.
DWORD CopyOpenFile(HANDLE source, wchar_t* target)
{
    HANDLE output = OpenCopyTarget(target);
    if (!output) {
        DWORD error = LastErrorOr(ERROR_OPEN_FAILED);
        return error == ERROR_SHARING_VIOLATION && IsSameFile(source, target) ? ERROR_SUCCESS : error;
    }
    char chunk[COPY_CHUNK_BYTES];
    DWORD result = ERROR_SUCCESS;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, chunk, COPY_CHUNK_BYTES, &read, nullptr)) {
            result = LastErrorOr(ERROR_READ_FAULT);
            break;
        }
        if (!read)
            break;
        DWORD written = 0;
        if (!WriteFile(output, chunk, read, &written, nullptr) || written != read) {
            result = LastErrorOr(ERROR_WRITE_FAULT);
            break;
        }
    }
    CloseHandle(output);
    return result;
}

// Copies one file's bytes over 'target' (attributes and times are not carried over; a
// read-only target is overwritten). A source that cannot be opened gives E_OUTOFMEMORY,
// as when it could not be read into memory; a file copied onto itself is left as it is.
DWORD CopyFileBytes(const wchar_t* source, wchar_t* target)
{
    HANDLE input = OpenFileForAccess(source, GENERIC_READ);
    if (!input)
        return static_cast<DWORD>(E_OUTOFMEMORY);
    ClearReadOnly(target);
    DWORD result = CopyOpenFile(input, target);
    CloseHandle(input);
    return result;
}

// The destination of one entry: below a destination ending in '\' the entry keeps its
// name (a folder gets a trailing '\'); any other destination is the one target of all.
[[nodiscard]] bool ComposeDestination(wchar_t (&target)[MAX_PATH_CHARS], const wchar_t* destination,
                                      const wchar_t* name, bool isFolder)
{
    size_t length = wcslen(destination);
    if (!length || destination[length - 1] != L'\\')
        return SUCCEEDED(StringCchCopyW(target, MAX_PATH_CHARS, destination));
    return SUCCEEDED(StringCchPrintfW(target, MAX_PATH_CHARS, isFolder ? L"%s%s\\" : L"%s%s", destination, name));
}

// "[!]folder\pattern>destination" ("=>" alike). '!' searches every subfolder and filters
// file names with the case-sensitive pattern. The last entry's result is the result.
DWORD CopyFiles(wchar_t* args, wchar_t* mark)
{
    *mark = 0;
    if (mark > args && mark[-1] == L'=')
        mark[-1] = 0;
    CopyRequest request{args[0] == L'!', nullptr, mark + 1};
    wchar_t* folder = request.recursive ? args + 1 : args;
    const wchar_t* pattern = SplitLastComponent(folder);
    if (!*pattern)
        pattern = L"*";
    if (fileCommandsDryRun)
        return ERROR_SUCCESS;
    if (!request.recursive)
        return EnumerateFiles(CopyMatchingFile, &request, folder, pattern);
    request.nameFilter = pattern;
    return EnumerateFiles(CopyMatchingFile, &request, folder, L"*");
}

} // namespace

bool fileCommandsDryRun = false;

// FILE: delete "a;b[->]", create "folder\", write "file<text" or "file{text", or copy
// "[!]source>destination", chosen by the first operator in the argument.
DWORD FileOperation(wchar_t* args)
{
    FileOperator found = FindFileOperator(args);
    switch (found.action) {
    case FileAction::Delete: return DeleteFiles(args, found.mark);
    case FileAction::CreatePath:
        if (!fileCommandsDryRun)
            CreatePathDirectories(args);
        return ERROR_SUCCESS;
    case FileAction::WriteAnsi: return WriteText(args, found.mark, true);
    case FileAction::WriteUtf16: return WriteText(args, found.mark, false);
    case FileAction::Copy: return CopyFiles(args, found.mark);
    }
    return ERROR_INVALID_PARAMETER;
}

// The visitor of FILE's copy: copies one file, or in a recursive copy recreates one folder
// below the destination and descends into it. Paths that would not fit are refused.
DWORD CopyMatchingFile(void* userData, const wchar_t* folder, const WIN32_FIND_DATAW& found)
{
    auto& request = *static_cast<CopyRequest*>(userData);
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && (!request.recursive || found.cFileName[0] == L'.'))
        return RESULT_NO_FILE;
    if (!isFolder && request.recursive && !WildcardMatch(found.cFileName, request.nameFilter))
        return RESULT_NO_FILE;
    wchar_t source[MAX_PATH_CHARS];
    wchar_t target[MAX_PATH_CHARS];
    if (FAILED(StringCchPrintfW(source, MAX_PATH_CHARS, L"%s\\%s", folder, found.cFileName)) ||
        !ComposeDestination(target, request.destination, found.cFileName, isFolder))
        return ERROR_FILENAME_EXCED_RANGE;
    if (!isFolder)
        return CopyFileBytes(source, target);
    CreatePathDirectories(target);
    if (wcslen(source) + 2 >= MAX_PATH_CHARS)          // no room for the "\*" of the search
        return ERROR_FILENAME_EXCED_RANGE;
    const wchar_t* saved = request.destination;
    request.destination = target;
    DWORD result = EnumerateFiles(CopyMatchingFile, &request, source, L"*");
    request.destination = saved;
    return result;
}
