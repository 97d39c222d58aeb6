#include "commands/commands.h"
#include "base/file_writer.h"
#include "base/outward_calls.h"

namespace {

constexpr size_t ANSI_TEXT_BYTES = 1024;
constexpr DWORD COPY_CHUNK_BYTES = 64 * 1024;
// A copy replaces a read-only target (it loses the bit) and leaves no half-written new
// file; a target that is the source itself is left as it is.
constexpr FileOutputRules COPY_RULES = {.replacesReadOnly = true, .removesIncomplete = true};

// Deletes the names of the list from 'list' up to 'end' (the argument's end): ';' ends a
// name and "->" ends the list (an empty name follows it); runs of '*' are collapsed and
// each name is judged in that short form. The writer takes the names NUL-separated, with
// one more NUL after the last.
DWORD DeleteFiles(const wchar_t* list, const wchar_t* end)
{
    wchar_t names[LINE_BUFFER_CHARS + 1];
    if (static_cast<size_t>(end - list) + 1 >= ARRAYSIZE(names))
        return ERROR_FILENAME_EXCED_RANGE;
    size_t written = 0;
    for (const wchar_t* p = list; p < end; ++p) {
        wchar_t unit = *p;
        if (unit == L'-' && p[1] == L'>') {
            names[written++] = 0;
            unit = 0;
            ++p;
        } else if (unit == L';') {
            unit = 0;
        } else if (unit == L'*' && written && names[written - 1] == L'*') {
            continue;
        }
        names[written++] = unit;
    }
    names[written++] = 0;
    names[written] = 0;
    return DeleteNamedFiles(names);
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

// Streams 'source' into 'output' in fixed-size chunks, so memory does not grow with the
// file; a short read is the file's end. 0, or the error of a read or a write (or the
// observer's answer to the progress).
DWORD StreamFile(HANDLE source, FileOutput& output)
{
    char chunk[COPY_CHUNK_BYTES];
    for (;;) {
        DWORD read = 0;
        if (!outwardCalls.readFile(source, chunk, COPY_CHUNK_BYTES, &read, nullptr))
            return LastErrorOr(ERROR_READ_FAULT);
        DWORD result = WriteFileOutput(output, chunk, read);
        if (result != ERROR_SUCCESS)
            return result;
        if (read < COPY_CHUNK_BYTES)
            return ERROR_SUCCESS;
    }
}

// Copies one file's bytes to 'target' (attributes and times are not carried over; a
// read-only target is overwritten). A new target is written directly, an existing one
// replaced only by a complete copy; a copy onto the source itself changes nothing. A
// source that cannot be opened gives E_OUTOFMEMORY, as when it could not be read into
// memory.
DWORD CopyFileBytes(const wchar_t* source, const wchar_t* target)
{
    HANDLE input = OpenFileForAccess(source, GENERIC_READ);
    if (!input)
        return static_cast<DWORD>(E_OUTOFMEMORY);
    FileOutputRules rules = COPY_RULES;
    rules.source = input;
    FileOutput output;
    DWORD result = OpenFileOutput(output, target, rules);
    if (result == ERROR_SUCCESS && output.handle)
        result = StreamFile(input, output);
    result = FinishFileOutput(output, result);
    CloseHandle(input);
    return result;
}

struct CopyRequest {
    const wchar_t* destination;
    bool guardsOwnTarget;                   // a recursive copy into a folder: never enter that folder
    bool targetKnown;                       // the folder exists; its identity and listed name follow
    FileIdentity target;
    wchar_t targetName[MAX_PATH_CHARS];     // empty for a volume's root: any folder may be it
    DWORD stopped;                          // the observer's Stop, which ends the walk
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
    auto& request = *static_cast<CopyRequest*>(userData);
    wchar_t target[MAX_PATH_CHARS];
    if (!ComposeDestination(target, request.destination, entry, false))
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD result = CopyFileBytes(entry.path, target);
    if (result != ERROR_CANCELLED)
        return result;
    request.stopped = result;
    return static_cast<DWORD>(E_ABORT);
}

// True when the folder 'entry' is the copy's own target, whatever names reach the two. The
// target is looked for until it exists (the copy itself may create it on the way); then
// only a folder listed by the target's name, or a link, can be it and is opened to compare.
bool IsOwnTarget(CopyRequest& request, const WalkEntry& entry)
{
    if (!request.guardsOwnTarget)
        return false;
    if (!request.targetKnown)
        request.targetKnown = IdentityAndNameOf(request.destination, request.target, request.targetName);
    if (!request.targetKnown)
        return false;
    bool mayBeTarget = !request.targetName[0] || (entry.found->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                       CompareStringOrdinal(entry.found->cFileName, -1, request.targetName, -1, TRUE) == CSTR_EQUAL;
    FileIdentity entered;
    return mayBeTarget && IdentityOfPath(entry.path, entered) && SameIdentity(entered, request.target);
}

// Recreates a folder below a destination ending in '\' before the walk enters it; for any
// other destination, which names the one file of all copies, only that file's folders are
// made. The copy's own target, when it lies inside the source, is never entered: its copies
// would be copied again, level after level.
DWORD CopyFolder(void* userData, const WalkEntry& entry)
{
    auto& request = *static_cast<CopyRequest*>(userData);
    if (IsOwnTarget(request, entry))
        return RESULT_NO_FILE;
    wchar_t target[MAX_PATH_CHARS];
    if (!ComposeDestination(target, request.destination, entry, true))
        return ERROR_FILENAME_EXCED_RANGE;
    size_t length = wcslen(target);
    if (length && target[length - 1] == L'\\')
        CreateFolderMakingParents(target);
    else
        CreatePathDirectories(target);
    return ERROR_SUCCESS;
}

// "[!]folder\pattern>destination" ("=>" alike). '!' searches every subfolder and filters
// file names with the case-sensitive pattern. The last entry's result is the result, or
// the observer's Stop, which ends the copy.
DWORD CopyFiles(wchar_t* source, const wchar_t* destination, bool recursive)
{
    size_t length = wcslen(destination);
    CopyRequest request{destination, recursive && length && destination[length - 1] == L'\\', false, {}, {}, 0};
    wchar_t* folder = recursive ? source + 1 : source;
    const wchar_t* pattern = SplitLastComponent(folder);
    if (!*pattern)
        pattern = L"*";
    FileWalk walk{CopyMatchingFile, CopyFolder, &request, ERROR_FILENAME_EXCED_RANGE};
    DWORD result = WalkFiles(walk, folder, pattern, recursive);
    return request.stopped ? request.stopped : result;
}

FileRequest MakeRequest(FileOperationKind kind, const wchar_t* args, const wchar_t* operandEnd, const wchar_t* end)
{
    return {kind, {args, static_cast<size_t>(operandEnd - args)}, end, false};
}

} // namespace

// FILE: delete "a;b[->]", create "folder\", write "file<text" or "file{text", or copy
// "[!]source>destination", chosen by the first operator in the argument. The first path
// ends at the first ';' or "->" before the operator. A write's first unit after the
// operator is its mode: '=' appends, anything else overwrites and is not written. A
// copy's "=>" counts as '>'.
FileRequest ReadFileRequest(const wchar_t* args)
{
    const wchar_t* cut = nullptr;       // the first ';' or "->"
    for (const wchar_t* p = args;; ++p) {
        const wchar_t* operandEnd = cut ? cut : p;
        switch (*p) {
        case 0: return MakeRequest(FileOperationKind::Delete, args, operandEnd, p);
        case L';':
            cut = operandEnd;
            break;
        case L'-':
            if (p[1] == L'>') {
                cut = operandEnd;
                ++p;
            }
            break;
        case L'\\':
            if (!p[1])
                return MakeRequest(FileOperationKind::CreatePath, args, cut ? cut : p + 1, p);
            break;
        case L'<':
        case L'{': {
            FileRequest request = MakeRequest(*p == L'<' ? FileOperationKind::WriteAnsi : FileOperationKind::WriteUtf16,
                                              args, operandEnd, p + 1);
            if (*request.end)
                request.flag = *request.end++ == L'=';
            return request;
        }
        case L'>': {
            if (!cut && p > args && p[-1] == L'=')
                operandEnd = p - 1;
            FileRequest request = MakeRequest(FileOperationKind::Copy, args, operandEnd, p + 1);
            request.flag = args[0] == L'!';
            return request;
        }
        }
    }
}

// Each kind but a delete needs its first path ended for the platform's calls: it is
// copied out of the argument.
DWORD CarryOutFileRequest(const FileRequest& request)
{
    if (request.kind == FileOperationKind::Delete)
        return DeleteFiles(request.operand.start, request.end);
    wchar_t operand[LINE_BUFFER_CHARS];
    if (CopyPiece(operand, request.operand) != ERROR_SUCCESS)
        return ERROR_FILENAME_EXCED_RANGE;
    switch (request.kind) {
    case FileOperationKind::CreatePath:
        CreatePathDirectories(operand);
        return ERROR_SUCCESS;
    case FileOperationKind::WriteAnsi: return WriteText(operand, request.end, request.flag, true);
    case FileOperationKind::WriteUtf16: return WriteText(operand, request.end, request.flag, false);
    case FileOperationKind::Copy: return CopyFiles(operand, request.end, request.flag);
    default: return ERROR_INVALID_PARAMETER;
    }
}

DWORD FileOperation(const wchar_t* args)
{
    return CarryOutFileRequest(ReadFileRequest(args));
}
