// The about box: a full-screen dialog that paints the program's title, icon, version and
// build date, and three links chosen with the keys or the pointer and opened by the shell.
#include "platform/mobile_shell.h"
#include "resources/resource.h"
#include "ui/ui.h"
#include <commctrl.h>
#include <shellapi.h>
#include <cstring>

AboutLink aboutLinks[ABOUT_LINK_COUNT] = {
    {L"+1 555 0100", L"tmail.exe", L"-service \"SMS\" -to \"+1 555 0100\" -body \"Varnolt\"", {}},
    {L"varnolt@varnolt.example.org", L"mailto:varnolt@varnolt.example.org?subject=Varnolt", nullptr, {}},
    {L"varnolt.example.org", L"https://varnolt.example.org/", nullptr, {}},
};
int selectedLink = NO_LINK;

namespace {

constexpr size_t VERSION_CHARS = 32;
constexpr wchar_t BUILD_DATE[] = L"" __DATE__ " " __TIME__;     // "Jan  1 2026 17:28:03"
constexpr COLORREF SELECTED_LINK_COLOR = RGB(255, 0, 0);
constexpr COLORREF LINK_COLOR = RGB(0, 0, 255);
constexpr COLORREF TITLE_SHADOW_COLOR = RGB(0xAA, 0xAA, 0xAA);
constexpr UINT LINE_CENTRED = DT_SINGLELINE | DT_VCENTER;
constexpr LONG BOLD = 700;
constexpr WORD BACK_KEY_OVERRIDE = SHMBOF_NODEFAULT | SHMBOF_NOTIFY;

int ScaleX(int length) { return ScalePixels(length, ScreenDpiX()); }
int ScaleY(int length) { return ScalePixels(length, ScreenDpiY()); }

void Fill(HDC dc, RECT area, int colorIndex)
{
    SetBkColor(dc, GetSysColor(colorIndex));
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &area, L"", 0, nullptr);
}

// Lines in the caption colour every ScaleY(2) pixels from 'top' to above 'below', doubled where
// that step is wider than two pixels.
void DrawStripes(HDC dc, int left, int right, int top, int below)
{
    HPEN pen = CreatePen(PS_SOLID, 0, GetSysColor(COLOR_ACTIVECAPTION));
    HGDIOBJ original = SelectObject(dc, pen);
    int step = ScaleY(2) > 0 ? ScaleY(2) : 1;       // no screen density: still a step forward
    for (int y = top; y < below; y += step) {
        MoveToEx(dc, left, y, nullptr);
        LineTo(dc, right, y);
        if (step > 2) {
            MoveToEx(dc, left, y + 1, nullptr);
            LineTo(dc, right, y + 1);
        }
    }
    SelectObject(dc, original);
    DeleteObject(pen);
}

// Draws link 'index' at the start of its line and keeps where it went for hit-testing.
void DrawLink(HDC dc, int index, int left, int top, int lineHeight)
{
    AboutLink& link = aboutLinks[index];
    RECT area = {left, top + index * lineHeight, 1024, top + (index + 1) * lineHeight};
    SetTextColor(dc, index == selectedLink ? SELECTED_LINK_COLOR : LINK_COLOR);
    DrawTextW(dc, link.text, -1, &area, DT_CALCRECT | LINE_CENTRED);
    DrawTextW(dc, link.text, -1, &area, LINE_CENTRED);
    link.rect = area;
}

void DrawLinks(HDC dc, int left, int top)
{
    int lineHeight = GetSystemMetrics(SM_CYSMICON);
    for (int i = 0; i < ABOUT_LINK_COUNT; ++i)
        DrawLink(dc, i, left, top, lineHeight);
}

// After a change of selection: the links again, where the last paint put them.
void RedrawLinks(HWND dialog)
{
    HDC dc = GetDC(dialog);
    if (!dc)
        return;
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    DrawLinks(dc, aboutLinks[0].rect.left, aboutLinks[0].rect.top);
    ReleaseDC(dialog, dc);
}

void DrawVersionAndDate(HDC dc, int width, int height, POINT anchor, int bandBottom)
{
    wchar_t version[VERSION_CHARS] = {};
    if (!ReadProgramVersion(version))
        version[0] = 0;
    if (height >= ScaleY(200)) {
        RECT line = {anchor.x - ScaleX(28), bandBottom + ScaleY(16), width - ScaleX(2), bandBottom + ScaleY(32)};
        DrawTextW(dc, version, -1, &line, LINE_CENTRED);
        DrawTextW(dc, BUILD_DATE, -1, &line, LINE_CENTRED | DT_RIGHT);
        return;
    }
    RECT line = {anchor.x + ScaleX(30), anchor.y, width + ScaleX(2), anchor.y + ScaleY(18)};
    DrawTextW(dc, version, -1, &line, LINE_CENTRED);
    OffsetRect(&line, 0, ScaleY(18));
    DrawTextW(dc, BUILD_DATE, -1, &line, LINE_CENTRED);
}

void DrawIconFrame(HDC dc, POINT anchor)
{
    RECT frame = {anchor.x - ScaleX(28), anchor.y - ScaleY(28), anchor.x + ScaleX(28), anchor.y + ScaleY(28)};
    Fill(dc, frame, COLOR_MENUTEXT);
    InflateRect(&frame, -ScaleX(4), -ScaleY(4));
    Fill(dc, frame, COLOR_INFOBK);
    HICON icon = LoadIconW(instanceHandle, MAKEINTRESOURCEW(IDI_PROGRAM));
    DrawIconEx(dc, anchor.x - ScaleX(16), anchor.y - ScaleY(16), icon, GetSystemMetrics(SM_CXICON),
               GetSystemMetrics(SM_CYICON), 0, nullptr, DI_NORMAL);
}

// The title in a bold system font twice its height, over a grey shadow two pixels down
// and to the right.
void DrawTitle(HDC dc, int width, POINT anchor)
{
    LOGFONTW look = {};
    GetObjectW(GetStockObject(SYSTEM_FONT), sizeof look, &look);
    look.lfHeight *= 2;
    look.lfWeight = BOLD;
    look.lfQuality = ANTIALIASED_QUALITY;
    HFONT font = CreateFontIndirectW(&look);
    HGDIOBJ original = SelectObject(dc, font);
    RECT line = {anchor.x + ScaleX(30), anchor.y - ScaleY(30), width, anchor.y};
    SetTextColor(dc, TITLE_SHADOW_COLOR);
    DrawTextW(dc, applicationTitle, -1, &line, LINE_CENTRED);
    OffsetRect(&line, -2, -2);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextW(dc, applicationTitle, -1, &line, LINE_CENTRED);
    SelectObject(dc, original);
    DeleteObject(font);
}

void PaintAbout(HWND dialog, HDC dc)
{
    RECT client = {};
    GetClientRect(dialog, &client);
    int width = client.right, height = client.bottom;
    POINT anchor = {width >= ScaleX(200) ? width / 4 : width / 5, height >= ScaleY(200) ? height / 4 : height / 5};
    int bandBottom = anchor.y + ScaleY(36) + ScaleY(12);
    DrawStripes(dc, 0, anchor.x, 0, anchor.y);
    Fill(dc, {0, anchor.y, width, anchor.y + ScaleY(36)}, COLOR_ACTIVECAPTION);
    Fill(dc, {0, anchor.y + ScaleY(36), width, bandBottom}, COLOR_MENUTEXT);
    DrawStripes(dc, anchor.x - ScaleX(28), width, bandBottom + 1, bandBottom + ScaleY(14));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    DrawVersionAndDate(dc, width, height, anchor, bandBottom);
    DrawLinks(dc, anchor.x - ScaleX(28), height - 3 * GetSystemMetrics(SM_CYSMICON) - ScaleY(34));
    DrawIconFrame(dc, anchor);
    DrawTitle(dc, width, anchor);
}

void OpenLink(HWND dialog, const AboutLink& link)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.hwnd = dialog;
    info.lpFile = link.target;
    info.lpParameters = link.parameters;
    info.nShow = SW_SHOWNORMAL;
    outwardCalls.shellExecute(&info);       // a failure is not reported
}

void OnKey(HWND dialog, WPARAM key)
{
    if (key == VK_TAB || key == VK_DOWN) {
        if (selectedLink < ABOUT_LINK_COUNT - 1)
            ++selectedLink;         // from none, the first
        RedrawLinks(dialog);
    } else if (key == VK_UP) {
        if (selectedLink == NO_LINK)
            selectedLink = ABOUT_LINK_COUNT - 1;
        else if (selectedLink > 0)
            --selectedLink;
        RedrawLinks(dialog);
    } else if (key == VK_RETURN && selectedLink != NO_LINK) {
        OpenLink(dialog, aboutLinks[selectedLink]);
    }
}

int LinkAt(LPARAM point)
{
    POINT at = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    for (int i = 0; i < ABOUT_LINK_COUNT; ++i)
        if (PtInRect(&aboutLinks[i].rect, at))
            return i;
    return NO_LINK;
}

// Every key comes to the box, except Enter while no link is selected: that one is the
// dialog's own.
INT_PTR OnGetDialogCode(HWND dialog, const MSG* message)
{
    if (!message || message->message != WM_KEYDOWN || (message->wParam == VK_RETURN && selectedLink == NO_LINK))
        return 0;
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, DLGC_WANTALLKEYS);
    return DLGC_WANTALLKEYS;
}

BOOL OnInitAbout(HWND dialog)
{
    HWND bar = CreateMenuBar(dialog, IDR_DONE_CANCEL_BAR, SHCMBF_HIDESIPBUTTON);
    SendMessageW(bar, SHCMBM_OVERRIDEKEY, VK_TBACK, MAKELPARAM(BACK_KEY_OVERRIDE, BACK_KEY_OVERRIDE));
    SetBarButtonState(bar, IDCANCEL, TBSTATE_HIDDEN);
    SHINITDLGINFO info = {SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHInitDialog(&info);
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitAbout(dialog);
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(dialog, &paint);
        PaintAbout(dialog, dc);
        EndPaint(dialog, &paint);
        return TRUE;
    }
    case WM_CTLCOLORDLG:            // the handheld's white page, which the links' redraw assumes
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
    case WM_GETDLGCODE:
        return OnGetDialogCode(dialog, reinterpret_cast<const MSG*>(lParam));
    case WM_KEYDOWN:
        OnKey(dialog, wParam);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return 0;
    case WM_LBUTTONDOWN:
        if (int link = LinkAt(lParam); link != selectedLink) {
            selectedLink = link;
            RedrawLinks(dialog);
        }
        return 0;
    case WM_LBUTTONUP:
        if (LinkAt(lParam) == selectedLink)
            OnKey(dialog, VK_RETURN);
        return 0;
    case WM_HOTKEY:
        if (HIWORD(lParam) == VK_TBACK)
            EndDialog(dialog, 0);
        return 0;
    }
    return 0;
}

} // namespace

bool ReadProgramVersion(wchar_t (&text)[32])
{
    // VS_VERSIONINFO: length, value length and type words, the key "VS_VERSION_INFO" with
    // its NUL, padding to 32 bits, then the fixed part.
    constexpr size_t FIXED_OFFSET = (3 * sizeof(WORD) + sizeof L"VS_VERSION_INFO" + 3) & ~size_t{3};
    HRSRC found = FindResourceW(instanceHandle, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    HGLOBAL loaded = found ? LoadResource(instanceHandle, found) : nullptr;
    const auto* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data || SizeofResource(instanceHandle, found) < FIXED_OFFSET + sizeof(VS_FIXEDFILEINFO))
        return false;
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, data + FIXED_OFFSET, sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE)
        return false;
    return SUCCEEDED(StringCchPrintfW(text, ARRAYSIZE(text), L"%u.%u.%u.%u", HIWORD(fixed.dwFileVersionMS),
                                      LOWORD(fixed.dwFileVersionMS), HIWORD(fixed.dwFileVersionLS),
                                      LOWORD(fixed.dwFileVersionLS)));
}

DWORD ShowAbout(HWND owner)
{
    BlankDialogTemplate dialog;
    FillBlankDialogTemplate(dialog, nullptr);
    return static_cast<DWORD>(DialogBoxIndirectParamW(instanceHandle, &dialog.header, owner, AboutProc, 0));
}
