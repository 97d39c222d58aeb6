// The program's own windows: the dialogs built from script lines, the help viewer and the
// about box, and the template of the dialogs that have no resource.
#pragma once
#include "base/writers.h"
#include "base/outward_calls.h"
#include "platform/mobile_shell.h"
#include <shellapi.h>

// dialog_template.cpp
// The template of the dialogs that have no resource of their own.
struct BlankDialogTemplate {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    wchar_t title[80];
};
void FillBlankDialogTemplate(BlankDialogTemplate& dialog, const wchar_t* title);
void FillBlankDialogTemplate(BlankDialogTemplate& dialog, TextPiece title);

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
// True for the platform types of the handhelds, "PocketPC" and "SmartPhone" (any case).
bool IsHandheldType(const wchar_t* platformType);
// True on a Pocket PC or a Smartphone, read once; false on the desktop.
bool IsHandheldPlatform();
// True for a work area of a phone's size: narrower or lower than a small desktop screen
// (640 by 480 pixels at 96 pixels per inch, less a task bar) at the screen's density.
bool IsPhoneSizedArea(int width, int height, int dpiX, int dpiY);

// menu_bar.cpp
// The soft-key bar of 'parent' from menu-bar resource 'resourceId'; nullptr when it cannot
// be made, and then every call below that gets it does nothing.
HWND CreateMenuBar(HWND parent, UINT resourceId, DWORD flags);
// The pop-up of the bar's button at 'position': the button's own, or that pop-up of the bar's menu.
HMENU GetBarButtonMenu(HWND bar, int position);
bool IsMenuItemChecked(HMENU menu, UINT id);
void SetBarButtonState(HWND bar, UINT id, BYTE state);
void SetBarButtonEnabled(HWND bar, UINT id, bool enabled);
// Gives the button 'id' the text of string 'textId'.
void SetBarButtonText(HWND bar, UINT id, UINT textId);
int ShowMenuMessage(UINT id, HWND window, const wchar_t* text, UINT type);

// browse.cpp
// Appends a backslash to 'path' unless it ends with one, then 'name'. The new length; 0,
// with 'path' unchanged, when the result would not fit.
size_t AppendPathComponent(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* name);
// Lets the user pick a file with the first file dialog installed, starting in the folder
// of the last file picked (the setting BrowseFile of HKCU\Software\Varnolt), and puts
// its path into the control 'control' of 'owner'. Non-zero when a file was picked.
DWORD BrowseForFile(HWND owner, int control, UINT filterId);
// The same as on the device family and system version 'platform' tells (platformFlags'
// bits): where the system's own dialog fails on a Smartphone before version 5, it offers
// a default file instead.
DWORD BrowseForFileOnPlatform(HWND owner, int control, UINT filterId, DWORD platform);

// help.cpp
// True for an existing file that is not a folder.
bool FileExists(const wchar_t* path);
// The program's own path with 'extension' in place of its own; its length, 0 when it
// does not fit.
size_t ModulePathWithExtension(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* extension);
// Shows the guide next to the program (no argument), a web or file:// address, a file's
// text, or the argument itself as an HTML page, until the user closes it; 0 then.
[[nodiscard]] DWORD ShowHelp(HWND owner, const wchar_t* args);

// about.cpp
// A link of the about box, and where it was last drawn (empty until the box is painted).
struct AboutLink {
    const wchar_t* text;
    const wchar_t* target;
    const wchar_t* parameters;
    RECT rect;
};
constexpr int ABOUT_LINK_COUNT = 3;
constexpr int NO_LINK = -1;
extern AboutLink aboutLinks[ABOUT_LINK_COUNT];
// The link the about box has selected, kept from one opening to the next.
extern int selectedLink;
// The file version of the program's version resource, "1.2.3.4"; false without one.
bool ReadProgramVersion(wchar_t (&text)[32]);
DWORD ShowAbout(HWND owner);

// script_dialog.cpp
constexpr int MAX_DIALOG_ITEMS = 32;
constexpr int FIRST_ITEM_ID = 4531;         // item i is the control FIRST_ITEM_ID + i
// Runs one REGX argument and returns its result (the registry family's RegistryCommand,
// handed in by the wiring).
using RegistryRunner = DWORD (*)(const wchar_t* args);

// A DLGX argument: "title,items", or the items alone under 'defaultTitle' when they start
// with an item mark ('$' '<' '@' '[' '{'). A title alone has the empty list.
struct DialogArgument {
    TextPiece title;
    const wchar_t* items;
};
DialogArgument ReadDialogArgument(const wchar_t* args, const wchar_t* defaultTitle);

// One item of a DLGX list, as the dialog will create it; its texts are pieces of the list.
struct DialogItem {
    const wchar_t* className;   // "STATIC", "BUTTON" or "EDIT"
    DWORD style;
    TextPiece text;             // the label, or an edit box's initial text
    TextPiece registryText;     // an @ item's REGX test; its start is nullptr for every other item
    wchar_t mark;               // the item's first character for '$' '[' '<' '{' '@'; 0 for an edit box
    bool checked;               // '[' '<' '{': starts checked by its bracket prefix
    bool hasControl;            // false only for an @ item without '|'
};
struct DialogItemList {
    bool hideCancel;            // the list began with '#'
    int count;
    DialogItem items[MAX_DIALOG_ITEMS];
};
// Reads a DLGX item list: a separator ends each item, and the first '|' of an @ item ends
// its label. At most MAX_DIALOG_ITEMS items are read and nothing after the list's end; an
// empty list, or an empty item, is an empty edit box.
void ReadDialogItems(const wchar_t* list, DialogItemList& items);
// DLGX: shows the dialog of 'items' (see ReadDialogItems) titled 'title' (cut to 79 units),
// owned by the console when it is open, and waits for the user. Done stores the edit
// boxes' texts in %0..%9, writes the @ items' values through 'registry' and returns the
// mask of checked items; Cancel returns -1 (0xFFFFFFFF) and changes nothing. The dialog's
// state is process-wide: while one is open, another is refused with ERROR_BUSY.
[[nodiscard]] DWORD ShowScriptDialog(TextPiece title, const wchar_t* items, RegistryRunner registry);

// dialog_scrolling.cpp
// The scrolling of a script dialog: sizes in pixels, positions scrolled so far, and the
// shell's activation record.
struct ScrollState {
    int contentWidth;
    int contentHeight;
    int viewWidth;
    int viewHeight;
    int x;
    int y;
    SHACTIVATEINFO activation;
};
// Every message the script dialog does not finish itself ends here; the result is the
// dialog procedure's. The dialog scrolls over its content, measured once at WM_INITDIALOG:
// both ways on a Pocket PC, elsewhere only vertically (with the WS_VSCROLL style).
INT_PTR HandleDialogScrolling(ScrollState& state, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ScrollToOrigin(ScrollState& state, HWND dialog);
// Moves the content along 'bar' (SB_HORZ or SB_VERT) for a scroll-bar 'request' and
// updates 'position', the state's position along that bar: a line is a hundredth and a
// page a tenth of the content extent, at least one pixel each.
void ScrollDialogBy(HWND dialog, int bar, int request, int& position, int contentExtent, int viewExtent);
