// Stand-ins for the handheld shell's dialog helpers: the soft-key menu bar, full-screen
// dialogs, the input-panel control and the Back key. The windows of ui/ call them by the
// handheld's names, with its records, message numbers and constants.
#pragma once
#include <windows.h>

// Menu bar creation flags (SHMENUBARINFO::dwFlags).
constexpr DWORD SHCMBF_EMPTYBAR = 0x0001;       // no buttons; nToolBarId is not read
constexpr DWORD SHCMBF_HIDESIPBUTTON = 0x0004;  // the desktop has no input-panel button anyway

// Messages a menu bar window answers besides the toolbar's own (TB_SETBUTTONINFO, TB_GETBUTTON ...).
constexpr UINT SHCMBM_GETSUBMENU = WM_USER + 401;   // lParam: a drop-down button's command id -> its pop-up
constexpr UINT SHCMBM_GETMENU = WM_USER + 402;      // -> the menu whose pop-ups the buttons open
constexpr UINT SHCMBM_OVERRIDEKEY = WM_USER + 403;  // wParam: key; lParam: MAKELPARAM(mask, value)

// SHCMBM_OVERRIDEKEY flags.
constexpr WORD SHMBOF_NODEFAULT = 0x0001;   // the dialog does not see the key
constexpr WORD SHMBOF_NOTIFY = 0x0002;      // the dialog gets WM_HOTKEY for it

constexpr UINT VK_TBACK = VK_ESCAPE;        // the Back key
constexpr WORD MOD_KEYUP = 0x1000;          // WM_HOTKEY: the key was released

// Menu bar resource (RCDATA) values.
constexpr WORD MENUBAR_NO_MENU = 0xFFFF;    // word 0: no menu; a button's pop-up index: none

struct SHMENUBARINFO {
    DWORD cbSize;
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;        // RCDATA resource describing the buttons
    HINSTANCE hInstRes;     // module holding it, its menu and its strings
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;            // out: the bar
    COLORREF clrBk;
};

// SHInitDialog
constexpr DWORD SHIDIM_FLAGS = 0x0001;
constexpr DWORD SHIDIF_DONEBUTTON = 0x0001;
constexpr DWORD SHIDIF_SIZEDLG = 0x0002;
constexpr DWORD SHIDIF_SIZEDLGFULLSCREEN = 0x0004;
constexpr DWORD SHIDIF_SIPDOWN = 0x0008;
constexpr DWORD SHIDIF_FULLSCREENNOMENUBAR = 0x0010;

struct SHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
};

struct SHACTIVATEINFO {
    DWORD cbSize;
    HWND hwndLastFocus;
    DWORD fSipUp : 1;
    DWORD fSipOnDeactivation : 1;
    DWORD fActive : 1;
    DWORD fReserved : 29;
};

// The input-panel preference control class that dialog templates may name.
constexpr wchar_t SIPPREF_CLASS[] = L"SIPPREF";

// mobile_shell.cpp
// Builds the menu bar described by the RCDATA resource info->nToolBarId of info->hInstRes
// (16-bit words: menu id or 0xFFFF, button count, then per button: image, command id,
// state, style, string id, 0, pop-up index or 0xFFFF) along the bottom of
// info->hwndParent, whose client area then ends above the bar. Call it on the dialog's
// thread. Plain buttons post WM_COMMAND(MAKEWPARAM(id, BN_CLICKED), bar) to the dialog. A
// drop-down button opens its pop-up with the dialog as owner; as on the handheld, the
// dialog's WM_INITMENUPOPUP for it carries the button's command id in LOWORD(lParam), and
// the chosen item arrives as WM_COMMAND. With the Back key overridden (SHCMBM_OVERRIDEKEY,
// VK_TBACK, NOTIFY) the dialog gets WM_HOTKEY(0, MAKELPARAM(MOD_KEYUP, VK_TBACK)) once per
// press, when the key is released. Sets info->hwndMB and returns TRUE; on a missing or
// malformed resource returns FALSE (GetLastError says why) and leaves hwndMB null. The bar
// goes with the dialog; destroyed alone, it gives the dialog its strip back.
BOOL SHCreateMenuBar(SHMENUBARINFO* info);
// The menu bar of 'dialog', or null.
HWND SHFindMenuBar(HWND dialog);
// With SHIDIF_SIZEDLG, SHIDIF_SIZEDLGFULLSCREEN or SHIDIF_FULLSCREENNOMENUBAR sizes the
// dialog to the work area of its monitor; the other flags have no desktop effect.
BOOL SHInitDialog(SHINITDLGINFO* info);
// Registers the SIPPREF class, a child that shows and does nothing. Safe to call again.
BOOL SHInitExtraControls();
// The input panel does not exist on the desktop: nothing to do; TRUE.
BOOL SHHandleWMActivate(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info, DWORD flags);
BOOL SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info);
// Gives the focused control one Backspace (key down, character, key up), whatever the
// WM_HOTKEY that led here. FALSE when no window of this thread has the focus.
BOOL SHSendBackToFocusWindow(UINT message, WPARAM wParam, LPARAM lParam);
