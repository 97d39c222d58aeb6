// The program's command line: a line of script, run with a journal, unless it starts with
// switches ("/changes", "/undo", "/trial", "/nojournal", "/force", "/check", "/?", each
// followed by a blank or the end). Reports, undo results and findings go to standard output
// when the program has one, otherwise to a page in the help viewer.
#include "app/app.h"
#include "journal/journal.h"
#include "ui/ui.h"
#include <cwchar>

namespace {

constexpr DWORD SWITCH_CHANGES = 1;
constexpr DWORD SWITCH_UNDO = 2;
constexpr DWORD SWITCH_TRIAL = 4;
constexpr DWORD SWITCH_NO_JOURNAL = 8;
constexpr DWORD SWITCH_FORCE = 16;
constexpr DWORD SWITCH_HELP = 32;
constexpr DWORD SWITCH_CHECK = 64;
constexpr size_t OUTPUT_CHUNK_UNITS = 2048;

struct SwitchWord {
    const wchar_t* word;
    DWORD bit;
};

constexpr SwitchWord SWITCH_WORDS[] = {
    {L"changes", SWITCH_CHANGES}, {L"undo", SWITCH_UNDO},   {L"trial", SWITCH_TRIAL},
    {L"nojournal", SWITCH_NO_JOURNAL}, {L"force", SWITCH_FORCE}, {L"?", SWITCH_HELP},
    {L"check", SWITCH_CHECK},
};

// What /? lists, /check included (it checks scripts without running them).
constexpr const wchar_t* SWITCH_HELP_LINES[][2] = {
    {L"Varnolt.exe [command line]", L"runs the line of script; what it changes is kept in a journal"},
    {L"/changes [run]", L"reports what a run changed (the newest run when none is named)"},
    {L"/undo [run]", L"undoes a run, newest change first; what was changed after the run is left as it is"},
    {L"/undo /force [run]", L"undoes a run and puts back what was changed after it as well"},
    {L"/trial <command line>", L"runs the command line, reports its changes and undoes them; programs, keys, "
                               L"messages, sounds and power actions are left out"},
    {L"/nojournal <command line>", L"runs the command line without a journal (so does VARNOLT_JOURNAL=0)"},
    {L"/check <script>", L"checks scripts without running them"},
    {L"/?", L"lists these switches"},
};

Buffer<wchar_t> startNotice;
bool isNoticeTaken = false;

// The length of a switch word at 'text' ("/undo " or "/undo" at the end), 0 for none.
size_t MatchSwitch(const wchar_t* text, DWORD& bit)
{
    if (text[0] != L'/')
        return 0;
    for (const auto& row : SWITCH_WORDS) {
        size_t length = wcslen(row.word);
        if (MatchPrefixNoCase(text + 1, row.word) == length && (!text[length + 1] || text[length + 1] == L' ' ||
                                                                text[length + 1] == L'\t')) {
            bit = row.bit;
            return length + 1;
        }
    }
    return 0;
}

// Reads the switches at the start of 'line' into 'switches'; returns the rest after them.
wchar_t* ReadSwitches(wchar_t* line, DWORD& switches)
{
    switches = 0;
    wchar_t* at = line;
    for (DWORD bit = 0; size_t length = MatchSwitch(at, bit);) {
        switches |= bit;
        at = const_cast<wchar_t*>(SkipBlanks(at + length));
    }
    return switches ? at : line;
}

// A run's name as written after a switch: blanks around and one pair of quotes go.
wchar_t* RunNamed(wchar_t* rest)
{
    size_t length = wcslen(rest);
    while (length && (rest[length - 1] == L' ' || rest[length - 1] == L'\t'))
        rest[--length] = 0;
    return StripQuotes(rest, L'"');
}

// Standard output when there is one (and no window is asked for), else the help viewer.
void Show(HWND owner, const wchar_t* text, wchar_t* page, bool prefersWindow)
{
    HANDLE output;
    if (!prefersWindow && HasStandardOutput(output)) {
        WriteToOutput(output, text);
        return;
    }
    (void)ShowHelp(owner, page);
}

void ShowDocument(HWND owner, RunDocument& document, bool prefersWindow)
{
    if (document.text.items && document.page.items)
        Show(owner, document.text.items, document.page.items, prefersWindow);
}

// A one-line message in the form of a document.
void ShowMessage(HWND owner, const wchar_t* message, bool prefersWindow)
{
    wchar_t text[MAX_PATH_CHARS];
    wchar_t page[MAX_PATH_CHARS * 2];
    if (SUCCEEDED(StringCchPrintfW(text, MAX_PATH_CHARS, L"%s\r\n", message)) &&
        SUCCEEDED(StringCchPrintfW(page, ARRAYSIZE(page), L"<html><body><p>%s</p></body></html>", message)))
        Show(owner, text, page, prefersWindow);
}

DWORD ShowSwitches(wchar_t*, DWORD)
{
    Buffer<wchar_t> text, page;
    bool isWhole = AppendItems(page, L"<html><body><h1>Varnolt.exe</h1><dl>", 37) == ERROR_SUCCESS;
    for (const auto& row : SWITCH_HELP_LINES) {
        wchar_t line[MAX_PATH_CHARS * 2];
        isWhole = isWhole && SUCCEEDED(StringCchPrintfW(line, ARRAYSIZE(line), L"%-28s %s\r\n", row[0], row[1])) &&
                  AppendItems(text, line, wcslen(line)) == ERROR_SUCCESS;
        isWhole = isWhole && SUCCEEDED(StringCchPrintfW(line, ARRAYSIZE(line), L"<dt><code>%s</code><dd>%s", row[0],
                                                        row[1])) &&
                  AppendItems(page, line, wcslen(line)) == ERROR_SUCCESS;
    }
    isWhole = isWhole && AppendItems(page, L"</dl></body></html>", 19) == ERROR_SUCCESS;
    isWhole = isWhole && AppendValue(text, L'\0') && AppendValue(page, L'\0');
    if (isWhole)
        Show(nullptr, text.items, page.items, false);
    ReleaseItems(text);
    ReleaseItems(page);
    return isWhole ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

// The folder of the run named (the newest without a name), or a message saying why not.
DWORD FindNamedRun(HWND owner, const wchar_t* named, wchar_t (&folder)[MAX_PATH_CHARS], bool prefersWindow)
{
    DWORD result = FindRun(named, folder);
    if (result != ERROR_SUCCESS)
        ShowMessage(owner, *named ? L"There is no such run." : L"No run has been kept.", prefersWindow);
    return result;
}

DWORD ShowChanges(HWND owner, const wchar_t* named, bool prefersWindow)
{
    wchar_t folder[MAX_PATH_CHARS];
    DWORD result = FindNamedRun(owner, named, folder, prefersWindow);
    if (result != ERROR_SUCCESS)
        return result;
    RunDocument document{};
    result = ReportRun(folder, document);
    if (result == ERROR_SUCCESS)
        ShowDocument(owner, document, prefersWindow);
    ReleaseRunDocument(document);
    return result;
}

DWORD Undo(HWND owner, const wchar_t* named, bool force, bool journaled, bool prefersWindow)
{
    wchar_t folder[MAX_PATH_CHARS];
    DWORD result = FindNamedRun(owner, named, folder, prefersWindow);
    if (result != ERROR_SUCCESS)
        return result;
    RunDocument document{};
    result = UndoRun(folder, force, journaled, document);
    if (result == ERROR_BUSY)
        ShowMessage(owner, L"The run is still running.", prefersWindow);
    else
        ShowDocument(owner, document, prefersWindow);
    ReleaseRunDocument(document);
    return result;
}

DWORD ChangesSwitch(wchar_t* rest, DWORD)
{
    return ShowChanges(nullptr, RunNamed(rest), false);
}

DWORD UndoSwitch(wchar_t* rest, DWORD switches)
{
    return Undo(nullptr, RunNamed(rest), (switches & SWITCH_FORCE) != 0, !(switches & SWITCH_NO_JOURNAL), false);
}

// Runs the line with the journal on and the actions that cannot be undone left out,
// shows its report, then undoes it (without a journal of its own: what the trial made
// is the trial's alone). The line's result, unless the undo left something.
DWORD TrialSwitch(wchar_t* rest, DWORD)
{
    BeginTrialRun(rest);
    DWORD result = RunCommandLine(rest);
    wchar_t name[RUN_NAME_CHARS];
    EndJournaledRun(name);
    wchar_t folder[MAX_PATH_CHARS];
    if (!*name || FindRun(name, folder) != ERROR_SUCCESS) {
        ShowMessage(nullptr, L"The trial changed nothing.", false);
        return result;
    }
    (void)ShowChanges(nullptr, name, false);
    RunDocument document{};
    DWORD undone = UndoRun(folder, false, false, document);
    HANDLE output;
    if (undone != ERROR_SUCCESS || HasStandardOutput(output))
        ShowDocument(nullptr, document, false);
    ReleaseRunDocument(document);
    return undone != ERROR_SUCCESS ? undone : result;
}

DWORD CheckSwitch(wchar_t* rest, DWORD)
{
    return CheckNamedScripts(rest);
}

DWORD UnjournaledSwitch(wchar_t* rest, DWORD)
{
    return RunCommandLine(rest);
}

struct SwitchPlan {
    DWORD switches;
    DWORD (*run)(wchar_t* rest, DWORD switches);
};

// The switches that go together; any other mix is refused.
constexpr SwitchPlan SWITCH_PLANS[] = {
    {SWITCH_HELP, ShowSwitches},
    {SWITCH_CHANGES, ChangesSwitch},
    {SWITCH_UNDO, UndoSwitch},
    {SWITCH_UNDO | SWITCH_FORCE, UndoSwitch},
    {SWITCH_UNDO | SWITCH_NO_JOURNAL, UndoSwitch},
    {SWITCH_UNDO | SWITCH_FORCE | SWITCH_NO_JOURNAL, UndoSwitch},
    {SWITCH_TRIAL, TrialSwitch},
    {SWITCH_NO_JOURNAL, UnjournaledSwitch},
    {SWITCH_CHECK, CheckSwitch},
};

} // namespace

bool HasStandardOutput(HANDLE& output)
{
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    return output && output != INVALID_HANDLE_VALUE && GetFileType(output) != FILE_TYPE_UNKNOWN;
}

void WriteToOutput(HANDLE output, const wchar_t* text)
{
    DWORD written = 0;
    size_t length = wcslen(text);
    if (GetFileType(output) == FILE_TYPE_CHAR &&
        WriteConsoleW(output, text, static_cast<DWORD>(length), &written, nullptr))
        return;
    char bytes[OUTPUT_CHUNK_UNITS * 3];
    while (length) {
        int chunk = static_cast<int>(length < OUTPUT_CHUNK_UNITS ? length : OUTPUT_CHUNK_UNITS);
        if (chunk == OUTPUT_CHUNK_UNITS && IS_HIGH_SURROGATE(text[chunk - 1]))
            --chunk;
        int count = WideCharToMultiByte(CP_UTF8, 0, text, chunk, bytes, sizeof bytes, nullptr, nullptr);
        WriteFile(output, bytes, static_cast<DWORD>(count), &written, nullptr);
        text += chunk;
        length -= chunk;
    }
}

DWORD RunProgramCommandLine(wchar_t* commandLine)
{
    DWORD switches = 0;
    wchar_t* rest = commandLine ? ReadSwitches(commandLine, switches) : commandLine;
    if (!switches) {
        BeginJournaledRun(commandLine);
        DWORD result = RunCommandLine(commandLine);
        EndJournaledRun();
        return result;
    }
    for (const auto& plan : SWITCH_PLANS)
        if (plan.switches == switches)
            return plan.run(rest, switches);
    return ERROR_INVALID_PARAMETER;
}

void TellUnfinishedRuns(LogSink trace)
{
    if (!trace)
        return;                 // told where someone will see it: here, or when the console opens
    TakeUnfinishedRunNotice(startNotice);
    isNoticeTaken = true;
    if (startNotice.count)
        trace(startNotice.items);
}

void TakeStartNotice(LogSink tell)
{
    if (!isNoticeTaken)
        TakeUnfinishedRunNotice(startNotice);
    isNoticeTaken = true;
    if (startNotice.count)
        tell(startNotice.items);
    ReleaseItems(startNotice);
}

DWORD ShowRunChanges(HWND owner)
{
    wchar_t folder[MAX_PATH_CHARS];
    DWORD result = FindRun(L"", folder);
    return result == ERROR_SUCCESS ? ShowChanges(owner, L"", true) : result;
}

DWORD UndoLastRun(LogSink tell)
{
    wchar_t folder[MAX_PATH_CHARS];
    DWORD result = FindRun(L"", folder);
    if (result != ERROR_SUCCESS)
        return result;
    RunDocument document{};
    result = UndoRun(folder, false, true, document);
    if (result != ERROR_BUSY && document.text.items && document.text.count > 1) {
        tell(document.text.items);
        tell(L"\r\n");             // the log's entries end with an empty line
    }
    ReleaseRunDocument(document);
    return result;
}
