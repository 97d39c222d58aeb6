// The runs kept: where they live, which is the newest, which did not finish, and the
// limits on how many and how much is kept.
#include "journal/journal_format.h"
#include "base/file_writer.h"
#include <cstdlib>
#include <cwchar>

namespace {

constexpr wchar_t SETTINGS_KEY[] = L"Software\\Varnolt";
constexpr size_t SHOWN_COMMAND_UNITS = 120;

struct RunEntry {
    wchar_t name[RUN_NAME_CHARS];
    bool hasFlag;
};

bool JoinFlag(wchar_t (&flag)[MAX_PATH_CHARS], const wchar_t* runs, const wchar_t* name)
{
    return SUCCEEDED(StringCchPrintfW(flag, MAX_PATH_CHARS, L"%s\\%s%s", runs, name, OPEN_FLAG));
}

bool HasFlag(const wchar_t* runs, const wchar_t* name)
{
    wchar_t flag[MAX_PATH_CHARS];
    return JoinFlag(flag, runs, name) && GetFileAttributesW(flag) != INVALID_FILE_ATTRIBUTES;
}

bool IsRunning(const RunEntry& entry)
{
    return entry.hasFlag && IsRunLive(entry.name);
}

int NewestFirst(const void* a, const void* b)
{
    return wcscmp(static_cast<const RunEntry*>(b)->name, static_cast<const RunEntry*>(a)->name);
}

// The runs in 'runs', newest first.
DWORD ListRuns(const wchar_t* runs, Buffer<RunEntry>& list)
{
    wchar_t pattern[MAX_PATH_CHARS];
    if (!JoinPath(pattern, runs, L"*"))
        return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return ERROR_SUCCESS;
    DWORD result = ERROR_SUCCESS;
    do {
        FILETIME start;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || wcslen(found.cFileName) >= RUN_NAME_CHARS ||
            !RunStartFromName(found.cFileName, start))
            continue;
        RunEntry* entry = AppendItem(list);
        if (!entry) {
            result = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        (void)CopyText(entry->name, found.cFileName);
        entry->hasFlag = HasFlag(runs, entry->name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (list.count > 1)
        qsort(list.items, list.count, sizeof(RunEntry), NewestFirst);
    return result;
}

bool ReadHeader(const wchar_t* folder, JournalHeader& header)
{
    HANDLE file = OpenJournalFile(folder);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD read = 0;
    bool isRead = ReadFile(file, &header, sizeof header, &read, nullptr) && read == sizeof header &&
                  header.magic == JOURNAL_MAGIC;
    CloseHandle(file);
    return isRead;
}

ULONGLONG SavedBytesOf(const wchar_t* folder)
{
    JournalHeader header;
    if (ReadHeader(folder, header) && (header.flags & RUN_CLOSED))
        return header.savedBytes;
    return SizeOfSavedFiles(folder);
}

ULONGLONG ReadLimit(const wchar_t* name, ULONGLONG fallback)
{
    ULONGLONG value = 0;
    DWORD size = sizeof value;
    LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, name, RRF_RT_REG_DWORD | RRF_RT_REG_QWORD, nullptr,
                                  &value, &size);
    return status == ERROR_SUCCESS ? value : fallback;
}

void RemoveRun(const wchar_t* runs, const RunEntry& entry)
{
    wchar_t path[MAX_PATH_CHARS];
    if (JoinPath(path, runs, entry.name))
        (void)DeleteTreeUnobserved(path);
    if (entry.hasFlag && JoinFlag(path, runs, entry.name))
        (void)DeleteFileUnobserved(path);
}

// "Run <name> (<command>) did not finish ..." as an entry of the log.
void AppendNotice(Buffer<wchar_t>& notice, const wchar_t* runs, const wchar_t* name)
{
    wchar_t folder[MAX_PATH_CHARS];
    JournalImage image{};
    bool hasCommand = JoinPath(folder, runs, name) && ReadJournal(folder, image) == ERROR_SUCCESS;
    size_t units = hasCommand ? image.header->commandUnits : 0;
    wchar_t text[MAX_PATH_CHARS * 2];
    (void)StringCchPrintfW(text, ARRAYSIZE(text),
                           L"The run %s (%.*s%s) did not finish: its process ended before its journal was closed.\r\n"
                           L"Varnolt.exe /undo %s undoes what it changed.\r\n\r\n",
                           name, static_cast<int>(units < SHOWN_COMMAND_UNITS ? units : SHOWN_COMMAND_UNITS),
                           hasCommand ? image.command : L"", units > SHOWN_COMMAND_UNITS ? L"..." : L"", name);
    ReleaseJournal(image);
    (void)AppendText(notice, text);
}

} // namespace

bool FindRunsFolder(wchar_t (&folder)[MAX_PATH_CHARS])
{
    wchar_t local[MAX_PATH_CHARS];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH_CHARS);
    if (!length || length >= MAX_PATH_CHARS)
        return false;
    return SUCCEEDED(StringCchPrintfW(folder, MAX_PATH_CHARS, L"%s\\Varnolt\\Runs", local));
}

DWORD MakeRunsFolder(wchar_t (&runs)[MAX_PATH_CHARS])
{
    if (!FindRunsFolder(runs))
        return ERROR_PATH_NOT_FOUND;
    wchar_t* last = wcsrchr(runs, L'\\');
    *last = 0;                                  // %LOCALAPPDATA%\Varnolt first
    DWORD result = MakeFolderUnobserved(runs);
    *last = L'\\';
    if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS)
        result = MakeFolderUnobserved(runs);
    return result == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : result;
}

void PruneOldRuns(const wchar_t* runs)
{
    ULONGLONG runLimit = ReadLimit(L"JournalRuns", DEFAULT_JOURNAL_RUNS);
    ULONGLONG byteLimit = ReadLimit(L"JournalBytes", DEFAULT_JOURNAL_BYTES);
    Buffer<RunEntry> list;
    (void)ListRuns(runs, list);
    ULONGLONG kept = 0, bytes = 0;
    bool isFull = false;
    for (size_t i = 0; i < list.count; ++i) {
        const RunEntry& entry = list.items[i];
        if (IsRunning(entry))
            continue;                           // another process's run goes on
        wchar_t folder[MAX_PATH_CHARS];
        if (!JoinPath(folder, runs, entry.name))
            continue;
        ULONGLONG saved = isFull ? 0 : SavedBytesOf(folder);
        isFull = isFull || kept + 1 >= runLimit || saved > byteLimit - bytes;
        if (isFull) {
            RemoveRun(runs, entry);
            continue;
        }
        ++kept;
        bytes += saved;
    }
    ReleaseItems(list);
}

ULONGLONG SizeOfSavedFiles(const wchar_t* folder)
{
    wchar_t pattern[MAX_PATH_CHARS];
    if (FAILED(StringCchPrintfW(pattern, MAX_PATH_CHARS, L"%s\\%s\\*", folder, SAVED_FOLDER)))
        return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    ULONGLONG total = 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            total += (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return total;
}

DWORD FindRun(const wchar_t* named, wchar_t (&folder)[MAX_PATH_CHARS])
{
    wchar_t runs[MAX_PATH_CHARS];
    if (named && wcspbrk(named, L"\\/:")) {
        DWORD length = GetFullPathNameW(named, MAX_PATH_CHARS, folder, nullptr);
        wchar_t journal[MAX_PATH_CHARS];
        bool isRun = length && length < MAX_PATH_CHARS && JoinPath(journal, folder, JOURNAL_FILE) &&
                     GetFileAttributesW(journal) != INVALID_FILE_ATTRIBUTES;
        return isRun ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    if (!FindRunsFolder(runs))
        return ERROR_PATH_NOT_FOUND;
    if (named && *named) {
        DWORD attributes = JoinPath(folder, runs, named) ? GetFileAttributesW(folder) : INVALID_FILE_ATTRIBUTES;
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS
                                                                                                 : ERROR_FILE_NOT_FOUND;
    }
    Buffer<RunEntry> list;
    DWORD result = ListRuns(runs, list);
    if (result == ERROR_SUCCESS)
        result = ERROR_FILE_NOT_FOUND;
    for (size_t i = 0; i < list.count && result == ERROR_FILE_NOT_FOUND; ++i)
        if (!IsRunning(list.items[i]) && JoinPath(folder, runs, list.items[i].name))
            result = ERROR_SUCCESS;
    ReleaseItems(list);
    return result;
}

void TakeUnfinishedRunNotice(Buffer<wchar_t>& notice)
{
    notice.count = 0;
    wchar_t runs[MAX_PATH_CHARS];
    wchar_t pattern[MAX_PATH_CHARS];
    if (!FindRunsFolder(runs) || FAILED(StringCchPrintfW(pattern, MAX_PATH_CHARS, L"%s\\*%s", runs, OPEN_FLAG)))
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        wchar_t name[RUN_NAME_CHARS];
        size_t length = wcslen(found.cFileName) - wcslen(OPEN_FLAG);
        FILETIME start;
        if (length >= RUN_NAME_CHARS || FAILED(StringCchCopyNW(name, RUN_NAME_CHARS, found.cFileName, length)) ||
            !RunStartFromName(name, start) || IsRunLive(name))
            continue;
        AppendNotice(notice, runs, name);
        wchar_t flag[MAX_PATH_CHARS];
        if (JoinFlag(flag, runs, name))
            (void)DeleteFileUnobserved(flag);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    (void)EndText(notice);
}
