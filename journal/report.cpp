// The report of a run: its changes in order, each with before and after, grouped under
// the key or folder they touch, written as text and as an HTML page at once.
#include "journal/journal_format.h"
#include "base/changes.h"
#include "base/file_writer.h"
#include <cwchar>

namespace {

constexpr size_t SHOWN_TEXT_UNITS = 40;
constexpr size_t SHOWN_BYTES = 16;

struct TypeName {
    DWORD type;
    const wchar_t* name;
};

constexpr TypeName TYPE_NAMES[] = {
    {REG_NONE, L"REG_NONE"},           {REG_SZ, L"REG_SZ"},
    {REG_EXPAND_SZ, L"REG_EXPAND_SZ"}, {REG_BINARY, L"REG_BINARY"},
    {REG_DWORD, L"REG_DWORD"},         {REG_DWORD_BIG_ENDIAN, L"REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, L"REG_LINK"},           {REG_MULTI_SZ, L"REG_MULTI_SZ"},
    {REG_QWORD, L"REG_QWORD"},
};

// What each action is called in a report, done and left undone by a trial.
struct ActionWords {
    ChangeKind kind;
    const wchar_t* done;
    const wchar_t* trial;
};

constexpr ActionWords ACTION_WORDS[] = {
    {ChangeKind::StartProgram, L"started", L"would start"},
    {ChangeKind::EndProgram, L"ended", L"would end"},
    {ChangeKind::SendInput, L"sent to", L"would send to"},
    {ChangeKind::PowerAction, L"power action", L"would take the power action"},
    {ChangeKind::RegisterLibrary, L"called the library", L"would call the library"},
    {ChangeKind::PlaySound, L"played", L"would play"},
    {ChangeKind::DisplayOrientation, L"turned the display to", L"would turn the display to"},
};

void Append(Buffer<wchar_t>& line, const wchar_t* text)
{
    (void)AppendText(line, text);
}

void AppendUnits(Buffer<wchar_t>& line, const wchar_t* text, size_t units)
{
    (void)AppendText(line, text, units);
}

template <typename... Values>
void AppendFormat(Buffer<wchar_t>& line, const wchar_t* format, Values... values)
{
    wchar_t piece[MAX_PATH_CHARS];
    if (SUCCEEDED(StringCchPrintfW(piece, MAX_PATH_CHARS, format, values...)))
        Append(line, piece);
}

const wchar_t* NameOfType(DWORD type)
{
    for (const auto& row : TYPE_NAMES)
        if (row.type == type)
            return row.name;
    return nullptr;
}

// A value as "REG_SZ "text"", "REG_DWORD 0x00000005 (5)" or "REG_BINARY 01 02 ...", cut
// short; 'shown' bytes of 'size' are at hand.
void AppendValue(Buffer<wchar_t>& line, DWORD type, const BYTE* data, DWORD shown, ULONGLONG size)
{
    if (const wchar_t* name = NameOfType(type))
        AppendFormat(line, L"%s ", name);
    else
        AppendFormat(line, L"type %lu ", type);
    if ((type == REG_DWORD && size == 4 && shown >= 4) || (type == REG_QWORD && size == 8 && shown >= 8)) {
        ULONGLONG number = 0;
        memcpy(&number, data, static_cast<size_t>(size));
        AppendFormat(line, size == 4 ? L"0x%08llx (%llu)" : L"0x%016llx (%llu)", number, number);
        return;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        const auto* text = reinterpret_cast<const wchar_t*>(data);
        size_t units = shown / 2;
        while (units && !text[units - 1])
            --units;
        bool isCut = units > SHOWN_TEXT_UNITS || size > shown;
        Append(line, L"\"");
        for (size_t i = 0; i < units && i < SHOWN_TEXT_UNITS; ++i)
            AppendUnits(line, text[i] ? &text[i] : L"|", 1);
        Append(line, isCut ? L"...\"" : L"\"");
        return;
    }
    for (DWORD i = 0; i < shown && i < SHOWN_BYTES; ++i)
        AppendFormat(line, i ? L" %02x" : L"%02x", data[i]);
    AppendFormat(line, size > SHOWN_BYTES || size > shown ? L" ... (%llu bytes)" : L" (%llu bytes)", size);
}

void AppendValueName(Buffer<wchar_t>& line, const RecordView& record)
{
    if (!record.head->nameUnits) {
        Append(line, L"(default)");
        return;
    }
    Append(line, L"\"");
    AppendUnits(line, record.name, record.head->nameUnits);
    Append(line, L"\"");
}

void AppendTime(Buffer<wchar_t>& line, ULONGLONG stamp)
{
    FILETIME utc{static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)}, local;
    SYSTEMTIME t;
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &t))
        AppendFormat(line, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

void AppendFileState(Buffer<wchar_t>& line, ULONGLONG size, ULONGLONG stamp)
{
    AppendFormat(line, L"%llu bytes, ", size);
    AppendTime(line, stamp);
}

// The file as the run left it, from the change's After record.
void AppendAfter(Buffer<wchar_t>& line, const RecordHead* after)
{
    if (!after)
        Append(line, L"(not known: the run ended before the change did)");
    else if (after->type != ERROR_SUCCESS)
        AppendFormat(line, L"(failed with %08lX; left as it was)", after->type);
    else if (after->flags & FILE_THERE)
        AppendFileState(line, after->size, after->stamp);
    else
        Append(line, L"(gone)");
}

// The old file as kept in the run's folder.
void AppendSaved(Buffer<wchar_t>& line, const wchar_t* folder, const RecordHead& head)
{
    if (head.flags & RUNS_OWN) {
        Append(line, L"a file the run made");
        return;
    }
    wchar_t saved[MAX_PATH_CHARS];
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (SavedFilePath(saved, folder, head.number) && GetFileAttributesExW(saved, GetFileExInfoStandard, &data)) {
        ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        AppendFileState(line, size, (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                        data.ftLastWriteTime.dwLowDateTime);
    } else {
        Append(line, L"(no longer kept in the run's folder)");
    }
}

void AppendAttributes(Buffer<wchar_t>& line, DWORD attributes)
{
    const wchar_t letters[] = {attributes & FILE_ATTRIBUTE_READONLY ? L'R' : L'-',
                               attributes & FILE_ATTRIBUTE_HIDDEN ? L'H' : L'-',
                               attributes & FILE_ATTRIBUTE_SYSTEM ? L'S' : L'-',
                               attributes & FILE_ATTRIBUTE_ARCHIVE ? L'A' : L'-', 0};
    Append(line, letters);
}

// The last part of a path and the folder before it.
const wchar_t* LastPart(const wchar_t* path, size_t units, size_t& folderUnits)
{
    folderUnits = units;
    while (folderUnits && path[folderUnits - 1] != L'\\')
        --folderUnits;
    return path + folderUnits;
}

void AppendFileName(Buffer<wchar_t>& line, const RecordView& record)
{
    size_t folder;
    const wchar_t* name = LastPart(record.path, record.head->pathUnits, folder);
    AppendUnits(line, name, record.head->pathUnits - folder);
}

void DescribeAction(Buffer<wchar_t>& line, const RecordView& record)
{
    auto kind = static_cast<ChangeKind>(record.head->type);
    bool isTrial = record.head->flags & LEFT_UNDONE;
    for (const auto& row : ACTION_WORDS)
        if (row.kind == kind)
            Append(line, isTrial ? row.trial : row.done);
    Append(line, L" ");
    AppendUnits(line, record.path, record.head->pathUnits);
    if (record.head->nameUnits) {
        Append(line, L" ");
        AppendUnits(line, record.name, record.head->nameUnits);
    }
    if (kind == ChangeKind::DisplayOrientation)
        AppendFormat(line, L" (from %lu)", record.head->oldType);
}

// Whether undo can take the action back: the display's orientation, and a library's
// registration through its own unregistration.
bool IsUndoableAction(const RecordView& record)
{
    auto kind = static_cast<ChangeKind>(record.head->type);
    if (kind == ChangeKind::DisplayOrientation)
        return true;
    return kind == ChangeKind::RegisterLibrary && record.head->nameUnits == 17 &&
           CompareStringOrdinal(record.name, 17, L"DllRegisterServer", 17, TRUE) == CSTR_EQUAL;
}

struct TreeCount {
    DWORD keys;
    DWORD values;
};

TreeCount CountTree(const JournalImage& image, size_t index)
{
    TreeCount count{0, 0};
    for (size_t i = index + 1; i < image.records.count; ++i) {
        const RecordHead* head = ViewRecord(image, image.records.items[i]).head;
        if (head->kind != RecordKind::TreeKey && head->kind != RecordKind::TreeValue)
            break;
        count.keys += head->kind == RecordKind::TreeKey && head->pathUnits;     // the key itself aside
        count.values += head->kind == RecordKind::TreeValue;
    }
    return count;
}

} // namespace

bool DescribeChange(Buffer<wchar_t>& line, const JournalImage& image, size_t index, const wchar_t* folder,
                    bool& isMarked)
{
    RecordView record = ViewRecord(image, image.records.items[index]);
    const RecordHead& head = *record.head;
    const RecordHead* after = AfterOf(image, head.number);
    isMarked = false;
    switch (head.kind) {
    case RecordKind::SetValue:
        Append(line, L"set ");
        AppendValueName(line, record);
        Append(line, L": ");
        if (head.flags & OLD_ABSENT)
            Append(line, head.flags & OLD_UNREAD ? L"(new key)" : L"(none)");
        else
            AppendValue(line, head.oldType, record.oldData, head.oldBytes, head.oldBytes);
        Append(line, L" -> ");
        AppendValue(line, head.type, record.newData, head.newBytes, head.size);
        return true;
    case RecordKind::DeleteValue:
        Append(line, L"deleted value ");
        AppendValueName(line, record);
        Append(line, L": ");
        if (head.flags & OLD_UNREAD)
            Append(line, L"(in a key the run made)");
        else
            AppendValue(line, head.oldType, record.oldData, head.oldBytes, head.oldBytes);
        return true;
    case RecordKind::CreateKey:
        Append(line, L"created the key");
        if (head.oldSize + 1 < head.pathUnits &&
            wmemchr(record.path + head.oldSize + 1, L'\\', static_cast<size_t>(head.pathUnits - head.oldSize - 1))) {
            Append(line, L" and the keys above it below ");
            AppendUnits(line, record.path, static_cast<size_t>(head.oldSize));
        }
        return true;
    case RecordKind::DeleteTree: {
        TreeCount count = CountTree(image, index);
        AppendFormat(line, L"deleted the key (keys below it: %lu, values: %lu)", count.keys, count.values);
        return true;
    }
    case RecordKind::TreeKey:
    case RecordKind::TreeValue:
    case RecordKind::After:
        return false;
    case RecordKind::CreateFolder:
        Append(line, L"created the folder ");
        AppendFileName(line, record);
        return true;
    case RecordKind::DeleteFolder:
        Append(line, L"deleted the folder ");
        AppendFileName(line, record);
        return true;
    case RecordKind::CreateFile:
        Append(line, head.flags & BY_LINK ? L"linked " : head.flags & BY_LIBRARY ? L"a library wrote " : L"created ");
        AppendFileName(line, record);
        Append(line, L": ");
        AppendAfter(line, after);
        return true;
    case RecordKind::ReplaceFile:
        Append(line, head.flags & BY_LINK ? L"linked over " : head.flags & BY_LIBRARY ? L"a library rewrote "
                                                                                         : L"replaced ");
        AppendFileName(line, record);
        Append(line, L": ");
        AppendSaved(line, folder, head);
        Append(line, L" -> ");
        AppendAfter(line, after);
        return true;
    case RecordKind::AppendFile:
        Append(line, L"appended to ");
        AppendFileName(line, record);
        if (head.flags & OLD_ABSENT)
            Append(line, L" (new)");
        else
            AppendFormat(line, L": %llu bytes", head.oldSize);
        Append(line, L" -> ");
        AppendAfter(line, after);
        return true;
    case RecordKind::DeleteFile:
        Append(line, L"deleted ");
        AppendFileName(line, record);
        Append(line, L": ");
        AppendSaved(line, folder, head);
        return true;
    case RecordKind::SetAttributes:
        Append(line, L"attributes of ");
        AppendFileName(line, record);
        Append(line, L": ");
        AppendAttributes(line, head.oldType);
        Append(line, L" -> ");
        AppendAttributes(line, head.type);
        return true;
    case RecordKind::Action:
        DescribeAction(line, record);
        isMarked = !IsUndoableAction(record) && !(head.flags & LEFT_UNDONE);
        if (isMarked)
            Append(line, L" (cannot be undone)");
        return true;
    }
    return false;
}

void DescribeRun(RunDocument& document, const JournalImage& image, const wchar_t* folder)
{
    const JournalHeader& header = *image.header;
    const wchar_t* name = wcsrchr(folder, L'\\');
    Buffer<wchar_t> line;
    Append(line, L"Changes of the run ");
    Append(line, name ? name + 1 : folder);
    StartDocument(document, line.items, line.count);
    line.count = 0;
    Append(line, L"Command line: ");
    AppendUnits(line, image.command, header.commandUnits);
    AddParagraph(document, line.items, line.count);
    line.count = 0;
    Append(line, L"Started ");
    AppendTime(line, (static_cast<ULONGLONG>(header.started.dwHighDateTime) << 32) | header.started.dwLowDateTime);
    if (header.flags & RUN_CLOSED) {
        Append(line, L", ended ");
        AppendTime(line, (static_cast<ULONGLONG>(header.ended.dwHighDateTime) << 32) | header.ended.dwLowDateTime);
    } else {
        Append(line, IsRunLive(name ? name + 1 : folder) ? L", still running" : L", did not finish");
    }
    Append(line, L".");
    AddParagraph(document, line.items, line.count);
    if (header.flags & RUN_TRIAL)
        AddParagraph(document, L"A trial run: its changes exist only while it runs and are undone after this report.");
    if (header.flags & RUN_UNDONE) {
        line.count = 0;
        Append(line, L"Undone by the run ");
        Append(line, header.undoneBy);
        Append(line, L".");
        AddParagraph(document, line.items, line.count);
    }
    if (header.flags & RUN_INCOMPLETE)
        AddParagraph(document, L"Some changes could not be kept in the journal: they cannot be undone.");
    ReleaseItems(line);
}

// Saves the page as changes.htm in the run's folder, in UTF-8.
void SavePage(const wchar_t* folder, const RunDocument& document)
{
    wchar_t path[MAX_PATH_CHARS];
    if (!JoinPath(path, folder, REPORT_PAGE) || !document.page.count)
        return;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, document.page.items, static_cast<int>(document.page.count), nullptr, 0,
                                    nullptr, nullptr);
    Buffer<char> utf8;
    if (bytes <= 0 || ReserveItems(utf8, static_cast<size_t>(bytes)) != ERROR_SUCCESS)
        return;
    WideCharToMultiByte(CP_UTF8, 0, document.page.items, static_cast<int>(document.page.count), utf8.items, bytes,
                        nullptr, nullptr);
    HANDLE file = CreateFileUnobserved(path, CREATE_ALWAYS);
    if (file) {
        DWORD written = 0;
        WriteFile(file, utf8.items, static_cast<DWORD>(bytes), &written, nullptr);
        CloseHandle(file);
    }
    ReleaseItems(utf8);
}

void DescribeGroup(Buffer<wchar_t>& group, const RecordView& record)
{
    group.count = 0;
    const RecordHead& head = *record.head;
    switch (head.kind) {
    case RecordKind::SetValue:
    case RecordKind::DeleteValue:
    case RecordKind::CreateKey:
    case RecordKind::DeleteTree:
        for (const auto& row : RegistryRoots)
            if (NumberOfRoot(row.root) == head.root) {
                Append(group, row.prefix);
                break;
            }
        AppendUnits(group, record.path, head.pathUnits);
        return;
    case RecordKind::Action:
        Append(group, L"Actions");
        return;
    default: {
        size_t folder;
        LastPart(record.path, head.pathUnits, folder);
        AppendUnits(group, record.path, folder);
        return;
    }
    }
}

DWORD ReportRun(const wchar_t* folder, RunDocument& document)
{
    JournalImage image{};
    DWORD result = ReadJournal(folder, image);
    if (result != ERROR_SUCCESS)
        return result;
    DescribeRun(document, image, folder);
    Buffer<wchar_t> line, group, shownGroup;
    DWORD changes = 0;
    for (size_t i = 0; i < image.records.count; ++i) {
        bool isMarked = false;
        line.count = 0;
        if (!DescribeChange(line, image, i, folder, isMarked))
            continue;
        ++changes;
        DescribeGroup(group, ViewRecord(image, image.records.items[i]));
        bool isNewGroup = group.count != shownGroup.count ||
                          (group.count && wmemcmp(group.items, shownGroup.items, group.count) != 0);
        if (isNewGroup || changes == 1) {
            AddHeading(document, group.items, group.count);
            shownGroup.count = 0;
            (void)AppendText(shownGroup, group.items, group.count);
        }
        AddItem(document, line.items, line.count, isMarked);
    }
    if (!changes)
        AddParagraph(document, L"The run changed nothing.");
    result = EndDocument(document);
    if (result == ERROR_SUCCESS)
        SavePage(folder, document);
    ReleaseItems(line);
    ReleaseItems(group);
    ReleaseItems(shownGroup);
    ReleaseJournal(image);
    return result;
}
