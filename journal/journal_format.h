// Inside the journal: the layout of a run's folder and its journal file, shared by the
// recording, the report and the undo, and the small tables they use.
//
// A run's folder <runs>\<name>\ holds journal.vjl (a header, then records), files\ (the
// files the run replaced or deleted, each named by its change's number) and, once
// reported, changes.htm. While the run goes on <runs>\<name>.open is there as well: a run
// whose flag is left while its process is gone did not finish.
#pragma once
#include "journal/journal.h"

constexpr DWORD JOURNAL_MAGIC = 0x314C4A56;     // "VJL1"
constexpr wchar_t JOURNAL_FILE[] = L"journal.vjl";
constexpr wchar_t SAVED_FOLDER[] = L"files";
constexpr wchar_t REPORT_PAGE[] = L"changes.htm";
constexpr wchar_t OPEN_FLAG[] = L".open";

// The header's flags.
constexpr DWORD RUN_CLOSED = 1;         // the journal was closed: the run finished
constexpr DWORD RUN_TRIAL = 2;
constexpr DWORD RUN_UNDONE = 4;         // 'undoneBy' names the run that undid it
constexpr DWORD RUN_INCOMPLETE = 8;     // a change went on that the journal could not keep

struct JournalHeader {
    DWORD magic;
    DWORD headerBytes;      // this header and the command line after it
    DWORD processId;
    DWORD flags;
    FILETIME started;       // UTC
    FILETIME ended;
    ULONGLONG savedBytes;   // of the files in files\ when the run ended
    DWORD changeCount;
    DWORD commandUnits;     // the command line's UTF-16 units after the header
    wchar_t undoneBy[RUN_NAME_CHARS];
};

enum class RecordKind : WORD {
    SetValue = 1,       // root, path, name; old type and data (or absent); new type, size, hash, first bytes
    DeleteValue,        // root, path, name; old type and data (or absent)
    CreateKey,          // root, path; 'oldSize': the units of the path that existed
    DeleteTree,         // root, path; TreeKey and TreeValue records follow
    TreeKey,            // path below the deleted key ("" for the key itself)
    TreeValue,          // path below the deleted key, name, old type and data
    CreateFolder,       // path
    DeleteFolder,       // path; 'oldType': its attributes
    CreateFile,         // path (a file, a hard link or a library's write that was not there)
    ReplaceFile,        // path; the old file saved, or the run's own
    AppendFile,         // path; 'oldSize', 'stamp': the length and last write time before (absent: created)
    DeleteFile,         // path; the old file saved, or the run's own
    SetAttributes,      // path; 'oldType' before, 'type' after
    Action,             // 'type': the ChangeKind; path: the subject, name: the detail; 'oldType': a value
    After,              // 'number': the change it completes; 'type': its result; 'size', 'stamp': the file
};

// Record flags.
constexpr WORD OLD_ABSENT = 1;          // the value or file was not there before
constexpr WORD OLD_UNREAD = 2;          // a value in a key the run made: not read, taken as absent
constexpr WORD SAVED_MOVED = 4;         // the old file was moved to files\<number>
constexpr WORD SAVED_COPIED = 8;        // ... copied there (the file was rewritten in place)
constexpr WORD RUNS_OWN = 16;           // a file the run made itself: nothing was kept
constexpr WORD LEFT_UNDONE = 32;        // an action a trial left undone
constexpr WORD BY_LINK = 64;            // the file was made as a hard link
constexpr WORD BY_LIBRARY = 128;        // ... written by a library
constexpr WORD FILE_THERE = 256;        // After: the file exists, with 'size' and 'stamp'
constexpr WORD PUT_BACK = 512;          // After: the change failed and the old file was put back

constexpr DWORD VALUE_PREFIX_BYTES = 64;        // of a new value, kept for the report

struct RecordHead {
    DWORD bytes;            // the whole record, a multiple of 8
    RecordKind kind;
    WORD flags;
    DWORD number;           // the change's number in the run (from 1)
    DWORD root;             // a predefined registry root, its low 32 bits
    DWORD type;
    DWORD oldType;
    ULONGLONG size;
    ULONGLONG oldSize;
    ULONGLONG stamp;
    DWORD pathUnits;
    DWORD nameUnits;
    DWORD oldBytes;         // after the path and the name
    DWORD newBytes;         // after the old bytes
};
static_assert(sizeof(RecordHead) == 64);

// A record as read back: its head and where its parts lie in the journal.
struct RecordView {
    const RecordHead* head;
    const wchar_t* path;        // not NUL-terminated: 'head->pathUnits' units
    const wchar_t* name;
    const BYTE* oldData;
    const BYTE* newData;
};

// A journal read whole.
struct JournalImage {
    Buffer<BYTE> bytes;
    const JournalHeader* header;
    const wchar_t* command;
    Buffer<size_t> records;     // offsets of the records, in order
    Buffer<size_t> afterOf;     // by change number: the offset of its After record, or 0
};

// journal_file.cpp
// Reads the journal of the run in 'folder' whole and indexes it; a record cut short by a
// process that ended while writing it ends the journal. 0, or why it cannot be read.
[[nodiscard]] DWORD ReadJournal(const wchar_t* folder, JournalImage& image);
// The run folder's journal file, open for reading while the run may still write it;
// INVALID_HANDLE_VALUE (with the last error) when it cannot be opened.
HANDLE OpenJournalFile(const wchar_t* folder);
void ReleaseJournal(JournalImage& image);
RecordView ViewRecord(const JournalImage& image, size_t offset);
// The After record of change 'number', or nullptr.
const RecordHead* AfterOf(const JournalImage& image, DWORD number);
// Rewrites the fixed header of the journal in 'folder'; 0 or the platform's error.
[[nodiscard]] DWORD RewriteJournalHeader(const wchar_t* folder, const JournalHeader& header);
// "<folder>\<name>" into 'path'; false when it does not fit.
bool JoinPath(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* folder, const wchar_t* name);
// The path of the file change 'number' saved: "<folder>\files\<number>".
bool SavedFilePath(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* folder, DWORD number);
// The predefined key a record's 'root' names, or nullptr for one that is none.
HKEY RootFromNumber(DWORD number);
// The number of a predefined root, 0 for any other key.
DWORD NumberOfRoot(HKEY root);
// A 64-bit hash of 'count' bytes (never 0).
ULONGLONG HashBytes(const void* data, size_t count);
// A 64-bit hash of a text, ASCII letters folded to lower case (never 0).
ULONGLONG HashFoldedText(const wchar_t* text, size_t units, ULONGLONG seed = 0);
// The run's start from its name; false for a name that is none.
bool RunStartFromName(const wchar_t* name, FILETIME& start);
DWORD ProcessIdFromName(const wchar_t* name);
// True while the process that wrote the run 'name' still runs.
bool IsRunLive(const wchar_t* name);

// runs.cpp
// Makes the folder of the runs (and %LOCALAPPDATA%\Varnolt) where missing; its path in 'runs'.
[[nodiscard]] DWORD MakeRunsFolder(wchar_t (&runs)[MAX_PATH_CHARS]);
// Removes the oldest runs beyond the limits (HKCU\Software\Varnolt: JournalRuns, runs kept
// with the one about to start; JournalBytes, bytes of saved files), never one still running.
void PruneOldRuns(const wchar_t* runs);
// The bytes of the files saved in the run's folder.
ULONGLONG SizeOfSavedFiles(const wchar_t* folder);

// A set of 64-bit keys (0 is no key), of at most 'limit' keys: beyond it nothing more is
// added, so what a set stands for must be safe to forget.
struct KeySet {
    Buffer<ULONGLONG> slots;
    size_t count;
    size_t limit;
};
bool HasKey(const KeySet& set, ULONGLONG key);
void AddKey(KeySet& set, ULONGLONG key);
void ClearKeys(KeySet& set);

// Text built piece by piece; false when memory runs out (the piece is then left out).
bool AppendText(Buffer<wchar_t>& text, const wchar_t* piece, size_t units);
bool AppendText(Buffer<wchar_t>& text, const wchar_t* piece);
// Ends the text with NUL, which is not counted.
bool EndText(Buffer<wchar_t>& text);

// document.cpp: the parts of a RunDocument, each written as text and as HTML. Texts are
// 'units' long (no NUL needed); a control character shows as a blank (the argument
// separator as a comma).
void StartDocument(RunDocument& document, const wchar_t* title, size_t units);
void AddParagraph(RunDocument& document, const wchar_t* text, size_t units);
void AddParagraph(RunDocument& document, const wchar_t* text);
// A heading that the items after it belong to.
void AddHeading(RunDocument& document, const wchar_t* text, size_t units);
// An item; a marked one stands out (what cannot be undone, a conflict).
void AddItem(RunDocument& document, const wchar_t* text, size_t units, bool isMarked);
// Ends both texts with NUL: 0, or ERROR_NOT_ENOUGH_MEMORY when a part is missing.
[[nodiscard]] DWORD EndDocument(RunDocument& document);

// report.cpp
// Appends to 'line' what change 'index' of the journal did, with before and after ('folder'
// holds the run's saved files); 'isMarked' for what cannot be undone. False for the
// records that are part of another change (a deleted tree's keys and values).
bool DescribeChange(Buffer<wchar_t>& line, const JournalImage& image, size_t index, const wchar_t* folder,
                    bool& isMarked);
// The key or folder a change is grouped under in a document: "HKCU\Software\X",
// "C:\data\", or "Actions".
void DescribeGroup(Buffer<wchar_t>& group, const RecordView& record);
