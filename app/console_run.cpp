// A run of the console's command line. The line runs on the window's thread, as every
// command of the program does, so the windows it opens stay owned by the console and
// modal to it. The console stays answering because long work hands control back: the
// change observer the console installs for the run is asked before and after each change,
// with the progress of long writes, between lines and from inside waits, and it handles
// the console's messages from there every PUMP_INTERVAL_MS. Its answers carry Stop. Each
// run keeps a journal of its own, so that the console's menu can report and undo it.
#include "app/app.h"
#include "base/changes.h"
#include "journal/journal.h"
#include "resources/resource.h"
#include "ui/ui.h"
#include <cwchar>

namespace {

constexpr DWORD PUMP_INTERVAL_MS = 25;
constexpr DWORD PROGRESS_DELAY_MS = 500;        // a shorter run shows no progress line
constexpr DWORD PROGRESS_INTERVAL_MS = 100;
constexpr size_t PROGRESS_CHARS = 256;
constexpr size_t PIECE_CHARS = 64;
constexpr wchar_t PIECE_SEPARATOR[] = L" | ";

struct ConsoleRun {
    bool isRunning;
    bool isStopRequested;
    bool isStopped;             // the observer has answered Stop at least once
    bool isCloseRequested;      // the window closes once the run has ended
    bool isPumping;
    DWORD started;
    DWORD lastPump;
    DWORD lastProgress;
    size_t entriesBefore;
    ULONGLONG bytes;
    DWORD files;
    DWORD values;
    const ChangeObserver* previous;
};

ConsoleRun run = {};

bool IsFileChange(ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::CreateFile:
    case ChangeKind::ReplaceFile:
    case ChangeKind::AppendToFile:
    case ChangeKind::DeleteFile:
    case ChangeKind::CreateHardLink:
    case ChangeKind::WriteByLibrary:
        return true;
    default:
        return false;
    }
}

bool IsValueChange(ChangeKind kind)
{
    return kind == ChangeKind::SetValue || kind == ChangeKind::DeleteValue;
}

// Hands the waiting messages of this thread to their windows, the console's through its
// dialog manager. Not while a window the run opened is modal over the console (its own
// loop serves the thread), and never inside itself.
void PumpMessages()
{
    if (run.isPumping || !consoleWindow || !IsWindowEnabled(consoleWindow))
        return;
    run.isPumping = true;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));     // for the loop that waits for it
            run.isStopRequested = true;
            break;
        }
        if (!IsDialogMessageW(consoleWindow, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    run.isPumping = false;
}

void AppendPiece(wchar_t (&text)[PROGRESS_CHARS], const wchar_t* piece)
{
    if (text[0])
        StringCchCatW(text, PROGRESS_CHARS, PIECE_SEPARATOR);
    StringCchCatW(text, PROGRESS_CHARS, piece);
}

void AppendCount(wchar_t (&text)[PROGRESS_CHARS], UINT formatId, size_t count)
{
    wchar_t format[PIECE_CHARS] = {};
    wchar_t piece[PIECE_CHARS] = {};
    if (count && LoadProgramString(formatId, format) > 0 &&
        SUCCEEDED(StringCchPrintfW(piece, PIECE_CHARS, format, static_cast<unsigned>(count))))
        AppendPiece(text, piece);
}

void AppendByteCount(wchar_t (&text)[PROGRESS_CHARS], ULONGLONG bytes)
{
    constexpr ULONGLONG KB = 1024, MB = KB * 1024, GB = MB * 1024;
    wchar_t piece[PIECE_CHARS] = {};
    HRESULT made = E_FAIL;
    if (bytes >= GB)
        made = StringCchPrintfW(piece, PIECE_CHARS, L"%llu.%llu GB", bytes / GB, bytes % GB * 10 / GB);
    else if (bytes >= MB)
        made = StringCchPrintfW(piece, PIECE_CHARS, L"%llu.%llu MB", bytes / MB, bytes % MB * 10 / MB);
    else if (bytes)
        made = StringCchPrintfW(piece, PIECE_CHARS, L"%llu KB", (bytes + KB - 1) / KB);
    if (SUCCEEDED(made))
        AppendPiece(text, piece);
}

// The progress line: the time the run has taken, then what it has done so far (lines
// run, files written or deleted and their bytes, registry values written or deleted).
void ComposeProgress(wchar_t (&text)[PROGRESS_CHARS], DWORD elapsed)
{
    text[0] = 0;
    wchar_t format[PIECE_CHARS] = {};
    DWORD seconds = elapsed / 1000;
    if (LoadProgramString(IDS_PROGRESS_RUNNING, format) > 0)
        StringCchPrintfW(text, PROGRESS_CHARS, format, seconds / 60, seconds % 60);
    AppendCount(text, IDS_PROGRESS_LINES, CountResultEntries() - run.entriesBefore);
    AppendCount(text, IDS_PROGRESS_FILES, run.files);
    AppendByteCount(text, run.bytes);
    AppendCount(text, IDS_PROGRESS_VALUES, run.values);
}

void ShowProgress(bool shown)
{
    HWND line = GetDlgItem(consoleWindow, IDC_PROGRESS);
    if (!line || (IsWindowVisible(line) != FALSE) == shown)
        return;
    ShowWindow(line, shown ? SW_SHOWNA : SW_HIDE);
    LayOutConsole(consoleWindow);
}

void UpdateProgress(DWORD now)
{
    DWORD elapsed = now - run.started;
    if (elapsed < PROGRESS_DELAY_MS || now - run.lastProgress < PROGRESS_INTERVAL_MS || !consoleWindow)
        return;
    run.lastProgress = now;
    wchar_t text[PROGRESS_CHARS];
    ComposeProgress(text, elapsed);
    SetDlgItemTextW(consoleWindow, IDC_PROGRESS, text);
    ShowProgress(true);
}

// What the observer does on every call: at most every PUMP_INTERVAL_MS it lets the
// console answer, brings the log and the progress line up to date; then it tells
// whether the run is to stop.
DWORD Poll()
{
    DWORD now = GetTickCount();
    if (now - run.lastPump >= PUMP_INTERVAL_MS) {
        run.lastPump = now;
        PumpMessages();
        FlushConsoleLogWhenDue();
        UpdateProgress(now);
    }
    if (!run.isStopRequested)
        return ERROR_SUCCESS;
    run.isStopped = true;
    return ERROR_CANCELLED;
}

// Stop comes first: a change the run is not to make never reaches the observer below
// (the undo journal), which might otherwise prepare it.
DWORD ObserveBefore(void*, const Change& change)
{
    if (DWORD answer = Poll(); answer != ERROR_SUCCESS)
        return answer;
    const ChangeObserver* below = run.previous;
    return below && below->before ? below->before(below->context, change) : ERROR_SUCCESS;
}

void ObserveAfter(void*, const Change& change, DWORD result)
{
    if (result == ERROR_SUCCESS && IsFileChange(change.kind))
        ++run.files;
    if (result == ERROR_SUCCESS && IsValueChange(change.kind))
        ++run.values;
    const ChangeObserver* below = run.previous;
    if (below && below->after)
        below->after(below->context, change, result);
}

DWORD ObserveProgress(void*, ULONGLONG bytes)
{
    run.bytes += bytes;
    if (DWORD answer = Poll(); answer != ERROR_SUCCESS)
        return answer;
    const ChangeObserver* below = run.previous;
    return below && below->progress ? below->progress(below->context, bytes) : ERROR_SUCCESS;
}

const ChangeObserver CONSOLE_OBSERVER = {ObserveBefore, ObserveAfter, ObserveProgress, nullptr};

} // namespace

bool IsConsoleRunning()
{
    return run.isRunning;
}

void RequestConsoleStop(bool thenClose)
{
    run.isStopRequested = true;
    run.isCloseRequested = run.isCloseRequested || thenClose;
}

DWORD RunConsoleLine(HWND dialog, wchar_t* line)
{
    if (run.isRunning)
        return ERROR_BUSY;
    run = {};
    run.isRunning = true;
    run.started = run.lastPump = GetTickCount();
    run.entriesBefore = CountResultEntries();
    ShowRunState(dialog);
    // The journal's observer sits below the console's, so a change Stop refuses is never recorded.
    BeginJournaledRun(line);
    run.previous = SetChangeObserver(&CONSOLE_OBSERVER);
    DWORD result = RunScript(line, consoleScriptPath);
    SetChangeObserver(run.previous);
    EndJournaledRun();
    if (run.isStopped)
        AppendConsoleNote(IDS_RUN_STOPPED);
    FlushConsoleLog();
    ShowProgress(false);
    bool closes = run.isCloseRequested;
    run = {};
    ShowRunState(dialog);
    if (closes)
        EndDialog(dialog, 0);
    return result;
}
