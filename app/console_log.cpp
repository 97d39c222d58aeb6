// The console's log: what a run logs is gathered in a buffer of our own and reaches the
// control at most every LOG_FLUSH_MS, when the run ends, and when a window the run opened
// waits for the user. The control's cost is then paid a few times a second, not once per
// line, and each line still shows while it runs.
#include "app/app.h"
#include "resources/resource.h"
#include <cwchar>

namespace {

// The log keeps its newest text: beyond LOG_CAPACITY units the oldest whole entries go,
// down to LOG_TRIMMED_SIZE so that trimming is rare. The gathered text is trimmed the
// same way.
constexpr size_t LOG_CAPACITY = 1 << 15;
constexpr size_t LOG_TRIMMED_SIZE = LOG_CAPACITY / 4 * 3;
constexpr DWORD LOG_FLUSH_MS = 50;
constexpr size_t NOTE_CHARS = 256;
// A result entry starts with five blanks; a logged line never does (the runner skips
// leading blanks), so the entries count the lines that ran.
constexpr wchar_t RESULT_ENTRY_START[] = L"     ";

LogSink replacedSink = nullptr;
wchar_t pending[LOG_CAPACITY + 1];
size_t pendingLength = 0;
bool pendingReplacesLog = false;     // the gathered text alone filled the log
DWORD lastFlush = 0;
size_t resultEntries = 0;

LRESULT SendToLog(UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendDlgItemMessageW(consoleWindow, IDC_LOG, message, wParam, lParam);
}

// The first line of the control that starts after the empty line ending the entry that
// holds the unit 'at'; the whole text's length when there is none.
size_t LogEntryEndAfter(size_t at, size_t length)
{
    auto lines = static_cast<size_t>(SendToLog(EM_GETLINECOUNT, 0, 0));
    for (auto line = static_cast<size_t>(SendToLog(EM_LINEFROMCHAR, at, 0)); line + 1 < lines; ++line) {
        auto start = static_cast<size_t>(SendToLog(EM_LINEINDEX, line, 0));
        if (start > at && SendToLog(EM_LINELENGTH, start, 0) == 0)
            return static_cast<size_t>(SendToLog(EM_LINEINDEX, line + 1, 0));
    }
    return length;
}

// Removes the oldest whole entries of the log, at least 'units' units of them.
void RemoveOldestText(size_t units, size_t length)
{
    size_t end = LogEntryEndAfter(units, length);
    SendToLog(EM_SETSEL, 0, end);
    SendToLog(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
}

// The end of the first whole entry (an entry ends with an empty line) that ends at or
// after 'units' units of 'text'; 'length' when there is none.
size_t EntryEndAfter(const wchar_t* text, size_t length, size_t units)
{
    for (size_t at = units >= 2 ? units - 2 : 0; at + 4 <= length; ++at)
        if (text[at] == L'\r' && text[at + 1] == L'\n' && text[at + 2] == L'\r' && text[at + 3] == L'\n')
            return at + 4;
    return length;
}

// Drops the oldest whole entries of the gathered text until 'room' more units fit.
void MakeRoomInPending(size_t room)
{
    size_t cut = EntryEndAfter(pending, pendingLength, pendingLength + room - LOG_TRIMMED_SIZE);
    wmemmove(pending, pending + cut, pendingLength - cut);
    pendingLength -= cut;
    pendingReplacesLog = true;
}

void Gather(const wchar_t* text)
{
    size_t length = wcslen(text);
    if (length > LOG_TRIMMED_SIZE)
        length = LOG_TRIMMED_SIZE;
    if (pendingLength + length > LOG_CAPACITY)
        MakeRoomInPending(length);
    wmemcpy(pending + pendingLength, text, length);
    pendingLength += length;
}

// The console's log sink: the text is gathered for the log and passed on to the sink it
// replaced (the trace). The runner's texts are far shorter than the log.
void AppendToConsoleLog(const wchar_t* text)
{
    Gather(text);
    if (wcsncmp(text, RESULT_ENTRY_START, ARRAYSIZE(RESULT_ENTRY_START) - 1) == 0)
        ++resultEntries;
    if (replacedSink)
        replacedSink(text);
    FlushConsoleLogWhenDue();
}

} // namespace

void OpenConsoleLog(HWND dialog)
{
    pendingLength = 0;
    pendingReplacesLog = false;
    lastFlush = GetTickCount();
    SendDlgItemMessageW(dialog, IDC_LOG, EM_SETLIMITTEXT, LOG_CAPACITY, 0);
    replacedSink = SetLogSink(AppendToConsoleLog);
}

void CloseConsoleLog()
{
    SetLogSink(replacedSink);
    replacedSink = nullptr;
    pendingLength = 0;
    pendingReplacesLog = false;
}

// Hands the gathered text to the log control: it replaces the log when it alone filled it,
// else it is appended the way the runner's entries are, an empty selection at the end
// replaced by the text.
void FlushConsoleLog()
{
    lastFlush = GetTickCount();
    if (!pendingLength || !consoleWindow) {
        pendingLength = 0;
        return;
    }
    pending[pendingLength] = 0;
    // The control takes the text while marked hidden: it then skips redrawing itself and
    // its scroll bars at every step, which costs more than the text, and is redrawn once.
    HWND log = GetDlgItem(consoleWindow, IDC_LOG);
    LONG_PTR style = GetWindowLongPtrW(log, GWL_STYLE);
    SetWindowLongPtrW(log, GWL_STYLE, style & ~WS_VISIBLE);
    if (pendingReplacesLog) {
        SetDlgItemTextW(consoleWindow, IDC_LOG, pending);
    } else {
        auto length = static_cast<size_t>(SendToLog(WM_GETTEXTLENGTH, 0, 0));
        if (length + pendingLength > LOG_CAPACITY) {
            RemoveOldestText(length + pendingLength - LOG_TRIMMED_SIZE, length);
            length = static_cast<size_t>(SendToLog(WM_GETTEXTLENGTH, 0, 0));
        }
        SendToLog(EM_SETSEL, length, length);
        SendToLog(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pending));
    }
    auto end = static_cast<size_t>(SendToLog(WM_GETTEXTLENGTH, 0, 0));
    SendToLog(EM_SETSEL, end, end);
    SendToLog(EM_SCROLLCARET, 0, 0);
    SetWindowLongPtrW(log, GWL_STYLE, style);
    RedrawWindow(log, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE);
    pendingLength = 0;
    pendingReplacesLog = false;
}

void FlushConsoleLogWhenDue()
{
    if (GetTickCount() - lastFlush >= LOG_FLUSH_MS)
        FlushConsoleLog();
}

void ClearConsoleLog()
{
    pendingLength = 0;
    pendingReplacesLog = false;
    SetDlgItemTextW(consoleWindow, IDC_LOG, L"");
}

void AppendConsoleNote(UINT textId)
{
    wchar_t note[NOTE_CHARS] = {};
    if (LoadProgramString(textId, note) > 0 && SUCCEEDED(StringCchCatW(note, NOTE_CHARS, L"\r\n\r\n")))
        Gather(note);
}

void AppendConsoleText(const wchar_t* text)
{
    Gather(text);
}

size_t CountResultEntries()
{
    return resultEntries;
}
