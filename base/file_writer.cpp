#include "base/file_writer.h"
#include "base/outward_calls.h"
#include "base/changes.h"
#include <winternl.h>

namespace {

constexpr int TEMPORARY_NAME_TRIES = 64;
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr size_t FIRST_KEY_SLOTS = 256;         // a table of keys doubles when three quarters full
constexpr ULONG FILE_INTERNAL_INFORMATION = 6;  // NtQueryInformationFile: the file's index

using QueryInformationFile = LONG(WINAPI*)(HANDLE file, IO_STATUS_BLOCK* status, void* information, ULONG length,
                                           ULONG informationClass);

bool IsExistsError(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

Change FileChange(ChangeKind kind, const wchar_t* path, const wchar_t* name = nullptr)
{
    return Change{kind, nullptr, path, name, 0, nullptr, 0};
}

// Reports 'change', makes it with 'make' unless the observer answers otherwise, and
// reports what came of it.
template <typename Make>
DWORD MakeChange(const Change& change, Make make)
{
    DWORD answer = ReportChangeBefore(change);
    if (answer == CHANGE_MADE_BY_OBSERVER)
        return ERROR_SUCCESS;
    if (answer != ERROR_SUCCESS)
        return answer;
    DWORD result = make();
    ReportChangeAfter(change, result);
    return result;
}

DWORD Outcome(BOOL succeeded)
{
    return succeeded ? ERROR_SUCCESS : LastErrorOr(ERROR_CANNOT_MAKE);
}

DWORD MakeFolder(const wchar_t* path)
{
    Change change = FileChange(ChangeKind::CreateFolder, path);
    return MakeChange(change, [&] { return Outcome(CreateDirectoryW(path, nullptr)); });
}

HANDLE CreateForWriting(const wchar_t* path, DWORD creation, DWORD attributes)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, creation, attributes, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// Creates the file 'path' for writing ('creation': CREATE_NEW fails with
// ERROR_FILE_EXISTS). Its folders are made only when it cannot be created without them:
// probing each folder of each file costs more than the write. nullptr on failure, with
// the platform's error as the last error.
HANDLE CreateFileMakingFolders(wchar_t* path, DWORD creation, DWORD attributes)
{
    HANDLE file = CreateForWriting(path, creation, attributes);
    if (!file && GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreatePathDirectories(path);
        file = CreateForWriting(path, creation, attributes);
    }
    return file;
}

// --- the files one run wrote ---

bool IsFreeSlot(const WrittenKey& key)
{
    return key.high == 0 && key.low == 0;
}

ULONGLONG MixKey(const WrittenKey& key)
{
    ULONGLONG mixed = key.high * 0x9E3779B97F4A7C15ull ^ key.low;
    mixed ^= mixed >> 29;
    mixed *= 0xBF58476D1CE4E5B9ull;
    return mixed ^ (mixed >> 32);
}

// The slot that holds 'key', or the free slot where it would go; 'table' has one.
size_t FindSlot(const WrittenKeyTable& table, const WrittenKey& key)
{
    size_t mask = table.capacity - 1;
    size_t slot = MixKey(key) & mask;
    while (!IsFreeSlot(table.slots[slot]) && (table.slots[slot].high != key.high || table.slots[slot].low != key.low))
        slot = (slot + 1) & mask;
    return slot;
}

bool HasKey(const WrittenKeyTable& table, const WrittenKey& key)
{
    return table.capacity && !IsFreeSlot(table.slots[FindSlot(table, key)]);
}

void FreeKeys(WrittenKeyTable& table)
{
    if (table.slots)
        HeapFree(GetProcessHeap(), 0, table.slots);
    table = {};
}

// Doubles the table (the first call makes it); false when memory runs out.
bool GrowKeys(WrittenKeyTable& table)
{
    size_t capacity = table.capacity ? 2 * table.capacity : FIRST_KEY_SLOTS;
    size_t bytes = capacity * sizeof(WrittenKey);
    auto* slots = static_cast<WrittenKey*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    if (!slots)
        return false;
    WrittenKeyTable grown{slots, capacity, table.count};
    for (size_t i = 0; i < table.capacity; ++i)
        if (!IsFreeSlot(table.slots[i]))
            grown.slots[FindSlot(grown, table.slots[i])] = table.slots[i];
    FreeKeys(table);
    table = grown;
    return true;
}

bool AddKey(WrittenKeyTable& table, const WrittenKey& key)
{
    if ((table.count + 1) * 4 > table.capacity * 3 && !GrowKeys(table))
        return false;
    size_t slot = FindSlot(table, key);
    if (IsFreeSlot(table.slots[slot])) {
        table.slots[slot] = key;
        ++table.count;
    }
    return true;
}

WrittenKey IdentityKey(const FileIdentity& identity)
{
    return {(static_cast<ULONGLONG>(identity.indexHigh) << 32) | identity.indexLow,
            (1ull << 32) | identity.volumeSerial};
}

// Two different 64-bit hashes of the exact text: names that differ in any unit, letter
// case included, have different keys.
WrittenKey NameKey(const wchar_t* path)
{
    WrittenKey key{14695981039346656037ull, 0};
    for (const wchar_t* p = path; *p; ++p) {
        key.high = (key.high ^ *p) * 1099511628211ull;         // FNV-1a
        key.low = key.low * 0x100000001B3ull + *p + 0x9E37;
    }
    key.low |= 1;
    return key;
}

void Notice(WrittenFiles& written, DWORD notice)
{
    if (written.notice == ERROR_SUCCESS)
        written.notice = notice;
}

void RememberFile(WrittenFiles* written, const FileIdentity& identity)
{
    if (written && !AddKey(written->identities, IdentityKey(identity)))
        Notice(*written, ERROR_NOT_ENOUGH_MEMORY);
}

void RememberName(WrittenFiles* written, const wchar_t* path)
{
    if (written && !AddKey(written->names, NameKey(path)))
        Notice(*written, ERROR_NOT_ENOUGH_MEMORY);
}

// Notes a name that Windows resolves to a file of the run written under another name.
void NoteAlias(WrittenFiles* written, const wchar_t* path, const FileIdentity& identity)
{
    if (written && IsWrittenFile(*written, identity) && !HasKey(written->names, NameKey(path)))
        Notice(*written, ERROR_FILE_EXISTS);
}

QueryInformationFile FileInformationQuery()
{
    static const auto query = reinterpret_cast<QueryInformationFile>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    return query;
}

// The identity of a file the run just created. Its volume is that of the run's first file:
// under Wine asking each file for its volume costs a third of writing it, and a run writes
// below one destination, on one volume unless a folder there leads to another.
bool IdentityOfNewFile(WrittenFiles& written, HANDLE file, FileIdentity& identity)
{
    QueryInformationFile query = FileInformationQuery();
    if (!written.hasVolumeSerial || !query) {
        written.hasVolumeSerial = IdentityOfHandle(file, identity);
        written.volumeSerial = identity.volumeSerial;
        return written.hasVolumeSerial;
    }
    IO_STATUS_BLOCK status;
    LARGE_INTEGER index;
    if (query(file, &status, &index, sizeof index, FILE_INTERNAL_INFORMATION) < 0)
        return false;
    identity = {written.volumeSerial, static_cast<DWORD>(index.QuadPart >> 32), static_cast<DWORD>(index.QuadPart)};
    return true;
}

// --- outputs ---

// What is at 'path': its attributes and identity, read through one open. A path that
// cannot be opened even for its attributes counts as a plain file of no attributes.
struct Existing {
    bool isKnown;
    DWORD attributes;
    FileIdentity identity;
};

Existing LookAt(const wchar_t* path)
{
    Existing found{false, 0, {}};
    HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return found;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)) {
        found = {true, information.dwFileAttributes,
                 {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow}};
    }
    CloseHandle(file);
    return found;
}

bool IsSameFileAs(const Existing& existing, HANDLE file)
{
    FileIdentity identity;
    return existing.isKnown && file && IdentityOfHandle(file, identity) && SameIdentity(identity, existing.identity);
}

// Puts in 'path' a new name in the folder of 'target' ("~vn" and four hex digits) for
// each attempt; false when it does not fit.
bool NameBeside(const wchar_t* target, wchar_t (&path)[MAX_PATH_CHARS])
{
    static unsigned temporaryNumber = GetTickCount() ^ (GetCurrentProcessId() << 16);
    const wchar_t* backslash = wcsrchr(target, L'\\');
    int folderLength = backslash ? static_cast<int>(backslash - target + 1) : 0;
    unsigned number = temporaryNumber++ & 0xFFFF;
    return SUCCEEDED(StringCchPrintfW(path, MAX_PATH_CHARS, L"%.*s~vn%04X", folderLength, target, number));
}

// Creates a new file of an unused name beside 'target'; nullptr with the error in 'error'.
HANDLE CreateFileBeside(const wchar_t* target, DWORD attributes, wchar_t (&path)[MAX_PATH_CHARS], DWORD& error)
{
    for (int attempt = 0; attempt < TEMPORARY_NAME_TRIES; ++attempt) {
        if (!NameBeside(target, path)) {
            error = ERROR_FILENAME_EXCED_RANGE;
            return nullptr;
        }
        HANDLE file = CreateForWriting(path, CREATE_NEW, attributes);
        if (file)
            return file;
        if (!IsExistsError(GetLastError()))
            break;
    }
    error = LastErrorOr(ERROR_CANNOT_MAKE);
    return nullptr;
}

// The change an output makes: a replacement when something is at its path. The look is
// taken only for an observer.
ChangeKind OutputKind(const wchar_t* path)
{
    bool isThere = CurrentChangeObserver() && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    return isThere ? ChangeKind::ReplaceFile : ChangeKind::CreateFile;
}

Change OutputChange(const FileOutput& output)
{
    return Change{output.kind, nullptr, output.path, nullptr, 0, output.data, output.size};
}

void RecordNewFile(FileOutput& output)
{
    WrittenFiles* written = output.rules.written;
    if (!written)
        return;
    output.hasIdentity = IdentityOfNewFile(*written, output.handle, output.identity);
    if (output.hasIdentity && !output.isReplacing)
        RememberFile(written, output.identity);
    RememberName(written, output.path);
}

// The guards of a replacement, decided by what is at the output's path: a folder, or a
// read-only file the rules do not replace, gives 5; the source itself is left as it is
// ('isLeft'). Otherwise 'attributes' are those the new file takes.
DWORD CheckReplacement(FileOutput& output, DWORD& attributes, bool& isLeft)
{
    Existing existing = LookAt(output.path);
    isLeft = IsSameFileAs(existing, output.rules.source);
    if (isLeft)
        return ERROR_SUCCESS;
    if (existing.attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ERROR_ACCESS_DENIED;
    if ((existing.attributes & FILE_ATTRIBUTE_READONLY) && !output.rules.replacesReadOnly)
        return ERROR_ACCESS_DENIED;
    if (existing.isKnown)
        NoteAlias(output.rules.written, output.path, existing.identity);
    attributes = output.rules.keepsAttributes ? existing.attributes & KEPT_ATTRIBUTES : 0;
    output.replacedAttributes = existing.attributes;
    return ERROR_SUCCESS;
}

// Opens a new file beside the existing one at the output's path, to take its place once
// complete. 0 with no handle when the existing file is the source itself.
DWORD OpenReplacement(FileOutput& output)
{
    DWORD attributes = 0;
    bool isLeft = false;
    DWORD refusal = CheckReplacement(output, attributes, isLeft);
    if (refusal != ERROR_SUCCESS || isLeft)
        return refusal;
    DWORD error = ERROR_SUCCESS;
    output.handle = CreateFileBeside(output.path, attributes, output.temporary, error);
    if (!output.handle)
        return error;
    output.isReplacing = true;
    return ERROR_SUCCESS;
}

// Moves the complete replacement over the old file. A read-only file (replaced only when
// the rules say so) loses the bit first and gets it back when the move fails.
DWORD MoveIntoPlace(FileOutput& output)
{
    DWORD attributes = output.replacedAttributes;
    bool isReadOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (isReadOnly)
        (void)SetAttributesOf(output.path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (MoveFileExW(output.temporary, output.path, MOVEFILE_REPLACE_EXISTING))
        return ERROR_SUCCESS;
    DWORD error = LastErrorOr(ERROR_CANNOT_MAKE);
    if (isReadOnly)
        (void)SetAttributesOf(output.path, attributes);
    return error;
}

// --- hard links ---

// Makes 'link', a name nothing has, a hard link to 'target', or a copy of it ('isCopy')
// where the file system has no hard links; missing folders along 'link' are made. A name
// that is taken gives ERROR_ALREADY_EXISTS or ERROR_FILE_EXISTS.
DWORD LinkOrCopy(const wchar_t* target, wchar_t* link, bool& isCopy)
{
    isCopy = false;
    if (CreateHardLinkW(link, target, nullptr))
        return ERROR_SUCCESS;
    if (GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreatePathDirectories(link);
        if (CreateHardLinkW(link, target, nullptr))
            return ERROR_SUCCESS;
    }
    if (IsExistsError(GetLastError()))
        return GetLastError();
    isCopy = true;
    return CopyFileW(target, link, TRUE) ? ERROR_SUCCESS : LastErrorOr(ERROR_CANNOT_MAKE);
}

// Links 'link', a name some file has, to 'target': the target's own name is left as it is;
// another file is replaced only once the new link stands complete beside it.
DWORD LinkOverExisting(const wchar_t* target, const FileIdentity& targetIdentity, wchar_t* link,
                       WrittenFiles* written, bool& isCopy)
{
    Existing existing = LookAt(link);
    if (existing.isKnown)
        NoteAlias(written, link, existing.identity);
    if (existing.isKnown && SameIdentity(existing.identity, targetIdentity))
        return ERROR_SUCCESS;
    if (existing.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        return ERROR_ACCESS_DENIED;
    wchar_t temporary[MAX_PATH_CHARS];
    DWORD result = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < TEMPORARY_NAME_TRIES && IsExistsError(result); ++attempt) {
        if (!NameBeside(link, temporary))
            return ERROR_FILENAME_EXCED_RANGE;
        result = LinkOrCopy(target, temporary, isCopy);
    }
    if (result != ERROR_SUCCESS)
        return result;
    if (MoveFileExW(temporary, link, MOVEFILE_REPLACE_EXISTING))
        return ERROR_SUCCESS;
    result = LastErrorOr(ERROR_CANNOT_MAKE);
    DeleteFileW(temporary);
    return result;
}

// --- the root guard ---

bool IsSeparator(wchar_t unit)
{
    return unit == L'\\' || unit == L'/';
}

// Where the part after the root of the full path 'full' begins: after "C:\" or
// "\\server\share\" (either also behind "\\?\"); nullptr when it starts with no root.
const wchar_t* SkipRoot(const wchar_t* full)
{
    const wchar_t* p = full;
    bool isShare = false;
    if (wcsncmp(p, L"\\\\?\\", 4) == 0 || wcsncmp(p, L"\\\\.\\", 4) == 0) {
        p += 4;
        isShare = _wcsnicmp(p, L"UNC\\", 4) == 0;
        if (isShare)
            p += 4;
    } else if (IsSeparator(p[0]) && IsSeparator(p[1])) {
        p += 2;
        isShare = true;
    }
    if (!isShare)
        return p[0] && p[1] == L':' ? p + 2 + (IsSeparator(p[2]) ? 1 : 0) : nullptr;
    for (int part = 0; part < 2 && *p; ++part) {        // the server, then the share
        const wchar_t* separator = wcschr(p, L'\\');
        p = separator ? separator + 1 : p + wcslen(p);
    }
    return p;
}

bool IsRootByName(const wchar_t* full)
{
    const wchar_t* rest = SkipRoot(full);
    return rest && !rest[wcsspn(rest, L"\\")];
}

// --- deletes ---

// The shell's delete answered this for a folder path whose folder was not there.
constexpr DWORD SHELL_INVALID_FILES = 0x7C;
constexpr DWORD CLEARED_FOR_DELETE = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
constexpr size_t FIRST_POOL_UNITS = 4096;

// Every entry a delete list resolves to, in order, kept before anything is deleted: per
// entry two units of attributes, then its path and a NUL.
struct DeleteList {
    wchar_t* pool;
    size_t capacity;
    size_t used;
    size_t count;
    bool isShort;           // memory ran out
};

void AddEntry(DeleteList& list, const wchar_t* folder, size_t folderLength, const wchar_t* name, DWORD attributes)
{
    size_t nameLength = wcslen(name);
    size_t units = 2 + folderLength + nameLength + 1;
    if (list.used + units > list.capacity) {
        size_t capacity = list.capacity ? list.capacity : FIRST_POOL_UNITS;
        while (capacity < list.used + units)
            capacity *= 2;
        void* grown = list.pool ? HeapReAlloc(GetProcessHeap(), 0, list.pool, capacity * sizeof(wchar_t))
                                : HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(wchar_t));
        if (!grown) {
            list.isShort = true;
            return;
        }
        list.pool = static_cast<wchar_t*>(grown);
        list.capacity = capacity;
    }
    wchar_t* entry = list.pool + list.used;
    entry[0] = static_cast<wchar_t>(attributes & 0xFFFF);
    entry[1] = static_cast<wchar_t>(attributes >> 16);
    memcpy(entry + 2, folder, folderLength * sizeof(wchar_t));
    memcpy(entry + 2 + folderLength, name, (nameLength + 1) * sizeof(wchar_t));
    list.used += units;
    ++list.count;
}

bool IsDotName(const wchar_t* name)
{
    return name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2]));
}

// The full path of a delete name, '/' read as '\'. A pattern's last component is kept as
// written: only the folder it lies in is resolved.
bool ResolveDeleteName(const wchar_t* name, wchar_t (&full)[MAX_PATH_CHARS])
{
    wchar_t text[MAX_PATH_CHARS];
    if (CopyText(text, name) != ERROR_SUCCESS)
        return false;
    for (wchar_t* p = text; *p; ++p)
        if (*p == L'/')
            *p = L'\\';
    if (!wcspbrk(text, L"*?")) {
        DWORD length = GetFullPathNameW(text, MAX_PATH_CHARS, full, nullptr);
        return length && length < MAX_PATH_CHARS;
    }
    wchar_t pattern[MAX_PATH_CHARS];
    wchar_t* last = wcsrchr(text, L'\\');
    size_t folderLength = last ? static_cast<size_t>(last - text + 1) : text[0] && text[1] == L':' ? 2 : 0;
    if (CopyText(pattern, text + folderLength) != ERROR_SUCCESS)
        return false;
    text[folderLength] = 0;                     // the folder with its backslash, "C:" (that drive's folder) or ""
    DWORD length = GetFullPathNameW(folderLength ? text : L".", MAX_PATH_CHARS, full, nullptr);
    if (!length || length >= MAX_PATH_CHARS)
        return false;
    const wchar_t* separator = full[length - 1] == L'\\' ? L"" : L"\\";
    return SUCCEEDED(StringCchCatW(full, MAX_PATH_CHARS, separator)) &&
           SUCCEEDED(StringCchCatW(full, MAX_PATH_CHARS, pattern));
}

// Adds what one name stands for: each entry a pattern matches ("." and ".." aside), or
// the name itself with its attributes (INVALID_FILE_ATTRIBUTES when it is not there).
void AddNamed(DeleteList& list, const wchar_t* name)
{
    wchar_t full[MAX_PATH_CHARS];
    if (!ResolveDeleteName(name, full)) {
        AddEntry(list, L"", 0, name, INVALID_FILE_ATTRIBUTES);
        return;
    }
    if (!wcspbrk(full, L"*?")) {
        AddEntry(list, L"", 0, full, GetFileAttributesW(full));
        return;
    }
    size_t folderLength = static_cast<size_t>(wcsrchr(full, L'\\') - full + 1);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(full, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!IsDotName(found.cFileName))
            AddEntry(list, full, folderLength, found.cFileName, found.dwFileAttributes);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

DWORD EntryAttributes(const wchar_t* entry)
{
    return entry[0] | (static_cast<DWORD>(entry[1]) << 16);
}

bool IsFolderEntry(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;        // INVALID_FILE_ATTRIBUTES too, as the shell took it
}

DWORD DeleteFileOnce(const wchar_t* path)
{
    return MakeChange(FileChange(ChangeKind::DeleteFile, path), [&] { return Outcome(DeleteFileW(path)); });
}

// A file named or matched directly: a read-only one is refused as the platform's delete
// refuses it, before the observer hears of it (it may move the file away instead).
DWORD DeleteNamedFile(const wchar_t* path, DWORD attributes)
{
    return attributes & FILE_ATTRIBUTE_READONLY ? ERROR_ACCESS_DENIED : DeleteFileOnce(path);
}

// Removes with 'remove'; one that fails while it carries any of 'bits' loses them and is
// removed after all.
DWORD RemoveClearing(const wchar_t* path, DWORD bits, BOOL(WINAPI* remove)(LPCWSTR))
{
    if (remove(path))
        return ERROR_SUCCESS;
    DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastErrorOr(error);          // the shell's delete answered with this look's error
    if (!(attributes & bits))
        return error;
    DWORD cleared = SetAttributesOf(path, attributes & ~bits);
    return cleared != ERROR_SUCCESS ? cleared : Outcome(remove(path));
}

// A file of a folder being deleted: a read-only or system file is deleted after all.
DWORD DeleteFileInFolder(const wchar_t* path)
{
    return MakeChange(FileChange(ChangeKind::DeleteFile, path),
                      [&] { return RemoveClearing(path, CLEARED_FOR_DELETE, DeleteFileW); });
}

// An empty folder; a read-only one is removed after all.
DWORD RemoveFolder(const wchar_t* path)
{
    return MakeChange(FileChange(ChangeKind::DeleteFolder, path),
                      [&] { return RemoveClearing(path, FILE_ATTRIBUTE_READONLY, RemoveDirectoryW); });
}

DWORD DeleteTree(wchar_t (&path)[MAX_PATH_CHARS], bool entersFolder);

// Deletes what 'path' holds, entry by entry, until one fails; 'path' grows by each name
// and is put back.
DWORD DeleteFolderContent(wchar_t (&path)[MAX_PATH_CHARS])
{
    size_t length = wcslen(path);
    size_t base = length && path[length - 1] == L'\\' ? length : length + 1;
    if (base + 1 >= MAX_PATH_CHARS)
        return ERROR_SUCCESS;                   // nothing can be listed: the removal says why
    path[base - 1] = L'\\';
    path[base] = L'*';
    path[base + 1] = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    DWORD result = ERROR_SUCCESS;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (IsDotName(found.cFileName))
                continue;
            if (FAILED(StringCchCopyW(path + base, MAX_PATH_CHARS - base, found.cFileName)))
                result = ERROR_FILENAME_EXCED_RANGE;
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                result = DeleteTree(path, !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT));
            else
                result = DeleteFileInFolder(path);
        } while (result == ERROR_SUCCESS && FindNextFileW(search, &found));
        FindClose(search);
    }
    path[length] = 0;
    return result;
}

// Deletes the folder 'path' with everything in it; a folder that is a link ('entersFolder'
// false) is removed itself, and what it leads to is left alone.
DWORD DeleteTree(wchar_t (&path)[MAX_PATH_CHARS], bool entersFolder)
{
    DWORD result = entersFolder ? DeleteFolderContent(path) : ERROR_SUCCESS;
    if (result == ERROR_SUCCESS)
        result = RemoveFolder(path);
    return result == ERROR_PATH_NOT_FOUND ? SHELL_INVALID_FILES : result;
}

// A name that was not there when the list was resolved. The shell's delete took it for a
// folder, and its failed removal answered with the error of looking at it; nothing is
// changed, so nothing is reported. One that has appeared since is removed as a folder.
DWORD MissingEntryResult(const wchar_t* path)
{
    DWORD result = GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? LastErrorOr(ERROR_FILE_NOT_FOUND)
                                                                         : RemoveFolder(path);
    return result == ERROR_PATH_NOT_FOUND ? SHELL_INVALID_FILES : result;
}

DWORD DeleteEntry(const wchar_t* entry)
{
    DWORD attributes = EntryAttributes(entry);
    const wchar_t* path = entry + 2;
    if (!IsFolderEntry(attributes))
        return DeleteNamedFile(path, attributes);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return MissingEntryResult(path);
    wchar_t folder[MAX_PATH_CHARS];
    if (CopyText(folder, path) != ERROR_SUCCESS)
        return ERROR_FILENAME_EXCED_RANGE;
    return DeleteTree(folder, !(attributes & FILE_ATTRIBUTE_REPARSE_POINT));
}

DWORD DeleteEntries(const DeleteList& list)
{
    const wchar_t* entry = list.pool;
    for (size_t i = 0; i < list.count; ++i) {
        DWORD result = DeleteEntry(entry);
        if (result != ERROR_SUCCESS)
            return result;
        entry += 2 + wcslen(entry + 2) + 1;
    }
    return ERROR_SUCCESS;
}

} // namespace

// --- folders ---

DWORD CreatePathDirectories(wchar_t* path)
{
    for (wchar_t* p = wcschr(path, L'\\'); p; p = wcschr(p + 1, L'\\')) {
        *p = 0;
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        bool isFolder = GetFileAttributesExW(path, GetFileExInfoStandard, &attributes) &&
                        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        if (!isFolder && path[0])
            (void)MakeFolder(path);
        *p = L'\\';
    }
    return 1;
}

void CreateFolderMakingParents(wchar_t* path)
{
    if (MakeFolder(path) == ERROR_PATH_NOT_FOUND)
        CreatePathDirectories(path);
}

DWORD CreateFolderAndParents(wchar_t* path)
{
    CreatePathDirectories(path);
    size_t length = wcslen(path);
    while (length > 1 && path[length - 1] == L'\\')
        path[--length] = 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_SUCCESS;
    return MakeFolder(path);
}

// --- files written in place ---

DWORD WriteFileBytes(const wchar_t* path, const void* data, DWORD byteCount, bool append)
{
    ChangeKind kind = append ? ChangeKind::AppendToFile : ChangeKind::CreateFile;
    if (!append && CurrentChangeObserver() && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        kind = ChangeKind::ReplaceFile;
    DWORD how = kind == ChangeKind::ReplaceFile ? REPLACED_IN_PLACE : 0;
    Change change{kind, nullptr, path, nullptr, how, data, byteCount};
    DWORD answer = ReportChangeBefore(change);
    if (answer == CHANGE_MADE_BY_OBSERVER)
        return byteCount;
    if (answer != ERROR_SUCCESS)
        return 0;
    HANDLE file = CreateFileW(path, append ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    DWORD result = file == INVALID_HANDLE_VALUE ? LastErrorOr(ERROR_OPEN_FAILED) : ERROR_SUCCESS;
    if (result == ERROR_SUCCESS) {
        if (append)
            SetFilePointer(file, 0, nullptr, FILE_END);
        if (!outwardCalls.writeFile(file, data, byteCount, &written, nullptr)) {
            written = 0;
            result = LastErrorOr(ERROR_WRITE_FAULT);
        }
        CloseHandle(file);
    }
    ReportChangeAfter(change, result);
    return written;
}

// --- the files one run wrote ---

void ReleaseWrittenFiles(WrittenFiles& written)
{
    FreeKeys(written.identities);
    FreeKeys(written.names);
    written = {};
}

bool IsWrittenFile(const WrittenFiles& written, const FileIdentity& identity)
{
    return HasKey(written.identities, IdentityKey(identity));
}

DWORD TakeWrittenNotice(WrittenFiles& written)
{
    DWORD notice = written.notice;
    written.notice = ERROR_SUCCESS;
    return notice;
}

// --- outputs ---

DWORD OpenFileOutput(FileOutput& output, const wchar_t* path, const FileOutputRules& rules, const void* data,
                     DWORD size)
{
    output = {};
    output.rules = rules;
    output.data = data;
    output.size = size;
    if (CopyText(output.path, path) != ERROR_SUCCESS)
        return ERROR_FILENAME_EXCED_RANGE;
    output.kind = OutputKind(output.path);
    DWORD attributes = 0;
    if (output.kind == ChangeKind::ReplaceFile) {
        // Decided before the observer hears of the replacement: it may move the old file away.
        bool isLeft = false;
        DWORD refusal = CheckReplacement(output, attributes, isLeft);
        if (refusal != ERROR_SUCCESS || isLeft)
            return refusal;
    }
    Change change = OutputChange(output);
    DWORD answer = ReportChangeBefore(change);
    if (answer == CHANGE_MADE_BY_OBSERVER)
        return ERROR_SUCCESS;
    if (answer != ERROR_SUCCESS)
        return answer;
    DWORD result = ERROR_SUCCESS;
    output.handle = CreateFileMakingFolders(output.path, CREATE_NEW, attributes);
    if (!output.handle)
        result = IsExistsError(GetLastError()) ? OpenReplacement(output) : LastErrorOr(ERROR_CANNOT_MAKE);
    if (output.handle) {
        RecordNewFile(output);
        return ERROR_SUCCESS;
    }
    ReportChangeAfter(change, result);
    return result;
}

DWORD WriteFileOutput(FileOutput& output, const void* data, DWORD count)
{
    if (!output.handle || count == 0)
        return ERROR_SUCCESS;
    DWORD written = 0;
    if (!outwardCalls.writeFile(output.handle, data, count, &written, nullptr))
        return LastErrorOr(ERROR_WRITE_FAULT);
    if (written != count)
        return ERROR_DISK_FULL;
    DWORD answer = ReportProgress(count);
    output.isStopped = answer != ERROR_SUCCESS;
    return answer;
}

DWORD SeekFileOutput(FileOutput& output, ULONGLONG offset)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return Outcome(SetFilePointerEx(output.handle, position, nullptr, FILE_BEGIN));
}

DWORD EndFileOutputHere(FileOutput& output)
{
    return Outcome(SetEndOfFile(output.handle));
}

DWORD FinishFileOutput(FileOutput& output, DWORD outcome)
{
    if (!output.handle)
        return outcome;
    DWORD result = outcome;
    if (!CloseHandle(output.handle) && result == ERROR_SUCCESS)
        result = LastErrorOr(ERROR_WRITE_FAULT);
    output.handle = nullptr;
    if (output.isReplacing) {
        if (result == ERROR_SUCCESS)
            result = MoveIntoPlace(output);
        if (result == ERROR_SUCCESS && output.hasIdentity)
            RememberFile(output.rules.written, output.identity);
        if (result != ERROR_SUCCESS)
            DeleteFileW(output.temporary);
    } else if (result != ERROR_SUCCESS && output.rules.removesIncomplete) {
        DeleteFileW(output.path);
    }
    ReportChangeAfter(OutputChange(output), result);
    return result;
}

DWORD WriteWholeFile(const wchar_t* path, const void* data, DWORD count, const FileOutputRules& rules)
{
    FileOutput output;
    DWORD result = OpenFileOutput(output, path, rules, data, count);
    if (result == ERROR_SUCCESS)
        result = WriteFileOutput(output, data, count);
    return FinishFileOutput(output, result);
}

// --- hard links ---

DWORD LinkToFile(const wchar_t* target, const FileIdentity& targetIdentity, const wchar_t* link, WrittenFiles* written)
{
    wchar_t path[MAX_PATH_CHARS];
    if (CopyText(path, link) != ERROR_SUCCESS)
        return ERROR_FILENAME_EXCED_RANGE;
    return MakeChange(FileChange(ChangeKind::CreateHardLink, path, target), [&] {
        bool isCopy = false;
        DWORD result = LinkOrCopy(target, path, isCopy);
        if (IsExistsError(result))
            result = LinkOverExisting(target, targetIdentity, path, written, isCopy);
        FileIdentity copy;
        if (result == ERROR_SUCCESS && isCopy && IdentityOfPath(path, copy))
            RememberFile(written, copy);
        if (result == ERROR_SUCCESS)
            RememberName(written, path);
        return result;
    });
}

// --- deletes ---

bool ReachesIntoRoot(const wchar_t* name)
{
    if (IsSeparator(name[0]) && !IsSeparator(name[1]))
        return true;
    if (name[0] && name[1] == L':' && !name[2])
        return true;                    // a drive alone: the shell's delete emptied that drive's root

    wchar_t full[MAX_PATH_CHARS];
    DWORD length = GetFullPathNameW(name, MAX_PATH_CHARS, full, nullptr);
    if (!length || length >= MAX_PATH_CHARS)
        return true;                    // what cannot be resolved cannot be shown to be safe
    wchar_t* last = wcsrchr(full, L'\\');
    if (last && wcspbrk(last + 1, L"*?"))
        last[1] = 0;                    // the folder the pattern lies in, its backslash kept
    return IsRootByName(full) || IsVolumeRoot(full);
}

DWORD DeleteNamedFiles(const wchar_t* names)
{
    for (const wchar_t* name = names; *name; name += wcslen(name) + 1)
        if (ReachesIntoRoot(name))
            return RESULT_DELETE_FROM_ROOT;
    if (!*names)
        return ERROR_ACCESS_DENIED;
    DeleteList list{};
    for (const wchar_t* name = names; *name && !list.isShort; name += wcslen(name) + 1)
        AddNamed(list, name);
    DWORD result = list.isShort ? ERROR_NOT_ENOUGH_MEMORY : DeleteEntries(list);
    if (list.pool)
        HeapFree(GetProcessHeap(), 0, list.pool);
    return result;
}

DWORD DeleteOneFile(const wchar_t* path)
{
    DWORD attributes = CurrentChangeObserver() ? GetFileAttributesW(path) : 0;
    return DeleteNamedFile(path, attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes);
}

// --- attributes, temporary copies, libraries ---

DWORD SetAttributesOf(const wchar_t* path, DWORD attributes)
{
    Change change{ChangeKind::SetAttributes, nullptr, path, nullptr, attributes, nullptr, 0};
    return MakeChange(change, [&] { return Outcome(SetFileAttributesW(path, attributes)); });
}

void CopyToTemporaryFile(const wchar_t* source, const wchar_t* prefix, wchar_t (&copy)[MAX_PATH_CHARS])
{
    wchar_t folder[MAX_PATH_CHARS];
    DWORD length = GetTempPathW(MAX_PATH_CHARS, folder);
    if (!length || length >= MAX_PATH_CHARS || !GetTempFileNameW(folder, prefix, 0, copy)) {
        copy[0] = 0;
        return;
    }
    Change change = FileChange(ChangeKind::CreateFile, copy);
    DWORD answer = ReportChangeBefore(change);
    if (answer == CHANGE_MADE_BY_OBSERVER)
        return;
    if (answer != ERROR_SUCCESS) {
        DeleteFileW(copy);          // the empty file the platform made for the name
        copy[0] = 0;
        return;
    }
    ReportChangeAfter(change, Outcome(CopyFileW(source, copy, FALSE)));
}

DWORD AnnounceLibraryWrite(const wchar_t* path)
{
    return ReportChangeBefore(FileChange(ChangeKind::WriteByLibrary, path));
}

void ReportLibraryWrite(const wchar_t* path, DWORD result)
{
    ReportChangeAfter(FileChange(ChangeKind::WriteByLibrary, path), result);
}

// --- putting files back ---

DWORD PutFileBack(const wchar_t* saved, const wchar_t* path)
{
    bool isThere = GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    Change change = FileChange(isThere ? ChangeKind::ReplaceFile : ChangeKind::CreateFile, path);
    return MakeChange(change, [&] {
        return Outcome(MoveFileExW(saved, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    });
}

DWORD CutFileTo(const wchar_t* path, ULONGLONG length, const FILETIME& lastWrite)
{
    Change change{ChangeKind::ReplaceFile, nullptr, path, nullptr, REPLACED_IN_PLACE, nullptr, 0};
    return MakeChange(change, [&] {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return LastErrorOr(ERROR_OPEN_FAILED);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(length);
        DWORD result = Outcome(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
                               SetFileTime(file, nullptr, nullptr, &lastWrite));
        CloseHandle(file);
        return result;
    });
}

DWORD RemoveEmptyFolder(const wchar_t* path)
{
    return RemoveFolder(path);
}

// --- the journal's own files ---

DWORD MakeFolderUnobserved(const wchar_t* path)
{
    return Outcome(CreateDirectoryW(path, nullptr));
}

HANDLE CreateFileUnobserved(const wchar_t* path, DWORD creation)
{
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, creation,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

DWORD MoveFileUnobserved(const wchar_t* from, const wchar_t* to)
{
    return Outcome(MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED));
}

DWORD CopyFileUnobserved(const wchar_t* from, const wchar_t* to)
{
    return Outcome(CopyFileW(from, to, TRUE));
}

DWORD DeleteFileUnobserved(const wchar_t* path)
{
    if (DeleteFileW(path))
        return ERROR_SUCCESS;
    DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & CLEARED_FOR_DELETE))
        return error;
    SetFileAttributesW(path, attributes & ~CLEARED_FOR_DELETE);
    return Outcome(DeleteFileW(path));
}

DWORD DeleteTreeUnobserved(wchar_t (&path)[MAX_PATH_CHARS])
{
    size_t length = wcslen(path);
    if (length + 2 >= MAX_PATH_CHARS)
        return ERROR_FILENAME_EXCED_RANGE;
    (void)StringCchCopyW(path + length, MAX_PATH_CHARS - length, L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    DWORD result = ERROR_SUCCESS;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (IsDotName(found.cFileName))
                continue;
            DWORD step = ERROR_FILENAME_EXCED_RANGE;
            if (SUCCEEDED(StringCchCopyW(path + length + 1, MAX_PATH_CHARS - length - 1, found.cFileName))) {
                bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
                step = isFolder ? DeleteTreeUnobserved(path) : DeleteFileUnobserved(path);
            }
            if (result == ERROR_SUCCESS)
                result = step;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    path[length] = 0;
    if (!RemoveDirectoryW(path) && result == ERROR_SUCCESS)
        result = LastErrorOr(ERROR_ACCESS_DENIED);
    return result;
}
