// Undo: a run's changes are taken back newest first, each through the writers (so that an
// undo has a journal of its own). The newest change of each value or file checks first
// that what is there now is what the run left: otherwise someone changed it since, and it
// is kept unless forced. A change that did not happen (the run ended before it) is
// skipped: what is there is still what was there before it.
#include "journal/journal_format.h"
#include "base/changes.h"
#include "base/file_writer.h"
#include "base/outward_calls.h"
#include "base/writers.h"
#include <cwchar>

namespace {

constexpr DWORD COMPARED_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr wchar_t REGISTER_EXPORT[] = L"DllRegisterServer";
constexpr wchar_t UNREGISTER_EXPORT[] = L"DllUnregisterServer";

// What a change's undo came to.
enum class Outcome { Done, NotMade, Conflict, Failed, CannotUndo, LeftByTrial, Waits };

// Which side of a thing a change touched, so that the newest change of each is told apart.
enum Facet : ULONGLONG { VALUE_FACET = 1, KEY_FACET, CONTENT_FACET, ATTRIBUTE_FACET, DISPLAY_FACET };

struct Undo {
    const JournalImage* image;
    const wchar_t* folder;
    bool force;
    bool isLastPass;            // the folders that waited for their content to go
    RunDocument* document;
    KeySet seen;                // the facets whose newest change was met
    DWORD failure;              // the first failure
    DWORD conflicts;
    Buffer<wchar_t> line;
    Buffer<wchar_t> group;
    Buffer<wchar_t> shownGroup;
    Buffer<wchar_t> keyPath;    // NUL-terminated
    Buffer<wchar_t> valueName;  // NUL-terminated
    Buffer<BYTE> present;       // a value's present data
    wchar_t path[MAX_PATH_CHARS];
};

void Say(Undo& undo, const wchar_t* text)
{
    (void)AppendText(undo.line, text);
}

// True for the first (newest) change met of this facet of a thing.
bool IsNewest(Undo& undo, Facet facet, DWORD root, const wchar_t* path, size_t pathUnits, const wchar_t* name = nullptr,
              size_t nameUnits = 0)
{
    ULONGLONG key = HashFoldedText(path, pathUnits, facet * 0x100000001ull + root);
    key = HashFoldedText(name ? name : L"", nameUnits, key);
    bool isNewest = !HasKey(undo.seen, key);
    AddKey(undo.seen, key);
    return isNewest;
}

// --- the registry ---

const wchar_t* Terminated(Buffer<wchar_t>& text, const wchar_t* units, size_t count)
{
    text.count = 0;
    if (!AppendText(text, units, count) || !EndText(text))
        return nullptr;
    return text.items;
}

const wchar_t* KeyOf(Undo& undo, const RecordView& record)
{
    return Terminated(undo.keyPath, record.path, record.head->pathUnits);
}

const wchar_t* NameOf(Undo& undo, const RecordView& record)
{
    return Terminated(undo.valueName, record.name, record.head->nameUnits);
}

// The value there now, in 'type' and undo.present: 0, ERROR_FILE_NOT_FOUND when it (or
// its key) is not there, or why it cannot be read.
LSTATUS ReadPresentValue(Undo& undo, HKEY root, const wchar_t* key, const wchar_t* name, DWORD& type)
{
    undo.present.count = 0;
    HKEY open;
    LSTATUS status = RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &open);
    if (status != ERROR_SUCCESS)
        return status;
    DWORD size = 0;
    status = RegQueryValueExW(open, name, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS && ReserveItems(undo.present, size + 2ull) != ERROR_SUCCESS)
        status = ERROR_NOT_ENOUGH_MEMORY;
    if (status == ERROR_SUCCESS) {
        size = static_cast<DWORD>(undo.present.capacity);
        status = RegQueryValueExW(open, name, nullptr, &type, undo.present.items, &size);
        undo.present.count = status == ERROR_SUCCESS ? size : 0;
    }
    RegCloseKey(open);
    return status;
}

bool IsSameValue(const Undo& undo, DWORD presentType, DWORD type, const BYTE* data, size_t size)
{
    return presentType == type && undo.present.count == size && (!size || memcmp(undo.present.items, data, size) == 0);
}

// The value as the run left it: its type, size and the hash of its data.
bool IsValueTheRunLeft(const Undo& undo, DWORD presentType, const RecordHead& head)
{
    return presentType == head.type && undo.present.count == head.size &&
           HashBytes(undo.present.items, undo.present.count) == head.stamp;
}

Outcome PutValueBack(Undo& undo, const RecordView& record, HKEY root, const wchar_t* key, const wchar_t* name)
{
    const RecordHead& head = *record.head;
    RegistryKey target{root, key, nullptr};
    DWORD result = (head.flags & OLD_ABSENT) ? DeleteRegistryValue(target, name)
                                             : SetRegistryValue(target, name, head.oldType, record.oldData, head.oldBytes);
    if (result == ERROR_FILE_NOT_FOUND && (head.flags & OLD_ABSENT))
        return Outcome::Done;                   // gone already (a forced undo)
    if (result != ERROR_SUCCESS && !undo.failure)
        undo.failure = result;
    return result == ERROR_SUCCESS ? Outcome::Done : Outcome::Failed;
}

Outcome UndoValueChange(Undo& undo, const RecordView& record)
{
    const RecordHead& head = *record.head;
    HKEY root = RootFromNumber(head.root);
    const wchar_t* key = KeyOf(undo, record);
    const wchar_t* name = NameOf(undo, record);
    if (!root || !key || !name)
        return Outcome::Failed;
    bool isNewest = IsNewest(undo, VALUE_FACET, head.root, record.path, head.pathUnits, record.name, head.nameUnits);
    DWORD type = 0;
    LSTATUS status = ReadPresentValue(undo, root, key, name, type);
    bool isAbsent = status == ERROR_FILE_NOT_FOUND;
    if (status != ERROR_SUCCESS && !isAbsent)
        return Outcome::Failed;
    bool isAsBefore = (head.flags & OLD_ABSENT) ? isAbsent
                                                : !isAbsent && IsSameValue(undo, type, head.oldType, record.oldData,
                                                                           head.oldBytes);
    if (isAsBefore)
        return Outcome::NotMade;
    bool isAsLeft = head.kind == RecordKind::SetValue ? !isAbsent && IsValueTheRunLeft(undo, type, head) : isAbsent;
    if (isNewest && !isAsLeft && !undo.force)
        return Outcome::Conflict;
    return PutValueBack(undo, record, root, key, name);
}

bool IsEmptyKey(HKEY root, const wchar_t* key, bool& isThere)
{
    HKEY open;
    isThere = RegOpenKeyExW(root, key, 0, KEY_READ, &open) == ERROR_SUCCESS;
    if (!isThere)
        return false;
    DWORD subkeys = 0, values = 0;
    bool isEmpty = RegQueryInfoKeyW(open, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                    nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                   !subkeys && !values;
    RegCloseKey(open);
    return isEmpty;
}

// Deletes the key the run made and those above it it made too, deepest first, each only
// while it is empty (unless forced).
Outcome UndoCreateKey(Undo& undo, const RecordView& record)
{
    const RecordHead& head = *record.head;
    HKEY root = RootFromNumber(head.root);
    const wchar_t* key = KeyOf(undo, record);
    if (!root || !key)
        return Outcome::Failed;
    Outcome outcome = Outcome::NotMade;
    auto existing = static_cast<size_t>(head.oldSize);
    for (size_t level = head.pathUnits; level > existing;) {
        undo.keyPath.items[level] = 0;
        bool isThere = false;
        bool isEmpty = IsEmptyKey(root, undo.keyPath.items, isThere);
        if (isThere && !isEmpty && !undo.force)
            return Outcome::Conflict;
        if (isThere) {
            DWORD result = DeleteRegistryTree(root, undo.keyPath.items);
            if (result != ERROR_SUCCESS) {
                undo.failure = undo.failure ? undo.failure : result;
                return Outcome::Failed;
            }
            outcome = Outcome::Done;
        }
        while (level > existing && key[level - 1] != L'\\')
            --level;
        while (level > existing && key[level - 1] == L'\\')
            --level;
    }
    return outcome;
}

// Puts back every key and value of a deleted tree that is missing; a value there with
// other data was set since, and is kept unless forced.
Outcome UndoDeleteTree(Undo& undo, size_t index)
{
    const JournalImage& image = *undo.image;
    RecordView tree = ViewRecord(image, image.records.items[index]);
    HKEY root = RootFromNumber(tree.head->root);
    if (!root)
        return Outcome::Failed;
    Outcome outcome = Outcome::NotMade;
    bool hasConflict = false;
    for (size_t i = index + 1; i < image.records.count; ++i) {
        RecordView part = ViewRecord(image, image.records.items[i]);
        if (part.head->kind != RecordKind::TreeKey && part.head->kind != RecordKind::TreeValue)
            break;
        undo.keyPath.count = 0;
        bool isNamed = AppendText(undo.keyPath, tree.path, tree.head->pathUnits) &&
                       (!part.head->pathUnits ||
                        (AppendText(undo.keyPath, L"\\") &&
                         AppendText(undo.keyPath, part.path, part.head->pathUnits))) &&
                       EndText(undo.keyPath);
        const wchar_t* name = NameOf(undo, part);
        if (!isNamed || !name)
            return Outcome::Failed;
        DWORD result = ERROR_SUCCESS;
        if (part.head->kind == RecordKind::TreeKey) {
            HKEY key = nullptr;
            bool isThere = false;
            IsEmptyKey(root, undo.keyPath.items, isThere);
            if (!isThere) {
                result = CreateRegistryKey(root, undo.keyPath.items, KEY_READ, &key);
                outcome = result == ERROR_SUCCESS ? Outcome::Done : Outcome::Failed;
            }
            if (key)
                RegCloseKey(key);
        } else {
            DWORD type = 0;
            LSTATUS status = ReadPresentValue(undo, root, undo.keyPath.items, name, type);
            bool isSame = status == ERROR_SUCCESS &&
                          IsSameValue(undo, type, part.head->oldType, part.oldData, part.head->oldBytes);
            if (status == ERROR_SUCCESS && !isSame && !undo.force) {
                hasConflict = true;
            } else if (!isSame) {
                result = SetRegistryValue({root, undo.keyPath.items, nullptr}, name, part.head->oldType, part.oldData,
                                          part.head->oldBytes);
                outcome = Outcome::Done;
            }
        }
        if (result != ERROR_SUCCESS) {
            undo.failure = undo.failure ? undo.failure : result;
            return Outcome::Failed;
        }
    }
    return hasConflict ? Outcome::Conflict : outcome;
}

// --- files ---

const wchar_t* PathOf(Undo& undo, const RecordView& record)
{
    if (FAILED(StringCchCopyNW(undo.path, MAX_PATH_CHARS, record.path, record.head->pathUnits)))
        return nullptr;
    return undo.path;
}

// The file as the run left it: its size and last write time.
bool IsFileTheRunLeft(const wchar_t* path, const RecordHead* after)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!after || !(after->flags & FILE_THERE) || !GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return false;
    ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    ULONGLONG stamp = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
    return size == after->size && stamp == after->stamp;
}

// A conflict only where the run's change is known to have gone through and left something else.
bool IsChangedSince(const Undo& undo, bool isNewest, const wchar_t* path, const RecordHead* after)
{
    return isNewest && !undo.force && after && after->type == ERROR_SUCCESS && !IsFileTheRunLeft(path, after);
}

Outcome Result(Undo& undo, DWORD result)
{
    if (result == ERROR_SUCCESS)
        return Outcome::Done;
    if (!undo.failure)
        undo.failure = result;
    return Outcome::Failed;
}

bool IsThere(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

DWORD PutBack(const wchar_t* saved, const wchar_t* path)
{
    DWORD result = PutFileBack(saved, path);
    if (result != ERROR_PATH_NOT_FOUND)
        return result;
    wchar_t folders[MAX_PATH_CHARS];
    if (CopyText(folders, path) != ERROR_SUCCESS)
        return result;
    CreatePathDirectories(folders);
    return PutFileBack(saved, path);
}

Outcome UndoCreateFile(Undo& undo, const RecordView& record, const wchar_t* path, bool isNewest)
{
    const RecordHead* after = AfterOf(*undo.image, record.head->number);
    if (!IsThere(path) || (after && after->type != ERROR_SUCCESS))
        return Outcome::NotMade;
    if (IsChangedSince(undo, isNewest, path, after))
        return Outcome::Conflict;
    DWORD attributes = GetFileAttributesW(path);
    DWORD result = ERROR_SUCCESS;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        result = SetAttributesOf(path, attributes & ~FILE_ATTRIBUTE_READONLY);    // a file put back read-only
    return Result(undo, result == ERROR_SUCCESS ? DeleteOneFile(path) : result);
}

Outcome UndoReplaceFile(Undo& undo, const RecordView& record, const wchar_t* path, bool isNewest)
{
    const RecordHead& head = *record.head;
    const RecordHead* after = AfterOf(*undo.image, head.number);
    if (IsChangedSince(undo, isNewest, path, after))
        return Outcome::Conflict;
    wchar_t saved[MAX_PATH_CHARS];
    if ((head.flags & RUNS_OWN) || !SavedFilePath(saved, undo.folder, head.number) || !IsThere(saved))
        return Outcome::NotMade;                // the run's own file goes with its making
    return Result(undo, PutBack(saved, path));
}

Outcome UndoAppend(Undo& undo, const RecordView& record, const wchar_t* path, bool isNewest)
{
    const RecordHead& head = *record.head;
    if (head.flags & OLD_ABSENT)
        return UndoCreateFile(undo, record, path, isNewest);
    const RecordHead* after = AfterOf(*undo.image, head.number);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return isNewest && !undo.force ? Outcome::Conflict : Outcome::NotMade;
    if (((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == head.oldSize)
        return Outcome::NotMade;
    if (IsChangedSince(undo, isNewest, path, after))
        return Outcome::Conflict;
    FILETIME lastWrite{static_cast<DWORD>(head.stamp), static_cast<DWORD>(head.stamp >> 32)};
    return Result(undo, CutFileTo(path, head.oldSize, lastWrite));
}

Outcome UndoDeleteFile(Undo& undo, const RecordView& record, const wchar_t* path, bool isNewest)
{
    wchar_t saved[MAX_PATH_CHARS];
    if ((record.head->flags & RUNS_OWN) || !SavedFilePath(saved, undo.folder, record.head->number) || !IsThere(saved))
        return Outcome::NotMade;
    if (IsThere(path) && isNewest && !undo.force)
        return Outcome::Conflict;
    return Result(undo, PutBack(saved, path));
}

bool IsEmptyFolder(const wchar_t* path)
{
    wchar_t pattern[MAX_PATH_CHARS];
    if (!JoinPath(pattern, path, L"*"))
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool isEmpty = true;
    do
        isEmpty = wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0;
    while (isEmpty && FindNextFileW(search, &found));
    FindClose(search);
    return isEmpty;
}

// A folder is made before the file that needed it is reported, so a folder the run made
// may still hold the run's files when its turn comes: it waits until the end ('isLast').
Outcome UndoCreateFolder(Undo& undo, const wchar_t* path, bool isLast)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Outcome::NotMade;
    if (IsEmptyFolder(path))
        return Result(undo, RemoveEmptyFolder(path));
    if (!isLast)
        return Outcome::Waits;
    if (!undo.force)
        return Outcome::Conflict;
    wchar_t names[MAX_PATH_CHARS + 1] = {};
    if (CopyText(names, path) != ERROR_SUCCESS)
        return Result(undo, ERROR_FILENAME_EXCED_RANGE);
    return Result(undo, DeleteNamedFiles(names));
}

Outcome UndoDeleteFolder(Undo& undo, const RecordView& record, const wchar_t* path)
{
    if (IsThere(path))
        return Outcome::NotMade;
    wchar_t folder[MAX_PATH_CHARS];
    if (CopyText(folder, path) != ERROR_SUCCESS)
        return Result(undo, ERROR_FILENAME_EXCED_RANGE);
    DWORD result = CreateFolderAndParents(folder);
    DWORD attributes = record.head->oldType & ~FILE_ATTRIBUTE_DIRECTORY;
    if (result == ERROR_SUCCESS && (attributes & COMPARED_ATTRIBUTES))
        result = SetAttributesOf(path, attributes);
    return Result(undo, result);
}

Outcome UndoAttributes(Undo& undo, const RecordView& record, const wchar_t* path, bool isNewest)
{
    const RecordHead& head = *record.head;
    DWORD present = GetFileAttributesW(path);
    if (present == INVALID_FILE_ATTRIBUTES)
        return isNewest && !undo.force ? Outcome::Conflict : Outcome::NotMade;
    if ((present & COMPARED_ATTRIBUTES) == (head.oldType & COMPARED_ATTRIBUTES))
        return Outcome::NotMade;
    if (isNewest && !undo.force && (present & COMPARED_ATTRIBUTES) != (head.type & COMPARED_ATTRIBUTES))
        return Outcome::Conflict;
    return Result(undo, SetAttributesOf(path, head.oldType & ~FILE_ATTRIBUTE_DIRECTORY));
}

Outcome UndoFileChange(Undo& undo, const RecordView& record)
{
    const wchar_t* path = PathOf(undo, record);
    if (!path)
        return Outcome::Failed;
    const RecordHead& head = *record.head;
    Facet facet = head.kind == RecordKind::SetAttributes ? ATTRIBUTE_FACET : CONTENT_FACET;
    bool isNewest = IsNewest(undo, facet, 0, record.path, head.pathUnits);
    switch (head.kind) {
    case RecordKind::CreateFolder: return UndoCreateFolder(undo, path, undo.isLastPass);
    case RecordKind::DeleteFolder: return UndoDeleteFolder(undo, record, path);
    case RecordKind::CreateFile: return UndoCreateFile(undo, record, path, isNewest);
    case RecordKind::ReplaceFile: return UndoReplaceFile(undo, record, path, isNewest);
    case RecordKind::AppendFile: return UndoAppend(undo, record, path, isNewest);
    case RecordKind::DeleteFile: return UndoDeleteFile(undo, record, path, isNewest);
    case RecordKind::SetAttributes: return UndoAttributes(undo, record, path, isNewest);
    default: return Outcome::CannotUndo;
    }
}

// --- actions ---

// The display goes back to the orientation it had, unless it was turned since.
Outcome UndoDisplay(Undo& undo, const RecordView& record)
{
    bool isNewest = IsNewest(undo, DISPLAY_FACET, 0, L"", 0);
    DEVMODEW mode = {};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_DISPLAYORIENTATION;
    LONG status = outwardCalls.changeDisplaySettings(nullptr, &mode, nullptr, CDS_TEST, nullptr);
    if (status != DISP_CHANGE_SUCCESSFUL)
        return Result(undo, static_cast<DWORD>(status));
    wchar_t turned[16];
    (void)StringCchCopyNW(turned, ARRAYSIZE(turned), record.path, record.head->pathUnits);
    if (mode.dmDisplayOrientation == record.head->oldType)
        return Outcome::NotMade;
    if (isNewest && !undo.force && mode.dmDisplayOrientation != wcstoul(turned, nullptr, 10))
        return Outcome::Conflict;
    wchar_t orientation[16];
    (void)StringCchPrintfW(orientation, ARRAYSIZE(orientation), L"%lu", record.head->oldType);
    DWORD answer = AnnounceAction(ChangeKind::DisplayOrientation, orientation, nullptr, mode.dmDisplayOrientation);
    if (answer != ERROR_SUCCESS)
        return Result(undo, ResultOfUntakenAction(answer));
    mode.dmDisplayOrientation = record.head->oldType;
    status = outwardCalls.changeDisplaySettings(nullptr, &mode, nullptr, CDS_RESET, nullptr);
    return Result(undo, static_cast<DWORD>(status));
}

// A library's registration is taken back by its own unregistration, if it is still there.
Outcome UndoRegistration(Undo& undo, const RecordView& record)
{
    wchar_t library[MAX_PATH_CHARS];
    (void)StringCchCopyNW(library, MAX_PATH_CHARS, record.path, record.head->pathUnits);
    bool isBare = !wcspbrk(library, L"\\/:");
    if (!isBare && !IsThere(library)) {
        Say(undo, L"the library is gone");
        return Outcome::CannotUndo;
    }
    DWORD answer = AnnounceAction(ChangeKind::RegisterLibrary, library, UNREGISTER_EXPORT);
    if (answer != ERROR_SUCCESS)
        return Result(undo, ResultOfUntakenAction(answer));
    HMODULE module = LoadLibraryExW(library, nullptr,
                                    isBare ? LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                                           : LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    FARPROC address = module ? GetProcAddress(module, "DllUnregisterServer") : nullptr;
    DWORD result = static_cast<DWORD>(E_NOINTERFACE);
    if (address)
        result = reinterpret_cast<DWORD(WINAPI*)()>(reinterpret_cast<void (*)()>(address))();
    if (module)
        FreeLibrary(module);
    wchar_t said[64];
    (void)StringCchPrintfW(said, ARRAYSIZE(said), L"called %s, %08lX", UNREGISTER_EXPORT, result);
    Say(undo, said);
    return Result(undo, result);
}

Outcome UndoAction(Undo& undo, const RecordView& record)
{
    const RecordHead& head = *record.head;
    auto kind = static_cast<ChangeKind>(head.type);
    if (head.flags & LEFT_UNDONE)
        return Outcome::LeftByTrial;
    if (kind == ChangeKind::DisplayOrientation)
        return UndoDisplay(undo, record);
    bool isRegistration = kind == ChangeKind::RegisterLibrary && head.nameUnits == wcslen(REGISTER_EXPORT) &&
                          CompareStringOrdinal(record.name, static_cast<int>(head.nameUnits), REGISTER_EXPORT, -1,
                                               TRUE) == CSTR_EQUAL;
    return isRegistration ? UndoRegistration(undo, record) : Outcome::CannotUndo;
}

// --- the whole run ---

Outcome UndoChange(Undo& undo, size_t index)
{
    RecordView record = ViewRecord(*undo.image, undo.image->records.items[index]);
    switch (record.head->kind) {
    case RecordKind::SetValue:
    case RecordKind::DeleteValue: return UndoValueChange(undo, record);
    case RecordKind::CreateKey: return UndoCreateKey(undo, record);
    case RecordKind::DeleteTree: return UndoDeleteTree(undo, index);
    case RecordKind::Action: return UndoAction(undo, record);
    default: return UndoFileChange(undo, record);
    }
}

constexpr const wchar_t* OUTCOME_WORDS[] = {
    L"undone: ",
    L"not made by the run, nothing to undo: ",
    L"changed after the run, left as it is: ",
    L"could not be undone: ",
    L"cannot be undone: ",
    L"left undone by the trial: ",
};
static_assert(ARRAYSIZE(OUTCOME_WORDS) == static_cast<size_t>(Outcome::Waits));

// The change as the report tells it, its outcome before it and what the undo adds after it.
void TellOutcome(Undo& undo, size_t index, const Buffer<wchar_t>& change, Outcome outcome)
{
    if (outcome == Outcome::Conflict)
        ++undo.conflicts;
    RecordView record = ViewRecord(*undo.image, undo.image->records.items[index]);
    DescribeGroup(undo.group, record);
    bool isNewGroup = undo.group.count != undo.shownGroup.count ||
                      (undo.group.count && wmemcmp(undo.group.items, undo.shownGroup.items, undo.group.count) != 0);
    if (isNewGroup || !undo.shownGroup.items) {
        AddHeading(*undo.document, undo.group.items, undo.group.count);
        undo.shownGroup.count = 0;
        (void)AppendText(undo.shownGroup, undo.group.items, undo.group.count);
        (void)EndText(undo.shownGroup);
    }
    Buffer<wchar_t> item;
    (void)AppendText(item, OUTCOME_WORDS[static_cast<int>(outcome)]);
    (void)AppendText(item, change.items, change.count);
    if (undo.line.count) {
        (void)AppendText(item, L" (");
        (void)AppendText(item, undo.line.items, undo.line.count);
        (void)AppendText(item, L")");
    }
    bool isMarked = outcome == Outcome::Conflict || outcome == Outcome::Failed || outcome == Outcome::CannotUndo;
    AddItem(*undo.document, item.items, item.count, isMarked);
    ReleaseItems(item);
}

void UndoOneChange(Undo& undo, size_t index, Buffer<wchar_t>& change, Buffer<size_t>& waiting)
{
    bool isMarked = false;
    change.count = 0;
    if (!DescribeChange(change, *undo.image, index, undo.folder, isMarked))
        return;                 // a part of another change (a deleted tree's keys)
    undo.line.count = 0;
    Outcome outcome = UndoChange(undo, index);
    if (outcome == Outcome::Waits && AppendValue(waiting, index))
        return;
    TellOutcome(undo, index, change, outcome == Outcome::Waits ? Outcome::Failed : outcome);
}

// Newest first; then the folders that still held something, deepest (newest) first.
void UndoEveryChange(Undo& undo)
{
    Buffer<wchar_t> change;
    Buffer<size_t> waiting;
    for (size_t index = undo.image->records.count; index-- > 0;)
        UndoOneChange(undo, index, change, waiting);
    undo.isLastPass = true;
    for (size_t i = 0; i < waiting.count; ++i)
        UndoOneChange(undo, waiting.items[i], change, waiting);
    ReleaseItems(change);
    ReleaseItems(waiting);
}

void TellSummary(Undo& undo, const wchar_t* name, const wchar_t* undoRun, bool journaled)
{
    wchar_t text[MAX_PATH_CHARS * 2];
    if (undo.failure)
        (void)StringCchPrintfW(text, ARRAYSIZE(text), L"Not everything could be put back (%08lX).", undo.failure);
    else if (undo.conflicts)
        (void)StringCchPrintfW(text, ARRAYSIZE(text),
                               L"%lu changes made after the run were left as they are: Varnolt.exe /undo /force %s "
                               L"puts them back as well.",
                               undo.conflicts, name);
    else
        (void)StringCchCopyW(text, ARRAYSIZE(text), L"Everything the run changed is as it was before the run.");
    AddParagraph(*undo.document, text);
    if (journaled && *undoRun) {
        (void)StringCchPrintfW(text, ARRAYSIZE(text),
                               L"This undo is the run %s: Varnolt.exe /undo %s takes it back.", undoRun, undoRun);
        AddParagraph(*undo.document, text);
    }
}

void ReleaseUndo(Undo& undo)
{
    ClearKeys(undo.seen);
    ReleaseItems(undo.line);
    ReleaseItems(undo.group);
    ReleaseItems(undo.shownGroup);
    ReleaseItems(undo.keyPath);
    ReleaseItems(undo.valueName);
    ReleaseItems(undo.present);
}

} // namespace

DWORD UndoRun(const wchar_t* folder, bool force, bool journaled, RunDocument& document)
{
    JournalImage image{};
    DWORD result = ReadJournal(folder, image);
    if (result != ERROR_SUCCESS)
        return result;
    const wchar_t* slash = wcsrchr(folder, L'\\');
    const wchar_t* name = slash ? slash + 1 : folder;
    JournalHeader header = *image.header;
    if (!(header.flags & RUN_CLOSED) && IsRunLive(name)) {
        ReleaseJournal(image);
        return ERROR_BUSY;
    }
    wchar_t title[MAX_PATH_CHARS];
    (void)StringCchPrintfW(title, MAX_PATH_CHARS, L"Undo of the run %s", name);
    StartDocument(document, title, wcslen(title));
    Undo undo{};
    undo.image = &image;
    undo.folder = folder;
    undo.force = force;
    undo.document = &document;
    undo.seen.limit = ~size_t{0};
    wchar_t command[MAX_PATH_CHARS];
    (void)StringCchPrintfW(command, MAX_PATH_CHARS, L"/undo %s%s", force ? L"/force " : L"", name);
    if (journaled)
        BeginJournaledRun(command);
    UndoEveryChange(undo);
    wchar_t undoRun[RUN_NAME_CHARS] = L"";
    if (journaled)
        EndJournaledRun(undoRun);
    TellSummary(undo, name, undoRun, journaled);
    header.flags |= RUN_UNDONE;
    (void)StringCchCopyW(header.undoneBy, RUN_NAME_CHARS, *undoRun ? undoRun : L"an undo without a journal");
    (void)RewriteJournalHeader(folder, header);
    result = undo.failure ? undo.failure : undo.conflicts ? RESULT_UNDO_CONFLICT : ERROR_SUCCESS;
    ReleaseUndo(undo);
    ReleaseJournal(image);
    DWORD ended = EndDocument(document);
    return result != ERROR_SUCCESS ? result : ended;
}
