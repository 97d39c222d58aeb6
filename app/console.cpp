// The console: the dialog in which the user types or browses a command line, runs it, and
// reads a log of every executed line and its result. On the desktop it is an ordinary
// window (console_window.cpp); the log, the run and the history have files of their own.
#include "app/app.h"
#include "platform/mobile_shell.h"
#include "registry/registry.h"
#include "resources/resource.h"
#include "ui/ui.h"
#include <commctrl.h>
#include <imm.h>
#include <shellapi.h>
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
constexpr UINT WM_FINISH_CONSOLE = WM_APP + 1;  // posted at initialisation: handled once the window shows
constexpr int PROGRESS_GAP = 2;                 // pixels between the log and the progress line

// The menu items that open windows of their own or start a run: while a run goes on they
// are not offered, since whatever they opened would hold the run until it closed.
constexpr UINT ITEMS_IDLE_ONLY[] = {IDM_RUN_CHANGES, IDM_UNDO_RUN, IDM_ASSOCIATE, IDM_HELP, IDM_ABOUT};

SHACTIVATEINFO consoleActivation = {sizeof(SHACTIVATEINFO), nullptr, 0, 0, 0, 0};

bool IsIdleOnly(UINT id)
{
    for (UINT item : ITEMS_IDLE_ONLY)
        if (item == id)
            return true;
    return false;
}

void RunCommandField(HWND dialog)
{
    wchar_t line[MAX_PATH_CHARS] = {};
    GetDlgItemTextW(dialog, IDC_COMMAND, line, MAX_PATH_CHARS);
    RememberConsoleLine(line);
    (void)RunConsoleLine(dialog, line);
}

// The menu's two items for the newest run kept: its report in the help viewer, and its
// undo told in the log. A note in the log when there is none to show or undo.
void ShowLastRunChanges(HWND dialog)
{
    DWORD result = ShowRunChanges(dialog);
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND)
        AppendConsoleNote(IDS_NO_RUN_KEPT);
    FlushConsoleLog();
}

void UndoLastConsoleRun()
{
    DWORD result = UndoLastRun(AppendConsoleText);
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND)
        AppendConsoleNote(IDS_NO_RUN_KEPT);
    else if (result == ERROR_BUSY)
        AppendConsoleNote(IDS_RUN_STILL_RUNNING);
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

// The association item is checked while the program's own file-type key exists; the
// items that open windows are offered only while no run goes on.
void PrepareMenu(HMENU popup)
{
    HKEY key = nullptr;
    bool exists = RegOpenKeyExW(HKEY_CLASSES_ROOT, CLASS_KEY, 0, CLASS_KEY_ACCESS, &key) == ERROR_SUCCESS;
    if (exists)
        RegCloseKey(key);
    CheckMenuItem(popup, IDM_ASSOCIATE, exists ? MF_CHECKED : MF_UNCHECKED);
    for (UINT item : ITEMS_IDLE_ONLY)
        EnableMenuItem(popup, item, IsConsoleRunning() ? MF_GRAYED : MF_ENABLED);
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
    if (notice == EN_CHANGE && !IsConsoleRunning())
        SetBarButtonEnabled(consoleMenuBar, EXECUTE, GetWindowTextLengthW(GetDlgItem(dialog, IDC_COMMAND)) != 0);
    else if (notice == EN_SETFOCUS)
        LeaveNativeInputMode();
}

// Execute runs the field; while a run goes on the same button reads Stop. Enter (the
// dialog's command 1 from no control) never starts a second run.
void OnExecute(HWND dialog, HWND from)
{
    if (!IsConsoleRunning())
        RunCommandField(dialog);
    else if (from && from == consoleMenuBar)
        RequestConsoleStop(false);
}

// Closing while a run goes on stops the run first; the window closes when it has ended.
void CloseConsole(HWND dialog)
{
    if (IsConsoleRunning())
        RequestConsoleStop(true);
    else
        EndDialog(dialog, 0);
}

INT_PTR OnCommand(HWND dialog, UINT id, UINT notice, HWND from)
{
    if (IsConsoleRunning() && (IsIdleOnly(id) || id == IDC_BROWSE))
        return 0;
    switch (id) {
    case EXECUTE:
        if (notice == 0) {
            OnExecute(dialog, from);
            return 0;
        }
        [[fallthrough]];
    case IDCANCEL:
    case IDM_EXIT:
        CloseConsole(dialog);
        return 0;
    case IDC_COMMAND:
        OnCommandFieldNotice(dialog, notice);
        return 0;
    case IDC_BROWSE:
        if (BrowseForFile(dialog, IDC_COMMAND, IDS_BROWSE_FILTER))
            ForgetHistoryWalk();
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
        ClearConsoleLog();
        return 0;
    case IDM_RUN_CHANGES:
        ShowLastRunChanges(dialog);
        return 0;
    case IDM_UNDO_RUN:
        UndoLastConsoleRun();
        return 0;
    }
    return 0;
}

// The Back key stops a run. Otherwise it is a Backspace in the command field; anywhere
// else it moves the focus to the field and empties it.
void OnBackKey(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (IsConsoleRunning()) {
        RequestConsoleStop(false);
        return;
    }
    HWND field = GetDlgItem(dialog, IDC_COMMAND);
    if (GetFocus() == field) {
        SHSendBackToFocusWindow(message, wParam, lParam);
        return;
    }
    SetFocus(field);
    SetWindowTextW(field, L"");
}

// A file dropped on the console: its path replaces the command field, as a browsed one
// does (unquoted: blanks belong to a path, arguments are separated by commas).
void OnDropFiles(HWND dialog, HDROP drop)
{
    wchar_t path[MAX_PATH_CHARS];
    UINT length = DragQueryFileW(drop, 0, path, MAX_PATH_CHARS);
    DragFinish(drop);
    if (length == 0 || length >= MAX_PATH_CHARS)
        return;
    HWND field = GetDlgItem(dialog, IDC_COMMAND);
    SetWindowTextW(field, path);
    ForgetHistoryWalk();
    SetForegroundWindow(dialog);
    SetFocus(field);
    SendMessageW(field, EM_SETSEL, length, length);
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
// the right and the command field fills up to it. While the progress line shows, it
// takes the log's last line of height.
void LayOut(HWND dialog, int width, int height)
{
    RECT progress = ClientRectOf(dialog, IDC_PROGRESS);
    int progressHeight = progress.bottom - progress.top;
    bool hasProgress = IsWindowVisible(GetDlgItem(dialog, IDC_PROGRESS));
    RECT log = ClientRectOf(dialog, IDC_LOG);
    int bar = GetSystemMetrics(SM_CXVSCROLL);
    int logHeight = height - bar - log.top - (hasProgress ? progressHeight + PROGRESS_GAP : 0);
    MoveWindow(GetDlgItem(dialog, IDC_LOG), log.left, log.top, width - bar - log.left, logHeight, TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_PROGRESS), log.left, height - bar - progressHeight, width - bar - log.left,
               progressHeight, TRUE);
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

// The window shows before the menu bar is built: the bar needs the common controls
// library, whose loading would hold the window back; the bar arrives before the first paint.
BOOL OnInitDialog(HWND dialog, const wchar_t* args)
{
    consoleWindow = dialog;
    consoleMenuBar = nullptr;
    PlaceConsole(dialog);
    OpenConsoleLog(dialog);
    TakeStartNotice(AppendConsoleText);         // runs a crash left unfinished, told once
    OpenConsoleHistory(GetDlgItem(dialog, IDC_COMMAND));
    SetDlgItemTextW(dialog, IDC_COMMAND, args ? args : L"");
    PostMessageW(dialog, WM_FINISH_CONSOLE, 0, 0);
    return TRUE;
}

void FinishConsole(HWND dialog)
{
    HWND bar = CreateMenuBar(dialog, IDR_CONSOLE_BAR, 0);
    SendMessageW(bar, SHCMBM_OVERRIDEKEY, VK_TBACK, MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
    consoleMenuBar = bar;
    ShowRunState(dialog);
    DragAcceptFiles(dialog, TRUE);
}

void OnClose(HWND dialog)
{
    KeepConsolePlace(dialog);
    CloseConsoleLog();
    consoleWindow = nullptr;
}

INT_PTR CALLBACK ConsoleProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, reinterpret_cast<const wchar_t*>(lParam));
    case WM_FINISH_CONSOLE:
        FinishConsole(dialog);
        return 0;
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_SIZE:
        LayOut(dialog, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_GETMINMAXINFO:
        LimitConsoleSize(*reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_INITMENUPOPUP:
        if (LOWORD(lParam) == ASSOCIATION_POPUP_INDEX)
            PrepareMenu(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_HOTKEY:
        if (HIWORD(lParam) == VK_TBACK)
            OnBackKey(dialog, message, wParam, lParam);
        return 0;
    case WM_DROPFILES:
        OnDropFiles(dialog, reinterpret_cast<HDROP>(wParam));
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
        OnClose(dialog);
        return 0;
    }
    return 0;
}

} // namespace

void ShowRunState(HWND dialog)
{
    bool running = IsConsoleRunning();
    SetBarButtonText(consoleMenuBar, EXECUTE, running ? IDS_STOP : IDS_RUN);
    SetBarButtonEnabled(consoleMenuBar, EXECUTE, running || GetWindowTextLengthW(GetDlgItem(dialog, IDC_COMMAND)) != 0);
    EnableWindow(GetDlgItem(dialog, IDC_BROWSE), !running);
}

void LayOutConsole(HWND dialog)
{
    RECT client = {};
    GetClientRect(dialog, &client);
    LayOut(dialog, client.right, client.bottom);
}

// VRUI: brings an open console (or a window of this program that bears its title) to
// the front, or opens the console and runs it until it closes.
DWORD OpenConsole(const wchar_t* args, const wchar_t* scriptPath)
{
    if (HWND open = FindWindowW(nullptr, CONSOLE_TITLE))
        return static_cast<DWORD>(SetForegroundWindow(GetLastActivePopup(open)));
    SHInitExtraControls();
    consoleScriptPath = scriptPath ? scriptPath : L"";
    const DLGTEMPLATE* dialog = FindProgramDialog(instanceHandle, IDD_CONSOLE);
    if (!dialog)
        return 0xFFFFFFFF;
    return static_cast<DWORD>(DialogBoxIndirectParamW(instanceHandle, dialog, nullptr, ConsoleProc,
                                                      reinterpret_cast<LPARAM>(args)));
}
