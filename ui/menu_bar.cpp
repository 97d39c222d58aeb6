#include "platform/mobile_shell.h"
#include "resources/resource.h"
#include "ui/ui.h"
#include <commctrl.h>

namespace {

constexpr size_t CAPTION_CHARS = 80;
constexpr size_t MESSAGE_CHARS = 1024;
constexpr ULONG_PTR LARGEST_STRING_ID = 0xFFFF;

// The text of the item 'id' of 'menu' into 'caption'; false when it has none.
bool ReadMenuItemText(HMENU menu, UINT id, wchar_t (&caption)[CAPTION_CHARS])
{
    MENUITEMINFOW item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_TYPE;
    item.dwTypeData = caption;
    item.cch = CAPTION_CHARS;
    return menu && GetMenuItemInfoW(menu, id, FALSE, &item);
}

} // namespace

HWND CreateMenuBar(HWND parent, UINT resourceId, DWORD flags)
{
    SHMENUBARINFO info = {};
    info.cbSize = sizeof info;
    info.hwndParent = parent;
    info.dwFlags = flags;
    info.nToolBarId = resourceId;
    info.hInstRes = instanceHandle;
    (void)SHCreateMenuBar(&info);       // without a bar the handle stays null and messages to it do nothing
    return info.hwndMB;
}

HMENU GetBarButtonMenu(HWND bar, int position)
{
    TBBUTTON button = {};
    if (bar && SendMessageW(bar, TB_GETBUTTON, position, reinterpret_cast<LPARAM>(&button)) && button.dwData)
        return reinterpret_cast<HMENU>(button.dwData);
    auto menu = reinterpret_cast<HMENU>(bar ? SendMessageW(bar, SHCMBM_GETMENU, 0, 0) : 0);
    return menu ? GetSubMenu(menu, position) : nullptr;
}

bool IsMenuItemChecked(HMENU menu, UINT id)
{
    MENUITEMINFOW item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STATE;
    return menu && GetMenuItemInfoW(menu, id, FALSE, &item) && (item.fState & MFS_CHECKED);
}

void SetBarButtonState(HWND bar, UINT id, BYTE state)
{
    TBBUTTONINFOW info = {};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_STATE;
    info.fsState = state;
    if (bar)
        SendMessageW(bar, TB_SETBUTTONINFO, id, reinterpret_cast<LPARAM>(&info));
}

void SetBarButtonEnabled(HWND bar, UINT id, bool enabled)
{
    SetBarButtonState(bar, id, enabled ? TBSTATE_ENABLED : 0);
}

void SetBarButtonText(HWND bar, UINT id, UINT textId)
{
    wchar_t text[CAPTION_CHARS] = {};
    LoadProgramString(textId, text);
    TBBUTTONINFOW info = {};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT;
    info.pszText = text;
    if (bar)
        SendMessageW(bar, TB_SETBUTTONINFO, id, reinterpret_cast<LPARAM>(&info));
}

// A message box captioned with the text of the menu item 'id' of the window's menu bar
// (the application title when it has none). 'text' is the message, or below 0x10000 the
// id of a string whose "%s" receives the caption.
int ShowMenuMessage(UINT id, HWND window, const wchar_t* text, UINT type)
{
    HWND bar = SHFindMenuBar(window);
    wchar_t caption[CAPTION_CHARS] = {};
    if (!ReadMenuItemText(GetBarButtonMenu(bar, 1), id, caption) && !ReadMenuItemText(GetBarButtonMenu(bar, 0), id, caption))
        LoadProgramString(IDS_APP_TITLE, caption);
    wchar_t message[MESSAGE_CHARS] = {};
    if (reinterpret_cast<ULONG_PTR>(text) <= LARGEST_STRING_ID) {
        wchar_t format[MESSAGE_CHARS] = {};
        LoadProgramString(instanceHandle, static_cast<UINT>(reinterpret_cast<ULONG_PTR>(text)), format, MESSAGE_CHARS);
        wsprintfW(message, format, caption);
        text = message;
    }
    return outwardCalls.messageBox(window, text, caption, type);
}
