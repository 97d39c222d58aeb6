// Recording: the journal's change observer writes one record per change before the change
// is made (a plain write to the journal file, which survives the process being ended),
// and keeps the files a change would remove by moving them into the run's folder.
#include "journal/journal_format.h"
#include "base/changes.h"
#include "base/file_writer.h"
#include <cwchar>

namespace {

constexpr size_t MAX_NESTING = 4;
constexpr size_t OPEN_CHANGES = 8;
constexpr size_t FLUSH_BYTES = 1 << 16;
constexpr size_t KEY_SET_LIMIT = 1 << 16;       // keys and files the run made: 512 KB each at most
constexpr size_t KEPT_VALUE_BYTES = 1 << 16;    // a value buffer larger than this is freed after use
constexpr int NAME_TRIES = 1000;

// A file change told before, waiting for its after: what the after completes.
struct OpenChange {
    ChangeKind kind;
    const wchar_t* path;        // as the writer reports it, before and after
    DWORD number;
    RecordKind recordKind;
    WORD flags;
    wchar_t full[MAX_PATH_CHARS];
};

// The key whose values were read last, kept open for the next value.
struct KeyCache {
    ULONGLONG hash;
    HKEY key;
};

struct JournalRun {
    ChangeObserver observer;
    const ChangeObserver* previous;
    bool isInstalled;
    bool isTrial;
    bool isOff;                 // no journal: every call is passed on
    bool hasFolder;
    bool hasSavedFolder;
    HANDLE file;
    DWORD number;
    JournalHeader header;
    Buffer<wchar_t> command;
    Buffer<BYTE> pending;       // records not yet written
    Buffer<BYTE> value;         // an old value's data
    Buffer<wchar_t> keyPath;    // a key's path, NUL-terminated
    wchar_t runs[MAX_PATH_CHARS];
    wchar_t folder[MAX_PATH_CHARS];
    wchar_t name[RUN_NAME_CHARS];
    KeyCache cache;
    KeySet createdKeys;         // keys the run made (forgetting one only costs a read)
    KeySet ownFiles;            // files the run made (forgetting one only costs a move)
    OpenChange open[OPEN_CHANGES];
    size_t openCount;
};

JournalRun runs[MAX_NESTING];
size_t depth = 0;               // runs begun and not ended; those beyond MAX_NESTING are only counted

bool IsInnermost(const JournalRun& run)
{
    size_t recorded = depth < MAX_NESTING ? depth : MAX_NESTING;
    return recorded && &runs[recorded - 1] == &run;
}

bool IsJournalTurnedOff()
{
    wchar_t setting[8];
    DWORD length = GetEnvironmentVariableW(L"VARNOLT_JOURNAL", setting, ARRAYSIZE(setting));
    return length && length < ARRAYSIZE(setting) && wcscmp(setting, L"0") == 0;
}

// --- the run's folder and journal file ---

DWORD WriteAll(HANDLE file, const void* data, size_t count)
{
    DWORD written = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(count), &written, nullptr))
        return LastErrorOr(ERROR_WRITE_FAULT);
    return written == count ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

// Makes <runs>\<name> for a run that started at 'started', its time moved on by a
// millisecond while a run of the same name is there.
DWORD MakeNamedFolder(JournalRun& run)
{
    ULARGE_INTEGER time{{run.header.started.dwLowDateTime, run.header.started.dwHighDateTime}};
    for (int attempt = 0; attempt < NAME_TRIES; ++attempt, time.QuadPart += 10000) {
        FILETIME at{time.LowPart, time.HighPart};
        SYSTEMTIME t;
        if (!FileTimeToSystemTime(&at, &t))
            return ERROR_INVALID_DATA;
        (void)StringCchPrintfW(run.name, RUN_NAME_CHARS, L"%04u%02u%02u-%02u%02u%02u-%03u-%lu", t.wYear, t.wMonth,
                               t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, GetCurrentProcessId());
        if (!JoinPath(run.folder, run.runs, run.name))
            return ERROR_FILENAME_EXCED_RANGE;
        DWORD result = MakeFolderUnobserved(run.folder);
        if (result != ERROR_ALREADY_EXISTS)
            return result;
    }
    return ERROR_ALREADY_EXISTS;
}

DWORD WriteFlag(const JournalRun& run)
{
    wchar_t flag[MAX_PATH_CHARS];
    if (FAILED(StringCchPrintfW(flag, MAX_PATH_CHARS, L"%s\\%s%s", run.runs, run.name, OPEN_FLAG)))
        return ERROR_FILENAME_EXCED_RANGE;
    HANDLE file = CreateFileUnobserved(flag, CREATE_ALWAYS);
    if (!file)
        return LastErrorOr(ERROR_CANNOT_MAKE);
    CloseHandle(file);
    return ERROR_SUCCESS;
}

// At the run's first change: older runs beyond the limits go, the run's folder, its
// journal with the header and its running flag are made.
DWORD OpenRunFolder(JournalRun& run)
{
    DWORD result = MakeRunsFolder(run.runs);
    if (result != ERROR_SUCCESS)
        return result;
    PruneOldRuns(run.runs);
    result = MakeNamedFolder(run);
    if (result != ERROR_SUCCESS)
        return result;
    wchar_t path[MAX_PATH_CHARS];
    if (!JoinPath(path, run.folder, JOURNAL_FILE))
        return ERROR_FILENAME_EXCED_RANGE;
    run.file = CreateFileUnobserved(path, CREATE_NEW);
    if (!run.file)
        return LastErrorOr(ERROR_CANNOT_MAKE);
    run.hasFolder = true;
    size_t commandBytes = run.command.count * sizeof(wchar_t);
    run.header.headerBytes = static_cast<DWORD>((sizeof(JournalHeader) + commandBytes + 7) & ~size_t{7});
    run.header.commandUnits = static_cast<DWORD>(run.command.count);
    BYTE padding[8] = {};
    result = WriteAll(run.file, &run.header, sizeof run.header);
    if (result == ERROR_SUCCESS)
        result = WriteAll(run.file, run.command.items, commandBytes);
    if (result == ERROR_SUCCESS)
        result = WriteAll(run.file, padding, run.header.headerBytes - sizeof run.header - commandBytes);
    return result == ERROR_SUCCESS ? WriteFlag(run) : result;
}

DWORD FlushRecords(JournalRun& run)
{
    if (!run.pending.count || !run.file)
        return ERROR_SUCCESS;
    DWORD result = WriteAll(run.file, run.pending.items, run.pending.count);
    run.pending.count = 0;
    if (result != ERROR_SUCCESS)
        run.header.flags |= RUN_INCOMPLETE;
    return result;
}

// The journal is there before its first record; a run whose journal cannot be made goes
// on without one (a trial refuses its changes instead).
DWORD EnsureJournal(JournalRun& run)
{
    if (run.hasFolder)
        return ERROR_SUCCESS;
    DWORD result = OpenRunFolder(run);
    if (result != ERROR_SUCCESS && !run.isTrial)
        run.isOff = true;
    return result;
}

// --- records ---

struct RecordParts {
    const wchar_t* path;
    size_t pathUnits;
    const wchar_t* name;
    size_t nameUnits;
    const void* oldData;
    DWORD oldBytes;
    const void* newData;
    DWORD newBytes;
};

size_t Units(const wchar_t* text)
{
    return text ? wcslen(text) : 0;
}

RecordParts PathParts(const wchar_t* path, const wchar_t* name = nullptr)
{
    return {path, Units(path), name, Units(name), nullptr, 0, nullptr, 0};
}

BYTE* CopyPart(BYTE* at, const void* data, size_t count)
{
    if (count)
        memcpy(at, data, count);
    return at + count;
}

// Adds a record to what is to be written. Where the journal cannot be made the run goes
// on without one ('isOff', and 0) unless it is a trial.
DWORD AddRecord(JournalRun& run, RecordHead head, const RecordParts& parts)
{
    DWORD result = EnsureJournal(run);
    if (result != ERROR_SUCCESS)
        return run.isTrial ? result : ERROR_SUCCESS;
    if (run.isOff)
        return ERROR_SUCCESS;
    ULONGLONG bytes = sizeof head + 2ull * (parts.pathUnits + parts.nameUnits) + parts.oldBytes + parts.newBytes;
    bytes = (bytes + 7) & ~7ull;
    if (bytes > 0x7FFFFFF8 || ReserveItems(run.pending, static_cast<size_t>(bytes)) != ERROR_SUCCESS)
        return ERROR_NOT_ENOUGH_MEMORY;
    head.bytes = static_cast<DWORD>(bytes);
    head.pathUnits = static_cast<DWORD>(parts.pathUnits);
    head.nameUnits = static_cast<DWORD>(parts.nameUnits);
    head.oldBytes = parts.oldBytes;
    head.newBytes = parts.newBytes;
    BYTE* at = run.pending.items + run.pending.count;
    memset(at, 0, static_cast<size_t>(bytes));
    at = CopyPart(at, &head, sizeof head);
    at = CopyPart(at, parts.path, 2 * parts.pathUnits);
    at = CopyPart(at, parts.name, 2 * parts.nameUnits);
    at = CopyPart(at, parts.oldData, parts.oldBytes);
    CopyPart(at, parts.newData, parts.newBytes);
    run.pending.count += static_cast<size_t>(bytes);
    return run.pending.count >= FLUSH_BYTES ? FlushRecords(run) : ERROR_SUCCESS;
}

RecordHead ChangeHead(JournalRun& run, RecordKind kind, WORD flags)
{
    RecordHead head{};
    head.kind = kind;
    head.flags = flags;
    head.number = ++run.number;
    return head;
}

// Remembers a file change whose after completes its record.
void AwaitAfter(JournalRun& run, const Change& change, const RecordHead& head, const wchar_t* full)
{
    if (run.openCount == OPEN_CHANGES) {
        memmove(run.open, run.open + 1, sizeof run.open - sizeof run.open[0]);
        --run.openCount;
    }
    OpenChange& open = run.open[run.openCount++];
    open.kind = change.kind;
    open.path = change.path;
    open.number = head.number;
    open.recordKind = head.kind;
    open.flags = head.flags;
    (void)CopyText(open.full, full);
}

// A change the journal cannot keep goes on unrecorded, and the run says so; a trial refuses it.
DWORD CannotKeep(JournalRun& run, DWORD reason)
{
    if (run.isTrial)
        return reason ? reason : ERROR_NOT_SUPPORTED;
    run.header.flags |= RUN_INCOMPLETE;
    return ERROR_SUCCESS;
}

// --- registry changes ---

size_t KeyUnits(const wchar_t* path)
{
    size_t units = Units(path);
    while (units && path[units - 1] == L'\\')
        --units;
    return units;
}

ULONGLONG KeyHash(DWORD root, const wchar_t* path, size_t units)
{
    return HashFoldedText(path, units, root);
}

// 'units' of 'path' as a NUL-terminated text in the run's key buffer.
const wchar_t* KeyText(JournalRun& run, const wchar_t* path, size_t units)
{
    run.keyPath.count = 0;
    if (!AppendText(run.keyPath, path, units) || !EndText(run.keyPath))
        return nullptr;
    return run.keyPath.items;
}

void ForgetKeyCache(JournalRun& run)
{
    if (run.cache.key)
        RegCloseKey(run.cache.key);
    run.cache = {};
}

// Opens the key for reading its values, through the cache; the registry's result.
LSTATUS OpenKeyToRead(JournalRun& run, HKEY root, const wchar_t* path, size_t units, ULONGLONG hash, HKEY& key)
{
    if (run.cache.key && run.cache.hash == hash) {
        key = run.cache.key;
        return ERROR_SUCCESS;
    }
    ForgetKeyCache(run);
    const wchar_t* text = KeyText(run, path, units);
    if (!text)
        return ERROR_NOT_ENOUGH_MEMORY;
    LSTATUS status = RegOpenKeyExW(root, text, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_SUCCESS)
        run.cache = {hash, key};
    return status;
}

// The value's type and data into 'type' and the run's value buffer: 0, ERROR_FILE_NOT_FOUND
// when the key or the value is not there, or why it cannot be read.
LSTATUS ReadOldValue(JournalRun& run, const Change& change, size_t units, ULONGLONG hash, DWORD& type)
{
    HKEY key;
    LSTATUS status = OpenKeyToRead(run, change.root, change.path, units, hash, key);
    for (int attempt = 0; status == ERROR_SUCCESS && attempt < 8; ++attempt) {
        DWORD size = static_cast<DWORD>(run.value.capacity);
        status = RegQueryValueExW(key, change.name, nullptr, &type, run.value.items, &size);
        if (status == ERROR_KEY_DELETED && attempt == 0) {     // the key was made again since it was read
            ForgetKeyCache(run);
            status = OpenKeyToRead(run, change.root, change.path, units, hash, key);
        } else if (status == ERROR_MORE_DATA) {
            status = ReserveItems(run.value, size) == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
        } else {
            run.value.count = status == ERROR_SUCCESS ? size : 0;
            return status;
        }
    }
    return status == ERROR_SUCCESS ? ERROR_MORE_DATA : status;
}

void TrimValueBuffer(JournalRun& run)
{
    if (run.value.capacity > KEPT_VALUE_BYTES)
        ReleaseItems(run.value);
    run.value.count = 0;
}

// Reads the old value unless it lies in a key the run made. 0 with the record's flags, or
// why the old value cannot be kept.
DWORD OldValueFlags(JournalRun& run, const Change& change, size_t units, ULONGLONG hash, DWORD& type, WORD& flags)
{
    type = 0;
    run.value.count = 0;
    if (HasKey(run.createdKeys, hash)) {
        flags = OLD_ABSENT | OLD_UNREAD;
        return ERROR_SUCCESS;
    }
    if (!run.value.capacity && ReserveItems(run.value, 256) != ERROR_SUCCESS)
        return ERROR_NOT_ENOUGH_MEMORY;
    LSTATUS status = ReadOldValue(run, change, units, hash, type);
    flags = status == ERROR_FILE_NOT_FOUND ? OLD_ABSENT : 0;
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(status);
}

DWORD RecordValueChange(JournalRun& run, const Change& change, RecordKind kind)
{
    DWORD root = NumberOfRoot(change.root);
    if (!root)
        return CannotKeep(run, ERROR_NOT_SUPPORTED);
    size_t units = KeyUnits(change.path);
    ULONGLONG hash = KeyHash(root, change.path, units);
    DWORD oldType = 0;
    WORD flags = 0;
    DWORD result = OldValueFlags(run, change, units, hash, oldType, flags);
    if (result != ERROR_SUCCESS)
        return CannotKeep(run, result);
    if (kind == RecordKind::DeleteValue && flags == OLD_ABSENT)
        return ERROR_SUCCESS;                   // nothing there: the delete changes nothing
    RecordHead head = ChangeHead(run, kind, flags);
    head.root = root;
    head.oldType = oldType;
    RecordParts parts{change.path, units, change.name, Units(change.name), run.value.items,
                      static_cast<DWORD>(run.value.count), nullptr, 0};
    if (kind == RecordKind::SetValue) {
        head.type = change.type;
        head.size = change.size;
        head.stamp = HashBytes(change.data, change.data ? change.size : 0);
        parts.newData = change.data;
        parts.newBytes = change.data ? (change.size < VALUE_PREFIX_BYTES ? change.size : VALUE_PREFIX_BYTES) : 0;
    }
    result = AddRecord(run, head, parts);
    TrimValueBuffer(run);
    return result == ERROR_SUCCESS ? result : CannotKeep(run, result);
}

DWORD RecordSetValue(JournalRun& run, const Change& change)
{
    return RecordValueChange(run, change, RecordKind::SetValue);
}

DWORD RecordDeleteValue(JournalRun& run, const Change& change)
{
    return RecordValueChange(run, change, RecordKind::DeleteValue);
}

// The units of 'path' that name a key that is there: a parent the run made, or one that opens.
size_t ExistingKeyUnits(JournalRun& run, HKEY root, DWORD rootNumber, const wchar_t* path, size_t units)
{
    while (units) {
        while (units && path[units - 1] != L'\\')
            --units;
        while (units && path[units - 1] == L'\\')
            --units;
        if (!units || HasKey(run.createdKeys, KeyHash(rootNumber, path, units)))
            return units;
        const wchar_t* text = KeyText(run, path, units);
        HKEY key;
        if (text && RegOpenKeyExW(root, text, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return units;
        }
    }
    return 0;
}

DWORD RecordCreateKey(JournalRun& run, const Change& change)
{
    DWORD root = NumberOfRoot(change.root);
    if (!root)
        return CannotKeep(run, ERROR_NOT_SUPPORTED);
    size_t units = KeyUnits(change.path);
    ULONGLONG hash = KeyHash(root, change.path, units);
    if (!units || HasKey(run.createdKeys, hash))
        return ERROR_SUCCESS;
    HKEY key;
    LSTATUS status = OpenKeyToRead(run, change.root, change.path, units, hash, key);
    if (status != ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;                   // there already, or the create will say why not
    size_t existing = ExistingKeyUnits(run, change.root, root, change.path, units);
    RecordHead head = ChangeHead(run, RecordKind::CreateKey, 0);
    head.root = root;
    head.oldSize = existing;
    DWORD result = AddRecord(run, head, {change.path, units, nullptr, 0, nullptr, 0, nullptr, 0});
    if (result != ERROR_SUCCESS)
        return CannotKeep(run, result);
    for (size_t level = existing + 1; level <= units; ++level)
        if (level == units || change.path[level] == L'\\')
            AddKey(run.createdKeys, KeyHash(root, change.path, level));
    AwaitAfter(run, change, head, L"");
    return ERROR_SUCCESS;
}

// Records the key 'key' (below the deleted one at 'relative') with its values, then each
// subkey in turn; 'relative' grows by each name and is put back.
DWORD RecordTreeKey(JournalRun& run, HKEY key, Buffer<wchar_t>& relative)
{
    RecordHead head{};
    head.kind = RecordKind::TreeKey;
    head.number = run.number;
    DWORD result = AddRecord(run, head, {relative.items, relative.count, nullptr, 0, nullptr, 0, nullptr, 0});
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
    if (result == ERROR_SUCCESS)
        result = static_cast<DWORD>(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr,
                                                     &values, &maxName, &maxData, nullptr, nullptr));
    Buffer<wchar_t> name;
    Buffer<BYTE> data;
    size_t nameUnits = (maxName > maxSubkey ? maxName : maxSubkey) + 2;
    if (result == ERROR_SUCCESS && (ReserveItems(name, nameUnits) || ReserveItems(data, maxData + 2ull)))
        result = ERROR_NOT_ENOUGH_MEMORY;
    for (DWORD i = 0; result == ERROR_SUCCESS && i < values; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.capacity), size = static_cast<DWORD>(data.capacity), type = 0;
        result = static_cast<DWORD>(RegEnumValueW(key, i, name.items, &nameLength, nullptr, &type, data.items, &size));
        RecordHead value{};
        value.kind = RecordKind::TreeValue;
        value.number = run.number;
        value.oldType = type;
        if (result == ERROR_SUCCESS)
            result = AddRecord(run, value, {relative.items, relative.count, name.items, nameLength, data.items, size,
                                            nullptr, 0});
    }
    for (DWORD i = 0; result == ERROR_SUCCESS && i < subkeys; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.capacity);
        result = static_cast<DWORD>(RegEnumKeyExW(key, i, name.items, &nameLength, nullptr, nullptr, nullptr, nullptr));
        HKEY subkey = nullptr;
        if (result == ERROR_SUCCESS)
            result = static_cast<DWORD>(RegOpenKeyExW(key, name.items, 0, KEY_READ, &subkey));
        size_t length = relative.count;
        if (result == ERROR_SUCCESS && ((length && !AppendText(relative, L"\\")) ||
                                        !AppendText(relative, name.items, nameLength)))
            result = ERROR_NOT_ENOUGH_MEMORY;
        if (result == ERROR_SUCCESS)
            result = RecordTreeKey(run, subkey, relative);
        relative.count = length;
        if (subkey)
            RegCloseKey(subkey);
    }
    ReleaseItems(name);
    ReleaseItems(data);
    return result;
}

// A tree is kept whole before it goes; one that cannot be read whole is not deleted.
DWORD RecordDeleteTree(JournalRun& run, const Change& change)
{
    ForgetKeyCache(run);
    ClearKeys(run.createdKeys);         // a key the run made may be made again after this
    DWORD root = NumberOfRoot(change.root);
    if (!root)
        return CannotKeep(run, ERROR_NOT_SUPPORTED);
    HKEY key;
    if (RegOpenKeyExW(change.root, change.path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ERROR_SUCCESS;           // the delete will say why
    RecordHead head = ChangeHead(run, RecordKind::DeleteTree, 0);
    head.root = root;
    DWORD result = AddRecord(run, head, PathParts(change.path));
    Buffer<wchar_t> relative;
    if (result == ERROR_SUCCESS)
        result = RecordTreeKey(run, key, relative);
    ReleaseItems(relative);
    RegCloseKey(key);
    return result;
}

// --- file changes ---

void FullPath(const wchar_t* path, wchar_t (&full)[MAX_PATH_CHARS])
{
    DWORD length = path ? GetFullPathNameW(path, MAX_PATH_CHARS, full, nullptr) : 0;
    if (!length || length >= MAX_PATH_CHARS)
        (void)StringCchCopyW(full, MAX_PATH_CHARS, path ? path : L"");
}

ULONGLONG FileHash(const wchar_t* full)
{
    return HashFoldedText(full, wcslen(full));
}

// Moves (or copies) the file 'full' to files\<number> of the run's folder.
DWORD SaveFile(JournalRun& run, const wchar_t* full, DWORD number, bool copies)
{
    DWORD result = FlushRecords(run);           // the record first: a move is the change itself
    wchar_t saved[MAX_PATH_CHARS];
    if (result == ERROR_SUCCESS && !run.hasSavedFolder) {
        if (!JoinPath(saved, run.folder, SAVED_FOLDER))
            return ERROR_FILENAME_EXCED_RANGE;
        result = MakeFolderUnobserved(saved);
        run.hasSavedFolder = result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS;
        result = run.hasSavedFolder ? ERROR_SUCCESS : result;
    }
    if (result != ERROR_SUCCESS)
        return result;
    if (!SavedFilePath(saved, run.folder, number))
        return ERROR_FILENAME_EXCED_RANGE;
    return copies ? CopyFileUnobserved(full, saved) : MoveFileUnobserved(full, saved);
}

// Records a file that is about to get new content: made anew, the run's own, or the old one
// kept in the run's folder (moved away, or copied for one rewritten in place).
DWORD RecordNewContent(JournalRun& run, const Change& change, const wchar_t* full, bool isThere, WORD how)
{
    if (!isThere) {
        RecordHead head = ChangeHead(run, RecordKind::CreateFile, how | OLD_ABSENT);
        DWORD result = AddRecord(run, head, PathParts(full));
        if (result != ERROR_SUCCESS)
            return CannotKeep(run, result);
        AwaitAfter(run, change, head, full);
        return ERROR_SUCCESS;
    }
    bool isOwn = HasKey(run.ownFiles, FileHash(full));
    bool copies = change.kind == ChangeKind::ReplaceFile && change.type == REPLACED_IN_PLACE;
    WORD saving = isOwn ? RUNS_OWN : copies ? SAVED_COPIED : SAVED_MOVED;
    RecordHead head = ChangeHead(run, RecordKind::ReplaceFile, how | saving);
    DWORD result = AddRecord(run, head, PathParts(full));
    if (run.isOff)
        return ERROR_SUCCESS;
    if (result == ERROR_SUCCESS && !isOwn)
        result = SaveFile(run, full, head.number, copies);
    if (result != ERROR_SUCCESS)        // an old file that cannot be kept is not replaced
        return isOwn ? CannotKeep(run, result) : result;
    AwaitAfter(run, change, head, full);
    return ERROR_SUCCESS;
}

DWORD RecordCreateFile(JournalRun& run, const Change& change)
{
    wchar_t full[MAX_PATH_CHARS];
    FullPath(change.path, full);
    return RecordNewContent(run, change, full, false, 0);
}

DWORD RecordReplaceFile(JournalRun& run, const Change& change)
{
    wchar_t full[MAX_PATH_CHARS];
    FullPath(change.path, full);
    bool isThere = GetFileAttributesW(full) != INVALID_FILE_ATTRIBUTES;
    return RecordNewContent(run, change, full, isThere, 0);
}

DWORD RecordLibraryWrite(JournalRun& run, const Change& change)
{
    wchar_t full[MAX_PATH_CHARS];
    FullPath(change.path, full);
    DWORD attributes = GetFileAttributesW(full);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_SUCCESS;                   // the library cannot write it: nothing changes
    return RecordNewContent(run, change, full, attributes != INVALID_FILE_ATTRIBUTES, BY_LIBRARY);
}

// A link over a file: the writer leaves the target's own name, a folder and a read-only
// file as they are; anything else there is replaced.
DWORD RecordHardLink(JournalRun& run, const Change& change)
{
    wchar_t full[MAX_PATH_CHARS];
    FullPath(change.path, full);
    DWORD attributes = GetFileAttributesW(full);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        FileIdentity link, target;
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
            return ERROR_SUCCESS;
        if (change.name && IdentityOfPath(full, link) && IdentityOfPath(change.name, target) &&
            SameIdentity(link, target))
            return ERROR_SUCCESS;
    }
    return RecordNewContent(run, change, full, attributes != INVALID_FILE_ATTRIBUTES, BY_LINK);
}

DWORD RecordAppend(JournalRun& run, const Change& change)
{
    wchar_t full[MAX_PATH_CHARS];
    FullPath(change.path, full);
    WIN32_FILE_ATTRIBUTE_DATA data;
    bool isThere = GetFileAttributesExW(full, GetFileExInfoStandard, &data) != FALSE;
    RecordHead head = ChangeHead(run, RecordKind::AppendFile, isThere ? 0 : OLD_ABSENT);
    head.oldSize = isThere ? (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
    head.stamp = isThere ? (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                               data.ftLastWriteTime.dwLowDateTime
                         : 0;
    DWORD result = AddRecord(run, head, PathParts(full));
    if (result != ERROR_SUCCESS)
        return CannotKeep(run, result);
    AwaitAfter(run, change, head, full);
    return ERROR_SUCCESS;
}

// A deleted file is moved into the run's folder instead (the journal makes the change);
// a file the run made itself goes for good.
DWORD RecordDeleteFile(JournalRun& run, const Change& change)
{
    wchar_t full[MAX_PATH_CHARS];
    FullPath(change.path, full);
    bool isOwn = HasKey(run.ownFiles, FileHash(full));
    RecordHead head = ChangeHead(run, RecordKind::DeleteFile, isOwn ? RUNS_OWN : SAVED_MOVED);
    DWORD result = AddRecord(run, head, PathParts(full));
    if (run.isOff || (isOwn && result == ERROR_SUCCESS))
        return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS)        // a file that cannot be kept is not deleted
        return isOwn ? CannotKeep(run, result) : result;
    result = SaveFile(run, full, head.number, false);
    return result == ERROR_SUCCESS ? CHANGE_MADE_BY_OBSERVER : result;
}

DWORD RecordCreateFolder(JournalRun& run, const Change& change)
{
    wchar_t full[MAX_PATH_CHARS];
    FullPath(change.path, full);
    if (GetFileAttributesW(full) != INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS;                   // there already: the create changes nothing
    DWORD result = AddRecord(run, ChangeHead(run, RecordKind::CreateFolder, 0), PathParts(full));
    return result == ERROR_SUCCESS ? result : CannotKeep(run, result);
}

// A record keeping the old attributes of what 'change' names ('newType' the new ones);
// nothing to keep when it is not there.
DWORD RecordOldAttributes(JournalRun& run, const Change& change, RecordKind kind, DWORD newType)
{
    wchar_t full[MAX_PATH_CHARS];
    FullPath(change.path, full);
    DWORD attributes = GetFileAttributesW(full);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS;
    RecordHead head = ChangeHead(run, kind, 0);
    head.oldType = attributes;
    head.type = newType;
    DWORD result = AddRecord(run, head, PathParts(full));
    return result == ERROR_SUCCESS ? result : CannotKeep(run, result);
}

DWORD RecordDeleteFolder(JournalRun& run, const Change& change)
{
    return RecordOldAttributes(run, change, RecordKind::DeleteFolder, 0);
}

DWORD RecordAttributes(JournalRun& run, const Change& change)
{
    return RecordOldAttributes(run, change, RecordKind::SetAttributes, change.type);
}

// What cannot be undone is recorded as such; a trial leaves it undone.
DWORD RecordAction(JournalRun& run, const Change& change)
{
    RecordHead head = ChangeHead(run, RecordKind::Action, run.isTrial ? LEFT_UNDONE : 0);
    head.type = static_cast<DWORD>(change.kind);
    head.oldType = change.type;
    DWORD result = AddRecord(run, head, PathParts(change.path, change.name));
    if (result != ERROR_SUCCESS && run.isTrial)
        return result;
    return run.isTrial ? CHANGE_MADE_BY_OBSERVER : ERROR_SUCCESS;
}

using Recorder = DWORD (*)(JournalRun& run, const Change& change);

struct RecorderRow {
    ChangeKind kind;
    Recorder record;
};

// One row per kind of change, in the order of ChangeKind.
constexpr RecorderRow RECORDERS[] = {
    {ChangeKind::CreateKey, RecordCreateKey},
    {ChangeKind::SetValue, RecordSetValue},
    {ChangeKind::DeleteValue, RecordDeleteValue},
    {ChangeKind::DeleteKeyTree, RecordDeleteTree},
    {ChangeKind::CreateFolder, RecordCreateFolder},
    {ChangeKind::CreateFile, RecordCreateFile},
    {ChangeKind::ReplaceFile, RecordReplaceFile},
    {ChangeKind::AppendToFile, RecordAppend},
    {ChangeKind::DeleteFile, RecordDeleteFile},
    {ChangeKind::DeleteFolder, RecordDeleteFolder},
    {ChangeKind::CreateHardLink, RecordHardLink},
    {ChangeKind::SetAttributes, RecordAttributes},
    {ChangeKind::WriteByLibrary, RecordLibraryWrite},
    {ChangeKind::StartProgram, RecordAction},
    {ChangeKind::EndProgram, RecordAction},
    {ChangeKind::SendInput, RecordAction},
    {ChangeKind::PowerAction, RecordAction},
    {ChangeKind::RegisterLibrary, RecordAction},
    {ChangeKind::PlaySound, RecordAction},
    {ChangeKind::DisplayOrientation, RecordAction},
};

consteval bool RecordersFollowTheKinds()
{
    for (size_t i = 0; i < ARRAYSIZE(RECORDERS); ++i)
        if (static_cast<size_t>(RECORDERS[i].kind) != i)
            return false;
    return static_cast<size_t>(ChangeKind::DisplayOrientation) + 1 == ARRAYSIZE(RECORDERS);
}
static_assert(RecordersFollowTheKinds());

// --- the observer ---

DWORD JournalBefore(void* context, const Change& change)
{
    auto& run = *static_cast<JournalRun*>(context);
    const ChangeObserver* below = run.previous;
    DWORD answer = below && below->before ? below->before(below->context, change) : ERROR_SUCCESS;
    if (answer != ERROR_SUCCESS || run.isOff || !IsInnermost(run))
        return answer;
    auto index = static_cast<size_t>(change.kind);
    answer = index < ARRAYSIZE(RECORDERS) ? RECORDERS[index].record(run, change) : ERROR_SUCCESS;
    DWORD flushed = FlushRecords(run);
    return answer == ERROR_SUCCESS && flushed != ERROR_SUCCESS ? CannotKeep(run, flushed) : answer;
}

// The file change the after completes, taken from those waiting; nullptr for none.
bool TakeOpenChange(JournalRun& run, const Change& change, OpenChange& found)
{
    for (size_t i = run.openCount; i-- > 0;) {
        if (run.open[i].kind != change.kind || run.open[i].path != change.path)
            continue;
        found = run.open[i];
        memmove(run.open + i, run.open + i + 1, (run.openCount - i - 1) * sizeof run.open[0]);
        --run.openCount;
        return true;
    }
    return false;
}

// A replacement that failed gets its old file back, so that it is left as it was.
WORD PutBackAfterFailure(JournalRun& run, const OpenChange& open)
{
    wchar_t saved[MAX_PATH_CHARS];
    if (!(open.flags & SAVED_MOVED) || !SavedFilePath(saved, run.folder, open.number))
        return 0;
    if (GetFileAttributesW(open.full) != INVALID_FILE_ATTRIBUTES)
        (void)DeleteFileUnobserved(open.full);
    return MoveFileUnobserved(saved, open.full) == ERROR_SUCCESS ? PUT_BACK : 0;
}

void JournalAfter(void* context, const Change& change, DWORD result)
{
    auto& run = *static_cast<JournalRun*>(context);
    const ChangeObserver* below = run.previous;
    if (below && below->after)
        below->after(below->context, change, result);
    OpenChange open;
    if (run.isOff || !IsInnermost(run) || !TakeOpenChange(run, change, open))
        return;
    if (open.kind == ChangeKind::CreateKey) {
        if (result != ERROR_SUCCESS)
            ClearKeys(run.createdKeys);
        return;
    }
    RecordHead head{};
    head.kind = RecordKind::After;
    head.number = open.number;
    head.type = result;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (result != ERROR_SUCCESS) {
        head.flags = PutBackAfterFailure(run, open);
    } else if (GetFileAttributesExW(open.full, GetFileExInfoStandard, &data)) {
        head.flags = FILE_THERE;
        head.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        head.stamp = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                     data.ftLastWriteTime.dwLowDateTime;
        if (open.recordKind == RecordKind::CreateFile)
            AddKey(run.ownFiles, FileHash(open.full));
    }
    (void)AddRecord(run, head, {nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0});
}

DWORD JournalProgress(void* context, ULONGLONG bytes)
{
    const ChangeObserver* below = static_cast<JournalRun*>(context)->previous;
    return below && below->progress ? below->progress(below->context, bytes) : ERROR_SUCCESS;
}

// --- beginning and ending ---

void BeginRun(const wchar_t* commandLine, bool isTrial)
{
    if (depth++ >= MAX_NESTING)
        return;
    JournalRun& run = runs[depth - 1];
    run.isTrial = isTrial;
    run.isOff = !isTrial && IsJournalTurnedOff();
    run.header = {};
    run.header.magic = JOURNAL_MAGIC;
    run.header.processId = GetCurrentProcessId();
    run.header.flags = isTrial ? RUN_TRIAL : 0;
    GetSystemTimeAsFileTime(&run.header.started);
    if (!AppendText(run.command, commandLine ? commandLine : L""))
        run.command.count = 0;
    run.createdKeys.limit = KEY_SET_LIMIT;
    run.ownFiles.limit = KEY_SET_LIMIT;
    if (run.isOff)
        return;
    run.observer = {JournalBefore, JournalAfter, JournalProgress, &run};
    run.previous = SetChangeObserver(&run.observer);
    run.isInstalled = true;
}

// Writes what is left, the header with the run's end, and takes the running flag away.
void CloseJournal(JournalRun& run)
{
    (void)FlushRecords(run);
    GetSystemTimeAsFileTime(&run.header.ended);
    run.header.flags |= RUN_CLOSED;
    run.header.changeCount = run.number;
    run.header.savedBytes = run.hasSavedFolder ? SizeOfSavedFiles(run.folder) : 0;
    OVERLAPPED start = {};
    DWORD written = 0;
    WriteFile(run.file, &run.header, sizeof run.header, &written, &start);
    CloseHandle(run.file);
    wchar_t flag[MAX_PATH_CHARS];
    if (SUCCEEDED(StringCchPrintfW(flag, MAX_PATH_CHARS, L"%s\\%s%s", run.runs, run.name, OPEN_FLAG)))
        (void)DeleteFileUnobserved(flag);
}

void EndRun(wchar_t* name)
{
    if (name)
        name[0] = 0;
    if (!depth || depth-- > MAX_NESTING)
        return;
    JournalRun& run = runs[depth];
    if (run.isInstalled)
        SetChangeObserver(run.previous);
    if (run.file)
        CloseJournal(run);
    if (name && run.hasFolder)
        (void)StringCchCopyW(name, RUN_NAME_CHARS, run.name);
    ForgetKeyCache(run);
    ClearKeys(run.createdKeys);
    ClearKeys(run.ownFiles);
    ReleaseItems(run.command);
    ReleaseItems(run.pending);
    ReleaseItems(run.value);
    ReleaseItems(run.keyPath);
    run = {};
}

} // namespace

void BeginJournaledRun(const wchar_t* commandLine)
{
    BeginRun(commandLine, false);
}

void BeginTrialRun(const wchar_t* commandLine)
{
    BeginRun(commandLine, true);
}

void EndJournaledRun()
{
    EndRun(nullptr);
}

void EndJournaledRun(wchar_t (&name)[RUN_NAME_CHARS])
{
    EndRun(name);
}
