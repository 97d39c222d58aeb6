#include "platform/mobile_shell.h"
#include "base/base.h"
#include <commctrl.h>
#include <cstddef>
#include <cwchar>
#include <new>

// The menu bar is a toolbar in a small owned pop-up ("host") that sits in a strip the
// dialog gives up at the bottom of its client area: a subclass of the dialog takes the
// bar's height off the client rectangle in WM_NCCALCSIZE and moves the host over that
// strip whenever the dialog moves, is resized, shown or hidden. A child window could not
// sit outside the client area, and the dialog's own layout must not reach under the bar.

namespace {

constexpr int MAX_BAR_BUTTONS = 16;
constexpr int MAX_BUTTON_TEXT = 64;
constexpr DWORD HEADER_WORDS = 2;       // menu id, button count
constexpr DWORD BUTTON_WORDS = 7;       // image, command, state, style, string id, 0, pop-up index
constexpr int BAR_MARGIN = 2;           // pixels above and below the buttons
constexpr UINT TOOLBAR_MESSAGE_END = WM_USER + 0x100;   // TB_* messages sent to the bar go on to the toolbar
constexpr UINT_PTR BAR_SUBCLASS_ID = 1;
constexpr wchar_t BAR_CLASS[] = L"VarnoltMenuBar";
constexpr wchar_t BAR_PROPERTY[] = L"VarnoltMenuBar";     // on the dialog: its MenuBar

struct BarButton {
    WORD command;
    WORD state;
    WORD style;
    WORD textId;
    WORD popupIndex;
};

struct BarLayout {
    WORD menuId = MENUBAR_NO_MENU;
    int count = 0;
    BarButton buttons[MAX_BAR_BUTTONS];
};

struct MenuBar {
    HWND dialog;
    HWND host;
    HWND toolbar;
    HMENU menu;
    int height;
    int count;
    WORD commands[MAX_BAR_BUTTONS];
    HMENU popups[MAX_BAR_BUTTONS];      // null for plain buttons
    WORD backKeyFlags;                  // SHMBOF_* set through SHCMBM_OVERRIDEKEY
    bool backKeyDown;                   // a Back key press began in the dialog
    HMENU openPopup;                    // the pop-up being tracked, while it is open
    WORD openCommand;
};

// One message hook per thread serves every bar of the thread that overrides the Back key.
struct BackKeyHook {
    HHOOK hook;
    int users;
};
thread_local BackKeyHook backKeyHook;

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

[[nodiscard]] bool RegisterOnce(const wchar_t* name, WNDPROC proc, UINT style, HBRUSH background)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (GetClassInfoExW(instance, name, &windowClass))
        return true;
    windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = style;
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Reads the button list of RCDATA 'id' in 'module' (16-bit little-endian words).
// ERROR_RESOURCE_NAME_NOT_FOUND when there is no such resource, ERROR_INVALID_DATA when
// it is cut short or lists more buttons than a bar holds.
[[nodiscard]] DWORD ReadBarLayout(HINSTANCE module, UINT id, BarLayout& layout)
{
    if (id == 0 || !IS_INTRESOURCE(id))
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data)
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    DWORD words = SizeofResource(module, found) / 2;
    auto word = [data](DWORD index) { return WORD(data[2 * index] | data[2 * index + 1] << 8); };
    if (words < HEADER_WORDS)
        return ERROR_INVALID_DATA;
    layout.menuId = word(0);
    layout.count = word(1);
    if (layout.count > MAX_BAR_BUTTONS || words < HEADER_WORDS + layout.count * BUTTON_WORDS)
        return ERROR_INVALID_DATA;
    for (int i = 0; i < layout.count; i++) {
        DWORD at = HEADER_WORDS + i * BUTTON_WORDS;
        layout.buttons[i] = { word(at + 1), word(at + 2), word(at + 3), word(at + 4), word(at + 6) };
    }
    return ERROR_SUCCESS;
}

// Loads the bar's menu and finds each drop-down button's pop-up in it. A drop-down button
// without a pop-up is a broken resource: ERROR_INVALID_DATA.
[[nodiscard]] DWORD LoadBarMenu(HINSTANCE module, const BarLayout& layout, MenuBar& bar)
{
    if (layout.menuId != MENUBAR_NO_MENU && !(bar.menu = LoadProgramMenu(module, layout.menuId)))
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    for (int i = 0; i < layout.count; i++) {
        const BarButton& button = layout.buttons[i];
        bar.commands[i] = button.command;
        bar.popups[i] = nullptr;
        if (!(button.style & TBSTYLE_DROPDOWN))
            continue;
        if (!bar.menu || button.popupIndex == MENUBAR_NO_MENU || !(bar.popups[i] = GetSubMenu(bar.menu, button.popupIndex)))
            return ERROR_INVALID_DATA;
    }
    bar.count = layout.count;
    return ERROR_SUCCESS;
}

// The bar attached to 'dialog'. Only this process's windows are asked: the property of
// another process's window would hold that process's pointer.
MenuBar* BarOf(HWND dialog)
{
    DWORD process = 0;
    if (!dialog || !GetWindowThreadProcessId(dialog, &process) || process != GetCurrentProcessId())
        return nullptr;
    return static_cast<MenuBar*>(GetPropW(dialog, BAR_PROPERTY));
}

// The bar of the dialog that holds 'window' (or is it); owners are not followed, so a
// message box over the dialog keeps its own keys.
MenuBar* BarAround(HWND window)
{
    for (; window; window = GetAncestor(window, GA_PARENT))
        if (MenuBar* bar = BarOf(window))
            return bar;
    return nullptr;
}

HMENU PopupOf(const MenuBar& bar, WPARAM command)
{
    for (int i = 0; i < bar.count; i++)
        if (bar.commands[i] == command)
            return bar.popups[i];
    return nullptr;
}

// Takes a Back key press away from a dialog whose bar overrides the key. With
// SHMBOF_NOTIFY the dialog gets one WM_HOTKEY per press, when the key is released, with
// MOD_KEYUP in the low word and the key in the high word of lParam; with
// SHMBOF_NODEFAULT the key messages become WM_NULL, so the dialog manager never turns
// them into IDCANCEL. While a bar pop-up is open the key closes it as usual.
void FilterBackKey(MSG& msg)
{
    if ((msg.message != WM_KEYDOWN && msg.message != WM_KEYUP) || msg.wParam != VK_TBACK)
        return;
    MenuBar* bar = BarAround(msg.hwnd);
    if (!bar || !bar->backKeyFlags || bar->openPopup)
        return;
    bool released = msg.message == WM_KEYUP;
    if (released && bar->backKeyDown && (bar->backKeyFlags & SHMBOF_NOTIFY))
        PostMessageW(bar->dialog, WM_HOTKEY, 0, MAKELPARAM(MOD_KEYUP, VK_TBACK));
    bar->backKeyDown = !released;
    if (bar->backKeyFlags & SHMBOF_NODEFAULT)
        msg.message = WM_NULL;
}

// Sees every message a loop of this thread takes from the queue, before IsDialogMessage.
LRESULT CALLBACK BackKeyHookProc(int code, WPARAM removal, LPARAM lParam)
{
    if (code == HC_ACTION && removal == PM_REMOVE)
        FilterBackKey(*reinterpret_cast<MSG*>(lParam));
    return CallNextHookEx(nullptr, code, removal, lParam);
}

[[nodiscard]] bool UseBackKeyHook()
{
    if (!backKeyHook.hook &&
        !(backKeyHook.hook = SetWindowsHookExW(WH_GETMESSAGE, BackKeyHookProc, nullptr, GetCurrentThreadId())))
        return false;
    backKeyHook.users++;
    return true;
}

void DropBackKeyHook()
{
    if (backKeyHook.users > 0 && --backKeyHook.users == 0) {
        UnhookWindowsHookEx(backKeyHook.hook);
        backKeyHook.hook = nullptr;
    }
}

// SHCMBM_OVERRIDEKEY: only the Back key can be overridden on the desktop.
LRESULT OverrideKey(MenuBar& bar, WPARAM key, LPARAM flags)
{
    if (key != VK_TBACK)
        return FALSE;
    WORD mask = LOWORD(flags) & (SHMBOF_NODEFAULT | SHMBOF_NOTIFY);
    WORD wanted = WORD((bar.backKeyFlags & ~mask) | (HIWORD(flags) & mask));
    if (wanted && !bar.backKeyFlags && !UseBackKeyHook())
        return FALSE;
    if (!wanted && bar.backKeyFlags)
        DropBackKeyHook();
    bar.backKeyFlags = wanted;
    bar.backKeyDown = false;
    return TRUE;
}

// Opens the pop-up of the drop-down button 'command' above the button, owned by the
// dialog, which then gets WM_INITMENUPOPUP and WM_COMMAND for the chosen item.
LRESULT OpenPopup(MenuBar& bar, WORD command)
{
    HMENU popup = PopupOf(bar, command);
    RECT button;
    if (!popup || !SendMessageW(bar.toolbar, TB_GETRECT, command, reinterpret_cast<LPARAM>(&button)))
        return TBDDRET_NODEFAULT;
    MapWindowPoints(bar.toolbar, nullptr, reinterpret_cast<POINT*>(&button), 2);
    HWND host = bar.host;
    bar.openPopup = popup;
    bar.openCommand = command;
    SetForegroundWindow(GetAncestor(bar.dialog, GA_ROOT));   // so a click elsewhere closes the pop-up
    TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_BOTTOMALIGN, button.left, button.top, bar.dialog, nullptr);
    if (IsWindow(host))                 // the dialog may have closed while the pop-up was open
        bar.openPopup = nullptr;
    return TBDDRET_DEFAULT;
}

// Moves the host over the strip below the dialog's client area, and shows it while the
// dialog is shown. The strip spans the width inside the borders: a vertical scroll bar
// ends where the client area does, and nothing else would paint below it.
void PlaceBar(const MenuBar& bar)
{
    RECT client;
    GetClientRect(bar.dialog, &client);
    POINT corner = { 0, client.bottom };
    ClientToScreen(bar.dialog, &corner);
    RECT window;
    GetWindowRect(bar.dialog, &window);
    int width = window.right - window.left - 2 * (corner.x - window.left);
    bool shown = IsWindowVisible(bar.dialog) && !IsIconic(bar.dialog);
    SetWindowPos(bar.host, nullptr, corner.x, corner.y, width > client.right ? width : client.right, bar.height,
                 SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void ReserveBarStrip(const MenuBar& bar, RECT& client)
{
    client.bottom = client.bottom - bar.height > client.top ? client.bottom - bar.height : client.top;
}

LRESULT CALLBACK DialogWithBarProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data);

void DetachBar(const MenuBar& bar)
{
    RemovePropW(bar.dialog, BAR_PROPERTY);
    RemoveWindowSubclass(bar.dialog, DialogWithBarProc, BAR_SUBCLASS_ID);
}

LRESULT CALLBACK DialogWithBarProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    MenuBar& bar = *reinterpret_cast<MenuBar*>(data);
    switch (message) {
    case WM_NCCALCSIZE: {
        LRESULT result = DefSubclassProc(dialog, message, wParam, lParam);
        ReserveBarStrip(bar, wParam ? reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : *reinterpret_cast<RECT*>(lParam));
        return result;
    }
    case WM_WINDOWPOSCHANGED: {
        LRESULT result = DefSubclassProc(dialog, message, wParam, lParam);
        PlaceBar(bar);
        return result;
    }
    case WM_ENABLE:
        EnableWindow(bar.host, BOOL(wParam));
        break;
    case WM_INITMENUPOPUP:      // the handheld reports a bar pop-up by its button's command id
        if (bar.openPopup && reinterpret_cast<HMENU>(wParam) == bar.openPopup)
            lParam = MAKELPARAM(bar.openCommand, HIWORD(lParam));
        break;
    case WM_DESTROY:            // a child dialog does not take its owned pop-ups with it
        DetachBar(bar);
        DestroyWindow(bar.host);
        break;
    }
    return DefSubclassProc(dialog, message, wParam, lParam);
}

// Frees what the bar holds. A dialog that is still attached (the bar was destroyed
// first, as a dialog's owned windows are) gets its strip back.
void ReleaseBar(MenuBar* bar)
{
    if (bar->backKeyFlags)
        DropBackKeyHook();
    if (BarOf(bar->dialog) == bar) {
        DetachBar(*bar);
        SetWindowPos(bar->dialog, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (bar->menu)
        DestroyMenu(bar->menu);
    delete bar;
}

LRESULT CALLBACK MenuBarProc(HWND host, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* bar = reinterpret_cast<MenuBar*>(GetWindowLongPtrW(host, GWLP_USERDATA));
    if (!bar)
        return DefWindowProcW(host, message, wParam, lParam);
    switch (message) {
    case WM_MOUSEACTIVATE:      // the dialog keeps the focus
        return MA_NOACTIVATE;
    case WM_SIZE:
        MoveWindow(bar->toolbar, 0, BAR_MARGIN, LOWORD(lParam), bar->height - 2 * BAR_MARGIN, TRUE);
        return 0;
    case WM_COMMAND:            // posted: the dialog may close itself in answer
        if (reinterpret_cast<HWND>(lParam) == bar->toolbar)
            PostMessageW(bar->dialog, WM_COMMAND, MAKEWPARAM(LOWORD(wParam), BN_CLICKED), reinterpret_cast<LPARAM>(host));
        return 0;
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->code == TBN_DROPDOWN)
            return OpenPopup(*bar, WORD(reinterpret_cast<NMTOOLBARW*>(lParam)->iItem));
        break;
    case SHCMBM_GETSUBMENU:
        return reinterpret_cast<LRESULT>(PopupOf(*bar, lParam));
    case SHCMBM_GETMENU:
        return reinterpret_cast<LRESULT>(bar->menu);
    case SHCMBM_OVERRIDEKEY:
        return OverrideKey(*bar, wParam, lParam);
    case WM_NCDESTROY:
        SetWindowLongPtrW(host, GWLP_USERDATA, 0);
        ReleaseBar(bar);
        return 0;
    }
    if (message >= WM_USER && message < TOOLBAR_MESSAGE_END)
        return SendMessageW(bar->toolbar, message, wParam, lParam);
    return DefWindowProcW(host, message, wParam, lParam);
}

// Copies string 'id' of 'module' into 'text' (no string: an empty text). A text that does
// not fit is refused, not cut.
[[nodiscard]] bool LoadButtonText(HINSTANCE module, WORD id, wchar_t (&text)[MAX_BUTTON_TEXT])
{
    size_t length = 0;
    const wchar_t* resource = id ? FindProgramString(module, id, length) : nullptr;
    if (length >= MAX_BUTTON_TEXT)
        return false;
    if (resource)
        wmemcpy(text, resource, length);
    text[length] = 0;
    return true;
}

// Fills the toolbar with the layout's buttons, text only, in the dialog's font, and sets
// the bar's height from theirs.
[[nodiscard]] DWORD AddBarButtons(HINSTANCE module, const BarLayout& layout, MenuBar& bar)
{
    wchar_t texts[MAX_BAR_BUTTONS][MAX_BUTTON_TEXT];
    TBBUTTON buttons[MAX_BAR_BUTTONS] = {};
    for (int i = 0; i < layout.count; i++) {
        const BarButton& button = layout.buttons[i];
        if (!LoadButtonText(module, button.textId, texts[i]))
            return ERROR_INSUFFICIENT_BUFFER;
        buttons[i].iBitmap = I_IMAGENONE;       // the bar's bitmaps are not drawn on the desktop
        buttons[i].idCommand = button.command;
        buttons[i].fsState = BYTE(button.state);
        buttons[i].fsStyle = BYTE(button.style);
        buttons[i].dwData = reinterpret_cast<DWORD_PTR>(bar.popups[i]);
        buttons[i].iString = reinterpret_cast<INT_PTR>(texts[i]);
    }
    SendMessageW(bar.toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(bar.toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
    if (LRESULT font = SendMessageW(bar.dialog, WM_GETFONT, 0, 0))
        SendMessageW(bar.toolbar, WM_SETFONT, WPARAM(font), FALSE);
    if (layout.count && !SendMessageW(bar.toolbar, TB_ADDBUTTONSW, layout.count, reinterpret_cast<LPARAM>(buttons)))
        return ERROR_NOT_ENOUGH_MEMORY;
    bar.height = HIWORD(SendMessageW(bar.toolbar, TB_GETBUTTONSIZE, 0, 0)) + 2 * BAR_MARGIN;
    return ERROR_SUCCESS;
}

// Builds the toolbar in the host, then hooks the bar to the dialog and lays it out.
[[nodiscard]] DWORD FitBarToDialog(HINSTANCE module, const BarLayout& layout, MenuBar& bar)
{
    DWORD result = LoadBarMenu(module, layout, bar);
    if (result != ERROR_SUCCESS)
        return result;
    bar.toolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                  WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NODIVIDER |
                                      CCS_NORESIZE | CCS_NOPARENTALIGN,
                                  0, 0, 0, 0, bar.host, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!bar.toolbar)
        return GetLastError();
    if ((result = AddBarButtons(module, layout, bar)) != ERROR_SUCCESS)
        return result;
    if (!SetWindowSubclass(bar.dialog, DialogWithBarProc, BAR_SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(&bar)))
        return ERROR_INVALID_PARAMETER;
    if (!SetPropW(bar.dialog, BAR_PROPERTY, &bar)) {
        RemoveWindowSubclass(bar.dialog, DialogWithBarProc, BAR_SUBCLASS_ID);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // Recomputes the client area; the WM_WINDOWPOSCHANGED that follows places the bar.
    SetWindowPos(bar.dialog, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return ERROR_SUCCESS;
}

// Creates the host window, which owns 'bar' from then on, and builds the bar in it.
[[nodiscard]] DWORD BuildMenuBar(HWND dialog, HINSTANCE module, const BarLayout& layout, HWND& hostOut)
{
    INITCOMMONCONTROLSEX controls = { sizeof controls, ICC_BAR_CLASSES };
    if (!InitCommonControlsEx(&controls) || !RegisterOnce(BAR_CLASS, MenuBarProc, 0, GetSysColorBrush(COLOR_BTNFACE)))
        return ERROR_CLASS_DOES_NOT_EXIST;
    MenuBar* bar = new (std::nothrow) MenuBar{};
    if (!bar)
        return ERROR_NOT_ENOUGH_MEMORY;
    bar->dialog = dialog;
    bar->host = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, BAR_CLASS, nullptr, WS_POPUP | WS_CLIPCHILDREN,
                                0, 0, 0, 0, dialog, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!bar->host) {
        DWORD error = GetLastError();
        delete bar;
        return error ? error : ERROR_INVALID_WINDOW_HANDLE;
    }
    HWND host = bar->host;
    SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bar));
    DWORD result = FitBarToDialog(module, layout, *bar);
    if (result != ERROR_SUCCESS) {
        DestroyWindow(host);            // frees the bar
        return result;
    }
    hostOut = host;
    return ERROR_SUCCESS;
}

// The SIPPREF control: present in the template, invisible, transparent to the mouse.
LRESULT CALLBACK InputPanelPreferenceProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    case WM_ERASEBKGND:
        return TRUE;
    case WM_PAINT:
        ValidateRect(window, nullptr);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

BOOL SHCreateMenuBar(SHMENUBARINFO* info)
{
    if (!info || info->cbSize < offsetof(SHMENUBARINFO, clrBk))
        return Fail(ERROR_INVALID_PARAMETER);
    info->hwndMB = nullptr;
    if (GetWindowThreadProcessId(info->hwndParent, nullptr) != GetCurrentThreadId())
        return Fail(ERROR_INVALID_WINDOW_HANDLE);   // no window, or one this thread cannot subclass
    if (BarOf(info->hwndParent))
        return Fail(ERROR_ALREADY_EXISTS);
    BarLayout layout;
    DWORD result = (info->dwFlags & SHCMBF_EMPTYBAR) ? ERROR_SUCCESS
                                                       : ReadBarLayout(info->hInstRes, info->nToolBarId, layout);
    if (result == ERROR_SUCCESS)
        result = BuildMenuBar(info->hwndParent, info->hInstRes, layout, info->hwndMB);
    return result == ERROR_SUCCESS ? TRUE : Fail(result);
}

HWND SHFindMenuBar(HWND dialog)
{
    MenuBar* bar = BarOf(dialog);
    return bar ? bar->host : nullptr;
}

BOOL SHInitDialog(SHINITDLGINFO* info)
{
    if (!info || !IsWindow(info->hDlg))
        return Fail(ERROR_INVALID_PARAMETER);
    constexpr DWORD FULL_SCREEN = SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR;
    if (!(info->dwMask & SHIDIM_FLAGS) || !(info->dwFlags & FULL_SCREEN))
        return TRUE;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(info->hDlg, MONITOR_DEFAULTTONEAREST), &monitor))
        return FALSE;
    const RECT& area = monitor.rcWork;
    return SetWindowPos(info->hDlg, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                        SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL SHInitExtraControls()
{
    return RegisterOnce(SIPPREF_CLASS, InputPanelPreferenceProc, CS_GLOBALCLASS, nullptr) ? TRUE : FALSE;
}

BOOL SHHandleWMActivate(HWND, WPARAM, LPARAM, SHACTIVATEINFO*, DWORD)
{
    return TRUE;
}

BOOL SHHandleWMSettingChange(HWND, WPARAM, LPARAM, SHACTIVATEINFO*)
{
    return TRUE;
}

BOOL SHSendBackToFocusWindow(UINT, WPARAM, LPARAM)
{
    HWND focus = GetFocus();
    if (!focus)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    constexpr LPARAM BACKSPACE_PRESS = 1 | 0x0E << 16;              // repeat 1, scan code 0x0E
    constexpr LPARAM BACKSPACE_RELEASE = BACKSPACE_PRESS | 0xC0000000;
    SendMessageW(focus, WM_KEYDOWN, VK_BACK, BACKSPACE_PRESS);
    SendMessageW(focus, WM_CHAR, VK_BACK, BACKSPACE_PRESS);
    SendMessageW(focus, WM_KEYUP, VK_BACK, BACKSPACE_RELEASE);
    return TRUE;
}
