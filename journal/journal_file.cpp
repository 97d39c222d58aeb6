#include "journal/journal_format.h"
#include "base/file_writer.h"
#include <cwchar>

namespace {

constexpr DWORD READ_CHUNK = 1u << 24;
constexpr DWORD FIRST_ROOT = 0x80000000;        // HKEY_CLASSES_ROOT
constexpr DWORD LAST_ROOT = 0x80000006;         // HKEY_DYN_DATA
constexpr ULONGLONG FNV_OFFSET = 14695981039346656037ull;
constexpr ULONGLONG FNV_PRIME = 1099511628211ull;
constexpr size_t FIRST_KEY_SLOTS = 64;
constexpr LONGLONG START_SLACK = 10000000;      // a second, in FILETIME units

size_t AlignRecord(size_t bytes)
{
    return (bytes + 7) & ~static_cast<size_t>(7);
}

DWORD ReadWhole(HANDLE file, Buffer<BYTE>& bytes)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return LastErrorOr(ERROR_READ_FAULT);
    if (static_cast<ULONGLONG>(size.QuadPart) >= bytes.limit)
        return ERROR_NOT_ENOUGH_MEMORY;
    auto total = static_cast<size_t>(size.QuadPart);
    DWORD result = ReserveItems(bytes, total);
    while (result == ERROR_SUCCESS && bytes.count < total) {
        size_t left = total - bytes.count;
        DWORD wanted = left < READ_CHUNK ? static_cast<DWORD>(left) : READ_CHUNK;
        DWORD read = 0;
        if (!ReadFile(file, bytes.items + bytes.count, wanted, &read, nullptr))
            return LastErrorOr(ERROR_READ_FAULT);
        if (read == 0)
            break;                  // the file grew shorter while read: what was read counts
        bytes.count += read;
    }
    return result;
}

// True when the record at 'offset' lies whole inside the journal, its parts inside it.
bool IsWholeRecord(const Buffer<BYTE>& bytes, size_t offset)
{
    if (offset + sizeof(RecordHead) > bytes.count)
        return false;
    const auto* head = reinterpret_cast<const RecordHead*>(bytes.items + offset);
    if (head->bytes < sizeof(RecordHead) || head->bytes % 8 || head->bytes > bytes.count - offset)
        return false;
    ULONGLONG parts = 2ull * head->pathUnits + 2ull * head->nameUnits + head->oldBytes + head->newBytes;
    auto kind = static_cast<WORD>(head->kind);
    return parts <= head->bytes - sizeof(RecordHead) && kind >= static_cast<WORD>(RecordKind::SetValue) &&
           kind <= static_cast<WORD>(RecordKind::After);
}

DWORD IndexRecords(JournalImage& image)
{
    size_t offset = AlignRecord(image.header->headerBytes);
    DWORD highest = 0;
    while (IsWholeRecord(image.bytes, offset)) {
        const auto* head = reinterpret_cast<const RecordHead*>(image.bytes.items + offset);
        if (head->kind == RecordKind::After) {
            if (head->number && head->number <= highest) {
                while (image.afterOf.count <= head->number)
                    if (!AppendValue(image.afterOf, static_cast<size_t>(0)))
                        return ERROR_NOT_ENOUGH_MEMORY;
                image.afterOf.items[head->number] = offset;
            }
        } else {
            if (!AppendValue(image.records, offset))
                return ERROR_NOT_ENOUGH_MEMORY;
            if (head->number > highest)
                highest = head->number;
        }
        offset += head->bytes;
    }
    return ERROR_SUCCESS;
}

ULONGLONG NonZero(ULONGLONG hash)
{
    return hash ? hash : 1;
}

size_t FindSlot(const KeySet& set, ULONGLONG key)
{
    size_t mask = set.slots.count - 1;
    size_t slot = static_cast<size_t>((key ^ (key >> 31)) * 0x9E3779B97F4A7C15ull) & mask;
    while (set.slots.items[slot] && set.slots.items[slot] != key)
        slot = (slot + 1) & mask;
    return slot;
}

bool GrowKeys(KeySet& set)
{
    size_t capacity = set.slots.count ? set.slots.count * 2 : FIRST_KEY_SLOTS;
    KeySet grown{{}, 0, set.limit};
    if (ReserveItems(grown.slots, capacity) != ERROR_SUCCESS)
        return false;
    grown.slots.count = capacity;
    memset(grown.slots.items, 0, capacity * sizeof(ULONGLONG));
    for (size_t i = 0; i < set.slots.count; ++i)
        if (ULONGLONG key = set.slots.items[i])
            grown.slots.items[FindSlot(grown, key)] = key;
    grown.count = set.count;
    ReleaseItems(set.slots);
    set = grown;
    return true;
}

unsigned ReadDigits(const wchar_t*& text, int count)
{
    unsigned value = 0;
    for (int i = 0; i < count; ++i, ++text) {
        if (*text < L'0' || *text > L'9')
            return ~0u;
        value = value * 10 + static_cast<unsigned>(*text - L'0');
    }
    return value;
}

} // namespace

HANDLE OpenJournalFile(const wchar_t* folder)
{
    wchar_t path[MAX_PATH_CHARS];
    if (!JoinPath(path, folder, JOURNAL_FILE)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

DWORD ReadJournal(const wchar_t* folder, JournalImage& image)
{
    HANDLE file = OpenJournalFile(folder);
    if (file == INVALID_HANDLE_VALUE)
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    DWORD result = ReadWhole(file, image.bytes);
    CloseHandle(file);
    if (result != ERROR_SUCCESS)
        return result;
    const auto* header = reinterpret_cast<const JournalHeader*>(image.bytes.items);
    bool isSound = image.bytes.count >= sizeof(JournalHeader) && header->magic == JOURNAL_MAGIC &&
                   header->headerBytes <= image.bytes.count &&
                   sizeof(JournalHeader) + 2ull * header->commandUnits <= header->headerBytes;
    if (!isSound)
        return ERROR_FILE_CORRUPT;
    image.header = header;
    image.command = reinterpret_cast<const wchar_t*>(header + 1);
    return IndexRecords(image);
}

void ReleaseJournal(JournalImage& image)
{
    ReleaseItems(image.bytes);
    ReleaseItems(image.records);
    ReleaseItems(image.afterOf);
    image.header = nullptr;
    image.command = nullptr;
}

RecordView ViewRecord(const JournalImage& image, size_t offset)
{
    const auto* head = reinterpret_cast<const RecordHead*>(image.bytes.items + offset);
    const auto* path = reinterpret_cast<const wchar_t*>(head + 1);
    const wchar_t* name = path + head->pathUnits;
    const auto* oldData = reinterpret_cast<const BYTE*>(name + head->nameUnits);
    return {head, path, name, oldData, oldData + head->oldBytes};
}

const RecordHead* AfterOf(const JournalImage& image, DWORD number)
{
    if (number >= image.afterOf.count || !image.afterOf.items[number])
        return nullptr;
    return reinterpret_cast<const RecordHead*>(image.bytes.items + image.afterOf.items[number]);
}

DWORD RewriteJournalHeader(const wchar_t* folder, const JournalHeader& header)
{
    wchar_t path[MAX_PATH_CHARS];
    if (!JoinPath(path, folder, JOURNAL_FILE))
        return ERROR_FILENAME_EXCED_RANGE;
    HANDLE file = CreateFileUnobserved(path, OPEN_EXISTING);
    if (!file)
        return LastErrorOr(ERROR_OPEN_FAILED);
    OVERLAPPED at = {};
    DWORD written = 0;
    BOOL isWritten = WriteFile(file, &header, sizeof header, &written, &at);
    DWORD result = isWritten && written == sizeof header ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
    CloseHandle(file);
    return result;
}

bool JoinPath(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* folder, const wchar_t* name)
{
    return SUCCEEDED(StringCchPrintfW(path, MAX_PATH_CHARS, L"%s\\%s", folder, name));
}

bool SavedFilePath(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* folder, DWORD number)
{
    return SUCCEEDED(StringCchPrintfW(path, MAX_PATH_CHARS, L"%s\\%s\\%lu", folder, SAVED_FOLDER, number));
}

HKEY RootFromNumber(DWORD number)
{
    if (number < FIRST_ROOT || number > LAST_ROOT)
        return nullptr;
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(number)));
}

DWORD NumberOfRoot(HKEY root)
{
    auto value = reinterpret_cast<LONG_PTR>(root);
    auto low = static_cast<DWORD>(value);
    return value == static_cast<LONG>(low) && low >= FIRST_ROOT && low <= LAST_ROOT ? low : 0;
}

ULONGLONG HashBytes(const void* data, size_t count)
{
    ULONGLONG hash = FNV_OFFSET;
    const auto* bytes = static_cast<const BYTE*>(data);
    for (size_t i = 0; i < count; ++i)
        hash = (hash ^ bytes[i]) * FNV_PRIME;
    return NonZero(hash);
}

ULONGLONG HashFoldedText(const wchar_t* text, size_t units, ULONGLONG seed)
{
    ULONGLONG hash = FNV_OFFSET ^ (seed * FNV_PRIME);
    for (size_t i = 0; i < units; ++i) {
        wchar_t unit = text[i] >= L'A' && text[i] <= L'Z' ? static_cast<wchar_t>(text[i] + 32) : text[i];
        hash = (hash ^ unit) * FNV_PRIME;
    }
    return NonZero(hash);
}

bool RunStartFromName(const wchar_t* name, FILETIME& start)
{
    SYSTEMTIME time = {};
    const wchar_t* p = name;
    unsigned parts[7];
    const int widths[7] = {4, 2, 2, 2, 2, 2, 3};
    const wchar_t separators[7] = {0, 0, L'-', 0, 0, L'-', L'-'};
    for (int i = 0; i < 7; ++i) {
        parts[i] = ReadDigits(p, widths[i]);
        if (parts[i] == ~0u || (separators[i] && *p++ != separators[i]))
            return false;
    }
    time.wYear = static_cast<WORD>(parts[0]);
    time.wMonth = static_cast<WORD>(parts[1]);
    time.wDay = static_cast<WORD>(parts[2]);
    time.wHour = static_cast<WORD>(parts[3]);
    time.wMinute = static_cast<WORD>(parts[4]);
    time.wSecond = static_cast<WORD>(parts[5]);
    time.wMilliseconds = static_cast<WORD>(parts[6]);
    return SystemTimeToFileTime(&time, &start) != FALSE;
}

DWORD ProcessIdFromName(const wchar_t* name)
{
    FILETIME start;
    if (!RunStartFromName(name, start))
        return 0;
    const wchar_t* id = name + 20;          // "yyyyMMdd-HHmmss-mmm-"
    return static_cast<DWORD>(wcstoul(id, nullptr, 10));
}

bool IsRunLive(const wchar_t* name)
{
    FILETIME start;
    DWORD processId = ProcessIdFromName(name);
    if (!processId || !RunStartFromName(name, start))
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId);
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    FILETIME created, exited, kernel, user;
    bool isLive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
                  GetProcessTimes(process, &created, &exited, &kernel, &user);
    if (isLive) {
        // A later process with the same id is another one.
        ULARGE_INTEGER born{{created.dwLowDateTime, created.dwHighDateTime}};
        ULARGE_INTEGER began{{start.dwLowDateTime, start.dwHighDateTime}};
        isLive = born.QuadPart <= began.QuadPart + START_SLACK;
    }
    CloseHandle(process);
    return isLive;
}

bool HasKey(const KeySet& set, ULONGLONG key)
{
    return set.slots.count && set.slots.items[FindSlot(set, key)] == key;
}

void AddKey(KeySet& set, ULONGLONG key)
{
    if (set.count >= set.limit)
        return;
    if ((set.count + 1) * 4 > set.slots.count * 3 && !GrowKeys(set))
        return;
    size_t slot = FindSlot(set, key);
    if (!set.slots.items[slot]) {
        set.slots.items[slot] = key;
        ++set.count;
    }
}

void ClearKeys(KeySet& set)
{
    ReleaseItems(set.slots);
    set.count = 0;
}

bool AppendText(Buffer<wchar_t>& text, const wchar_t* piece, size_t units)
{
    return AppendItems(text, piece, units) == ERROR_SUCCESS;
}

bool AppendText(Buffer<wchar_t>& text, const wchar_t* piece)
{
    return AppendText(text, piece, wcslen(piece));
}

bool EndText(Buffer<wchar_t>& text)
{
    if (!AppendValue(text, L'\0'))
        return false;
    --text.count;
    return true;
}

void ReleaseRunDocument(RunDocument& document)
{
    ReleaseItems(document.text);
    ReleaseItems(document.page);
}
