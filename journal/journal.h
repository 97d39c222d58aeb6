// The journal: a run that changes the registry or files keeps, in a folder of its own under
// %LOCALAPPDATA%\Varnolt\Runs, one record of each change, written before the change is
// made, together with the files it replaced or deleted. From it a run's changes are
// reported (/changes), undone (/undo) and tried out (/trial). A family on base/: it sees
// the changes through the change observer (base/changes.h) and undoes them through the
// two writers, so that an undo is a run with a journal of its own.
#pragma once
#include "base/base.h"
#include "base/buffer.h"

// "20261208-101500-123-4321": the run's start (UTC, to the millisecond) and its process id.
constexpr size_t RUN_NAME_CHARS = 40;
// An undo that left changes made after the run as they were; /undo /force puts them back.
constexpr DWORD RESULT_UNDO_CONFLICT = 0x20000000 | 0x7A02;     // a customer-defined code
// What the registry settings under HKCU\Software\Varnolt default to.
constexpr DWORD DEFAULT_JOURNAL_RUNS = 20;
constexpr ULONGLONG DEFAULT_JOURNAL_BYTES = 1ull << 30;

// A document the journal writes for people: plain text (lines ending in CRLF) and the same
// as an HTML page. Both end in NUL once complete.
struct RunDocument {
    Buffer<wchar_t> text;
    Buffer<wchar_t> page;
    bool hasOpenList;           // the page's list of the last heading is not closed yet
    bool isShort;               // memory ran out: a part is missing
};
void ReleaseRunDocument(RunDocument& document);

// journal.cpp: recording
// Starts the journal of one run (one command line, or one Execute in the console): installs
// the journal's change observer, which passes every call on to the observer it replaces
// and records what that one lets through. Nothing is written before the run's first
// change. Runs nest: an inner run records alone until it ends. Every Begin is paired with
// an End, in the order observers are (one installed after Begin is removed before End).
// VARNOLT_JOURNAL=0 in the environment leaves the run without a journal.
void BeginJournaledRun(const wchar_t* commandLine);
// A trial run: as above, but the actions that cannot be undone are left undone (and count
// as done), and a change the journal cannot keep is refused. Runs even with VARNOLT_JOURNAL=0.
void BeginTrialRun(const wchar_t* commandLine);
// Ends the innermost run: its journal is closed and the observer it replaced is back.
void EndJournaledRun();
// The same, with the run's name in 'name' (empty when the run changed nothing).
void EndJournaledRun(wchar_t (&name)[RUN_NAME_CHARS]);

// runs.cpp: the runs kept
// The folder of the runs, %LOCALAPPDATA%\Varnolt\Runs (no final backslash); false when
// LOCALAPPDATA is not set or the path does not fit.
bool FindRunsFolder(wchar_t (&folder)[MAX_PATH_CHARS]);
// The folder of the run 'named' (a run's name, or the path of its folder), or of the newest
// run that is not running when 'named' is empty. ERROR_FILE_NOT_FOUND when there is none.
[[nodiscard]] DWORD FindRun(const wchar_t* named, wchar_t (&folder)[MAX_PATH_CHARS]);
// Looks for runs whose journal was not closed and whose process is gone, not told of
// before: each is named in 'notice' (entries of the log: lines and an empty line) with
// the command that undoes it, and not told of again. 'notice' is empty when there is none.
void TakeUnfinishedRunNotice(Buffer<wchar_t>& notice);

// report.cpp
// The report of the run in 'folder': every change in order, grouped by key and folder,
// with before and after; what cannot be undone marked. The page is saved in the folder
// as changes.htm as well.
[[nodiscard]] DWORD ReportRun(const wchar_t* folder, RunDocument& document);

// undo.cpp
// Undoes the run in 'folder', newest change first, as a journaled run of its own (unless
// 'journaled' is false), and tells each change's outcome in 'document'. A value or file
// that changed after the run is left as it is unless 'force'. 0 when everything is as
// before the run; RESULT_UNDO_CONFLICT when something was left; otherwise the first
// failure's code (ERROR_BUSY for a run that is still running).
[[nodiscard]] DWORD UndoRun(const wchar_t* folder, bool force, bool journaled, RunDocument& document);
