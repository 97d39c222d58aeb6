// The help viewer: a full-screen dialog holding the HTML view, showing the guide next to
// the program, a file, a web or file address, or the argument itself as HTML.
#include "html/html.h"
#include "resources/resource.h"
#include "ui/ui.h"
#include <commctrl.h>

namespace {

constexpr int VIEW_ID = 303;
constexpr DWORD VIEW_STYLE = 0x50000002;        // WS_CHILD, WS_VISIBLE and the control's own bit 2
constexpr WPARAM NAVIGATE_FLAGS = 0x80;
constexpr size_t MESSAGE_CHARS = 1024;
constexpr wchar_t FILE_SCHEME[] = L"file://";

// Addresses the view navigates to; anything else is a file or HTML text. https:// is
// today's usual web address and belongs with http://.
constexpr const wchar_t* ADDRESS_PREFIXES[] = {L"http://", L"https://", FILE_SCHEME};

bool IsAddress(const wchar_t* text)
{
    for (const wchar_t* prefix : ADDRESS_PREFIXES)
        if (MatchPrefixNoCase(prefix, text) == wcslen(prefix))
            return true;
    return false;
}

void Navigate(HWND view, const wchar_t* address)
{
    SendMessageW(view, DTM_NAVIGATE, NAVIGATE_FLAGS, reinterpret_cast<LPARAM>(address));
}

void ShowSource(HWND view, const wchar_t* html)
{
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(html));
    SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
}

// The guide next to the program through a file:// address; string 803 without it.
void ShowGuide(HWND view)
{
    wchar_t path[MAX_PATH_CHARS];
    wchar_t address[MAX_PATH_CHARS + ARRAYSIZE(FILE_SCHEME)];
    if (ModulePathWithExtension(path, L"htm") && FileExists(path) &&
        SUCCEEDED(StringCchPrintfW(address, ARRAYSIZE(address), L"%s%s", FILE_SCHEME, path))) {
        Navigate(view, address);
        return;
    }
    wchar_t message[MESSAGE_CHARS] = {};
    LoadProgramString(IDS_NO_HELP_FILE, message);
    ShowSource(view, message);
}

// An address is navigated to, and so is an existing file, so that the view knows the
// page's folder and its relative links start there; any other argument is itself the
// page's HTML.
void ShowArgument(HWND view, const wchar_t* argument)
{
    if (IsAddress(argument) || FileExists(argument))
        Navigate(view, argument);
    else
        ShowSource(view, argument);
}

void FillWithView(HWND dialog)
{
    RECT client = {};
    GetClientRect(dialog, &client);
    MoveWindow(GetDlgItem(dialog, VIEW_ID), 0, 0, client.right, client.bottom, TRUE);
}

BOOL OnInitHelp(HWND dialog, const wchar_t* argument)
{
    InitHTMLControl(instanceHandle);
    HWND bar = CreateMenuBar(dialog, IDR_DONE_CANCEL_BAR, 0);
    SetBarButtonState(bar, IDCANCEL, TBSTATE_HIDDEN);
    SHINITDLGINFO info = {SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN};
    SHInitDialog(&info);
    HWND view = CreateWindowExW(0, HTML_VIEW_CLASS, nullptr, VIEW_STYLE, 0, 0, 0, 0, dialog,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(VIEW_ID)), instanceHandle, nullptr);
    FillWithView(dialog);       // the dialog had its size before the view existed: lay out once, at full width
    if (argument && *argument)
        ShowArgument(view, argument);
    else
        ShowGuide(view);
    SetFocus(view);             // keys scroll the page from the start
    return FALSE;
}

INT_PTR CALLBACK HelpProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitHelp(dialog, reinterpret_cast<const wchar_t*>(lParam));
    case WM_SIZE:
        MoveWindow(GetDlgItem(dialog, VIEW_ID), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 0);
        return 0;
    }
    return 0;
}

} // namespace

bool FileExists(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(path, GetFileExInfoStandard, &data) && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

size_t ModulePathWithExtension(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* extension)
{
    DWORD length = GetModuleFileNameW(instanceHandle, path, MAX_PATH_CHARS);
    if (length == 0 || length >= MAX_PATH_CHARS)
        return 0;
    wchar_t* dot = wcsrchr(path, L'.');
    size_t stem = dot ? static_cast<size_t>(dot - path) : length;
    if (FAILED(StringCchPrintfW(path + stem, MAX_PATH_CHARS - stem, L".%s", extension)))
        return 0;
    return wcslen(path);
}

DWORD ShowHelp(HWND owner, const wchar_t* args)
{
    BlankDialogTemplate dialog;
    FillBlankDialogTemplate(dialog, nullptr);
    return static_cast<DWORD>(
        DialogBoxIndirectParamW(instanceHandle, &dialog.header, owner, HelpProc, reinterpret_cast<LPARAM>(args)));
}
