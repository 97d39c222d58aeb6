// DLGX: a full-screen dialog whose controls are the items of the script line.
#include "base/buffer.h"
#include "resources/resource.h"
#include "ui/ui.h"
#include <commctrl.h>
#include <cwchar>

namespace {

constexpr wchar_t HIDE_CANCEL_MARK = L'#';
constexpr wchar_t REGISTRY_TEXT_MARK = L'|';
constexpr wchar_t UNCHECKED_STATE = L'0';
constexpr wchar_t LABEL_MARK = L'$';
constexpr wchar_t CHECK_BOX_MARK = L'[';
constexpr wchar_t RADIO_MARK = L'<';
constexpr wchar_t RADIO_GROUP_MARK = L'{';
constexpr wchar_t REGISTRY_MARK = L'@';
constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE;
constexpr DWORD CHECK_BOX_STYLE = CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD EDIT_STYLE = CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr INT_PTR CANCELLED = -1;

struct ItemKind {
    wchar_t mark;
    const wchar_t* className;
    DWORD style;
};

// An item's first character picks its control; any other character makes an edit box.
constexpr ItemKind ITEM_KINDS[] = {
    {LABEL_MARK, L"STATIC", CHILD},
    {CHECK_BOX_MARK, L"BUTTON", CHECK_BOX_STYLE},
    {RADIO_MARK, L"BUTTON", CHILD | WS_TABSTOP | BS_AUTORADIOBUTTON},
    {RADIO_GROUP_MARK, L"BUTTON", CHILD | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON},
    {REGISTRY_MARK, L"BUTTON", CHECK_BOX_STYLE},
};
static_assert(CHECK_BOX_STYLE == 0x50010003 && EDIT_STYLE == 0x50810080);

// The state of the one open script dialog; its items are pieces of the list, which lasts
// as long as the dialog.
struct ScriptDialogState {
    bool isOpen;
    int itemCount;
    RegistryRunner registry;
    ScrollState scroll;
    DialogItemList items;
};
ScriptDialogState scriptDialog;

// "[]label" (an opening mark directly followed by its closing mark, the opening code
// plus 2) starts unchecked; otherwise the second character is the state and the third is
// skipped: "[x]label" starts checked, "[0]label" unchecked. A label never starts past the
// item's end.
void ReadBracketPrefix(TextPiece item, DialogItem& described)
{
    wchar_t second = UnitOfPiece(item, 1);
    if (second == static_cast<wchar_t>(item.start[0] + 2)) {
        described.text = PieceFrom(item, item.start + 2);
        return;
    }
    described.checked = second != UNCHECKED_STATE;
    described.text = PieceFrom(item, item.start + (item.length < 3 ? item.length : 3));
}

// "@label|registry test": the first '|' ends the label; without one the item makes no control.
void ReadRegistryItem(TextPiece item, DialogItem& described)
{
    described.text = PieceFrom(item, item.start + 1);
    const wchar_t* bar = FindInPiece(described.text, REGISTRY_TEXT_MARK);
    if (!bar) {
        described.hasControl = false;
        return;
    }
    described.registryText = PieceFrom(described.text, bar + 1);
    described.text = PieceBefore(described.text, bar);
}

DialogItem DescribeItem(TextPiece item)
{
    DialogItem described = {L"EDIT", EDIT_STYLE, item, {}, 0, false, true};
    for (const ItemKind& kind : ITEM_KINDS) {
        if (UnitOfPiece(item, 0) != kind.mark)
            continue;
        described.className = kind.className;
        described.style = kind.style;
        described.mark = kind.mark;
        if (kind.mark == LABEL_MARK)
            described.text = PieceFrom(item, item.start + 1);
        else if (kind.mark == REGISTRY_MARK)
            ReadRegistryItem(item, described);
        else
            ReadBracketPrefix(item, described);
        break;
    }
    return described;
}

// Runs an @ item's REGX text, copied out of the list to end it.
DWORD RunRegistryText(TextPiece text)
{
    wchar_t args[LINE_BUFFER_CHARS];
    if (!scriptDialog.registry || CopyPiece(args, text) != ERROR_SUCCESS)
        return 0;
    return scriptDialog.registry(args);
}

// Done for an @ item's "path\name=checked?unchecked": writes path\name=checked when the
// box is checked, else path\name=unchecked. A text without "=" and a "?" after it runs as
// written.
void WriteRegistryChoice(TextPiece text, bool checked)
{
    const wchar_t* equals = FindInPiece(text, L'=');
    const wchar_t* question = equals ? FindInPiece(PieceFrom(text, equals), L'?') : nullptr;
    if (!question) {
        (void)RunRegistryText(text);
        return;
    }
    wchar_t setting[LINE_BUFFER_CHARS];
    TextPiece value = checked ? TextPiece{equals + 1, static_cast<size_t>(question - equals - 1)}
                              : PieceFrom(text, question + 1);
    size_t head = static_cast<size_t>(equals + 1 - text.start);
    if (head + value.length >= LINE_BUFFER_CHARS)
        return;
    wmemcpy(setting, text.start, head);
    wmemcpy(setting + head, value.start, value.length);
    (void)RunRegistryText({setting, head + value.length});
}

struct ItemLayout {
    int x;
    int width;
    int rowHeight;
};

// A margin of half a small icon at each side, rows a small icon and 5 pixels high.
ItemLayout LayOutItems(HWND dialog)
{
    RECT client = {};
    GetClientRect(dialog, &client);
    int margin = GetSystemMetrics(SM_CXSMICON) / 2;
    return {margin, client.right - 2 * margin, GetSystemMetrics(SM_CYSMICON) + 5};
}

// Creates item 'index' and gives it its initial state. 'groupFirst' is the first id of
// the current radio group; a '{' item starts a new one.
void CreateItemControl(HWND dialog, const DialogItem& item, int index, const ItemLayout& layout, int& groupFirst)
{
    int id = FIRST_ITEM_ID + index;
    if (!item.hasControl)
        return;
    if (item.mark == RADIO_GROUP_MARK)
        groupFirst = id;
    Buffer<wchar_t> text;           // the label ended, whatever its length
    bool copied = AppendItems(text, item.text.start, item.text.length) == ERROR_SUCCESS && AppendValue(text, L'\0');
    HWND control = CreateWindowExW(0, item.className, copied ? text.items : L"", item.style, layout.x,
                                   index * layout.rowHeight + 5, layout.width, layout.rowHeight - 1, dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instanceHandle, nullptr);
    ReleaseItems(text);
    // The template names no font; the desktop's system font is not the handheld's.
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    if (item.mark == CHECK_BOX_MARK && item.checked)
        SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
    if ((item.mark == RADIO_MARK || item.mark == RADIO_GROUP_MARK) && item.checked)
        CheckRadioButton(dialog, groupFirst, id, id);
    if (item.mark == REGISTRY_MARK && RunRegistryText(item.registryText) != 0)
        SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
}

void OnInitDialog(HWND dialog, const wchar_t* list)
{
    scriptDialog.itemCount = 0;
    if (!list)
        return;
    DialogItemList& items = scriptDialog.items;
    ReadDialogItems(list, items);
    HWND bar = CreateMenuBar(dialog, IDR_DONE_CANCEL_BAR, 0);
    SendMessageW(bar, SHCMBM_OVERRIDEKEY, VK_TBACK,
                 MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
    if (items.hideCancel)
        SetBarButtonState(bar, IDCANCEL, TBSTATE_HIDDEN);
    SHINITDLGINFO info = {SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN};
    SHInitDialog(&info);
    ItemLayout layout = LayOutItems(dialog);
    int groupFirst = FIRST_ITEM_ID;
    for (int i = 0; i < items.count; ++i) {
        CreateItemControl(dialog, items.items[i], i, layout, groupFirst);
        scriptDialog.itemCount = i + 1;
    }
}

// The desktop's edit control trades the WS_BORDER it was created with for a client edge,
// so an edit box is told by its class.
bool IsEditBox(HWND control)
{
    wchar_t className[8] = {};
    return GetClassNameW(control, className, ARRAYSIZE(className)) && _wcsicmp(className, L"EDIT") == 0;
}

// Done: the edit boxes' texts go to %0..%9 in order (an eleventh and later are ignored),
// each checked item sets its bit, and each @ item writes its value.
DWORD CollectResults(HWND dialog)
{
    DWORD mask = 0;
    size_t variable = 0;
    for (int i = 0; i < scriptDialog.itemCount; ++i) {
        HWND control = GetDlgItem(dialog, FIRST_ITEM_ID + i);
        if (!control)
            continue;
        if (IsEditBox(control)) {
            if (variable < VARIABLE_COUNT)
                GetWindowTextW(control, ScriptVariables[variable++], MAX_PATH_CHARS);
            continue;
        }
        bool checked = SendMessageW(control, BM_GETCHECK, 0, 0) != 0;
        if (checked)
            mask |= 1u << i;
        const DialogItem& item = scriptDialog.items.items[i];
        if (item.mark == REGISTRY_MARK)
            WriteRegistryChoice(item.registryText, checked);
    }
    return mask;
}

// Every control of the width of the dialog, less a scroll bar and the control's left margin.
void WidenItems(HWND dialog, int clientWidth)
{
    int bar = GetSystemMetrics(SM_CXVSCROLL);
    for (int i = 0; i < scriptDialog.itemCount; ++i) {
        HWND control = GetDlgItem(dialog, FIRST_ITEM_ID + i);
        RECT rect = {};
        if (!control || !GetWindowRect(control, &rect))
            continue;
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        int width = clientWidth - bar - rect.left;
        MoveWindow(control, rect.left, rect.top, width > 0 ? width : 0, rect.bottom - rect.top, TRUE);
    }
}

INT_PTR CALLBACK ScriptDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog, reinterpret_cast<const wchar_t*>(lParam));
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, static_cast<INT_PTR>(CollectResults(dialog)));
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, CANCELLED);
            return TRUE;
        }
        break;
    case WM_HOTKEY:
        if (HIWORD(lParam) == VK_TBACK)
            SHSendBackToFocusWindow(message, wParam, lParam);
        break;
    case WM_SIZE:
        WidenItems(dialog, LOWORD(lParam));
        break;
    }
    return HandleDialogScrolling(scriptDialog.scroll, dialog, message, wParam, lParam);
}

} // namespace

DialogArgument ReadDialogArgument(const wchar_t* args, const wchar_t* defaultTitle)
{
    if (*args && wcschr(L"$<@[{", *args))
        return {WholeText(defaultTitle), args};
    ArgumentPieces parts = CutArgument(args, 2);
    return {parts.pieces[0], parts.pieces[1].start};
}

void ReadDialogItems(const wchar_t* list, DialogItemList& items)
{
    items.hideCancel = list[0] == HIDE_CANCEL_MARK;
    items.count = 0;
    const wchar_t* item = items.hideCancel ? list + 1 : list;
    while (item && items.count < MAX_DIALOG_ITEMS) {
        const wchar_t* separator = wcschr(item, ARG_SEPARATOR);
        size_t length = separator ? static_cast<size_t>(separator - item) : wcslen(item);
        items.items[items.count++] = DescribeItem({item, length});
        item = separator ? separator + 1 : nullptr;
    }
}

DWORD ShowScriptDialog(TextPiece title, const wchar_t* items, RegistryRunner registry)
{
    if (!items)
        return ERROR_INVALID_PARAMETER;
    if (scriptDialog.isOpen)
        return ERROR_BUSY;
    BlankDialogTemplate dialog;
    FillBlankDialogTemplate(dialog, title);
    scriptDialog = {};
    scriptDialog.isOpen = true;
    scriptDialog.registry = registry;
    INT_PTR result = DialogBoxIndirectParamW(instanceHandle, &dialog.header, consoleWindow, ScriptDialogProc,
                                             reinterpret_cast<LPARAM>(items));
    scriptDialog = {};
    return static_cast<DWORD>(result);
}
