// The program's own windows: the dialogs built from script lines, the help viewer and the
// about box, and the template of the dialogs that have no resource.
#pragma once
#include "base/base.h"

// dialog_template.cpp
// The template of the dialogs that have no resource of their own.
struct BlankDialogTemplate {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    wchar_t title[80];
};
void FillBlankDialogTemplate(BlankDialogTemplate& dialog, const wchar_t* title);

// screen.cpp
constexpr DWORD PLATFORM_POCKET_PC = 0x10000;   // the platform type is "PocketPC"
constexpr DWORD PLATFORM_CE5 = 0x20000;         // system version 5 or later
constexpr DWORD PLATFORM_CE52 = 0x40000;        // version 5.2 or later
// The system's major version in bits 0-7, its minor version in bits 8-15, and the flags
// above; read once before the program's entry.
extern const DWORD platformFlags;
DWORD ComposePlatformFlags(DWORD major, DWORD minor, const wchar_t* platformType);
int QueryScreenCaps(int capability);
// The screen's pixels per inch, each read once and kept for the process (-1 without a screen).
int ScreenDpiX();
int ScreenDpiY();
// A length designed for 96 pixels per inch, on a screen of 'pixelsPerInch'.
int ScalePixels(int designLength, int pixelsPerInch);

// menu_bar.cpp
// The soft-key bar of 'parent' from menu-bar resource 'resourceId'; nullptr when it cannot
// be made, and then every call below that gets it does nothing.
HWND CreateMenuBar(HWND parent, UINT resourceId, DWORD flags);
// The pop-up of the bar's button at 'position': the button's own, or that pop-up of the bar's menu.
HMENU GetBarButtonMenu(HWND bar, int position);
bool IsMenuItemChecked(HMENU menu, UINT id);
void SetBarButtonState(HWND bar, UINT id, BYTE state);
void SetBarButtonEnabled(HWND bar, UINT id, bool enabled);
int ShowMenuMessage(UINT id, HWND window, const wchar_t* text, UINT type);

// help.cpp
[[nodiscard]] DWORD ShowHelp(HWND owner, wchar_t* args);

// script_dialog.cpp
[[nodiscard]] DWORD ShowScriptDialog(const wchar_t* title, wchar_t* items);
