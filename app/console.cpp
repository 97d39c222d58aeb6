// The console: a full-screen dialog in which the user types or browses a command line, runs
// it, and reads a log of every executed line and its result.
#include "app/app.h"
#include "platform/mobile_shell.h"
#include "registry/registry.h"
#include "resources/resource.h"
#include "ui/ui.h"
#include <commctrl.h>
#include <imm.h>
#include <cwchar>
#include <initializer_list>

HWND consoleMenuBar = nullptr;
const wchar_t* consoleScriptPath = L"";

namespace {

constexpr wchar_t CONSOLE_TITLE[] = L"Varnolt";
constexpr wchar_t CLASS_KEY[] = L"Varnolt";
constexpr UINT ASSOCIATION_POPUP_INDEX = 2;     // the bar reports the command id of the button that opened it
constexpr UINT EXECUTE = 1;
constexpr UINT MENU_BUTTON = 2;
constexpr REGSAM CLASS_KEY_ACCESS = 0xF003F;    // KEY_ALL_ACCESS

// The log keeps its newest text: beyond LOG_CAPACITY units the oldest whole entries go,
// down to LOG_TRIMMED_SIZE so that trimming is rare. What a run logs gathers in a buffer
// of our own (itself trimmed the same way) and reaches the control in one piece when the
// run ends or a window the run opened waits for the user: the control's cost is then paid
// once per run, not once per line.
constexpr size_t LOG_CAPACITY = 1 << 15;
constexpr size_t LOG_TRIMMED_SIZE = LOG_CAPACITY / 4 * 3;

SHACTIVATEINFO consoleActivation = {sizeof(SHACTIVATEINFO), nullptr, 0, 0, 0, 0};
LogSink replacedSink = nullptr;
wchar_t pending[LOG_CAPACITY + 1];
size_t pendingLength = 0;
bool pendingReplacesLog = false;     // the gathered text alone filled the log

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

// Hands the gathered text to the log control: it replaces the log when it alone filled it,
// else it is appended the way the runner's entries are, an empty selection at the end
// replaced by the text.
void FlushConsoleLog()
{
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

// The console's log sink: the text is gathered for the log and passed on to the sink it
// replaced (the trace). The runner's texts are far shorter than the log.
void AppendToConsoleLog(const wchar_t* text)
{
    size_t length = wcslen(text);
    if (length > LOG_TRIMMED_SIZE)
        length = LOG_TRIMMED_SIZE;
    if (pendingLength + length > LOG_CAPACITY)
        MakeRoomInPending(length);
    wmemcpy(pending + pendingLength, text, length);
    pendingLength += length;
    if (replacedSink)
        replacedSink(text);
}

void RunCommandField(HWND dialog)
{
    wchar_t line[MAX_PATH_CHARS] = {};
    GetDlgItemTextW(dialog, IDC_COMMAND, line, MAX_PATH_CHARS);
    (void)RunScript(line, consoleScriptPath);
    FlushConsoleLog();
}

void RunAssociation(const wchar_t* argument)
{
    (void)AssociateFileType(argument);
}

// Associates the program's file types, or removes the association when the menu shows it.
void ToggleAssociation(HWND dialog)
{
    auto menu = reinterpret_cast<HMENU>(SendMessageW(consoleMenuBar, SHCMBM_GETSUBMENU, 0, MENU_BUTTON));
    UINT message = IDS_ASSOCIATED;
    if (IsMenuItemChecked(menu, IDM_ASSOCIATE)) {
        for (const wchar_t* argument : {L"!", L"!.reg", L"!.vrs", L"!.provxml"})
            RunAssociation(argument);
        message = IDS_ASSOCIATION_REMOVED;
    } else {
        for (const wchar_t* argument : {L".vrs", L".reg", L".provxml"})
            RunAssociation(argument);
    }
    ShowMenuMessage(IDM_ASSOCIATE, dialog, MAKEINTRESOURCEW(message), MB_ICONINFORMATION);
}

// The association item is checked while the program's own file-type key exists.
void MarkAssociation(HMENU popup)
{
    HKEY key = nullptr;
    bool exists = RegOpenKeyExW(HKEY_CLASSES_ROOT, CLASS_KEY, 0, CLASS_KEY_ACCESS, &key) == ERROR_SUCCESS;
    if (exists)
        RegCloseKey(key);
    CheckMenuItem(popup, IDM_ASSOCIATE, exists ? MF_CHECKED : MF_UNCHECKED);
}

// Leaves the input method's native-language mode when the command field gets the focus.
void LeaveNativeInputMode()
{
    DWORD conversion = 0, sentence = 0;
    ImmGetConversionStatus(nullptr, &conversion, &sentence);
    ImmSetConversionStatus(nullptr, conversion & ~IME_CMODE_NATIVE, 0);
}

void OnCommandFieldNotice(HWND dialog, UINT notice)
{
    if (notice == EN_CHANGE)
        SetBarButtonEnabled(consoleMenuBar, EXECUTE, GetWindowTextLengthW(GetDlgItem(dialog, IDC_COMMAND)) != 0);
    else if (notice == EN_SETFOCUS)
        LeaveNativeInputMode();
}

INT_PTR OnCommand(HWND dialog, UINT id, UINT notice)
{
    switch (id) {
    case EXECUTE:
        if (notice == 0) {
            RunCommandField(dialog);
            return 0;
        }
        [[fallthrough]];
    case IDCANCEL:
    case IDM_EXIT:
        EndDialog(dialog, 0);
        return 0;
    case IDC_COMMAND:
        OnCommandFieldNotice(dialog, notice);
        return 0;
    case IDC_BROWSE:
        (void)BrowseForFile(dialog, IDC_COMMAND, IDS_BROWSE_FILTER);
        return 0;
    case IDM_HELP:
        return ShowHelp(dialog, nullptr);
    case IDM_ABOUT:
        (void)ShowAbout(dialog);
        return 0;
    case IDM_ASSOCIATE:
        ToggleAssociation(dialog);
        return 0;
    case IDM_CLEAR_LOG:
        pendingLength = 0;
        pendingReplacesLog = false;
        SetDlgItemTextW(consoleWindow, IDC_LOG, L"");
        return 0;
    }
    return 0;
}

// The Back key: a Backspace in the command field; anywhere else it moves the focus to the
// field and empties it.
void OnBackKey(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND field = GetDlgItem(dialog, IDC_COMMAND);
    if (GetFocus() == field) {
        SHSendBackToFocusWindow(message, wParam, lParam);
        return;
    }
    SetFocus(field);
    SetWindowTextW(field, L"");
}

RECT ClientRectOf(HWND dialog, int id)
{
    RECT rect = {};
    HWND control = GetDlgItem(dialog, id);
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The log and the prompt take the width, the log the height; the browse button stays at
// the right and the command field fills up to it.
void LayOut(HWND dialog, int width, int height)
{
    RECT log = ClientRectOf(dialog, IDC_LOG);
    int bar = GetSystemMetrics(SM_CXVSCROLL);
    MoveWindow(GetDlgItem(dialog, IDC_LOG), log.left, log.top, width - bar - log.left, height - bar - log.top, TRUE);
    RECT prompt = ClientRectOf(dialog, IDC_PROMPT);
    bar = GetSystemMetrics(SM_CXVSCROLL);
    MoveWindow(GetDlgItem(dialog, IDC_PROMPT), prompt.left, prompt.top, width - bar - prompt.left,
               prompt.bottom - prompt.top, TRUE);
    RECT browse = ClientRectOf(dialog, IDC_BROWSE);
    bar = GetSystemMetrics(SM_CXVSCROLL);
    int browseLeft = width - bar - (browse.right - browse.left);
    MoveWindow(GetDlgItem(dialog, IDC_BROWSE), browseLeft, browse.top, browse.right - browse.left,
               browse.bottom - browse.top, TRUE);
    RECT field = ClientRectOf(dialog, IDC_COMMAND);
    bar = GetSystemMetrics(SM_CXVSCROLL);
    MoveWindow(GetDlgItem(dialog, IDC_COMMAND), field.left, field.top, browseLeft - bar - field.left,
               field.bottom - field.top, TRUE);
}

BOOL OnInitDialog(HWND dialog, const wchar_t* args)
{
    consoleWindow = dialog;
    pendingLength = 0;
    HWND bar = CreateMenuBar(dialog, IDR_CONSOLE_BAR, 0);
    SendMessageW(bar, SHCMBM_OVERRIDEKEY, VK_TBACK, MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
    SHINITDLGINFO info = {SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN};
    SHInitDialog(&info);
    consoleMenuBar = bar;
    SendDlgItemMessageW(dialog, IDC_LOG, EM_SETLIMITTEXT, LOG_CAPACITY, 0);
    replacedSink = SetLogSink(AppendToConsoleLog);
    SetDlgItemTextW(dialog, IDC_COMMAND, args ? args : L"");
    return TRUE;
}

void OnClose()
{
    SetLogSink(replacedSink);
    replacedSink = nullptr;
    pendingLength = 0;
    pendingReplacesLog = false;
    consoleWindow = nullptr;
}

INT_PTR CALLBACK ConsoleProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, reinterpret_cast<const wchar_t*>(lParam));
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_SIZE:
        LayOut(dialog, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_INITMENUPOPUP:
        if (LOWORD(lParam) == ASSOCIATION_POPUP_INDEX)
            MarkAssociation(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_HOTKEY:
        if (HIWORD(lParam) == VK_TBACK)
            OnBackKey(dialog, message, wParam, lParam);
        return 0;
    case WM_ENTERIDLE:              // a window the running line opened waits: show the log so far
        FlushConsoleLog();
        return 0;
    case WM_ACTIVATE:
        SHHandleWMActivate(dialog, wParam, lParam, &consoleActivation, 0);
        return 0;
    case WM_SETTINGCHANGE:
        SHHandleWMSettingChange(dialog, wParam, lParam, &consoleActivation);
        return 0;
    case WM_DESTROY:
        OnClose();
        return 0;
    }
    return 0;
}

} // namespace

// VRUI: brings an open console (or a window of this program that bears its title) to
// the front, or opens the console and runs it until it closes.
DWORD OpenConsole(const wchar_t* args, const wchar_t* scriptPath)
{
    if (HWND open = FindWindowW(nullptr, CONSOLE_TITLE))
        return static_cast<DWORD>(SetForegroundWindow(GetLastActivePopup(open)));
    SHInitExtraControls();
    consoleScriptPath = scriptPath ? scriptPath : L"";
    HRSRC info = FindResourceW(instanceHandle, MAKEINTRESOURCEW(IDD_CONSOLE), RT_DIALOG);
    HGLOBAL loaded = info ? LoadResource(instanceHandle, info) : nullptr;
    auto* dialog = loaded ? static_cast<const DLGTEMPLATE*>(LockResource(loaded)) : nullptr;
    if (!dialog)
        return 0xFFFFFFFF;
    return static_cast<DWORD>(DialogBoxIndirectParamW(instanceHandle, dialog, nullptr, ConsoleProc,
                                                      reinterpret_cast<LPARAM>(args)));
}
