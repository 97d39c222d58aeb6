#include "commands/commands.h"
#include <shellapi.h>
#include <cstdlib>

namespace {

constexpr size_t ANSI_TEXT_BYTES = 1024;
constexpr FILEOP_FLAGS DELETE_FLAGS = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;   // 0x0214

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
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = names;
    operation.fFlags = DELETE_FLAGS;
    return static_cast<DWORD>(SHFileOperationW(&operation));
}

// Writes 'text' as ANSI bytes or as UTF-16 code units, replacing the file or appending.
// Returns 0 when at least one byte was written, otherwise 1.
DWORD WriteText(const wchar_t* path, const wchar_t* text, bool append, bool ansi)
{
    char ansiBytes[ANSI_TEXT_BYTES];
    const void* data = text;
    DWORD byteCount = static_cast<DWORD>(wcslen(text) * sizeof(wchar_t));
    if (ansi) {
        int converted = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(wcslen(text)), ansiBytes,
                                            sizeof ansiBytes, nullptr, nullptr);
        data = ansiBytes;
        byteCount = converted > 0 ? static_cast<DWORD>(converted) : 0;   // too long: nothing is written
    }
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

// Streams the source into the target in fixed-size chunks, so memory does not grow with
// the file. Returns 0, or the platform's error of the open, read or write. A target that
// is the source itself cannot be opened for writing while the source is open (it is
// shared for reading only); such a copy leaves the file as it is.
DWORD CopyOpenFile(HANDLE source, wchar_t* target)
{
    HANDLE output = CreateFileMakingFolders(target);
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

struct CopyRequest {
    const wchar_t* destination;
    wchar_t ownTarget[MAX_PATH_CHARS];      // the full path of a recursive copy's target folder, or empty
};

// The target of an entry 'relative' below the walk's first folder: below a destination
// ending in '\' the entry keeps its place and name (a folder gets a trailing '\'); any other
// destination is the one target of all.
[[nodiscard]] bool ComposeDestination(wchar_t (&target)[MAX_PATH_CHARS], const wchar_t* destination,
                                      const WalkEntry& entry, bool isFolder)
{
    size_t length = wcslen(destination);
    if (!length || destination[length - 1] != L'\\')
        return SUCCEEDED(StringCchCopyW(target, MAX_PATH_CHARS, destination));
    const wchar_t* name = entry.found->cFileName;
    const wchar_t* separator = *entry.relative ? L"\\" : L"";
    return SUCCEEDED(StringCchPrintfW(target, MAX_PATH_CHARS, isFolder ? L"%s%s%s%s\\" : L"%s%s%s%s", destination,
                                      entry.relative, separator, name));
}

DWORD CopyMatchingFile(void* userData, const WalkEntry& entry)
{
    const auto& request = *static_cast<const CopyRequest*>(userData);
    wchar_t target[MAX_PATH_CHARS];
    if (!ComposeDestination(target, request.destination, entry, false))
        return ERROR_FILENAME_EXCED_RANGE;
    return CopyFileBytes(entry.path, target);
}

bool IsOwnTarget(const CopyRequest& request, const wchar_t* folder)
{
    wchar_t full[MAX_PATH_CHARS];
    DWORD length = GetFullPathNameW(folder, MAX_PATH_CHARS, full, nullptr);
    return request.ownTarget[0] && length && length < MAX_PATH_CHARS && _wcsicmp(full, request.ownTarget) == 0;
}

// Recreates a folder below the destination before the walk enters it. The copy's own
// target, when it lies inside the source, is never entered: its copies would be copied
// again, level after level.
DWORD CopyFolder(void* userData, const WalkEntry& entry)
{
    const auto& request = *static_cast<const CopyRequest*>(userData);
    if (IsOwnTarget(request, entry.path))
        return RESULT_NO_FILE;
    wchar_t target[MAX_PATH_CHARS];
    if (!ComposeDestination(target, request.destination, entry, true))
        return ERROR_FILENAME_EXCED_RANGE;
    CreatePathDirectories(target);
    return ERROR_SUCCESS;
}

// The full path of the folder a recursive copy writes into, without its final backslash.
void FindOwnTarget(CopyRequest& request)
{
    request.ownTarget[0] = 0;
    DWORD length = GetFullPathNameW(request.destination, MAX_PATH_CHARS, request.ownTarget, nullptr);
    if (!length || length >= MAX_PATH_CHARS) {
        request.ownTarget[0] = 0;
        return;
    }
    while (length > 3 && request.ownTarget[length - 1] == L'\\')
        request.ownTarget[--length] = 0;
}

// "[!]folder\pattern>destination" ("=>" alike). '!' searches every subfolder and filters
// file names with the case-sensitive pattern. The last entry's result is the result.
DWORD CopyFiles(wchar_t* source, const wchar_t* destination, bool recursive)
{
    CopyRequest request{destination, {}};
    wchar_t* folder = recursive ? source + 1 : source;
    const wchar_t* pattern = SplitLastComponent(folder);
    if (!*pattern)
        pattern = L"*";
    size_t length = wcslen(destination);
    if (recursive && length && destination[length - 1] == L'\\')
        FindOwnTarget(request);
    FileWalk walk{CopyMatchingFile, CopyFolder, &request, ERROR_FILENAME_EXCED_RANGE};
    return WalkFiles(walk, folder, pattern, recursive);
}

// Finds the first operator of a FILE argument. On the way ';' and "->" become NUL, so that
// the text before the operator is a NUL-separated list whose first piece is the operand.
FileRequest ScanFileOperator(wchar_t* args)
{
    for (wchar_t* p = args;; ++p) {
        switch (*p) {
        case 0: return {FileOperationKind::Delete, args, p, false};
        case L';': *p = 0; break;
        case L'-':
            if (p[1] == L'>') {
                p[0] = p[1] = 0;
                ++p;
            }
            break;
        case L'\\':
            if (!p[1])
                return {FileOperationKind::CreatePath, args, p, false};
            break;
        case L'<': return {FileOperationKind::WriteAnsi, args, p, false};
        case L'{': return {FileOperationKind::WriteUtf16, args, p, false};
        case L'>': return {FileOperationKind::Copy, args, p, false};
        }
    }
}

} // namespace

// FILE: delete "a;b[->]", create "folder\", write "file<text" or "file{text", or copy
// "[!]source>destination", chosen by the first operator in the argument. A write's first
// unit after the operator is its mode: '=' appends, anything else overwrites and is not
// written. A copy's "=>" counts as '>'.
FileRequest ReadFileRequest(wchar_t* args)
{
    FileRequest request = ScanFileOperator(args);
    wchar_t* mark = request.end;
    switch (request.kind) {
    case FileOperationKind::Delete:
    case FileOperationKind::CreatePath:
        break;
    case FileOperationKind::WriteAnsi:
    case FileOperationKind::WriteUtf16:
        *mark = 0;
        request.end = mark + 1;
        if (*request.end)
            request.flag = *request.end++ == L'=';
        break;
    case FileOperationKind::Copy:
        *mark = 0;
        if (mark > args && mark[-1] == L'=')
            mark[-1] = 0;
        request.end = mark + 1;
        request.flag = args[0] == L'!';
        break;
    }
    return request;
}

DWORD CarryOutFileRequest(const FileRequest& request)
{
    switch (request.kind) {
    case FileOperationKind::Delete: return DeleteFiles(request.operand, request.end);
    case FileOperationKind::CreatePath:
        CreatePathDirectories(request.operand);
        return ERROR_SUCCESS;
    case FileOperationKind::WriteAnsi: return WriteText(request.operand, request.end, request.flag, true);
    case FileOperationKind::WriteUtf16: return WriteText(request.operand, request.end, request.flag, false);
    case FileOperationKind::Copy: return CopyFiles(request.operand, request.end, request.flag);
    }
    return ERROR_INVALID_PARAMETER;
}

DWORD FileOperation(wchar_t* args)
{
    return CarryOutFileRequest(ReadFileRequest(args));
}
